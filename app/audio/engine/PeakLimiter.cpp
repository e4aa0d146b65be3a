#include "app/audio/engine/PeakLimiter.h"

#include <algorithm>
#include <cmath>

void PeakLimiter::prepare(double sampleRateHz, int channels, int)
{
    m_channels = std::max(1, channels);
    m_lookahead = std::max(1, int(std::lround(m_parameters.attackSeconds * sampleRateHz)));
    m_window = m_lookahead + 1;
    m_preGain = std::pow(10.0, m_parameters.preGainDb / 20.0);
    m_release = std::exp(-1.0 / std::max(1.0, m_parameters.releaseSeconds * sampleRateHz));
    m_delay.assign(size_t(m_lookahead) * size_t(m_channels), 0.0f);
    m_delayPosition = 0;
    m_minIndex.assign(size_t(m_window), 0);
    m_minValue.assign(size_t(m_window), 1.0);
    m_minHead = 0;
    m_minCount = 0;
    m_box.assign(size_t(m_window), 1.0);
    m_boxPosition = 0;
    m_boxSum = double(m_window);
    m_frameIndex = 0;
    m_gain = 1.0;
}

void PeakLimiter::process(float* const* channelData, int frames)
{
    const double ceiling = m_parameters.ceiling;
    const float limit = m_parameters.ceiling;
    for (int i = 0; i < frames; ++i) {
        double peak = 0.0;
        for (int c = 0; c < m_channels; ++c) {
            float x = channelData[c][i];
            if (!std::isfinite(x))
                x = 0.0f;
            x = float(x * m_preGain);
            channelData[c][i] = x;
            peak = std::max(peak, double(std::fabs(x)));
        }
        const double target = peak > ceiling ? ceiling / peak : 1.0;

        // Windowed minimum of the target gain over the last L + 1 frames.
        while (m_minCount > 0) {
            const int last = (m_minHead + m_minCount - 1) % m_window;
            if (m_minValue[size_t(last)] < target)
                break;
            --m_minCount;
        }
        const int slot = (m_minHead + m_minCount) % m_window;
        m_minIndex[size_t(slot)] = m_frameIndex;
        m_minValue[size_t(slot)] = target;
        ++m_minCount;
        if (m_minIndex[size_t(m_minHead)] <= m_frameIndex - m_window) {
            m_minHead = (m_minHead + 1) % m_window;
            --m_minCount;
        }
        const double windowMin = m_minValue[size_t(m_minHead)];

        // Every minimum averaged here covers the frame leaving the delay line, so the average is
        // never above the gain that frame needs.
        m_boxSum += windowMin - m_box[size_t(m_boxPosition)];
        m_box[size_t(m_boxPosition)] = windowMin;
        m_boxPosition = (m_boxPosition + 1) % m_window;
        double smoothed = m_boxSum / double(m_window);
        if (smoothed > 1.0 - 1e-9)
            smoothed = 1.0; // running-sum rounding must not colour quiet audio
        smoothed = std::max(0.0, smoothed);

        if (smoothed < m_gain)
            m_gain = smoothed;
        else if (smoothed - m_gain < 1e-7)
            m_gain = smoothed; // recovery ends exactly, not a hair under unity
        else
            m_gain = smoothed - (smoothed - m_gain) * m_release;

        float* delayed = &m_delay[size_t(m_delayPosition) * size_t(m_channels)];
        for (int c = 0; c < m_channels; ++c) {
            const float out = float(double(delayed[c]) * m_gain);
            delayed[c] = channelData[c][i];
            channelData[c][i] = std::clamp(out, -limit, limit);
        }
        m_delayPosition = (m_delayPosition + 1) % m_lookahead;
        ++m_frameIndex;
    }
}
