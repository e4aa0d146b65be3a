#pragma once

#include "app/common/AppError.h"
#include "platform/hal/AudioHardware.h"

#include <functional>
#include <memory>
#include <variant>

class Scheduler;

// Listens to one microphone for five seconds and says whether it picked up any sound, reporting a live
// level (0…1) meanwhile. A run is a chain of steps on the scheduler and can be cancelled at any point.
//
// Threads: everything on the main thread; the tap measures peaks on the engine's service thread and
// its level reports hop back to the main thread, where reports made after the run are dropped.
class MicrophoneProbe {
public:
    static constexpr double kListenSeconds = 5.0;
    static constexpr double kSoundThreshold = 0.005;

    // Whether sound was picked up, or why the microphone could not be heard.
    using Result = std::variant<bool, AppError>;
    using Done = std::function<void(const Result& result)>;
    using Level = std::function<void(double level)>;

    MicrophoneProbe(hal::AudioHardware& hardware, Scheduler& scheduler);
    // Cancels a run in progress.
    ~MicrophoneProbe();
    MicrophoneProbe(const MicrophoneProbe&) = delete;
    MicrophoneProbe& operator=(const MicrophoneProbe&) = delete;

    // Returns at once; `done` runs once, from a later step, unless the run is cancelled. The level
    // falls back to 0 when the run ends, however it ends. A microphone that goes away ends it at once.
    void run(AudioObjectID deviceID, Level level, Done done);
    // Ends the run in progress now: engine stopped, level 0, `done` not called.
    void cancel();
    bool isRunning() const { return m_run != nullptr; }

private:
    struct Run;
    void after(double seconds, void (MicrophoneProbe::*step)());
    void start();
    void listen();
    void end(const std::optional<Result>& result);

    hal::AudioHardware& m_hardware;
    Scheduler& m_scheduler;
    std::shared_ptr<Run> m_run;
};
