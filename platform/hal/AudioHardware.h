#pragma once

// The application's view of the system audio hardware, shaped like the Core Audio HAL: objects addressed by
// (selector, scope, element) with optional qualifiers and OSStatus results, property listeners, and device
// IO procs. Plain C++ so that real-time code may use it; a macOS backend forwards each call to the matching
// AudioObject*/AudioDevice* function.

#include "driver/abi/CoreAudioABI.h"

namespace hal {

// Called after properties changed, on the hardware's own notification thread (never from inside a lock of
// the backend, never on the thread that made the change); a listener may call back into the hardware. A
// listener removed just after a change may still be called once for it: client data must stay valid.
using PropertyListener = void (*)(AudioObjectID object, UInt32 count,
                                  const AudioObjectPropertyAddress* addresses, void* clientData);

// Called on the device's IO thread once per cycle: `input` holds the frames the device captured (interleaved,
// the device's input channel count, or no buffers), `output` asks for the frames to play (zeroed,
// interleaved, the device's output channel count, or no buffers). Real-time: the proc must not block or
// allocate.
using IOProc = OSStatus (*)(AudioObjectID device, const AudioTimeStamp* now, const AudioBufferList* input,
                            const AudioTimeStamp* inputTime, AudioBufferList* output,
                            const AudioTimeStamp* outputTime, void* clientData);

struct IOProcToken;
using IOProcID = IOProcToken*;

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    virtual bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) = 0;
    virtual OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        bool& settable) = 0;
    virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                         UInt32 qualifierSize, const void* qualifier, UInt32& size) = 0;
    // `ioSize`: the capacity of `data` on entry, the bytes written on return.
    virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     UInt32 qualifierSize, const void* qualifier, UInt32& ioSize,
                                     void* data) = 0;
    virtual OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     UInt32 qualifierSize, const void* qualifier, UInt32 size,
                                     const void* data) = 0;

    virtual OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                         PropertyListener listener, void* clientData) = 0;
    virtual OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            PropertyListener listener, void* clientData) = 0;

    virtual OSStatus createIOProcID(AudioObjectID device, IOProc proc, void* clientData,
                                    IOProcID& procID) = 0;
    virtual OSStatus destroyIOProcID(AudioObjectID device, IOProcID procID) = 0;
    virtual OSStatus start(AudioObjectID device, IOProcID procID) = 0;
    virtual OSStatus stop(AudioObjectID device, IOProcID procID) = 0;
};

constexpr AudioObjectPropertyAddress
address(AudioObjectPropertySelector selector,
        AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal,
        AudioObjectPropertyElement element = kAudioObjectPropertyElementMain)
{
    return {selector, scope, element};
}

// Reads a fixed-size property; any size other than sizeof(T) is `!siz`.
template <typename T>
OSStatus readValue(AudioHardware& hardware, AudioObjectID object, const AudioObjectPropertyAddress& where,
                   T& value)
{
    UInt32 size = sizeof(T);
    T result{};
    const OSStatus status = hardware.getPropertyData(object, where, 0, nullptr, size, &result);
    if (status != kAudioHardwareNoError)
        return status;
    if (size != sizeof(T))
        return kAudioHardwareBadPropertySizeError;
    value = result;
    return kAudioHardwareNoError;
}

template <typename T>
OSStatus writeValue(AudioHardware& hardware, AudioObjectID object, const AudioObjectPropertyAddress& where,
                    const T& value)
{
    return hardware.setPropertyData(object, where, 0, nullptr, sizeof(T), &value);
}

} // namespace hal
