#pragma once

#include "app/audio/SoundDevice.h"

#include <QList>
#include <optional>

// The two loopback devices of the VelkaroAudio driver, found by UID.
class VelkaroDevices {
public:
    // The Phone app plays the caller into it; the bridge captures from it.
    static inline const QString kCallUID = QStringLiteral("fr.velkaro.audio.call");
    // The bridge plays the AI voice into it; the Phone app uses it as its microphone.
    static inline const QString kVoiceUID = QStringLiteral("fr.velkaro.audio.voice");

    struct Pair {
        SoundDevice call;
        SoundDevice voice;
    };

    // The first device of each UID that has both directions; nothing when either is missing or both
    // entries are the same device.
    static std::optional<Pair> pair(const QList<SoundDevice>& devices);
};
