#pragma once

// A fresh simulated Mac in a temporary data folder, and the measurements the tests make on its audio.

#include "platform/sim/mac/Mac.h"
#include "tests/support/TestDataHome.h"

#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

inline QString builtPackagePath()
{
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    return QString::fromStdString(std::string(buildDir && *buildDir ? buildDir : ORLEA_TEST_BUILD_DIR) +
                                  "/lib/VelkaroAudio-0.2.0.pkg");
}

inline QUrl packageUrl()
{
    return QUrl::fromLocalFile(builtPackagePath());
}

// Channel `channel` of interleaved samples.
inline std::vector<float> channelOf(const std::vector<float>& interleaved, size_t channels,
                                    size_t channel = 0)
{
    std::vector<float> mono;
    mono.reserve(interleaved.size() / channels);
    for (size_t i = channel; i < interleaved.size(); i += channels)
        mono.push_back(interleaved[i]);
    return mono;
}

// The amplitude of the `frequencyHz` component of `samples[first, first + count)` (Goertzel).
inline double toneAmplitude(const std::vector<float>& samples, double frequencyHz, size_t first, size_t count,
                            double rateHz = 48000.0)
{
    if (first + count > samples.size() || count == 0)
        return -1;
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequencyHz / rateHz);
    double previous = 0, beforePrevious = 0;
    for (size_t i = first; i < first + count; ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(0.0, power)) / double(count);
}

inline size_t firstNonZero(const std::vector<float>& samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f)
            return i;
    return samples.size();
}
