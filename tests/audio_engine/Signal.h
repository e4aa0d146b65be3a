#pragma once

#include <cmath>
#include <numbers>
#include <vector>

// Test signals and measurements shared by the audio tests.
namespace Signal {

inline std::vector<float> sine(double frequencyHz, double sampleRateHz, int frames, double amplitude,
                               double phase = 0.0)
{
    std::vector<float> out(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        out[size_t(i)] =
            float(amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * i / sampleRateHz + phase));
    return out;
}

// Amplitude of the `frequencyHz` component (Goertzel), for a window holding whole periods or many.
template <class T>
double toneAmplitude(const T* samples, size_t count, double frequencyHz, double sampleRateHz,
                     double scale = 1.0)
{
    const double w = 2.0 * std::numbers::pi * frequencyHz / sampleRateHz;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = double(samples[i]) / scale + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / double(count);
}

template <class T> double rms(const T* samples, size_t count, double scale = 1.0)
{
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i)
        sum += (double(samples[i]) / scale) * (double(samples[i]) / scale);
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

// Frequency from rising zero crossings, interpolated at both ends.
template <class T> double zeroCrossingFrequency(const T* samples, size_t count, double sampleRateHz)
{
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (size_t i = 1; i < count; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double a = double(samples[i - 1]), b = double(samples[i]);
            const double at = double(i - 1) + (-a) / (b - a);
            if (first < 0)
                first = at;
            else
                ++crossings;
            last = at;
        }
    }
    return crossings > 0 ? crossings * sampleRateHz / (last - first) : 0.0;
}

inline double dB(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace Signal
