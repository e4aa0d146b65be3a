// Properties of the simulated server: the system object and built-in devices answer here; plug-in objects
// are forwarded to their driver with object ids translated both ways.

#include "platform/sim/audio/AudioServerPrivate.h"

#include "platform/hal/HalString.h"

#include <cstring>

namespace sim {
namespace {

// Constant strings of the built-in devices, in the same form drivers use.
#if !defined(__APPLE__)
#define SIM_CONST_STRING(name, literal)                                                                      \
    constexpr CFStringConstantUnits name##Units{u"" literal};                                                \
    constexpr __CFString name##Value{kCFStringStandInIsa, UInt32(sizeof(name##Units.units) / 2 - 1),         \
                                     name##Units.units};                                                     \
    constexpr CFStringRef name = &name##Value;
#else
#define SIM_CONST_STRING(name, literal) const CFStringRef name = CFSTR(literal);
#endif

SIM_CONST_STRING(kAppleName, "Apple Inc.")
SIM_CONST_STRING(kSystemName, "Système audio")
SIM_CONST_STRING(kInputStreamName, "Entrée")
SIM_CONST_STRING(kOutputStreamName, "Sortie")

// Selectors whose values are lists of object ids, translated between driver and server ids.
bool holdsObjectIDs(AudioObjectPropertySelector selector)
{
    switch (selector) {
    case kAudioObjectPropertyOwnedObjects:
    case kAudioObjectPropertyOwner:
    case kAudioPlugInPropertyDeviceList:
    case kAudioPlugInPropertyBoxList:
    case kAudioPlugInPropertyTranslateUIDToDevice:
    case kAudioDevicePropertyRelatedDevices:
    case kAudioDevicePropertyStreams:
    case kAudioObjectPropertyControlList:
        return true;
    default:
        return false;
    }
}

// Writes a value of a fixed size, or reports the size only.
template <typename T> OSStatus answer(const T& value, UInt32& ioSize, void* data, bool sizeOnly)
{
    if (sizeOnly) {
        ioSize = sizeof(T);
        return kAudioHardwareNoError;
    }
    if (ioSize < sizeof(T) || data == nullptr)
        return kAudioHardwareBadPropertySizeError;
    std::memcpy(data, &value, sizeof(T));
    ioSize = sizeof(T);
    return kAudioHardwareNoError;
}

OSStatus answerIDs(const std::vector<AudioObjectID>& ids, UInt32& ioSize, void* data, bool sizeOnly)
{
    const UInt32 size = UInt32(ids.size() * sizeof(AudioObjectID));
    if (sizeOnly) {
        ioSize = size;
        return kAudioHardwareNoError;
    }
    // Like the HAL, a short buffer gets as many whole ids as fit.
    const UInt32 count = std::min<UInt32>(UInt32(ids.size()), ioSize / sizeof(AudioObjectID));
    if (count > 0 && data == nullptr)
        return kAudioHardwareBadPropertySizeError;
    if (count > 0)
        std::memcpy(data, ids.data(), count * sizeof(AudioObjectID));
    ioSize = count * sizeof(AudioObjectID);
    return kAudioHardwareNoError;
}

AudioStreamBasicDescription floatFormat(UInt32 channels, Float64 rateHz)
{
    return {rateHz,
            kAudioFormatLinearPCM,
            kAudioFormatFlagsNativeFloatPacked,
            4 * channels,
            1,
            4 * channels,
            channels,
            32,
            0};
}

} // namespace

OSStatus AudioServer::systemProperty(const AudioObjectPropertyAddress& address, UInt32 qualifierSize,
                                     const void* qualifier, UInt32& ioSize, void* data, bool sizeOnly)
{
    switch (address.mSelector) {
    case kAudioObjectPropertyBaseClass:
        return answer<AudioClassID>(kAudioObjectClassID, ioSize, data, sizeOnly);
    case kAudioObjectPropertyClass:
        return answer<AudioClassID>(kAudioSystemObjectClassID, ioSize, data, sizeOnly);
    case kAudioObjectPropertyName:
        return answer(kSystemName, ioSize, data, sizeOnly);
    case kAudioObjectPropertyManufacturer:
        return answer(kAppleName, ioSize, data, sizeOnly);
    case kAudioHardwarePropertyDevices:
        return answerIDs(deviceList(), ioSize, data, sizeOnly);
    case kAudioObjectPropertyOwnedObjects: {
        std::vector<AudioObjectID> owned;
        for (const auto& [id, object] : m_objects)
            if (object.kind == Object::Kind::PlugIn)
                owned.push_back(id);
        for (AudioObjectID id : deviceList())
            owned.push_back(id);
        return answerIDs(owned, ioSize, data, sizeOnly);
    }
    case kAudioHardwarePropertyDefaultInputDevice:
        return answer(m_defaultInput, ioSize, data, sizeOnly);
    case kAudioHardwarePropertyDefaultOutputDevice:
        return answer(m_defaultOutput, ioSize, data, sizeOnly);
    case kAudioHardwarePropertyTranslateUIDToDevice: {
        if (sizeOnly)
            return answer<AudioObjectID>(0, ioSize, data, true);
        if (qualifier == nullptr || qualifierSize != sizeof(CFStringRef))
            return kAudioHardwareBadPropertySizeError;
        CFStringRef uidRef;
        std::memcpy(&uidRef, qualifier, sizeof uidRef);
#if defined(__APPLE__)
        const std::u16string uid = uidRef ? hal::takeString(CFStringRef(CFRetain(uidRef))) : std::u16string();
#else
        const std::u16string uid =
            uidRef && uidRef->isa == kCFStringStandInIsa
                ? std::u16string(reinterpret_cast<const char16_t*>(uidRef->characters), uidRef->length)
                : std::u16string();
#endif
        AudioObjectID found = kAudioObjectUnknown;
        for (const auto& [id, device] : m_devices)
            if (device->plugIn == nullptr && !uid.empty() && device->uid == uid)
                found = id;
        for (const auto& plugIn : m_plugIns) {
            if (found != kAudioObjectUnknown || !plugIn->loaded)
                continue;
            AudioObjectID driverDevice = kAudioObjectUnknown;
            UInt32 used = 0;
            const AudioObjectPropertyAddress where = hal::address(kAudioPlugInPropertyTranslateUIDToDevice);
            if ((*plugIn->driver)
                        ->GetPropertyData(plugIn->driver, kAudioObjectPlugInObject, 0, &where, qualifierSize,
                                          qualifier, sizeof driverDevice, &used, &driverDevice) == 0 &&
                driverDevice != kAudioObjectUnknown) {
                const AudioObjectID candidate = serverID(*plugIn, driverDevice);
                if (device(candidate) != nullptr)
                    found = candidate;
            }
        }
        return answer(found, ioSize, data, false);
    }
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus AudioServer::builtInProperty(const Object& object, const AudioObjectPropertyAddress& address,
                                      UInt32& ioSize, void* data, bool sizeOnly)
{
    const Device& device = *object.device;
    // Readers take a retained reference; the server keeps its own for the device's life and beyond.
    const auto retained = [](CFStringRef string) {
#if defined(__APPLE__)
        CFRetain(string);
#endif
        return string;
    };
    if (object.kind == Object::Kind::BuiltInStream) {
        const UInt32 channels = object.input ? device.inputChannels : device.outputChannels;
        switch (address.mSelector) {
        case kAudioObjectPropertyBaseClass:
            return answer<AudioClassID>(kAudioObjectClassID, ioSize, data, sizeOnly);
        case kAudioObjectPropertyClass:
            return answer<AudioClassID>(kAudioStreamClassID, ioSize, data, sizeOnly);
        case kAudioObjectPropertyOwner:
            return answer(device.id, ioSize, data, sizeOnly);
        case kAudioObjectPropertyName:
            return answer(object.input ? kInputStreamName : kOutputStreamName, ioSize, data, sizeOnly);
        case kAudioObjectPropertyOwnedObjects:
            return answerIDs({}, ioSize, data, sizeOnly);
        case kAudioStreamPropertyDirection:
            return answer<UInt32>(object.input ? 1 : 0, ioSize, data, sizeOnly);
        case kAudioStreamPropertyIsActive:
        case kAudioStreamPropertyStartingChannel:
            return answer<UInt32>(1, ioSize, data, sizeOnly);
        case kAudioStreamPropertyLatency:
            return answer<UInt32>(0, ioSize, data, sizeOnly);
        case kAudioStreamPropertyTerminalType:
            return answer<UInt32>(kAudioStreamTerminalTypeLine, ioSize, data, sizeOnly);
        case kAudioStreamPropertyVirtualFormat:
        case kAudioStreamPropertyPhysicalFormat:
            return answer(floatFormat(channels, device.sampleRateHz), ioSize, data, sizeOnly);
        case kAudioStreamPropertyAvailableVirtualFormats:
        case kAudioStreamPropertyAvailablePhysicalFormats:
            return answer(AudioStreamRangedDescription{floatFormat(channels, device.sampleRateHz),
                                                       {device.sampleRateHz, device.sampleRateHz}},
                          ioSize, data, sizeOnly);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    std::vector<AudioObjectID> streams;
    if (device.inputStream != 0 && address.mScope != kAudioObjectPropertyScopeOutput)
        streams.push_back(device.inputStream);
    if (device.outputStream != 0 && address.mScope != kAudioObjectPropertyScopeInput)
        streams.push_back(device.outputStream);
    switch (address.mSelector) {
    case kAudioObjectPropertyBaseClass:
        return answer<AudioClassID>(kAudioObjectClassID, ioSize, data, sizeOnly);
    case kAudioObjectPropertyClass:
        return answer<AudioClassID>(kAudioDeviceClassID, ioSize, data, sizeOnly);
    case kAudioObjectPropertyOwner:
        return answer<AudioObjectID>(kAudioObjectSystemObject, ioSize, data, sizeOnly);
    case kAudioObjectPropertyName:
        return answer(sizeOnly ? device.nameRef : retained(device.nameRef), ioSize, data, sizeOnly);
    case kAudioObjectPropertyManufacturer:
        return answer(kAppleName, ioSize, data, sizeOnly);
    case kAudioDevicePropertyDeviceUID:
        return answer(sizeOnly ? device.uidRef : retained(device.uidRef), ioSize, data, sizeOnly);
    case kAudioDevicePropertyTransportType:
        return answer<UInt32>(device.transportType, ioSize, data, sizeOnly);
    case kAudioObjectPropertyOwnedObjects:
    case kAudioDevicePropertyStreams:
        return answerIDs(streams, ioSize, data, sizeOnly);
    case kAudioDevicePropertyRelatedDevices:
        return answerIDs({device.id}, ioSize, data, sizeOnly);
    case kAudioObjectPropertyControlList:
        return answerIDs({}, ioSize, data, sizeOnly);
    case kAudioDevicePropertyDeviceIsAlive:
        return answer<UInt32>(device.alive ? 1 : 0, ioSize, data, sizeOnly);
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
        return answer<UInt32>(1, ioSize, data, sizeOnly);
    case kAudioDevicePropertyDeviceIsRunning:
        return answer<UInt32>(device.runningProcs > 0 ? 1 : 0, ioSize, data, sizeOnly);
    case kAudioDevicePropertyIsHidden:
    case kAudioDevicePropertyClockDomain:
    case kAudioDevicePropertyLatency:
    case kAudioDevicePropertySafetyOffset:
        return answer<UInt32>(0, ioSize, data, sizeOnly);
    case kAudioDevicePropertyZeroTimeStampPeriod:
        return answer<UInt32>(kBufferFrames, ioSize, data, sizeOnly);
    case kAudioDevicePropertyNominalSampleRate:
        return answer(device.sampleRateHz, ioSize, data, sizeOnly);
    case kAudioDevicePropertyAvailableNominalSampleRates:
        return answer(AudioValueRange{device.sampleRateHz, device.sampleRateHz}, ioSize, data, sizeOnly);
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus AudioServer::forwardGet(const Object& object, const AudioObjectPropertyAddress& address,
                                 UInt32 qualifierSize, const void* qualifier, UInt32& ioSize, void* data,
                                 bool sizeOnly)
{
    PlugIn& plugIn = *object.plugIn;
    AudioServerPlugInDriverInterface& driver = **plugIn.driver;
    if (sizeOnly)
        return driver.GetPropertyDataSize(plugIn.driver, object.driverID, 0, &address, qualifierSize,
                                          qualifier, &ioSize);
    UInt32 used = 0;
    const OSStatus status = driver.GetPropertyData(plugIn.driver, object.driverID, 0, &address, qualifierSize,
                                                   qualifier, ioSize, &used, data);
    if (status != kAudioHardwareNoError)
        return status;
    ioSize = used;
    if (holdsObjectIDs(address.mSelector) && data != nullptr) {
        auto* ids = static_cast<AudioObjectID*>(data);
        for (UInt32 i = 0; i < used / sizeof(AudioObjectID); ++i) {
            if (address.mSelector == kAudioObjectPropertyOwner && object.kind == Object::Kind::PlugIn)
                ids[i] = kAudioObjectSystemObject;
            else
                ids[i] = ids[i] == kAudioObjectUnknown ? kAudioObjectUnknown : serverID(plugIn, ids[i]);
        }
    }
    return kAudioHardwareNoError;
}

bool AudioServer::hasProperty(AudioObjectID id, const AudioObjectPropertyAddress& address)
{
    Guard guard(*this);
    if (const Object* found = object(id); found != nullptr && found->plugIn != nullptr)
        return (*found->plugIn->driver)->HasProperty(found->plugIn->driver, found->driverID, 0, &address) !=
               0;
    UInt32 size = 0;
    return getPropertyDataSize(id, address, 0, nullptr, size) == kAudioHardwareNoError;
}

OSStatus AudioServer::isPropertySettable(AudioObjectID id, const AudioObjectPropertyAddress& address,
                                         bool& settable)
{
    Guard guard(*this);
    if (id == kAudioObjectSystemObject) {
        UInt32 size = 0;
        const OSStatus status = systemProperty(address, 0, nullptr, size, nullptr, true);
        settable = address.mSelector == kAudioHardwarePropertyDefaultInputDevice ||
                   address.mSelector == kAudioHardwarePropertyDefaultOutputDevice;
        return status;
    }
    const Object* found = object(id);
    if (found == nullptr)
        return kAudioHardwareBadObjectError;
    if (found->plugIn == nullptr) {
        UInt32 size = 0;
        const OSStatus status = builtInProperty(*found, address, size, nullptr, true);
        settable = address.mSelector == kAudioDevicePropertyNominalSampleRate;
        return status;
    }
    Boolean answer = false;
    const OSStatus status =
        (*found->plugIn->driver)
            ->IsPropertySettable(found->plugIn->driver, found->driverID, 0, &address, &answer);
    settable = answer != 0;
    return status;
}

OSStatus AudioServer::getPropertyDataSize(AudioObjectID id, const AudioObjectPropertyAddress& address,
                                          UInt32 qualifierSize, const void* qualifier, UInt32& size)
{
    Guard guard(*this);
    if (const auto fault = m_faults.find({id, address.mSelector}); fault != m_faults.end())
        return fault->second;
    if (id == kAudioObjectSystemObject)
        return systemProperty(address, qualifierSize, qualifier, size, nullptr, true);
    const Object* found = object(id);
    if (found == nullptr)
        return kAudioHardwareBadObjectError;
    if (found->plugIn == nullptr)
        return builtInProperty(*found, address, size, nullptr, true);
    return forwardGet(*found, address, qualifierSize, qualifier, size, nullptr, true);
}

OSStatus AudioServer::getPropertyData(AudioObjectID id, const AudioObjectPropertyAddress& address,
                                      UInt32 qualifierSize, const void* qualifier, UInt32& ioSize, void* data)
{
    Guard guard(*this);
    if (const auto fault = m_faults.find({id, address.mSelector}); fault != m_faults.end())
        return fault->second;
    if (id == kAudioObjectSystemObject)
        return systemProperty(address, qualifierSize, qualifier, ioSize, data, false);
    const Object* found = object(id);
    if (found == nullptr)
        return kAudioHardwareBadObjectError;
    if (found->plugIn == nullptr)
        return builtInProperty(*found, address, ioSize, data, false);
    return forwardGet(*found, address, qualifierSize, qualifier, ioSize, data, false);
}

OSStatus AudioServer::setPropertyData(AudioObjectID id, const AudioObjectPropertyAddress& address,
                                      UInt32 qualifierSize, const void* qualifier, UInt32 size,
                                      const void* data)
{
    Guard guard(*this);
    if (const auto fault = m_faults.find({id, address.mSelector}); fault != m_faults.end())
        return fault->second;
    if (id == kAudioObjectSystemObject) {
        const bool input = address.mSelector == kAudioHardwarePropertyDefaultInputDevice;
        if (!input && address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) {
            UInt32 ignored = 0;
            const OSStatus status = systemProperty(address, 0, nullptr, ignored, nullptr, true);
            return status == kAudioHardwareNoError ? kAudioHardwareUnsupportedOperationError : status;
        }
        if (data == nullptr)
            return kAudioHardwareIllegalOperationError;
        if (size != sizeof(AudioObjectID))
            return kAudioHardwareBadPropertySizeError;
        AudioObjectID wanted;
        std::memcpy(&wanted, data, sizeof wanted);
        const Device* target = device(wanted);
        if (target == nullptr || (input ? target->inputStream : target->outputStream) == 0)
            return kAudioHardwareBadDeviceError;
        AudioObjectID& current = input ? m_defaultInput : m_defaultOutput;
        if (current != wanted) {
            current = wanted;
            notify(kAudioObjectSystemObject, hal::address(address.mSelector));
        }
        return kAudioHardwareNoError;
    }
    const Object* found = object(id);
    if (found == nullptr)
        return kAudioHardwareBadObjectError;
    if (found->plugIn == nullptr) {
        if (address.mSelector != kAudioDevicePropertyNominalSampleRate ||
            found->kind != Object::Kind::BuiltInDevice)
            return kAudioHardwareUnknownPropertyError;
        if (data == nullptr || size != sizeof(Float64))
            return kAudioHardwareBadPropertySizeError;
        Float64 rate;
        std::memcpy(&rate, data, sizeof rate);
        return rate == found->device->sampleRateHz ? kAudioHardwareNoError
                                                   : kAudioHardwareUnsupportedOperationError;
    }
    return (*found->plugIn->driver)
        ->SetPropertyData(found->plugIn->driver, found->driverID, 0, &address, qualifierSize, qualifier, size,
                          data);
}

} // namespace sim
