// VelkaroAudio: two loopback devices for the system audio server. Whatever a client plays into a device's
// output comes back 2048 frames later on the same device's input. Lifecycle, clock and IO live here; the
// property tables are in VelkaroAudioProperties.cpp.

#include "driver/HostClock.h"
#include "driver/VelkaroAudioState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velkaro {

namespace {

constexpr CFUUIDBytes kPlugInTypeUUID = {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A,
                                         0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB};
constexpr CFUUIDBytes kDriverInterfaceUUID = {0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1,
                                              0x8E, 0x00, 0x8F, 0x96, 0xE7, 0xD2, 0x3B, 0x17};
constexpr CFUUIDBytes kIUnknownUUID = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

bool sameUUID(const CFUUIDBytes& a, const CFUUIDBytes& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Sample times beyond 2^62 would overflow the frame arithmetic below.
bool validSampleTime(Float64 sampleTime)
{
    return std::isfinite(sampleTime) && sampleTime >= 0.0 && sampleTime < 4611686018427387904.0;
}

void clearRing(UInt32 index)
{
    for (RingSlot& slot : rings[index])
        slot.tag.store(0, std::memory_order_release);
}

HRESULT query(void* driver, REFIID uuid, LPVOID* outInterface)
{
    if (outInterface == nullptr)
        return E_POINTER;
    *outInterface = nullptr;
    if (driver != driverRef() || !(sameUUID(uuid, kIUnknownUUID) || sameUUID(uuid, kDriverInterfaceUUID)))
        return E_NOINTERFACE;
    references.fetch_add(1);
    *outInterface = driverRef();
    return S_OK;
}

ULONG addRef(void*)
{
    return references.fetch_add(1) + 1;
}

// The driver is static and never freed, so the count never falls below 1.
ULONG releaseRef(void*)
{
    UInt32 count = references.load();
    while (count >= 2 && !references.compare_exchange_weak(count, count - 1)) {
    }
    return count >= 2 ? count - 1 : count;
}

OSStatus initialize(AudioServerPlugInDriverRef driver, AudioServerPlugInHostRef newHost)
{
    if (driver != driverRef())
        return kAudioHardwareBadObjectError;
    host.store(newHost);
    UInt32 numerator = 0;
    UInt32 denominator = 0;
    hostClockTimebase(numerator, denominator);
    ticksPerFrame.store(Float64(denominator) * 1e9 / Float64(numerator) / kSampleRateHz);
    pthread_mutex_lock(&stateLock);
    const UInt64 now = hostClockNow();
    for (UInt32 index = 0; index < 2; ++index) {
        clearRing(index);
        anchors[index].store(now);
        seeds[index].store(1);
    }
    pthread_mutex_unlock(&stateLock);
    return kAudioHardwareNoError;
}

OSStatus createDevice(AudioServerPlugInDriverRef, CFDictionaryRef, const AudioServerPlugInClientInfo*,
                      AudioObjectID* outDevice)
{
    if (outDevice != nullptr)
        *outDevice = kAudioObjectUnknown;
    return kAudioHardwareUnsupportedOperationError;
}

OSStatus destroyDevice(AudioServerPlugInDriverRef, AudioObjectID)
{
    return kAudioHardwareUnsupportedOperationError;
}

OSStatus clientChange(AudioServerPlugInDriverRef, AudioObjectID device, const AudioServerPlugInClientInfo*)
{
    return isDevice(device) ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus configChange(AudioServerPlugInDriverRef, AudioObjectID device, UInt64, void*)
{
    return isDevice(device) ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

const AudioObjectPropertyAddress kRunningAddress = {
    kAudioDevicePropertyDeviceIsRunning, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};

OSStatus startIO(AudioServerPlugInDriverRef, AudioObjectID device, UInt32)
{
    if (!isDevice(device))
        return kAudioHardwareBadObjectError;
    const UInt32 index = deviceIndex(device);
    pthread_mutex_lock(&stateLock);
    const UInt32 count = running[index].load();
    if (count != 0) {
        if (count == 0xFFFFFFFFu) {
            pthread_mutex_unlock(&stateLock);
            return kAudioHardwareIllegalOperationError;
        }
        running[index].store(count + 1);
        pthread_mutex_unlock(&stateLock);
        return kAudioHardwareNoError;
    }
    // First client: a fresh ring and a restarted clock, so nothing of an earlier session leaks through.
    clearRing(index);
    anchors[index].store(hostClockNow());
    seeds[index].fetch_add(1);
    running[index].store(1);
    pthread_mutex_unlock(&stateLock);
    notifyHost(device, kRunningAddress);
    return kAudioHardwareNoError;
}

OSStatus stopIO(AudioServerPlugInDriverRef, AudioObjectID device, UInt32)
{
    if (!isDevice(device))
        return kAudioHardwareBadObjectError;
    const UInt32 index = deviceIndex(device);
    pthread_mutex_lock(&stateLock);
    const UInt32 count = running[index].load();
    if (count == 0) {
        pthread_mutex_unlock(&stateLock);
        return kAudioHardwareIllegalOperationError;
    }
    running[index].store(count - 1);
    pthread_mutex_unlock(&stateLock);
    if (count == 1)
        notifyHost(device, kRunningAddress);
    return kAudioHardwareNoError;
}

// Real-time: no lock, no allocation.
OSStatus zeroTime(AudioServerPlugInDriverRef, AudioObjectID device, UInt32, Float64* outSampleTime,
                  UInt64* outHostTime, UInt64* outSeed)
{
    if (!isDevice(device) || outSampleTime == nullptr || outHostTime == nullptr || outSeed == nullptr)
        return kAudioHardwareIllegalOperationError;
    const Float64 ticks = ticksPerFrame.load(std::memory_order_relaxed);
    if (!(ticks > 0.0))
        return kAudioHardwareIllegalOperationError;
    const UInt32 index = deviceIndex(device);
    const UInt64 anchor = anchors[index].load();
    const UInt64 now = hostClockNow();
    const UInt64 elapsed = now > anchor ? now - anchor : 0;
    const Float64 periods = std::floor(Float64(elapsed) / (ticks * kZeroTimeStampPeriod));
    const Float64 sampleTime = periods * kZeroTimeStampPeriod;
    *outSampleTime = sampleTime;
    *outHostTime = anchor + UInt64(sampleTime * ticks);
    *outSeed = seeds[index].load();
    return kAudioHardwareNoError;
}

OSStatus willIO(AudioServerPlugInDriverRef, AudioObjectID device, UInt32, UInt32 operation,
                Boolean* outWillDo, Boolean* outInPlace)
{
    if (!isDevice(device) || outWillDo == nullptr || outInPlace == nullptr)
        return kAudioHardwareIllegalOperationError;
    *outWillDo = operation == kAudioServerPlugInIOOperationReadInput ||
                 operation == kAudioServerPlugInIOOperationWriteMix;
    *outInPlace = true;
    return kAudioHardwareNoError;
}

OSStatus boundaryIO(AudioServerPlugInDriverRef, AudioObjectID device, UInt32, UInt32, UInt32,
                    const AudioServerPlugInIOCycleInfo*)
{
    return isDevice(device) ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

// Real-time: lock-free ring read. Frame n of the input is the frame written at n - 2048, if it is still
// there.
void readRing(UInt32 index, UInt64 firstFrame, UInt32 count, UInt8* out)
{
    RingSlot* ring = rings[index];
    UInt32 i = 0;
    // Times before the loopback delay have nothing behind them.
    for (; i < count && firstFrame + i < kLoopbackFrames; ++i)
        std::memset(out + i * kBytesPerFrame, 0, kBytesPerFrame);
    while (i < count) {
        // One contiguous run of slots up to the end of the ring, walked without index arithmetic.
        const UInt64 written = firstFrame + i - kLoopbackFrames;
        const UInt32 first = UInt32(written % kRingFrames);
        const UInt32 run = std::min(count - i, kRingFrames - first);
        RingSlot* slot = ring + first;
        UInt64 expected = written + 1;
        for (UInt32 end = i + run; i < end; ++i, ++slot, ++expected) {
            // Acquiring the frame orders the second tag check after it: if a newer write's frame was taken,
            // that write's cleared tag is seen. Loading all three unconditionally keeps the loop branch-free.
            const UInt64 before = slot->tag.load(std::memory_order_acquire);
            const UInt64 frame = slot->frame.load(std::memory_order_acquire);
            const UInt64 after = slot->tag.load(std::memory_order_relaxed);
            const UInt64 value = ((before == expected) & (after == expected)) ? frame : 0;
            std::memcpy(out + i * kBytesPerFrame, &value, sizeof value);
        }
    }
}

// Real-time: lock-free ring write. The tag is cleared before the frame changes and set after, so a reader
// that sees the same tag on both sides of its read took the frame of that time.
void writeRing(UInt32 index, UInt64 firstFrame, UInt32 count, const UInt8* in)
{
    RingSlot* ring = rings[index];
    UInt32 i = 0;
    while (i < count) {
        const UInt64 n = firstFrame + i;
        const UInt32 first = UInt32(n % kRingFrames);
        const UInt32 run = std::min(count - i, kRingFrames - first);
        RingSlot* slot = ring + first;
        UInt64 tag = n + 1;
        for (UInt32 end = i + run; i < end; ++i, ++slot, ++tag) {
            UInt64 frame;
            std::memcpy(&frame, in + i * kBytesPerFrame, sizeof frame);
            slot->tag.store(0, std::memory_order_relaxed);
            slot->frame.store(frame, std::memory_order_release);
            slot->tag.store(tag, std::memory_order_release);
        }
    }
}

// Real-time: no lock, no allocation.
OSStatus doIO(AudioServerPlugInDriverRef, AudioObjectID device, AudioObjectID stream, UInt32,
              UInt32 operation, UInt32 frameCount, const AudioServerPlugInIOCycleInfo* cycle,
              void* mainBuffer, void*)
{
    if (!isDevice(device) || !isStream(stream) || streamDevice(stream) != device)
        return kAudioHardwareBadObjectError;
    if (frameCount > kRingFrames || cycle == nullptr || mainBuffer == nullptr)
        return kAudioHardwareIllegalOperationError;
    const UInt32 index = deviceIndex(device);
    const bool streamActive = active[stream].load(std::memory_order_relaxed) != 0;
    const bool deviceRunning = running[index].load(std::memory_order_acquire) != 0;
    UInt8* frames = static_cast<UInt8*>(mainBuffer);

    if (operation == kAudioServerPlugInIOOperationReadInput) {
        if (!isInputStream(stream))
            return kAudioHardwareIllegalOperationError;
        const Float64 sampleTime = cycle->mInputTime.mSampleTime;
        if (!validSampleTime(sampleTime))
            return kAudioHardwareIllegalOperationError;
        if (streamActive && deviceRunning)
            readRing(index, UInt64(sampleTime), frameCount, frames);
        else
            std::memset(mainBuffer, 0, size_t(frameCount) * kBytesPerFrame);
        return kAudioHardwareNoError;
    }
    if (operation == kAudioServerPlugInIOOperationWriteMix) {
        if (isInputStream(stream))
            return kAudioHardwareIllegalOperationError;
        const Float64 sampleTime = cycle->mOutputTime.mSampleTime;
        if (!validSampleTime(sampleTime))
            return kAudioHardwareIllegalOperationError;
        if (streamActive && deviceRunning && frameCount != 0)
            writeRing(index, UInt64(sampleTime), frameCount, frames);
        return kAudioHardwareNoError;
    }
    return kAudioHardwareUnsupportedOperationError;
}

} // namespace

AudioServerPlugInDriverInterface interface = {
    nullptr,
    query,
    addRef,
    releaseRef,
    initialize,
    createDevice,
    destroyDevice,
    clientChange,
    clientChange,
    configChange,
    configChange,
    velkaroHasProperty,
    velkaroIsPropertySettable,
    velkaroGetPropertyDataSize,
    velkaroGetPropertyData,
    velkaroSetPropertyData,
    startIO,
    stopIO,
    zeroTime,
    willIO,
    boundaryIO,
    doIO,
    boundaryIO,
};
AudioServerPlugInDriverInterface* interfacePointer = &interface;
std::atomic<UInt32> references{1};
std::atomic<SInt32> active[kObjectCount] = {0, 0, 0, 1, 1, 0, 1, 1};
pthread_mutex_t stateLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<AudioServerPlugInHostRef> host{nullptr};
std::atomic<Float64> ticksPerFrame{0.0};
alignas(64) RingSlot rings[2][kRingFrames];
std::atomic<UInt64> anchors[2];
std::atomic<UInt64> seeds[2];
std::atomic<UInt32> running[2];

void notifyHost(AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    const AudioServerPlugInHostRef current = host.load();
    if (current != nullptr && current->PropertiesChanged != nullptr)
        current->PropertiesChanged(current, object, 1, &address);
}

} // namespace velkaro

// The factory the host finds by name. It hands out the static driver and leaves the reference count alone.
extern "C" __attribute__((visibility("default"))) void* VelkaroAudioFactory(CFAllocatorRef,
                                                                            CFUUIDRef requestedType)
{
    if (requestedType == nullptr)
        return nullptr;
    const CFUUIDBytes type = CFUUIDGetUUIDBytes(requestedType);
    if (!velkaro::sameUUID(type, velkaro::kPlugInTypeUUID))
        return nullptr;
    return velkaro::driverRef();
}
