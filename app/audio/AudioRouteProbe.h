#pragma once

#include "app/audio/SoundDevice.h"
#include "app/common/AppError.h"
#include "platform/hal/AudioHardware.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class AudioBridge;
class Clock;
class Scheduler;

// Proves that sound travels: through each VelkaroAudio loopback device (a tone played into it must come
// back out of it), and through the Mac's microphone and speakers in Mac-conversation mode. A run is a
// chain of steps on the scheduler, so the interface stays live without any nested event loop, and it
// can be cancelled at any point; failures are AppError with the sentence shown to the user.
//
// Threads: everything on the main thread; the bridge's taps feed the tone meter on the capture tap
// thread (the meter has its own lock), and the recorder's completion hops back to the main thread.
class AudioRouteProbe {
public:
    using Progress = std::function<void(const QString& text, double raw, double converted)>;
    // Nothing when the route works, otherwise why not.
    using Done = std::function<void(const std::optional<AppError>& failure)>;

    static constexpr double kCallToneHz = 733.0;
    static constexpr double kVoiceToneHz = 1103.0;
    static constexpr int kToneSamples = 168'000;

    AudioRouteProbe(hal::AudioHardware& hardware, Scheduler& scheduler, const Clock& clock);
    // Cancels a run in progress.
    ~AudioRouteProbe();
    AudioRouteProbe(const AudioRouteProbe&) = delete;
    AudioRouteProbe& operator=(const AudioRouteProbe&) = delete;

    // Called with each bridge the probe has just started; for fault tests.
    std::function<void(AudioBridge& bridge)> bridgeStarted;

    // Both circuits, one after the other (about 12.6 s). Returns at once; `done` runs once, from a
    // later step, unless the run is cancelled. A circuit whose device vanishes or whose engines stop
    // ends at once as incomplete. A new run cancels the one in progress.
    void run(const QList<SoundDevice>& devices, Done done);
    // The Mac route, at most 15 s; ends at once when the system's default devices stop being the
    // given ones.
    void runMac(AudioObjectID inputID, AudioObjectID outputID, Progress progress, Done done);
    // Ends the run in progress now: bridge stopped, recording and its folder removed, `done` not called.
    void cancel();
    bool isRunning() const { return m_run != nullptr; }
    // The run waits for its recording to be written on the recorder's thread, not for time to pass.
    bool isAwaitingRecording() const;

    // The test tone as wire PCM: 7 s at 24 kHz, −20 dBFS, 10 ms fades.
    static QByteArray tone(double frequencyHz);

private:
    struct Run;
    using Step = void (AudioRouteProbe::*)();

    // The steps of a run, each from a scheduler task (or the recorder's hop back); a step's AppError
    // ends the run with it.
    void after(double seconds, Step step);
    void attempt(Step step);
    void finish(const std::optional<AppError>& failure);
    void cleanUp();
    void driverMissing();
    void startCircuit();
    void playTone();
    void listen();
    void checkCircuit();
    void startMac();
    void pollMac();

    hal::AudioHardware& m_hardware;
    Scheduler& m_scheduler;
    const Clock& m_clock;
    std::shared_ptr<Run> m_run;
};
