#include "app/audio/MicrophoneLimiter.h"

#include <algorithm>
#include <cmath>

// A quarter of a second at any rate: e^(−1/6000) a sample at 24 kHz.
MicrophoneLimiter::MicrophoneLimiter(double sampleRateHz)
    : m_release(std::exp(-1.0 / std::max(1.0, 0.25 * sampleRateHz)))
{
}

float MicrophoneLimiter::process(float sample)
{
    if (!std::isfinite(sample))
        return 0.0f;
    const double x = sample;
    const double needed = std::fabs(x) <= kCeiling ? 1.0 : kCeiling / std::fabs(x);
    if (needed < m_gain)
        m_gain = needed;
    else
        m_gain = std::min(needed, 1.0 - (1.0 - m_gain) * m_release);
    return float(std::clamp(m_gain * x, -kCeiling, kCeiling));
}
