#pragma once

// Loads the built VelkaroAudio module the way an audio server does (dlopen, factory, QueryInterface,
// Initialize) and records what the driver reports through the host interface.

#include "driver/abi/CoreAudioABI.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

struct HostNotification {
    AudioObjectID object;
    AudioObjectPropertySelector selector;
    AudioObjectPropertyScope scope;
};

class DriverHost {
public:
    // Loads (once per process) and initialises the driver; fails the calling test on any error.
    DriverHost();

    AudioServerPlugInDriverRef ref() const { return m_ref; }
    AudioServerPlugInDriverInterface& driver() const { return **m_ref; }
    void* factory() const { return m_factory; }

    std::vector<HostNotification> notifications() const;
    void clearNotifications();

    // Property helpers: status of a read into a buffer of exactly `size` bytes.
    OSStatus get(AudioObjectID object, AudioObjectPropertySelector selector, UInt32 size, void* out,
                 AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal, UInt32 qualifierSize = 0,
                 const void* qualifier = nullptr, UInt32* outSize = nullptr) const;
    template <typename T>
    T value(AudioObjectID object, AudioObjectPropertySelector selector,
            AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) const
    {
        T result{};
        get(object, selector, sizeof result, &result, scope);
        return result;
    }
    std::u16string string(AudioObjectID object, AudioObjectPropertySelector selector) const;
    std::vector<AudioObjectID> ids(AudioObjectID object, AudioObjectPropertySelector selector,
                                   AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal,
                                   UInt32 qualifierSize = 0, const void* qualifier = nullptr) const;

    // IO helpers on the given device with sample time `sampleTime`.
    OSStatus write(AudioObjectID device, AudioObjectID stream, Float64 sampleTime, UInt32 frames,
                   void* buffer) const;
    OSStatus read(AudioObjectID device, AudioObjectID stream, Float64 sampleTime, UInt32 frames,
                  void* buffer) const;

private:
    AudioServerPlugInDriverRef m_ref = nullptr;
    void* m_factory = nullptr;
};

// A stand-in string built the way a host builds one (see the ABI header).
struct HostString {
    explicit HostString(const std::u16string& text);
    std::u16string units;
    __CFString value;
    CFStringRef ref() const { return &value; }
};

std::string driverModulePath();
std::u16string toU16(CFStringRef string);
UInt64 frameBits(float left, float right);
