#include "app/audio/ProbeMeter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

void ProbeMeter::append(const QByteArray& pcm)
{
    std::lock_guard lock(m_lock);
    const qsizetype samples = pcm.size() / 2;
    for (qsizetype i = 0; i < samples; ++i) {
        int16_t sample;
        std::memcpy(&sample, pcm.constData() + 2 * i, 2);
        const double x = double(sample) / 32768.0;
        const double phase = m_frequency * 2.0 * std::numbers::pi * double(m_count) / 24000.0;
        m_cosine += x * std::cos(phase);
        m_sine += x * std::sin(phase);
        ++m_count;
    }
}

int64_t ProbeMeter::count() const
{
    std::lock_guard lock(m_lock);
    return m_count;
}

double ProbeMeter::amplitude() const
{
    std::lock_guard lock(m_lock);
    if (m_count == 0)
        return 0;
    return 2.0 * std::sqrt(m_cosine * m_cosine + m_sine * m_sine) / double(m_count);
}

void PeakMeter::add(double peak)
{
    std::lock_guard lock(m_lock);
    m_value = std::max(m_value, peak);
}

double PeakMeter::value() const
{
    std::lock_guard lock(m_lock);
    return m_value;
}
