#pragma once

// Shared state of the VelkaroAudio plug-in. Everything is static and zero- or constant-initialised: the
// module allocates nothing and runs no constructor when it is loaded.

#include "driver/abi/CoreAudioABI.h"

#include <atomic>
#include <pthread.h>

#if defined(ORLEA_APPLE_SDK)
#define VELKARO_CONST_STRING(name, literal) static const CFStringRef name = CFSTR(literal);
#else
#define VELKARO_CONST_STRING(name, literal)                                                                  \
    inline constexpr CFStringConstantUnits name##Units{u"" literal};                                         \
    inline constexpr __CFString name##Value{                                                                 \
        kCFStringStandInIsa, UInt32(sizeof(name##Units.units) / sizeof(UInt16) - 1), name##Units.units};     \
    inline constexpr CFStringRef name = &name##Value;
#endif

namespace velkaro {

// The fixed object tree.
enum : AudioObjectID {
    kPlugIn = 1,
    kCallDevice = 2,
    kCallInput = 3,
    kCallOutput = 4,
    kVoiceDevice = 5,
    kVoiceInput = 6,
    kVoiceOutput = 7,
    kObjectCount = 8,
};

constexpr UInt32 kRingFrames = 32768;
constexpr UInt32 kLoopbackFrames = 2048;
constexpr UInt32 kZeroTimeStampPeriod = 512;
constexpr Float64 kSampleRateHz = 48000.0;
constexpr UInt32 kChannels = 2;
constexpr UInt32 kBytesPerFrame = 8;

VELKARO_CONST_STRING(kManufacturer, "Velkaro")
VELKARO_CONST_STRING(kPlugInName, "Velkaro Audio")
VELKARO_CONST_STRING(kCallDeviceName, "Velkaro — Appel vers IA")
VELKARO_CONST_STRING(kVoiceDeviceName, "Velkaro — IA vers appel")
VELKARO_CONST_STRING(kInputStreamName, "Entrée stéréo")
VELKARO_CONST_STRING(kOutputStreamName, "Sortie stéréo")
VELKARO_CONST_STRING(kBundleID, "fr.velkaro.audio.driver")
VELKARO_CONST_STRING(kModelUID, "fr.velkaro.audio.stereo48.v1")
VELKARO_CONST_STRING(kCallDeviceUID, "fr.velkaro.audio.call")
VELKARO_CONST_STRING(kVoiceDeviceUID, "fr.velkaro.audio.voice")
VELKARO_CONST_STRING(kEmptyString, "")
VELKARO_CONST_STRING(kIconName, "AppIcon")
VELKARO_CONST_STRING(kIconType, "icns")

// One stored frame. The tag is the frame number + 1, or 0 while empty or being written; readers check it
// before and after taking the frame, so they never take a frame that belongs to another time.
struct RingSlot {
    std::atomic<UInt64> tag;
    std::atomic<UInt64> frame;
};
static_assert(sizeof(RingSlot) == 16);
static_assert(std::atomic<UInt64>::is_always_lock_free);

extern AudioServerPlugInDriverInterface interface;
extern AudioServerPlugInDriverInterface* interfacePointer;
extern std::atomic<UInt32> references;
extern std::atomic<SInt32> active[kObjectCount];
extern pthread_mutex_t stateLock;
extern std::atomic<AudioServerPlugInHostRef> host;
extern std::atomic<Float64> ticksPerFrame;
extern RingSlot rings[2][kRingFrames];
extern std::atomic<UInt64> anchors[2];
extern std::atomic<UInt64> seeds[2];
extern std::atomic<UInt32> running[2];

// The driver reference handed to hosts: the address of the interface pointer.
inline AudioServerPlugInDriverRef driverRef()
{
    return &interfacePointer;
}

inline bool isDevice(AudioObjectID object)
{
    return object == kCallDevice || object == kVoiceDevice;
}

inline bool isStream(AudioObjectID object)
{
    return object == kCallInput || object == kCallOutput || object == kVoiceInput || object == kVoiceOutput;
}

inline bool isInputStream(AudioObjectID object)
{
    return object == kCallInput || object == kVoiceInput;
}

// Device id 2 uses index 0 of every per-device array, device id 5 index 1.
inline UInt32 deviceIndex(AudioObjectID device)
{
    return device == kCallDevice ? 0 : 1;
}

// The device owning a stream, or 0.
inline AudioObjectID streamDevice(AudioObjectID stream)
{
    constexpr AudioObjectID owners[kObjectCount] = {
        0, 0, 0, kCallDevice, kCallDevice, 0, kVoiceDevice, kVoiceDevice};
    return stream < kObjectCount ? owners[stream] : 0;
}

// The one stream format, physical and virtual.
inline constexpr AudioStreamBasicDescription kStreamFormat = {kSampleRateHz,
                                                              kAudioFormatLinearPCM,
                                                              kAudioFormatFlagIsFloat |
                                                                  kAudioFormatFlagIsPacked,
                                                              kBytesPerFrame,
                                                              1,
                                                              kBytesPerFrame,
                                                              kChannels,
                                                              32,
                                                              0};

void notifyHost(AudioObjectID object, const AudioObjectPropertyAddress& address);

} // namespace velkaro

// Property entry points (VelkaroAudioProperties.cpp).
Boolean velkaroHasProperty(AudioServerPlugInDriverRef driver, AudioObjectID object, pid_t client,
                           const AudioObjectPropertyAddress* address);
OSStatus velkaroIsPropertySettable(AudioServerPlugInDriverRef driver, AudioObjectID object, pid_t client,
                                   const AudioObjectPropertyAddress* address, Boolean* outSettable);
OSStatus velkaroGetPropertyDataSize(AudioServerPlugInDriverRef driver, AudioObjectID object, pid_t client,
                                    const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                                    const void* qualifier, UInt32* outSize);
OSStatus velkaroGetPropertyData(AudioServerPlugInDriverRef driver, AudioObjectID object, pid_t client,
                                const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                                const void* qualifier, UInt32 inSize, UInt32* outSize, void* outData);
OSStatus velkaroSetPropertyData(AudioServerPlugInDriverRef driver, AudioObjectID object, pid_t client,
                                const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                                const void* qualifier, UInt32 inSize, const void* inData);
