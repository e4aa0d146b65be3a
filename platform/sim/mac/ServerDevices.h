#pragma once

// The audio server's devices as the simulated processes see them: by name, as the Phone app lists them.

#include "platform/hal/AudioHardware.h"

#include <QList>
#include <QString>

namespace sim {

struct ServerDevice {
    AudioObjectID id = 0;
    QString name;
    bool input = false;
    bool output = false;
};

// Every device in the server's order; unreadable devices are left out.
QList<ServerDevice> serverDevices(hal::AudioHardware& hardware);
// The names of the devices with an input (or output) stream, in the server's order.
QStringList deviceNames(hal::AudioHardware& hardware, bool input);
// The first device with that exact name and direction; 0 when there is none.
AudioObjectID deviceNamed(hal::AudioHardware& hardware, const QString& name, bool input);
// The name of the system's default input (or output) device; empty when unreadable.
QString defaultDeviceName(hal::AudioHardware& hardware, bool input);

} // namespace sim
