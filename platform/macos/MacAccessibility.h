#pragma once

#include "platform/ax/Accessibility.h"

namespace macos {

// The Accessibility seam on the system's AXUIElement API (HIServices). Element handles own one reference
// to their AXUIElementRef; attribute values are converted to ax::Value (strings, booleans, numbers,
// elements and lists of elements; other kinds read as nothing). Calls are synchronous and made on the
// main thread, each bounded by the element's messaging time-out.
class MacAccessibility final : public ax::Accessibility {
public:
    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(bool prompt) override;
    ax::Element createApplication(qint64 pid) override;
    ax::Error setMessagingTimeout(const ax::Element& element, float timeoutSeconds) override;
    ax::AttributeValue copyAttributeValue(const ax::Element& element, const QString& attribute) override;
    ax::Error performAction(const ax::Element& element, const QString& action) override;
};

} // namespace macos
