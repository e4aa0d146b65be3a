#pragma once

#include <cstdint>

// Sample layout of a stream or block, after the platform's stream descriptions: what the engine's
// links carry, what converters read and write.
enum class SampleType { Float32, Int16 };

struct AudioFormat {
    double sampleRateHz = 0.0;
    int channels = 0;
    SampleType sampleType = SampleType::Float32;
    bool interleaved = false;

    // The engine's own format: float, one buffer a channel.
    static AudioFormat standard(double sampleRateHz, int channels)
    {
        return AudioFormat{sampleRateHz, channels, SampleType::Float32, false};
    }

    bool isValid() const { return sampleRateHz > 0.0 && channels > 0 && channels <= kMaxChannels; }
    bool isStandard() const { return sampleType == SampleType::Float32 && !interleaved; }
    int bytesPerSample() const { return sampleType == SampleType::Float32 ? 4 : 2; }

    bool operator==(const AudioFormat&) const = default;

    // Far above any device we meet; keeps per-channel pointer arrays on the stack of the render path.
    static constexpr int kMaxChannels = 32;
};
