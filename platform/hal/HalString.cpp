#include "platform/hal/HalString.h"

namespace hal {

std::u16string takeString(CFStringRef string)
{
    if (string == nullptr)
        return {};
#if defined(ORLEA_APPLE_SDK)
    std::u16string text(size_t(CFStringGetLength(string)), u'\0');
    CFStringGetCharacters(string, CFRangeMake(0, CFIndex(text.size())),
                          reinterpret_cast<UniChar*>(text.data()));
    CFRelease(string);
    return text;
#else
    if (string->isa != kCFStringStandInIsa || (string->length != 0 && string->characters == nullptr))
        return {};
    std::u16string text(reinterpret_cast<const char16_t*>(string->characters), string->length);
    CFRelease(string);
    return text;
#endif
}

OSStatus readString(AudioHardware& hardware, AudioObjectID object, const AudioObjectPropertyAddress& where,
                    std::u16string& text)
{
    CFStringRef string = nullptr;
    UInt32 size = sizeof string;
    const OSStatus status = hardware.getPropertyData(object, where, 0, nullptr, size, &string);
    if (status != kAudioHardwareNoError)
        return status;
    if (size != sizeof string)
        return kAudioHardwareBadPropertySizeError;
    text = takeString(string);
    return kAudioHardwareNoError;
}

StringRef::StringRef(std::u16string text) : m_text(std::move(text))
{
#if defined(ORLEA_APPLE_SDK)
    m_ref = CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(m_text.data()),
                                         CFIndex(m_text.size()));
#else
    m_value = {kCFStringStandInIsa, UInt32(m_text.size()), reinterpret_cast<const UInt16*>(m_text.data())};
    m_ref = &m_value;
#endif
}

StringRef::~StringRef()
{
#if defined(ORLEA_APPLE_SDK)
    if (m_ref != nullptr)
        CFRelease(m_ref);
#endif
}

AudioObjectID deviceForUID(AudioHardware& hardware, const std::u16string& uid)
{
    const StringRef qualifier(uid);
    CFStringRef ref = qualifier.get();
    AudioObjectID device = kAudioObjectUnknown;
    UInt32 size = sizeof device;
    const OSStatus status = hardware.getPropertyData(kAudioObjectSystemObject,
                                                     address(kAudioHardwarePropertyTranslateUIDToDevice),
                                                     sizeof ref, &ref, size, &device);
    return status == kAudioHardwareNoError && size == sizeof device ? device : kAudioObjectUnknown;
}

} // namespace hal
