#pragma once

#include "app/audio/engine/AudioNode.h"
#include "app/audio/engine/AudioProcessor.h"
#include "app/audio/engine/LockFree.h"
#include "app/audio/engine/PcmBlock.h"

#include <array>
#include <functional>
#include <memory>

class VoiceProcessor;

// Sums its input buses, each with its own volume, then applies the output volume.
class AudioMixerNode : public AudioNode {
public:
    static constexpr int kMaxInputBuses = 8;

    AudioMixerNode();

    // Any thread; takes effect from the next render quantum.
    void setOutputVolume(float volume) { m_outputVolume.store(volume, std::memory_order_relaxed); }
    float outputVolume() const { return m_outputVolume.load(std::memory_order_relaxed); }
    void setInputVolume(int bus, float volume);
    float inputVolume(int bus) const;

protected:
    void prepareRender(int maxFrames) override;
    void render(float* const* channelData, int frames) override;

private:
    std::atomic<float> m_outputVolume{1.0f};
    std::array<std::atomic<float>, kMaxInputBuses> m_inputVolumes{};
    std::vector<float> m_scratch;
    int m_scratchFrames = 0;
};

// An effect around an AudioProcessor: pulls input bus 0 and processes it in place.
class AudioEffectNode : public AudioNode {
public:
    explicit AudioEffectNode(std::unique_ptr<AudioProcessor> processor);

    AudioProcessor& processor() { return *m_processor; }
    // Any thread: a bypassed effect passes its input through.
    void setBypass(bool bypass) { m_bypass.store(bypass, std::memory_order_relaxed); }
    bool bypass() const { return m_bypass.load(std::memory_order_relaxed); }

protected:
    void prepareRender(int maxFrames) override;
    void render(float* const* channelData, int frames) override;

private:
    std::unique_ptr<AudioProcessor> m_processor;
    std::atomic<bool> m_bypass{false};
};

// Plays scheduled blocks back to back, in scheduling order, and reports each one "played back" once
// its last frame has been rendered. Completions run on the engine's service thread, never on the
// render thread. Blocks are in the player's output format (its rate; channels are mapped).
class AudioPlayerNode : public AudioNode {
public:
    using Completion = std::function<void()>;

    AudioPlayerNode() = default;
    ~AudioPlayerNode() override;

    // Any thread. False (and no completion) for an empty or unusable block.
    bool scheduleBuffer(std::shared_ptr<const PcmBlock> block, Completion completion = {});
    // Main thread. Playing starts or resumes; a stopped player renders silence.
    void play();
    // Main thread (never a tap block or completion). Discards every scheduled block; their
    // completions still run. While its engine is stopping, waits for the stop to finish.
    void stop();
    bool isPlaying() const { return m_playing.load(std::memory_order_acquire); }

    // Blocks scheduled and not yet finished or discarded (approximate while rendering).
    int queuedBlocks() const { return m_queued.load(std::memory_order_relaxed); }
    // Frames of scheduled blocks rendered so far (silence between blocks not counted). Any thread.
    long long playedFrames() const { return m_playedFrames.load(std::memory_order_acquire); }

    struct Item {
        std::atomic<Item*> next{nullptr};
        std::shared_ptr<const PcmBlock> block;
        Completion completion;
        unsigned long long epoch = 0;
        int position = 0;
    };

protected:
    void render(float* const* channelData, int frames) override;

private:
    friend class AudioEngine;
    // Consumer side when no render can run: hands every queued item to completion.
    void discardAllNow();
    void finish(Item* item);

    MpscQueue<Item> m_scheduled;
    std::atomic<unsigned long long> m_epoch{0};
    std::atomic<bool> m_playing{false};
    std::atomic<int> m_queued{0};
    std::atomic<long long> m_playedFrames{0};
};

// The engine's source of captured audio: the input device's frames as captureInput() delivers them.
// Feeding the graph (when the node is connected) goes through a ring; the tap sees every frame.
class AudioInputNode : public AudioNode {
public:
    AudioInputNode();
    ~AudioInputNode() override;

    // Main thread, before start. Voice processing: echo cancellation against what the engine
    // renders, and optionally automatic gain control.
    void setVoiceProcessingEnabled(bool enabled);
    bool isVoiceProcessingEnabled() const { return m_voiceProcessing; }
    void setVoiceProcessingAGC(bool enabled);
    bool voiceProcessingAGC() const { return m_agc; }
    void setVoiceProcessingInputMuted(bool muted) { m_inputMuted.store(muted); }
    bool isVoiceProcessingInputMuted() const { return m_inputMuted.load(); }

protected:
    void prepareRender(int maxFrames) override;
    void render(float* const* channelData, int frames) override;

private:
    friend class AudioEngine;
    bool m_voiceProcessing = false;
    bool m_agc = false;
    std::atomic<bool> m_inputMuted{false};
    std::unique_ptr<FrameRing> m_ring;
    std::unique_ptr<VoiceProcessor> m_voiceProcessor;
    std::vector<float> m_captureScratch; // planar, device channels
};

// The engine's sink: pulls input bus 0 adapted to the output device's format.
class AudioOutputNode : public AudioNode {
public:
    AudioOutputNode() = default;

protected:
    void render(float* const* channelData, int frames) override;
};
