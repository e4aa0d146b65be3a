#pragma once

#include "app/audio/engine/AudioFormat.h"

#include <cstddef>
#include <vector>

class AudioNode;
struct soxr;

// Rate adaptation inside the render graph: libsoxr in pull mode, asking the source node for input
// as it needs it. Everything is allocated and the filter primed at construction, so produce() runs
// on the render thread without allocating.
class RateStage {
public:
    RateStage(AudioNode& source, double inputRateHz, double outputRateHz, int channels, int maxFrames);
    ~RateStage();
    RateStage(const RateStage&) = delete;
    RateStage& operator=(const RateStage&) = delete;

    bool isValid() const { return m_soxr != nullptr; }
    // Real-time: `frames` frames at the output rate into planar buffers of the source's channels.
    void produce(float* const* channelData, int frames);

private:
    static size_t pull(void* state, const void** data, size_t requestedFrames);

    AudioNode& m_source;
    int m_channels;
    int m_maxFrames;
    soxr* m_soxr = nullptr;
    std::vector<float> m_input;  // planar
    std::vector<float> m_output; // interleaved
    float* m_inputPointers[AudioFormat::kMaxChannels] = {};
    bool m_priming = false;
};
