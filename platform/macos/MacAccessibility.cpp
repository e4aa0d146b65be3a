#include "platform/macos/MacAccessibility.h"

#include "platform/macos/CFSupport.h"

#include <ApplicationServices/ApplicationServices.h>

#include <memory>

namespace macos {
namespace {

class MacElement final : public ax::ElementRef {
public:
    explicit MacElement(CFRef<AXUIElementRef> element) : m_element(std::move(element)) {}

    AXUIElementRef get() const { return m_element.get(); }
    bool sameElement(const ax::ElementRef& other) const override
    {
        const auto* mac = dynamic_cast<const MacElement*>(&other);
        return mac != nullptr && CFEqual(m_element.get(), mac->get());
    }

private:
    CFRef<AXUIElementRef> m_element;
};

ax::Element handleFor(CFRef<AXUIElementRef> element)
{
    if (!element)
        return {};
    return ax::Element(std::make_shared<MacElement>(std::move(element)));
}

// Null for a default handle or one made by another backend.
AXUIElementRef elementOf(const ax::Element& element)
{
    const auto* mac = dynamic_cast<const MacElement*>(element.ref());
    return mac != nullptr ? mac->get() : nullptr;
}

ax::Error toError(AXError error)
{
    switch (error) {
    case kAXErrorSuccess:
        return ax::Error::Success;
    case kAXErrorIllegalArgument:
        return ax::Error::IllegalArgument;
    case kAXErrorInvalidUIElement:
        return ax::Error::InvalidUIElement;
    case kAXErrorInvalidUIElementObserver:
        return ax::Error::InvalidUIElementObserver;
    case kAXErrorCannotComplete:
        return ax::Error::CannotComplete;
    case kAXErrorAttributeUnsupported:
        return ax::Error::AttributeUnsupported;
    case kAXErrorActionUnsupported:
        return ax::Error::ActionUnsupported;
    case kAXErrorNotImplemented:
        return ax::Error::NotImplemented;
    case kAXErrorAPIDisabled:
        return ax::Error::APIDisabled;
    case kAXErrorNoValue:
        return ax::Error::NoValue;
    default:
        return ax::Error::Failure;
    }
}

ax::Value toValue(CFTypeRef value)
{
    if (value == nullptr)
        return std::monostate{};
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID())
        return toQString(static_cast<CFStringRef>(value));
    if (type == CFBooleanGetTypeID())
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
    if (type == CFNumberGetTypeID()) {
        double number = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
        return number;
    }
    if (type == AXUIElementGetTypeID())
        return handleFor(CFRef<AXUIElementRef>::retain(static_cast<AXUIElementRef>(value)));
    if (type == CFArrayGetTypeID()) {
        // Lists the program reads (children, windows) hold elements; anything else in a list is skipped.
        const auto array = static_cast<CFArrayRef>(value);
        ax::ElementList elements;
        const CFIndex count = CFArrayGetCount(array);
        elements.reserve(qsizetype(count));
        for (CFIndex i = 0; i < count; ++i) {
            const CFTypeRef item = CFArrayGetValueAtIndex(array, i);
            if (item != nullptr && CFGetTypeID(item) == AXUIElementGetTypeID())
                elements.append(handleFor(CFRef<AXUIElementRef>::retain(static_cast<AXUIElementRef>(item))));
        }
        return elements;
    }
    return std::monostate{};
}

} // namespace

bool MacAccessibility::isProcessTrusted()
{
    return AXIsProcessTrusted();
}

bool MacAccessibility::isProcessTrustedWithOptions(bool prompt)
{
    const void* keys[] = {kAXTrustedCheckOptionPrompt};
    const void* values[] = {prompt ? kCFBooleanTrue : kCFBooleanFalse};
    const auto options = CFRef<CFDictionaryRef>::adopt(CFDictionaryCreate(kCFAllocatorDefault, keys, values,
                                                                          1, &kCFTypeDictionaryKeyCallBacks,
                                                                          &kCFTypeDictionaryValueCallBacks));
    return AXIsProcessTrustedWithOptions(options.get());
}

ax::Element MacAccessibility::createApplication(qint64 pid)
{
    return handleFor(CFRef<AXUIElementRef>::adopt(AXUIElementCreateApplication(pid_t(pid))));
}

ax::Error MacAccessibility::setMessagingTimeout(const ax::Element& element, float timeoutSeconds)
{
    const AXUIElementRef target = elementOf(element);
    if (target == nullptr)
        return ax::Error::IllegalArgument;
    return toError(AXUIElementSetMessagingTimeout(target, timeoutSeconds));
}

ax::AttributeValue MacAccessibility::copyAttributeValue(const ax::Element& element, const QString& attribute)
{
    const AXUIElementRef target = elementOf(element);
    if (target == nullptr)
        return {ax::Error::IllegalArgument, {}};
    const auto name = toCFString(attribute);
    CFRef<CFTypeRef> value;
    const AXError error = AXUIElementCopyAttributeValue(target, name.get(), value.out());
    if (error != kAXErrorSuccess)
        return {toError(error), {}};
    return {ax::Error::Success, toValue(value.get())};
}

ax::Error MacAccessibility::performAction(const ax::Element& element, const QString& action)
{
    const AXUIElementRef target = elementOf(element);
    if (target == nullptr)
        return ax::Error::IllegalArgument;
    return toError(AXUIElementPerformAction(target, toCFString(action).get()));
}

} // namespace macos
