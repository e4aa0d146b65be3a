#pragma once

#include "app/audio/engine/AudioProcessor.h"

#include <vector>

// A look-ahead peak limiter standing in for the platform's: 12 ms attack (the look-ahead), 24 ms
// release, no pre-gain. The gain reaches its floor before a peak leaves the delay line, so no output
// sample exceeds the ceiling; quiet audio passes untouched, delayed by the look-ahead.
class PeakLimiter final : public AudioProcessor {
public:
    struct Parameters {
        double attackSeconds = 0.012;
        double releaseSeconds = 0.024;
        double preGainDb = 0.0;
        float ceiling = 1.0f; // linear full scale
    };

    PeakLimiter() = default;
    explicit PeakLimiter(const Parameters& parameters) : m_parameters(parameters) {}

    const Parameters& parameters() const { return m_parameters; }

    void prepare(double sampleRateHz, int channels, int maxFrames) override;
    // Real-time: no allocation, no lock.
    void process(float* const* channelData, int frames) override;
    int latencyFrames() const override { return m_lookahead; }

    // Current gain reduction, linear (1 = none); render-thread state, for tests.
    double gain() const { return m_gain; }

private:
    Parameters m_parameters;
    int m_channels = 0;
    int m_lookahead = 0; // L: frames of delay
    int m_window = 1;    // L + 1: span of the minimum and of the smoothing average
    double m_preGain = 1.0;
    double m_release = 0.0;

    std::vector<float> m_delay; // L frames × channels, interleaved
    int m_delayPosition = 0;
    // Monotonic queue of (frame index, target gain) giving the minimum target over the window.
    std::vector<long long> m_minIndex;
    std::vector<double> m_minValue;
    int m_minHead = 0, m_minCount = 0;
    // Moving average of the windowed minimum: smooth attack that still lands on the peak's gain.
    std::vector<double> m_box;
    int m_boxPosition = 0;
    double m_boxSum = 0.0;
    long long m_frameIndex = 0;
    double m_gain = 1.0;
};
