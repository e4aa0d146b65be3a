#pragma once

#include "app/audio/engine/LockFree.h"

#include <cstdint>
#include <vector>

struct SpeexEchoState_;
struct SpeexPreprocessState_;

// Voice processing of a Mac microphone, with speexdsp: echo cancellation against what the engine
// plays through the speakers, noise suppression, and optionally automatic gain control. Works on
// mono 10 ms frames, so the processed microphone trails the raw one by 10 ms.
class VoiceProcessor {
public:
    VoiceProcessor(double sampleRateHz, bool automaticGainControl);
    ~VoiceProcessor();
    VoiceProcessor(const VoiceProcessor&) = delete;
    VoiceProcessor& operator=(const VoiceProcessor&) = delete;

    int frameSize() const { return m_frameSize; }
    double sampleRateHz() const { return m_sampleRateHz; }

    // Real-time (output IO thread): the mono signal just played, at the same rate.
    void playback(const float* samples, int frames);
    // Real-time (input IO thread): processes the mono microphone signal in place.
    void capture(float* samples, int frames);
    // What was played and not yet matched with the microphone, in frames. Any thread.
    size_t referenceBacklogFrames() const { return m_reference.availableFrames(); }

private:
    void processFrame();
    void readReference();

    double m_sampleRateHz;
    int m_frameSize;
    SpeexEchoState_* m_echo = nullptr;
    SpeexPreprocessState_* m_preprocess = nullptr;
    FrameRing m_reference;
    FrameRing m_processed;
    std::vector<float> m_pending;
    int m_pendingCount = 0;
    std::vector<short> m_mic, m_ref, m_out;
    std::vector<float> m_scratch;
    // Keeping the reference where it started against the microphone (see readReference).
    std::vector<float> m_refIn;
    size_t m_refRead = 0;
    size_t m_refCount = 0;
    float m_refPrevious = 0;
    float m_refCurrent = 0;
    double m_refPhase = 1.0;
    double m_refStep = 1.0;
    size_t m_backlogLeast = SIZE_MAX;
    int m_backlogFrames = 0;
    double m_backlogFloor = -1;
};
