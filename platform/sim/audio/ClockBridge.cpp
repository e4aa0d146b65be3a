#include "platform/sim/audio/ClockBridge.h"

#include <algorithm>

namespace sim {

ClockBridge::ClockBridge(std::shared_ptr<HostEndpoint> endpoint, double localRateHz, double targetMs)
    : m_endpoint(std::move(endpoint)), m_localRateHz(localRateHz),
      m_endpointRateHz(m_endpoint->sampleRateHz()), m_channels(std::max(1u, m_endpoint->channels())),
      m_targetFrames(targetMs / 1000.0 * m_endpointRateHz), m_averageFill(m_targetFrames),
      m_scratch(kMaxBlockFrames * m_channels)
{
}

// The correction for the next `localFrames` frames: positive when the queue is deeper than its target.
double ClockBridge::steer(size_t localFrames)
{
    // What was read ahead is still queued, as far as the delay goes.
    const double fill = double(m_endpoint->queuedFrames() + m_scratchFrames - m_scratchRead);
    const double alpha = std::min(1.0, double(localFrames) / m_localRateHz); // a one-second average
    m_averageFill += alpha * (fill - m_averageFill);
    // Within the dead band the ratio stays put: an echo canceller behind the bridge sees a still delay.
    const double error = (m_averageFill - m_targetFrames) / m_targetFrames;
    const double beyond = std::max(0.0, std::abs(error) - kDeadBand) * (error < 0 ? -1.0 : 1.0);
    const double correction = std::clamp(kMaxCorrection * beyond, -kMaxCorrection, kMaxCorrection);
    m_queuedMs.store(fill * 1000.0 / m_endpointRateHz, std::memory_order_relaxed);
    m_correctionPpm.store(correction * 1e6, std::memory_order_relaxed);
    return correction;
}

// Real-time: no allocation, no lock.
void ClockBridge::pull(float* mono, size_t frames)
{
    // A device gone is silence, not a dropout a minute.
    if (!m_endpoint->isAlive()) {
        std::fill(mono, mono + frames, 0.0f);
        return;
    }
    const double correction = steer(frames);
    if (!m_primed) {
        // Wait for a target's worth, so that the queue starts where it is meant to stay.
        if (double(m_endpoint->queuedFrames()) < m_targetFrames) {
            std::fill(mono, mono + frames, 0.0f);
            return;
        }
        m_primed = true;
    }
    // A backlog (what arrived while nobody pulled, or during a stall) is dropped down to the target at
    // once: the ratio would take minutes to work it off, and every millisecond of it is delay.
    const size_t queued = m_endpoint->queuedFrames();
    if (double(queued) > kBacklog * m_targetFrames) {
        m_endpoint->read(nullptr, queued - size_t(m_targetFrames));
        m_scratchRead = m_scratchFrames;
        m_averageFill = m_targetFrames;
        if (m_pulled)
            m_dropouts.fetch_add(1, std::memory_order_relaxed);
    }
    m_pulled = true;
    const double step = m_endpointRateHz / m_localRateHz * (1.0 + correction);
    for (size_t i = 0; i < frames; ++i) {
        while (m_phase >= 1.0) {
            if (m_scratchRead == m_scratchFrames) {
                m_scratchFrames = m_endpoint->read(m_scratch.data(), kReadFrames);
                m_scratchRead = 0;
                if (m_scratchFrames == 0) {
                    // Ran dry: silence until a target's worth is back.
                    m_dropouts.fetch_add(1, std::memory_order_relaxed);
                    m_primed = false;
                    std::fill(mono + i, mono + frames, 0.0f);
                    return;
                }
            }
            const float* frame = &m_scratch[m_scratchRead++ * m_channels];
            float sum = 0;
            for (size_t c = 0; c < m_channels; ++c)
                sum += frame[c];
            m_previous = m_current;
            m_current = sum / float(m_channels);
            m_phase -= 1.0;
        }
        mono[i] = m_previous + (m_current - m_previous) * float(m_phase);
        m_phase += step;
    }
}

// Real-time: no allocation, no lock.
void ClockBridge::push(const float* mono, size_t frames)
{
    if (!m_endpoint->isAlive())
        return;
    if (!m_primed && m_endpoint->queuedFrames() == 0) {
        // The queue starts at its target, so the ratio has nothing to catch up.
        std::fill(m_scratch.begin(), m_scratch.end(), 0.0f);
        for (size_t left = size_t(m_targetFrames); left > 0;) {
            const size_t written = m_endpoint->write(m_scratch.data(), std::min(left, kMaxBlockFrames));
            if (written == 0)
                break;
            left -= written;
        }
        m_primed = true;
    }
    const double correction = steer(frames);
    const double step = m_localRateHz / m_endpointRateHz * (1.0 + correction);
    size_t out = 0;
    const size_t capacity = kMaxBlockFrames;
    auto flush = [&] {
        if (out > 0 && m_endpoint->write(m_scratch.data(), out) < out && m_primed)
            m_dropouts.fetch_add(1, std::memory_order_relaxed);
        out = 0;
    };
    for (size_t i = 0; i < frames; ++i) {
        m_previous = m_current;
        m_current = mono[i];
        while (m_phase < 1.0) {
            const float sample = m_previous + (m_current - m_previous) * float(m_phase);
            for (size_t c = 0; c < m_channels; ++c)
                m_scratch[out * m_channels + c] = sample;
            if (++out == capacity)
                flush();
            m_phase += step;
        }
        m_phase -= 1.0;
    }
    flush();
}

} // namespace sim
