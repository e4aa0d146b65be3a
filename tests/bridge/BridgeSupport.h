#pragma once

#include "app/audio/AudioBridge.h"
#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "platform/hal/HalString.h"
#include "tests/sim_audio/InstalledServer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <functional>
#include <mutex>
#include <numbers>
#include <vector>

// Manual time for probes on a bare server: the scheduler and the devices' clocks move together, one IO
// buffer at a time, as on the simulated Mac.
struct ProbeTime {
    explicit ProbeTime(sim::AudioServer& server) : server(server) {}

    sim::AudioServer& server;
    ManualClock clock;
    ManualScheduler scheduler{clock};
    const double originSeconds = clock.uptimeSeconds();
    // Runs after each step with the time elapsed so far; may change the devices.
    std::function<void(double seconds)> during;

    double elapsedSeconds() const { return clock.uptimeSeconds() - originSeconds; }

    // Moves time until `finished` holds, at most `maxSeconds`. While nothing is scheduled (a probe
    // waits for its recording to be written on another thread) real time passes, not the clock.
    bool runUntil(const std::function<bool()>& finished, double maxSeconds = 60)
    {
        while (!finished() && elapsedSeconds() < maxSeconds) {
            if (scheduler.pendingCount() == 0) {
                QElapsedTimer real;
                real.start();
                while (scheduler.pendingCount() == 0 && !finished() && real.elapsed() < 10'000) {
                    QCoreApplication::processEvents();
                    QThread::usleep(200);
                }
                if (scheduler.pendingCount() == 0 && !finished())
                    return false;
                continue;
            }
            step();
        }
        return finished();
    }

    // Moves time by `seconds`, whatever is scheduled.
    void advance(double seconds)
    {
        const double until = elapsedSeconds() + seconds;
        while (elapsedSeconds() < until - 1e-9)
            step();
    }

private:
    void step()
    {
        scheduler.advance(sim::AudioServer::kBufferFrames / sim::AudioServer::kSampleRateHz);
        server.advanceFrames(sim::AudioServer::kBufferFrames);
        server.flushNotifications();
        QCoreApplication::processEvents();
        if (during)
            during(elapsedSeconds());
    }
};

// Amplitude of one frequency in a stretch of samples (every `stride`-th from `first`).
inline double toneAmplitude(const std::vector<float>& samples, double frequencyHz, double rateHz,
                            size_t first, size_t count, size_t stride = 1)
{
    double c = 0, s = 0;
    for (size_t n = 0; n < count; ++n) {
        const double x = samples[first + n * stride];
        const double phase = 2.0 * std::numbers::pi * frequencyHz * double(n) / rateHz;
        c += x * std::cos(phase);
        s += x * std::sin(phase);
    }
    return 2.0 * std::sqrt(c * c + s * s) / double(count);
}

inline std::vector<float> wireToFloat(const QByteArray& pcm)
{
    std::vector<float> out(size_t(pcm.size() / 2));
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = float(samples[i]) / 32768.0f;
    return out;
}

inline QByteArray wireTone(double frequencyHz, double amplitude, int samples)
{
    QByteArray bytes(samples * 2, '\0');
    auto* out = reinterpret_cast<int16_t*>(bytes.data());
    for (int n = 0; n < samples; ++n)
        out[n] = int16_t(
            std::lround(amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * frequencyHz * n / 24000.0)));
    return bytes;
}

// Collects what onPCM delivers.
struct PcmSink {
    std::mutex lock;
    QByteArray bytes;
    int calls = 0;
    std::function<void(const QByteArray&)> callback()
    {
        return [this](const QByteArray& pcm) {
            std::lock_guard guard(lock);
            bytes += pcm;
            ++calls;
        };
    }
    QByteArray take()
    {
        std::lock_guard guard(lock);
        return bytes;
    }
};

inline size_t firstAbove(const std::vector<float>& samples, float threshold, size_t stride = 1)
{
    for (size_t i = 0; i < samples.size(); i += stride)
        if (std::fabs(samples[i]) > threshold)
            return i / stride;
    return SIZE_MAX;
}
