#include "platform/macos/CFSupport.h"

namespace macos {

QString toQString(CFStringRef string)
{
    if (string == nullptr)
        return {};
    QString text(qsizetype(CFStringGetLength(string)), Qt::Uninitialized);
    CFStringGetCharacters(string, CFRangeMake(0, CFIndex(text.size())),
                          reinterpret_cast<UniChar*>(text.data()));
    return text;
}

CFRef<CFStringRef> toCFString(const QString& text)
{
    return CFRef<CFStringRef>::adopt(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(text.utf16()), CFIndex(text.size())));
}

} // namespace macos
