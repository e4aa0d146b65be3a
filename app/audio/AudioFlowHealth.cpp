#include "app/audio/AudioFlowHealth.h"

#include "app/common/Clock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
double systemUptime()
{
    static const SystemClock clock;
    return clock.uptimeSeconds();
}
} // namespace

AudioFlowHealth::AudioFlowHealth() : AudioFlowHealth(std::function<double()>(systemUptime)) {}

AudioFlowHealth::AudioFlowHealth(const Clock& clock)
    : AudioFlowHealth(std::function<double()>([&clock] { return clock.uptimeSeconds(); }))
{
}

AudioFlowHealth::AudioFlowHealth(std::function<double()> clock) : m_clock(std::move(clock))
{
    m_counters.signalTime = -std::numeric_limits<double>::infinity();
    reset();
}

void AudioFlowHealth::reset()
{
    std::lock_guard lock(m_lock);
    const double now = m_clock();
    const int64_t generation = m_counters.generation;
    m_counters = Counters{};
    m_counters.inputTime = m_counters.outputTime = m_counters.demandTime = now;
    m_counters.signalTime = -std::numeric_limits<double>::infinity();
    m_counters.generation = generation + 1;
}

void AudioFlowHealth::inputSignal(double raw, double converted, int64_t frames)
{
    std::lock_guard lock(m_lock);
    m_counters.latestRaw = raw;
    m_counters.latestPCM = converted;
    m_counters.signalTime = m_clock();
    m_counters.rawPeak = std::max(m_counters.rawPeak, raw);
    m_counters.pcmPeak = std::max(m_counters.pcmPeak, converted);
    if (converted > kSignalThreshold)
        m_counters.signalFrames += frames;
}

bool AudioFlowHealth::stalled() const
{
    std::lock_guard lock(m_lock);
    const double now = m_clock();
    if (now - m_counters.inputTime > kStallSeconds)
        return true; // no capture audio
    if (m_counters.pending >= 1)
        return now - std::max(m_counters.outputTime, m_counters.demandTime) > kStallSeconds;
    return false;
}

QString AudioFlowHealth::description() const
{
    std::lock_guard lock(m_lock);
    // QString::asprintf ignores the locale: a point as decimal separator, always.
    QString text =
        QString::asprintf("Audio reçu : %.1f s · sortie : %.1f s", double(m_counters.inputFrames) / 24000.0,
                          double(m_counters.outputFrames) / 24000.0);
    if (m_counters.inputFrames == 0)
        text += QString::asprintf(" (micro brut : %.1f s, erreurs : %lld)", m_counters.rawInputSeconds,
                                  static_cast<long long>(m_counters.inputErrors));
    if (m_counters.outputFrames == 0)
        text +=
            QString::asprintf(" (moteur : %.1f s, erreurs de conversion : %lld)", m_counters.rawOutputSeconds,
                              static_cast<long long>(m_counters.outputErrors));
    return text;
}

QString AudioFlowHealth::level(double peak)
{
    if (peak > 0)
        return QString::asprintf("%.0f dB", 20.0 * std::log10(peak));
    return QStringLiteral("silence numérique");
}

QString AudioFlowHealth::signalDescription() const
{
    std::lock_guard lock(m_lock);
    return QStringLiteral("Micro capté : ") + level(m_counters.rawPeak) + QStringLiteral(" · vers IA : ") +
           level(m_counters.pcmPeak);
}

AudioFlowHealth::Counters AudioFlowHealth::snapshot() const
{
    std::lock_guard lock(m_lock);
    return m_counters;
}
