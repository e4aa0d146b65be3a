#pragma once

#include "app/audio/ProbeTiming.h"
#include "app/audio/SoundDevice.h"

#include <QList>
#include <QString>
#include <functional>

class AudioBridge;

// Proves that sound travels: through each VelkaroAudio loopback device (a tone played into it must come
// back out of it), and through the Mac's microphone and speakers in Mac-conversation mode. Runs on the
// main thread, waiting through `timing`; failures are AppError with the sentence shown to the user.
class AudioRouteProbe {
public:
    using Progress = std::function<void(const QString& text, double raw, double converted)>;

    static constexpr double kCallToneHz = 733.0;
    static constexpr double kVoiceToneHz = 1103.0;
    static constexpr int kToneSamples = 168'000;

    explicit AudioRouteProbe(hal::AudioHardware& hardware, ProbeTiming timing = ProbeTiming::system());

    // Called with each bridge the probe has just started; for fault tests.
    std::function<void(AudioBridge& bridge)> bridgeStarted;

    void run(const QList<SoundDevice>& devices);
    void runMac(AudioObjectID inputID, AudioObjectID outputID, const Progress& progress);

    // The test tone as wire PCM: 7 s at 24 kHz, −20 dBFS, 10 ms fades.
    static QByteArray tone(double frequencyHz);

private:
    void runCircuit(const SoundDevice& device, double frequencyHz);
    // Waits in slices so the bridge's taps keep up, whatever drives the clock.
    void wait(AudioBridge& bridge, int milliseconds);

    hal::AudioHardware& m_hardware;
    ProbeTiming m_timing;
};
