#pragma once

#include "app/audio/ProbeTiming.h"
#include "platform/hal/AudioHardware.h"

#include <functional>

// Listens to one microphone for five seconds and says whether it picked up any sound, reporting a live
// level (0…1) on the main thread meanwhile.
class MicrophoneProbe {
public:
    static constexpr int kListenMilliseconds = 5000;
    static constexpr double kSoundThreshold = 0.005;

    explicit MicrophoneProbe(hal::AudioHardware& hardware, ProbeTiming timing = ProbeTiming::system());

    // Throws AppError when the microphone cannot be opened or started; a throwing wait (cancellation)
    // passes on after the engine stopped and the level fell to 0.
    bool run(AudioObjectID deviceID, const std::function<void(double level)>& level);

private:
    hal::AudioHardware& m_hardware;
    ProbeTiming m_timing;
};
