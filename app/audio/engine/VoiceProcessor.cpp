#include "app/audio/engine/VoiceProcessor.h"

#include "app/audio/engine/AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

namespace {
constexpr double kEchoTailSeconds = 0.2; // a room and a laptop's speaker-to-microphone path
constexpr size_t kRingSeconds = 1;
constexpr int kBacklogWindowFrames = 100;      // a second of 10 ms frames
constexpr double kReferenceGainPerMs = 0.0003; // 300 ppm for each millisecond off
constexpr double kMaxReferenceCorrection = 0.002;
} // namespace

VoiceProcessor::VoiceProcessor(double sampleRateHz, bool automaticGainControl)
    : m_sampleRateHz(sampleRateHz), m_frameSize(std::max(1, int(sampleRateHz / 100.0))),
      m_reference(1, size_t(sampleRateHz) * kRingSeconds),
      m_processed(1, size_t(sampleRateHz) * kRingSeconds), m_pending(size_t(m_frameSize)),
      m_mic(size_t(m_frameSize)), m_ref(size_t(m_frameSize)), m_out(size_t(m_frameSize)),
      m_scratch(size_t(m_frameSize)), m_refIn(size_t(m_frameSize))
{
    const int rate = int(sampleRateHz);
    m_echo = speex_echo_state_init(m_frameSize, int(kEchoTailSeconds * sampleRateHz));
    speex_echo_ctl(m_echo, SPEEX_ECHO_SET_SAMPLING_RATE, const_cast<int*>(&rate));
    m_preprocess = speex_preprocess_state_init(m_frameSize, rate);
    speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_ECHO_STATE, m_echo);
    int on = 1;
    speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_DENOISE, &on);
    int agc = automaticGainControl ? 1 : 0;
    speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC, &agc);
    // One frame of silence up front keeps the output steady while the first frame fills.
    std::fill(m_scratch.begin(), m_scratch.end(), 0.0f);
    const float* silence = m_scratch.data();
    m_processed.write(&silence, 1, size_t(m_frameSize));
}

VoiceProcessor::~VoiceProcessor()
{
    speex_preprocess_state_destroy(m_preprocess);
    speex_echo_state_destroy(m_echo);
}

void VoiceProcessor::playback(const float* samples, int frames)
{
    m_reference.write(&samples, 1, size_t(frames));
}

// The speakers may run on another clock than the microphone (two sound cards): the reference would then
// pile up or thin out against the microphone and the echo slide out of the filter's reach over a long
// call. The reference is read through linear interpolation at a ratio that holds the least it held over
// each second where the first second found it (a proportional step, at most ±2000 ppm): the echo path the
// filter sees stays put. Real-time: no allocation.
void VoiceProcessor::readReference()
{
    const size_t backlog = m_reference.availableFrames() + (m_refCount - m_refRead);
    m_backlogLeast = std::min(m_backlogLeast, backlog);
    if (++m_backlogFrames == kBacklogWindowFrames) {
        if (m_backlogFloor < 0) {
            m_backlogFloor = double(m_backlogLeast);
        } else {
            const double errorMs = (double(m_backlogLeast) - m_backlogFloor) * 1000.0 / m_sampleRateHz;
            m_refStep = 1.0 + std::clamp(kReferenceGainPerMs * errorMs, -kMaxReferenceCorrection,
                                         kMaxReferenceCorrection);
        }
        m_backlogFrames = 0;
        m_backlogLeast = SIZE_MAX;
    }
    for (int i = 0; i < m_frameSize; ++i) {
        while (m_refPhase >= 1.0) {
            if (m_refRead == m_refCount) {
                float* into = m_refIn.data();
                m_refCount = m_reference.read(&into, m_refIn.size());
                m_refRead = 0;
            }
            // Nothing played yet: silence, without consuming what is not there.
            m_refPrevious = m_refCurrent;
            m_refCurrent = m_refRead < m_refCount ? m_refIn[m_refRead++] : 0.0f;
            m_refPhase -= 1.0;
        }
        m_scratch[size_t(i)] = m_refPrevious + (m_refCurrent - m_refPrevious) * float(m_refPhase);
        m_refPhase += m_refStep;
    }
}

void VoiceProcessor::processFrame()
{
    readReference();
    for (int i = 0; i < m_frameSize; ++i) {
        m_mic[size_t(i)] = Pcm::floatToInt16(m_pending[size_t(i)]);
        m_ref[size_t(i)] = Pcm::floatToInt16(m_scratch[size_t(i)]);
    }
    speex_echo_cancellation(m_echo, m_mic.data(), m_ref.data(), m_out.data());
    speex_preprocess_run(m_preprocess, m_out.data());
    for (int i = 0; i < m_frameSize; ++i)
        m_scratch[size_t(i)] = Pcm::int16ToFloat(m_out[size_t(i)]);
    const float* out = m_scratch.data();
    m_processed.write(&out, 1, size_t(m_frameSize));
}

void VoiceProcessor::capture(float* samples, int frames)
{
    for (int i = 0; i < frames; ++i) {
        m_pending[size_t(m_pendingCount++)] = samples[i];
        if (m_pendingCount == m_frameSize) {
            processFrame();
            m_pendingCount = 0;
        }
    }
    const size_t got = m_processed.read(&samples, size_t(frames));
    std::fill(samples + got, samples + frames, 0.0f);
}
