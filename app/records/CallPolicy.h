#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Rules about calls that do not depend on any screen or device.
namespace CallPolicy {
// The first plausible telephone number in `texts`, exactly as written there (8 to 15 digits).
std::optional<QString> phoneNumber(const QStringList& texts);
} // namespace CallPolicy
