#include "app/audio/AudioDevices.h"

#include "platform/hal/HalString.h"

#include <vector>

namespace {

QString stringProperty(hal::AudioHardware& hardware, AudioObjectID device,
                       AudioObjectPropertySelector selector)
{
    std::u16string text;
    if (hal::readString(hardware, device, hal::address(selector), text) != kAudioHardwareNoError)
        return {};
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

bool hasStreams(hal::AudioHardware& hardware, AudioObjectID device, AudioObjectPropertyScope scope)
{
    UInt32 size = 0;
    return hardware.getPropertyDataSize(device, hal::address(kAudioDevicePropertyStreams, scope), 0, nullptr,
                                        size) == kAudioHardwareNoError &&
           size != 0;
}

} // namespace

QList<SoundDevice> AudioDevices::all(hal::AudioHardware& hardware)
{
    const AudioObjectPropertyAddress devices = hal::address(kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    if (hardware.getPropertyDataSize(kAudioObjectSystemObject, devices, 0, nullptr, size) !=
        kAudioHardwareNoError)
        return {};
    std::vector<AudioObjectID> ids(size / sizeof(AudioObjectID), 0);
    UInt32 used = UInt32(ids.size() * sizeof(AudioObjectID));
    if (ids.empty() || hardware.getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, used,
                                                ids.data()) != kAudioHardwareNoError)
        return {};
    // The list may have shrunk between the two calls.
    ids.resize(std::min<size_t>(ids.size(), used / sizeof(AudioObjectID)));

    QList<SoundDevice> result;
    result.reserve(qsizetype(ids.size()));
    for (AudioObjectID id : ids) {
        SoundDevice device;
        device.id = id;
        device.name = stringProperty(hardware, id, kAudioObjectPropertyName);
        device.uid = stringProperty(hardware, id, kAudioDevicePropertyDeviceUID);
        device.input = hasStreams(hardware, id, kAudioObjectPropertyScopeInput);
        device.output = hasStreams(hardware, id, kAudioObjectPropertyScopeOutput);
        result.append(device);
    }
    return result;
}
