#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>

class Clock;

// Counters and time stamps of the audio passing through one bridge. Capture and output taps and
// playback completions write them, the periodic tick and the probes read them; every access holds
// the one lock for the whole computation, so the texts and the stall decision see one state.
// The lock is never taken on the render path (taps and completions run on the service thread).
class AudioFlowHealth {
public:
    struct Counters {
        double inputTime = 0;       // converted capture audio last arrived
        double outputTime = 0;      // converted output audio last arrived
        double demandTime = 0;      // the playback queue last went from empty to busy
        int64_t inputFrames = 0;    // converted capture frames at 24 kHz
        int64_t outputFrames = 0;   // converted output frames at 24 kHz
        double rawInputSeconds = 0; // raw capture seen by the tap
        int64_t inputErrors = 0;
        double rawOutputSeconds = 0; // raw output seen by the output tap
        int64_t outputErrors = 0;
        double rawPeak = 0; // largest raw capture peak (float full scale = 1)
        double pcmPeak = 0; // largest converted peak, fraction of 32768
        int64_t signalFrames = 0;
        double latestRaw = 0;
        double latestPCM = 0;
        double signalTime = 0; // minus infinity after a reset
        int64_t pending = 0;   // chunks scheduled and not played back
        int64_t generation = 0;
    };

    static constexpr double kStallSeconds = 3.0;
    static constexpr double kSignalThreshold = 0.003;

    // Time in seconds from the system uptime, a Clock (which must outlive this object), or any
    // function that does not take this object's lock.
    AudioFlowHealth();
    explicit AudioFlowHealth(const Clock& clock);
    explicit AudioFlowHealth(std::function<double()> clock);

    void reset();
    // One converted capture block: its raw and converted peaks and its converted frame count.
    void inputSignal(double raw, double converted, int64_t frames);
    bool stalled() const;
    QString description() const;
    QString signalDescription() const;

    // Runs `change(counters, now)` under the lock, `now` read from the clock under it.
    template <class F> decltype(auto) update(F&& change)
    {
        std::lock_guard lock(m_lock);
        return change(m_counters, m_clock());
    }
    Counters snapshot() const;

private:
    static QString level(double peak);

    mutable std::mutex m_lock;
    std::function<double()> m_clock;
    Counters m_counters;
};
