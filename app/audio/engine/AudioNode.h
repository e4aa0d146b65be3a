#pragma once

#include "app/audio/engine/AudioFormat.h"
#include "app/audio/engine/RateStage.h"

#include <atomic>
#include <memory>
#include <vector>

class AudioEngine;
struct AudioTap;

// A node of an engine's graph. Every node has one output bus (0) and pulls its inputs, in fixed
// render quanta, from the nodes connected to its input buses. A link whose source runs at another
// rate or channel count than its destination is adapted (libsoxr, channel map) by the engine.
class AudioNode {
public:
    virtual ~AudioNode();
    AudioNode(const AudioNode&) = delete;
    AudioNode& operator=(const AudioNode&) = delete;

    // The format of output bus 0, as the last connection (or the device) set it.
    virtual AudioFormat outputFormat(int bus = 0) const;
    AudioEngine* engine() const { return m_engine; }

protected:
    AudioNode() = default;

    // Main thread, at engine preparation: allocate what render() needs for `maxFrames`.
    virtual void prepareRender(int maxFrames);
    // Real-time: fill `frames` (≤ maxFrames) planar frames of the output format. No allocation.
    virtual void render(float* const* channelData, int frames) = 0;
    // The format a given input bus is adapted to: by default the node's own output format.
    virtual AudioFormat inputTargetFormat(int bus) const;
    // Real-time: pull `frames` frames of input bus `bus`, adapted to inputTargetFormat(bus).
    // Silence when nothing is connected; false then.
    bool pullInput(int bus, float* const* channelData, int frames);
    int inputBusCount() const { return int(m_inputs.size()); }
    bool hasInput(int bus) const;

    AudioFormat m_outputFormat;
    bool m_tapsOnRender = true;

private:
    friend class AudioEngine;
    friend class RateStage;

    struct Link {
        AudioNode* source = nullptr;
        std::unique_ptr<RateStage> rate;
        std::vector<float> scratch; // source channels × maxFrames
        int scratchFrames = 0;
    };

    // Real-time: render and feed this node's tap, if any.
    void renderAndTap(float* const* channelData, int frames);
    void prepareLinks(int maxFrames);

    AudioEngine* m_engine = nullptr;
    std::vector<Link> m_inputs;
    AudioNode* m_destination = nullptr;
    std::atomic<AudioTap*> m_tap{nullptr};
};
