#pragma once

#include <QByteArray>
#include <cstdint>
#include <mutex>

// The strength of one frequency in a stream of wire PCM (24 kHz mono 16-bit): a running correlation
// with a cosine and a sine. Fed from the capture thread, read by the probe.
class ProbeMeter {
public:
    explicit ProbeMeter(double frequencyHz) : m_frequency(frequencyHz) {}

    // No allocation; an odd trailing byte is ignored.
    void append(const QByteArray& pcm);
    int64_t count() const;
    // 2 × √(cosine² + sine²) ÷ count: a pure sine of amplitude A at the frequency gives A.
    double amplitude() const;

private:
    mutable std::mutex m_lock;
    int64_t m_count = 0;
    double m_cosine = 0;
    double m_sine = 0;
    const double m_frequency;
};

// The highest absolute sample seen.
class PeakMeter {
public:
    void add(double peak);
    double value() const;

private:
    mutable std::mutex m_lock;
    double m_value = 0;
};
