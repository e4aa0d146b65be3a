#pragma once

// Strings crossing the HAL: properties such as `lnam` and `uid ` hand out a retained string reference, and
// `uidd` takes one as its qualifier. These helpers convert between those references and UTF-16 text.

#include "platform/hal/AudioHardware.h"

#include <string>

namespace hal {

// Releases the reference after copying its characters; an unreadable reference gives an empty string.
std::u16string takeString(CFStringRef string);

// Reads a string property; on failure `text` is left alone.
OSStatus readString(AudioHardware& hardware, AudioObjectID object, const AudioObjectPropertyAddress& where,
                    std::u16string& text);

// A string reference owned by the caller, for passing as a qualifier.
class StringRef {
public:
    explicit StringRef(std::u16string text);
    ~StringRef();
    StringRef(const StringRef&) = delete;
    StringRef& operator=(const StringRef&) = delete;

    CFStringRef get() const { return m_ref; }

private:
    std::u16string m_text;
#if !defined(ORLEA_APPLE_SDK)
    __CFString m_value;
#endif
    CFStringRef m_ref = nullptr;
};

// Looks a device up by UID through the system object's `uidd`; 0 when there is none.
AudioObjectID deviceForUID(AudioHardware& hardware, const std::u16string& uid);

} // namespace hal
