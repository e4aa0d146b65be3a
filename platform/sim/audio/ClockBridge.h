#pragma once

// Sound crossing between two device clocks: the simulated server's (which paces this side, at
// `localRateHz`, mono) and a device of the computer's (the endpoint, at its own rate and channel count).
// Two clocks never agree exactly (a few hundred parts per million apart), so a fixed-ratio conversion
// would slowly fill or drain the queue between them: growing delay, then dropouts. The bridge converts
// with linear interpolation at a ratio steered by the queue's depth (a proportional correction of at most
// ±1000 ppm on a one-second average, none within ±20 % of the target), which holds the depth near its
// target for as long as a call lasts.
//
// Threads: made on the main thread; pull() or push() runs on this side's IO cycle only, the endpoint's
// other side on the computer's sound thread. Real-time safe after construction; the statistics are atomics
// any thread may read.

#include "platform/sim/audio/HostEndpoint.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

class ClockBridge {
public:
    static constexpr double kMaxCorrection = 0.001;
    static constexpr double kDeadBand = 0.2;
    // A queue this many targets deep is a backlog, not drift.
    static constexpr double kBacklog = 3;
    static constexpr size_t kMaxBlockFrames = 4096;
    static constexpr size_t kReadFrames = 64;

    ClockBridge(std::shared_ptr<HostEndpoint> endpoint, double localRateHz, double targetMs = 30);

    // Input: renders `frames` local frames from what the endpoint captured (silence while it primes or
    // when it ran dry). Real-time: no allocation, no lock.
    void pull(float* mono, size_t frames);
    // Output: converts `frames` local frames and queues them on the endpoint. Real-time: no allocation,
    // no lock.
    void push(const float* mono, size_t frames);

    const std::shared_ptr<HostEndpoint>& endpoint() const { return m_endpoint; }
    // The queue between the clocks, in milliseconds of the endpoint's audio.
    double queuedMs() const { return m_queuedMs.load(std::memory_order_relaxed); }
    double correctionPpm() const { return m_correctionPpm.load(std::memory_order_relaxed); }
    // Times the queue ran dry (input) or overflowed (output) after it first filled.
    uint64_t dropouts() const { return m_dropouts.load(std::memory_order_relaxed); }

private:
    double steer(size_t localFrames);

    std::shared_ptr<HostEndpoint> m_endpoint;
    double m_localRateHz;
    double m_endpointRateHz;
    size_t m_channels;
    double m_targetFrames;
    double m_averageFill = 0;
    double m_phase = 0;
    float m_previous = 0;
    float m_current = 0;
    bool m_primed = false;
    bool m_pulled = false;
    std::vector<float> m_scratch; // endpoint frames, interleaved
    size_t m_scratchFrames = 0;
    size_t m_scratchRead = 0;
    std::atomic<double> m_queuedMs{0};
    std::atomic<double> m_correctionPpm{0};
    std::atomic<uint64_t> m_dropouts{0};
};

} // namespace sim
