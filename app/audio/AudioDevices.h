#pragma once

#include "app/audio/SoundDevice.h"
#include "platform/hal/AudioHardware.h"

#include <QList>

// The system's sound devices, read fresh from the HAL on every call.
class AudioDevices {
public:
    // Every device in the system's order, unfiltered; empty when the device list cannot be read.
    static QList<SoundDevice> all(hal::AudioHardware& hardware);
};
