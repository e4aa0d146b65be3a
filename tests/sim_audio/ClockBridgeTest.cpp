// Two device clocks on manual time, a few hundred parts per million apart, for a long call.

#include "platform/sim/audio/ClockBridge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

using sim::ClockBridge;

namespace {

// A device of the computer whose clock runs `ppm` fast against the simulated one: as manual time moves,
// a capture device delivers its frames, a playback device takes them.
class SkewedDevice final : public sim::HostEndpoint {
public:
    SkewedDevice(double rateHz, unsigned channels, double ppm, bool capture)
        : m_rateHz(rateHz), m_channels(channels), m_ppm(ppm), m_capture(capture)
    {
    }
    double sampleRateHz() const override { return m_rateHz; }
    unsigned channels() const override { return m_channels; }
    bool isAlive() const override { return true; }
    size_t queuedFrames() const override { return m_queue.size() / m_channels; }
    size_t read(float* out, size_t frames) override
    {
        const size_t n = std::min(frames, queuedFrames());
        for (size_t i = 0; i < n * m_channels; ++i) {
            if (out)
                out[i] = m_queue.front();
            m_queue.pop_front();
        }
        return n;
    }
    size_t write(const float* in, size_t frames) override
    {
        const size_t n = std::min(frames, size_t(m_rateHz) - queuedFrames()); // a second of room
        m_queue.insert(m_queue.end(), in, in + n * m_channels);
        return n;
    }

    // The device's clock moves by `seconds` of simulated time: a tone is captured, or frames are played.
    void run(double seconds)
    {
        m_due += seconds * m_rateHz * (1 + m_ppm * 1e-6);
        const auto frames = size_t(m_due);
        m_due -= double(frames);
        for (size_t i = 0; i < frames; ++i, ++m_clock) {
            if (m_capture) {
                const float sample = 0.5f * float(std::sin(2 * M_PI * 440 * double(m_clock) / m_rateHz));
                for (unsigned c = 0; c < m_channels; ++c)
                    m_queue.push_back(sample);
            } else if (!m_queue.empty()) {
                for (unsigned c = 0; c < m_channels; ++c)
                    m_queue.pop_front();
            } else if (m_clock > m_rateHz) {
                ++starved;
            }
        }
    }
    size_t starved = 0;

private:
    double m_rateHz;
    unsigned m_channels;
    double m_ppm;
    bool m_capture;
    double m_due = 0;
    size_t m_clock = 0;
    std::deque<float> m_queue;
};

} // namespace

TEST(ClockBridge, HoldsTheQueueBetweenTwoClocksThreeHundredPpmApartForTwentyMinutes)
{
    struct Case {
        const char* name;
        bool capture;
        double rateHz;
        unsigned channels;
        double ppm;
    };
    const Case cases[] = {
        {"the person's microphone, fast", true, 44100, 2, +300},
        {"the person's microphone, slow", true, 48000, 1, -300},
        {"what the caller hears, fast", false, 48000, 2, +300},
        {"what the caller hears, slow", false, 8000, 1, -300},
    };
    constexpr double kTargetMs = 30;
    constexpr size_t kCycle = 512;
    constexpr double kLocalRateHz = 48000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = std::make_shared<SkewedDevice>(c.rateHz, c.channels, c.ppm, c.capture);
        ClockBridge bridge(device, kLocalRateHz, kTargetMs);
        std::vector<float> block(kCycle);
        double lowest = 1e9, highest = 0, lastPpm = 0;
        const size_t cycles = size_t(20 * 60 * kLocalRateHz / kCycle);
        for (size_t i = 0; i < cycles; ++i) {
            const double seconds = kCycle / kLocalRateHz;
            if (c.capture) {
                device->run(seconds);
                bridge.pull(block.data(), kCycle);
            } else {
                for (size_t f = 0; f < kCycle; ++f)
                    block[f] =
                        0.25f * float(std::sin(2 * M_PI * 300 * double(i * kCycle + f) / kLocalRateHz));
                bridge.push(block.data(), kCycle);
                device->run(seconds);
            }
            // After the first ten seconds the correction has settled.
            if (i * kCycle > 10 * kLocalRateHz) {
                lowest = std::min(lowest, bridge.queuedMs());
                highest = std::max(highest, bridge.queuedMs());
            }
            lastPpm = bridge.correctionPpm();
        }
        EXPECT_EQ(bridge.dropouts(), 0u);
        EXPECT_EQ(device->starved, 0u);
        EXPECT_GT(lowest, 0.0) << "the queue never ran dry";
        EXPECT_LT(highest, 2 * kTargetMs + 12) << "the delay did not grow (one cycle of jitter allowed)";
        // The correction found the skew (the sign follows the direction the queue leans).
        EXPECT_NEAR(std::abs(lastPpm), 300, 60);
    }
}
