#pragma once

// An in-place effect on planar float audio. prepare() runs on the main thread before the engine
// starts and may allocate; process() runs on the render thread and may not.
class AudioProcessor {
public:
    virtual ~AudioProcessor() = default;
    virtual void prepare(double sampleRateHz, int channels, int maxFrames) = 0;
    // Real-time: no allocation, no lock, no logging.
    virtual void process(float* const* channelData, int frames) = 0;
    // Frames by which the output trails the input.
    virtual int latencyFrames() const { return 0; }
};
