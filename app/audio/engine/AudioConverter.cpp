#include "app/audio/engine/AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <soxr.h>

int16_t Pcm::floatToInt16(float sample)
{
    if (!std::isfinite(sample))
        return 0;
    const float scaled = std::round(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
    return int16_t(scaled);
}

AudioConverter::AudioConverter(const AudioFormat& from, const AudioFormat& to) : m_from(from), m_to(to) {}

AudioConverter::~AudioConverter()
{
    if (m_soxr)
        soxr_delete(m_soxr);
}

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat& from, const AudioFormat& to)
{
    if (!from.isValid() || !to.isValid())
        return nullptr;
    std::unique_ptr<AudioConverter> converter(new AudioConverter(from, to));
    if (from.sampleRateHz != to.sampleRateHz) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        converter->m_soxr = soxr_create(from.sampleRateHz, to.sampleRateHz, unsigned(to.channels), &error,
                                        &io, &quality, nullptr);
        if (error || !converter->m_soxr)
            return nullptr;
    }
    return converter;
}

int AudioConverter::outputCapacity(int frames, double inputRateHz, double outputRateHz)
{
    if (inputRateHz <= 0.0)
        return 64;
    return int(std::ceil(double(frames) * outputRateHz / inputRateHz)) + 64;
}

void AudioConverter::reset()
{
    m_pendingFrames = 0;
    if (m_soxr)
        soxr_clear(m_soxr);
}

bool AudioConverter::convert(const PcmBlock& input, PcmBlock& output)
{
    output.setFrameLength(0);
    if (input.format() != m_from || output.format() != m_to)
        return false;
    const size_t frames = size_t(input.frameLength());
    const size_t channels = size_t(m_to.channels);

    // Channel map into interleaved float, after what an earlier call could not take.
    const size_t total = m_pendingFrames + frames;
    m_in.resize(total * channels);
    const size_t stride = size_t(input.stride());
    for (size_t c = 0; c < channels; ++c) {
        const int source = std::min(int(c), m_from.channels - 1);
        float* dst = m_in.data() + m_pendingFrames * channels + c;
        if (m_from.sampleType == SampleType::Float32) {
            const float* src = input.floatChannelData(source);
            for (size_t i = 0; i < frames; ++i)
                dst[i * channels] = src[i * stride];
        } else {
            const int16_t* src = input.int16ChannelData(source);
            for (size_t i = 0; i < frames; ++i)
                dst[i * channels] = Pcm::int16ToFloat(src[i * stride]);
        }
    }

    // Rate. Interleaved both ways: libsoxr steps through split buffers as if they were one.
    const size_t capacity = size_t(output.frameCapacity());
    const float* converted = m_in.data();
    size_t used = std::min(total, capacity);
    size_t produced = used;
    if (m_soxr) {
        m_out.resize(capacity * channels);
        const soxr_error_t error =
            soxr_process(m_soxr, m_in.data(), total, &used, m_out.data(), capacity, &produced);
        if (error) {
            m_pendingFrames = 0;
            return false;
        }
        converted = m_out.data();
    }

    // Sample type into the output block.
    const size_t outStride = size_t(output.stride());
    for (size_t c = 0; c < channels; ++c) {
        if (m_to.sampleType == SampleType::Float32) {
            float* dst = output.floatChannelData(int(c));
            for (size_t i = 0; i < produced; ++i)
                dst[i * outStride] = converted[i * channels + c];
        } else {
            int16_t* dst = output.int16ChannelData(int(c));
            for (size_t i = 0; i < produced; ++i)
                dst[i * outStride] = Pcm::floatToInt16(converted[i * channels + c]);
        }
    }
    output.setFrameLength(int(produced));

    // Input the resampler or a short output block could not take waits for the next call, up to a
    // second; beyond that the caller is not keeping up and the backlog goes.
    m_pendingFrames = total - used;
    if (m_pendingFrames > size_t(m_from.sampleRateHz))
        m_pendingFrames = 0;
    if (m_pendingFrames > 0)
        std::memmove(m_in.data(), m_in.data() + used * channels, m_pendingFrames * channels * sizeof(float));
    return true;
}
