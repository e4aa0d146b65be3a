#pragma once

#include "app/audio/AudioBridge.h"
#include "platform/hal/HalString.h"
#include "tests/sim_audio/InstalledServer.h"

#include <QByteArray>
#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

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
