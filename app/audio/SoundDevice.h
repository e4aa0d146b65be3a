#pragma once

#include "platform/hal/AudioHardware.h"

#include <QHash>
#include <QString>

// One Core Audio device as the application sees it. Identity is `id`; equality covers every field.
struct SoundDevice {
    AudioObjectID id = 0;
    QString name;
    QString uid;
    bool input = false;
    bool output = false;

    friend bool operator==(const SoundDevice&, const SoundDevice&) = default;
};

inline size_t qHash(const SoundDevice& device, size_t seed = 0)
{
    return qHashMulti(seed, device.id, device.name, device.uid, device.input, device.output);
}
