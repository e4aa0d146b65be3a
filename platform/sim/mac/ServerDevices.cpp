#include "platform/sim/mac/ServerDevices.h"

#include "platform/hal/HalString.h"

#include <QStringList>
#include <vector>

namespace sim {
namespace {

bool hasStreams(hal::AudioHardware& hardware, AudioObjectID device, AudioObjectPropertyScope scope)
{
    UInt32 size = 0;
    return hardware.getPropertyDataSize(device, hal::address(kAudioDevicePropertyStreams, scope), 0, nullptr,
                                        size) == kAudioHardwareNoError &&
           size >= sizeof(AudioObjectID);
}

QString nameOf(hal::AudioHardware& hardware, AudioObjectID device)
{
    std::u16string name;
    if (hal::readString(hardware, device, hal::address(kAudioObjectPropertyName), name) != 0)
        return {};
    return QString::fromStdU16String(name);
}

} // namespace

QList<ServerDevice> serverDevices(hal::AudioHardware& hardware)
{
    const auto devices = hal::address(kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    if (hardware.getPropertyDataSize(kAudioObjectSystemObject, devices, 0, nullptr, size) != 0)
        return {};
    std::vector<AudioObjectID> ids(size / sizeof(AudioObjectID));
    if (ids.empty() ||
        hardware.getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, size, ids.data()) != 0)
        return {};
    ids.resize(size / sizeof(AudioObjectID));
    QList<ServerDevice> list;
    for (AudioObjectID id : ids) {
        const QString name = nameOf(hardware, id);
        if (name.isEmpty())
            continue;
        list.append({id, name, hasStreams(hardware, id, kAudioObjectPropertyScopeInput),
                     hasStreams(hardware, id, kAudioObjectPropertyScopeOutput)});
    }
    return list;
}

QStringList deviceNames(hal::AudioHardware& hardware, bool input)
{
    QStringList names;
    for (const ServerDevice& device : serverDevices(hardware))
        if (input ? device.input : device.output)
            names.append(device.name);
    return names;
}

AudioObjectID deviceNamed(hal::AudioHardware& hardware, const QString& name, bool input)
{
    for (const ServerDevice& device : serverDevices(hardware))
        if (device.name == name && (input ? device.input : device.output))
            return device.id;
    return 0;
}

QString defaultDeviceName(hal::AudioHardware& hardware, bool input)
{
    AudioObjectID device = 0;
    const auto where = hal::address(input ? kAudioHardwarePropertyDefaultInputDevice
                                          : kAudioHardwarePropertyDefaultOutputDevice);
    if (hal::readValue(hardware, kAudioObjectSystemObject, where, device) != 0 || device == 0)
        return {};
    return nameOf(hardware, device);
}

} // namespace sim
