// The property tables of the plug-in, its two devices and their four streams. Every answer is computed
// into a small fixed buffer first, so sizes and values can never disagree.

#include "driver/VelkaroAudioState.h"

#include <cstddef>
#include <cstring>

namespace velkaro {
namespace {

struct Answer {
    UInt32 size = 0;
    alignas(8) UInt8 bytes[64];

    template <typename T> void set(const T& value)
    {
        static_assert(sizeof(T) <= sizeof(bytes));
        std::memcpy(bytes, &value, sizeof value);
        size = sizeof value;
    }
    void setIDs(const AudioObjectID* ids, UInt32 count)
    {
        std::memcpy(bytes, ids, count * sizeof(AudioObjectID));
        size = count * sizeof(AudioObjectID);
    }
};

AudioClassID classOf(AudioObjectID object)
{
    if (object == kPlugIn)
        return kAudioPlugInClassID;
    return isDevice(object) ? kAudioDeviceClassID : kAudioStreamClassID;
}

bool known(AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    return object >= kPlugIn && object < kObjectCount && address.mElement == kAudioObjectPropertyElementMain;
}

bool belongs(AudioObjectID object, AudioObjectPropertySelector selector)
{
    switch (selector) {
    case kAudioObjectPropertyBaseClass:
    case kAudioObjectPropertyClass:
    case kAudioObjectPropertyManufacturer:
    case kAudioObjectPropertyName:
    case kAudioObjectPropertyOwnedObjects:
    case kAudioObjectPropertyOwner:
        return true;
    case kAudioPlugInPropertyBoxList:
    case kAudioPlugInPropertyDeviceList:
    case kAudioPlugInPropertyBundleID:
    case kAudioPlugInPropertyResourceBundle:
    case kAudioPlugInPropertyTranslateUIDToDevice:
        return object == kPlugIn;
    case kAudioDevicePropertyRelatedDevices:
    case kAudioDevicePropertyClockDomain:
    case kAudioObjectPropertyControlList:
    case kAudioDevicePropertyPreferredChannelsForStereo:
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
    case kAudioDevicePropertyDeviceIsRunning:
    case kAudioDevicePropertyIsHidden:
    case kAudioDevicePropertyIcon:
    case kAudioDevicePropertyDeviceIsAlive:
    case kAudioDevicePropertyModelUID:
    case kAudioDevicePropertyAvailableNominalSampleRates:
    case kAudioDevicePropertyNominalSampleRate:
    case kAudioDevicePropertyZeroTimeStampPeriod:
    case kAudioDevicePropertySafetyOffset:
    case kAudioDevicePropertyPreferredChannelLayout:
    case kAudioDevicePropertyStreams:
    case kAudioDevicePropertyTransportType:
    case kAudioDevicePropertyDeviceUID:
        return isDevice(object);
    case kAudioDevicePropertyLatency:
        return isDevice(object) || isStream(object);
    case kAudioStreamPropertyIsActive:
    case kAudioStreamPropertyStartingChannel:
    case kAudioStreamPropertyDirection:
    case kAudioStreamPropertyTerminalType:
    case kAudioStreamPropertyPhysicalFormat:
    case kAudioStreamPropertyVirtualFormat:
    case kAudioStreamPropertyAvailablePhysicalFormats:
    case kAudioStreamPropertyAvailableVirtualFormats:
        return isStream(object);
    default:
        return false;
    }
}

bool present(AudioObjectID object, const AudioObjectPropertyAddress* address)
{
    return address != nullptr && known(object, *address) && belongs(object, address->mSelector);
}

CFStringRef nameOf(AudioObjectID object)
{
    switch (object) {
    case kPlugIn:
        return kPlugInName;
    case kCallDevice:
        return kCallDeviceName;
    case kVoiceDevice:
        return kVoiceDeviceName;
    default:
        return isInputStream(object) ? kInputStreamName : kOutputStreamName;
    }
}

// A device's streams as the scope asks for them: input, output, or both with the input first.
UInt32 deviceStreams(AudioObjectID device, AudioObjectPropertyScope scope, AudioObjectID* out)
{
    const AudioObjectID input = device == kCallDevice ? kCallInput : kVoiceInput;
    const AudioObjectID output = device == kCallDevice ? kCallOutput : kVoiceOutput;
    if (scope == kAudioObjectPropertyScopeInput) {
        out[0] = input;
        return 1;
    }
    if (scope == kAudioObjectPropertyScopeOutput) {
        out[0] = output;
        return 1;
    }
    out[0] = input;
    out[1] = output;
    return 2;
}

bool classListAccepts(UInt32 qualifierSize, const void* qualifier, AudioClassID objectClass)
{
    if (qualifier == nullptr || qualifierSize < sizeof(AudioClassID))
        return true;
    const UInt32 count = qualifierSize / sizeof(AudioClassID);
    for (UInt32 i = 0; i < count; ++i) {
        AudioClassID listed;
        std::memcpy(&listed, static_cast<const UInt8*>(qualifier) + i * sizeof listed, sizeof listed);
        if (listed == objectClass || listed == kAudioObjectClassID)
            return true;
    }
    return false;
}

// Compares two stand-in strings (or, on Apple, two CF strings) for exact equality.
bool sameString(CFStringRef a, CFStringRef b)
{
#if defined(ORLEA_APPLE_SDK)
    return CFStringCompare(a, b, 0) == kCFCompareEqualTo;
#else
    if (a->isa != kCFStringStandInIsa || a->length != b->length)
        return false;
    return a->length == 0 || std::memcmp(a->characters, b->characters, a->length * sizeof(UInt16)) == 0;
#endif
}

CFURLRef iconURL()
{
#if defined(ORLEA_APPLE_SDK)
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(kBundleID);
    return bundle == nullptr ? nullptr : CFBundleCopyResourceURL(bundle, kIconName, kIconType, nullptr);
#else
    // No bundle to look the icon up in: hosts get no icon.
    return nullptr;
#endif
}

// The value (or, with wantValue false, just the size) of a present property. `uidd` and `icon` only do
// their work when the value is wanted.
OSStatus lookup(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32 qualifierSize,
                const void* qualifier, bool wantValue, Answer& answer)
{
    AudioObjectID ids[2];
    switch (address.mSelector) {
    case kAudioObjectPropertyBaseClass:
        answer.set<AudioClassID>(kAudioObjectClassID);
        break;
    case kAudioObjectPropertyClass:
        answer.set<AudioClassID>(classOf(object));
        break;
    case kAudioObjectPropertyManufacturer:
        answer.set(kManufacturer);
        break;
    case kAudioObjectPropertyName:
        answer.set(nameOf(object));
        break;
    case kAudioObjectPropertyOwnedObjects: {
        UInt32 count = 0;
        if (object == kPlugIn) {
            ids[0] = kCallDevice;
            ids[1] = kVoiceDevice;
            count = 2;
        } else if (isDevice(object)) {
            count = deviceStreams(object, address.mScope, ids);
        }
        UInt32 kept = 0;
        for (UInt32 i = 0; i < count; ++i)
            if (classListAccepts(qualifierSize, qualifier, classOf(ids[i])))
                ids[kept++] = ids[i];
        answer.setIDs(ids, kept);
        break;
    }
    case kAudioObjectPropertyOwner:
        answer.set<AudioObjectID>(object == kPlugIn  ? kAudioObjectUnknown
                                  : isDevice(object) ? AudioObjectID(kPlugIn)
                                                     : streamDevice(object));
        break;
    case kAudioPlugInPropertyBoxList:
    case kAudioObjectPropertyControlList:
        answer.size = 0;
        break;
    case kAudioPlugInPropertyDeviceList:
        ids[0] = kCallDevice;
        ids[1] = kVoiceDevice;
        answer.setIDs(ids, 2);
        break;
    case kAudioPlugInPropertyBundleID:
        answer.set(kBundleID);
        break;
    case kAudioPlugInPropertyResourceBundle:
        answer.set(kEmptyString);
        break;
    case kAudioPlugInPropertyTranslateUIDToDevice: {
        AudioObjectID device = kAudioObjectUnknown;
        if (wantValue) {
            if (qualifier == nullptr || qualifierSize != sizeof(CFStringRef))
                return kAudioHardwareBadPropertySizeError;
            CFStringRef uid;
            std::memcpy(&uid, qualifier, sizeof uid);
#if defined(ORLEA_APPLE_SDK)
            const bool isString = uid != nullptr && CFGetTypeID(uid) == CFStringGetTypeID();
#else
            const bool isString = uid != nullptr && uid->isa == kCFStringStandInIsa;
#endif
            if (isString && sameString(uid, kCallDeviceUID))
                device = kCallDevice;
            else if (isString && sameString(uid, kVoiceDeviceUID))
                device = kVoiceDevice;
        }
        answer.set(device);
        break;
    }
    case kAudioDevicePropertyRelatedDevices:
        answer.set<AudioObjectID>(object);
        break;
    case kAudioDevicePropertyClockDomain:
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
    case kAudioDevicePropertyIsHidden:
    case kAudioDevicePropertySafetyOffset:
        answer.set<UInt32>(0);
        break;
    case kAudioDevicePropertyPreferredChannelsForStereo: {
        const UInt32 channels[2] = {1, 2};
        answer.set(channels);
        break;
    }
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
    case kAudioDevicePropertyDeviceIsAlive:
        answer.set<UInt32>(1);
        break;
    case kAudioDevicePropertyDeviceIsRunning:
        answer.set<UInt32>(running[deviceIndex(object)].load() != 0 ? 1 : 0);
        break;
    case kAudioDevicePropertyIcon:
        answer.set(wantValue ? iconURL() : CFURLRef(nullptr));
        break;
    case kAudioDevicePropertyLatency:
        answer.set<UInt32>(
            isDevice(object) && address.mScope == kAudioObjectPropertyScopeInput ? kLoopbackFrames : 0);
        break;
    case kAudioDevicePropertyModelUID:
        answer.set(kModelUID);
        break;
    case kAudioDevicePropertyAvailableNominalSampleRates:
        answer.set(AudioValueRange{kSampleRateHz, kSampleRateHz});
        break;
    case kAudioDevicePropertyNominalSampleRate:
        answer.set(kSampleRateHz);
        break;
    case kAudioDevicePropertyZeroTimeStampPeriod:
        answer.set<UInt32>(kZeroTimeStampPeriod);
        break;
    case kAudioDevicePropertyPreferredChannelLayout: {
        AudioChannelLayout layout{};
        layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
        std::memcpy(answer.bytes, &layout, offsetof(AudioChannelLayout, mChannelDescriptions));
        answer.size = offsetof(AudioChannelLayout, mChannelDescriptions);
        break;
    }
    case kAudioDevicePropertyStreams:
        answer.setIDs(ids, deviceStreams(object, address.mScope, ids));
        break;
    case kAudioDevicePropertyTransportType:
        answer.set<UInt32>(kAudioDeviceTransportTypeVirtual);
        break;
    case kAudioDevicePropertyDeviceUID:
        answer.set(object == kCallDevice ? kCallDeviceUID : kVoiceDeviceUID);
        break;
    case kAudioStreamPropertyIsActive:
        answer.set<UInt32>(UInt32(active[object].load()));
        break;
    case kAudioStreamPropertyStartingChannel:
        answer.set<UInt32>(1);
        break;
    case kAudioStreamPropertyDirection:
        answer.set<UInt32>(isInputStream(object) ? 1 : 0);
        break;
    case kAudioStreamPropertyTerminalType:
        answer.set<UInt32>(kAudioStreamTerminalTypeLine);
        break;
    case kAudioStreamPropertyPhysicalFormat:
    case kAudioStreamPropertyVirtualFormat:
        answer.set(kStreamFormat);
        break;
    case kAudioStreamPropertyAvailablePhysicalFormats:
    case kAudioStreamPropertyAvailableVirtualFormats:
        answer.set(AudioStreamRangedDescription{kStreamFormat, {kSampleRateHz, kSampleRateHz}});
        break;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

bool sameFormat(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b)
{
    return a.mSampleRate == b.mSampleRate && a.mFormatID == b.mFormatID && a.mFormatFlags == b.mFormatFlags &&
           a.mBytesPerPacket == b.mBytesPerPacket && a.mFramesPerPacket == b.mFramesPerPacket &&
           a.mBytesPerFrame == b.mBytesPerFrame && a.mChannelsPerFrame == b.mChannelsPerFrame &&
           a.mBitsPerChannel == b.mBitsPerChannel && a.mReserved == b.mReserved;
}

} // namespace
} // namespace velkaro

using namespace velkaro;

Boolean velkaroHasProperty(AudioServerPlugInDriverRef, AudioObjectID object, pid_t,
                           const AudioObjectPropertyAddress* address)
{
    return present(object, address);
}

OSStatus velkaroIsPropertySettable(AudioServerPlugInDriverRef, AudioObjectID object, pid_t,
                                   const AudioObjectPropertyAddress* address, Boolean* outSettable)
{
    if (outSettable == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (!present(object, address))
        return kAudioHardwareUnknownPropertyError;
    switch (address->mSelector) {
    case kAudioDevicePropertyNominalSampleRate:
    case kAudioStreamPropertyPhysicalFormat:
    case kAudioStreamPropertyVirtualFormat:
    case kAudioStreamPropertyIsActive:
        *outSettable = true;
        break;
    default:
        *outSettable = false;
    }
    return kAudioHardwareNoError;
}

OSStatus velkaroGetPropertyDataSize(AudioServerPlugInDriverRef, AudioObjectID object, pid_t,
                                    const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                                    const void* qualifier, UInt32* outSize)
{
    if (outSize == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (!present(object, address))
        return kAudioHardwareUnknownPropertyError;
    Answer answer;
    const OSStatus status = lookup(object, *address, qualifierSize, qualifier, false, answer);
    if (status == kAudioHardwareNoError)
        *outSize = answer.size;
    return status;
}

OSStatus velkaroGetPropertyData(AudioServerPlugInDriverRef, AudioObjectID object, pid_t,
                                const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                                const void* qualifier, UInt32 inSize, UInt32* outSize, void* outData)
{
    if (!present(object, address))
        return kAudioHardwareUnknownPropertyError;
    Answer sizeOnly;
    OSStatus status = lookup(object, *address, qualifierSize, qualifier, false, sizeOnly);
    if (status != kAudioHardwareNoError)
        return status;
    if (inSize < sizeOnly.size || (sizeOnly.size != 0 && outData == nullptr))
        return kAudioHardwareBadPropertySizeError;
    if (outSize == nullptr)
        return kAudioHardwareIllegalOperationError;
    Answer answer;
    status = lookup(object, *address, qualifierSize, qualifier, true, answer);
    if (status != kAudioHardwareNoError)
        return status;
    // Strings and URLs go out retained; ours are constants, so on non-Apple systems this is only form.
    if (answer.size == sizeof(CFTypeRef) && (address->mSelector == kAudioObjectPropertyName ||
                                             address->mSelector == kAudioObjectPropertyManufacturer ||
                                             address->mSelector == kAudioPlugInPropertyBundleID ||
                                             address->mSelector == kAudioPlugInPropertyResourceBundle ||
                                             address->mSelector == kAudioDevicePropertyModelUID ||
                                             address->mSelector == kAudioDevicePropertyDeviceUID)) {
        CFTypeRef value;
        std::memcpy(&value, answer.bytes, sizeof value);
        CFRetain(value);
    }
    if (answer.size != 0)
        std::memcpy(outData, answer.bytes, answer.size);
    *outSize = answer.size;
    return kAudioHardwareNoError;
}

OSStatus velkaroSetPropertyData(AudioServerPlugInDriverRef, AudioObjectID object, pid_t,
                                const AudioObjectPropertyAddress* address, UInt32, const void*, UInt32 inSize,
                                const void* inData)
{
    if (!present(object, address))
        return kAudioHardwareUnknownPropertyError;
    const AudioObjectPropertySelector selector = address->mSelector;
    if (selector != kAudioDevicePropertyNominalSampleRate && selector != kAudioStreamPropertyPhysicalFormat &&
        selector != kAudioStreamPropertyVirtualFormat && selector != kAudioStreamPropertyIsActive)
        return kAudioHardwareUnknownPropertyError;
    if (inData == nullptr)
        return kAudioHardwareIllegalOperationError;

    if (selector == kAudioDevicePropertyNominalSampleRate) {
        if (inSize != sizeof(Float64))
            return kAudioHardwareBadPropertySizeError;
        Float64 rate;
        std::memcpy(&rate, inData, sizeof rate);
        return rate == kSampleRateHz ? kAudioHardwareNoError : kAudioHardwareUnsupportedOperationError;
    }
    if (selector == kAudioStreamPropertyPhysicalFormat || selector == kAudioStreamPropertyVirtualFormat) {
        if (inSize != sizeof(AudioStreamBasicDescription))
            return kAudioHardwareBadPropertySizeError;
        AudioStreamBasicDescription format;
        std::memcpy(&format, inData, sizeof format);
        return sameFormat(format, kStreamFormat) ? kAudioHardwareNoError : kAudioDeviceUnsupportedFormatError;
    }
    if (inSize != sizeof(UInt32))
        return kAudioHardwareBadPropertySizeError;
    UInt32 value;
    std::memcpy(&value, inData, sizeof value);
    if (value > 1)
        return kAudioHardwareIllegalOperationError;
    if (active[object].exchange(SInt32(value)) != SInt32(value))
        notifyHost(object, *address);
    return kAudioHardwareNoError;
}
