#pragma once

#include "app/audio/SoundDevice.h"
#include "platform/hal/AudioHardware.h"

#include <QList>
#include <functional>

// One change of a system default device: which property, the device it replaced and the device it set.
struct RouteChange {
    AudioObjectPropertySelector selector = 0;
    AudioObjectID previousValue = 0;
    AudioObjectID appliedValue = 0;

    friend bool operator==(const RouteChange&, const RouteChange&) = default;
};

// Makes given devices the system's default input and output for a while, and puts back exactly what it
// changed — unless someone changed that default again in the meantime.
class MacAudioRoute {
public:
    // Reads the device id of a system property (`dIn ` or `dOut`); throws AppError.
    using ReadFunction = std::function<AudioObjectID(AudioObjectPropertySelector)>;
    // Writes the device id of a system property; throws AppError.
    using WriteFunction = std::function<void(AudioObjectPropertySelector, AudioObjectID)>;

    // Missing accessors use the system object of `hardware`; the application passes none.
    explicit MacAudioRoute(hal::AudioHardware& hardware, ReadFunction read = {}, WriteFunction write = {});
    ~MacAudioRoute();
    MacAudioRoute(const MacAudioRoute&) = delete;
    MacAudioRoute& operator=(const MacAudioRoute&) = delete;

    // The built-in microphone and speakers among `devices`; throws AppError when either is missing.
    void prepare(const QList<SoundDevice>& devices);
    // Does nothing while a route is in force. On failure, undoes what it changed and throws AppError.
    void prepare(AudioObjectID inputID, AudioObjectID outputID);
    // Never fails.
    void restore();

    const QList<RouteChange>& previous() const { return m_previous; }

    AudioObjectID readSystem(AudioObjectPropertySelector selector) const;
    void writeSystem(AudioObjectPropertySelector selector, AudioObjectID device) const;

private:
    bool isBuiltIn(AudioObjectID device) const;
    void apply(AudioObjectPropertySelector selector, AudioObjectID device);

    hal::AudioHardware& m_hardware;
    ReadFunction m_read;
    WriteFunction m_write;
    QList<RouteChange> m_previous;
};
