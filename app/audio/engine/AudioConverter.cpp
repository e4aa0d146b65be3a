#include "app/audio/engine/AudioConverter.h"

#include <algorithm>
#include <cmath>
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
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
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
    if (m_soxr)
        soxr_clear(m_soxr);
}

bool AudioConverter::convert(const PcmBlock& input, PcmBlock& output)
{
    output.setFrameLength(0);
    if (input.format() != m_from || output.format() != m_to)
        return false;
    const int frames = input.frameLength();
    const int channels = m_to.channels;
    const size_t inFrames = size_t(frames);

    // Channel map into planar float.
    m_in.resize(inFrames * size_t(channels));
    const int stride = input.stride();
    for (int c = 0; c < channels; ++c) {
        const int source = std::min(c, m_from.channels - 1);
        float* dst = m_in.data() + size_t(c) * inFrames;
        if (m_from.sampleType == SampleType::Float32) {
            const float* src = input.floatChannelData(source);
            for (int i = 0; i < frames; ++i)
                dst[i] = src[size_t(i) * size_t(stride)];
        } else {
            const int16_t* src = input.int16ChannelData(source);
            for (int i = 0; i < frames; ++i)
                dst[i] = Pcm::int16ToFloat(src[size_t(i) * size_t(stride)]);
        }
    }

    // Rate.
    const float* planar = m_in.data();
    size_t planarFrames = inFrames;
    size_t produced = inFrames;
    if (m_soxr) {
        const size_t capacity = size_t(output.frameCapacity());
        m_out.resize(capacity * size_t(channels));
        const float* inPointers[AudioFormat::kMaxChannels];
        float* outPointers[AudioFormat::kMaxChannels];
        for (int c = 0; c < channels; ++c) {
            inPointers[c] = m_in.data() + size_t(c) * inFrames;
            outPointers[c] = m_out.data() + size_t(c) * capacity;
        }
        size_t used = 0;
        produced = 0;
        const soxr_error_t error =
            soxr_process(m_soxr, inPointers, inFrames, &used, outPointers, capacity, &produced);
        if (error)
            return false;
        planar = m_out.data();
        planarFrames = capacity;
    } else if (inFrames > size_t(output.frameCapacity())) {
        return false;
    }

    // Sample type into the output block.
    const int outStride = output.stride();
    for (int c = 0; c < channels; ++c) {
        const float* src = planar + size_t(c) * planarFrames;
        if (m_to.sampleType == SampleType::Float32) {
            float* dst = output.floatChannelData(c);
            for (size_t i = 0; i < produced; ++i)
                dst[i * size_t(outStride)] = src[i];
        } else {
            int16_t* dst = output.int16ChannelData(c);
            for (size_t i = 0; i < produced; ++i)
                dst[i * size_t(outStride)] = Pcm::floatToInt16(src[i]);
        }
    }
    output.setFrameLength(int(produced));
    return true;
}
