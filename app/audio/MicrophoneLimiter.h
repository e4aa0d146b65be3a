#pragma once

// A per-sample gain limiter for the Mac microphone: instant attack to keep every output sample
// within ±0.85, smooth recovery towards unity with a time constant of 6,000 samples at 24 kHz.
class MicrophoneLimiter {
public:
    static constexpr double kCeiling = 0.85;

    explicit MicrophoneLimiter(double sampleRateHz);

    // Capture callback: no allocation, no lock. A non-finite sample gives 0.
    float process(float sample);

    double gain() const { return m_gain; }
    double ceiling() const { return kCeiling; }
    double release() const { return m_release; }

private:
    double m_gain = 1.0;
    double m_release;
};
