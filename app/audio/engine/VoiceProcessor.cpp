#include "app/audio/engine/VoiceProcessor.h"

#include "app/audio/engine/AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

namespace {
constexpr double kEchoTailSeconds = 0.2; // a room and a laptop's speaker-to-microphone path
constexpr size_t kRingSeconds = 1;
} // namespace

VoiceProcessor::VoiceProcessor(double sampleRateHz, bool automaticGainControl)
    : m_sampleRateHz(sampleRateHz), m_frameSize(std::max(1, int(sampleRateHz / 100.0))),
      m_reference(1, size_t(sampleRateHz) * kRingSeconds),
      m_processed(1, size_t(sampleRateHz) * kRingSeconds), m_pending(size_t(m_frameSize)),
      m_mic(size_t(m_frameSize)), m_ref(size_t(m_frameSize)), m_out(size_t(m_frameSize)),
      m_scratch(size_t(m_frameSize))
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

void VoiceProcessor::processFrame()
{
    float* ref = m_scratch.data();
    const size_t got = m_reference.read(&ref, size_t(m_frameSize));
    std::fill(m_scratch.begin() + std::ptrdiff_t(got), m_scratch.end(), 0.0f);
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
