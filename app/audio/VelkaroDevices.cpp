#include "app/audio/VelkaroDevices.h"

namespace {

const SoundDevice* firstDuplex(const QList<SoundDevice>& devices, const QString& uid)
{
    for (const SoundDevice& device : devices)
        if (device.uid == uid && device.input && device.output)
            return &device;
    return nullptr;
}

} // namespace

std::optional<VelkaroDevices::Pair> VelkaroDevices::pair(const QList<SoundDevice>& devices)
{
    const SoundDevice* call = firstDuplex(devices, kCallUID);
    if (call == nullptr)
        return std::nullopt;
    const SoundDevice* voice = firstDuplex(devices, kVoiceUID);
    if (voice == nullptr || voice->id == call->id)
        return std::nullopt;
    return Pair{*call, *voice};
}
