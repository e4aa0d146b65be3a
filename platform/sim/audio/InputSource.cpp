#include "platform/sim/audio/InputSource.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <sndfile.h>

namespace sim {
namespace {

constexpr double kRateHz = 48000.0;

class Silence : public InputSource {
public:
    void render(float* out, uint32_t frames, uint32_t channels) override
    {
        std::memset(out, 0, sizeof(float) * frames * channels);
    }
};

class Tone : public InputSource {
public:
    Tone(double frequencyHz, float amplitude)
        : m_step(2.0 * M_PI * frequencyHz / kRateHz), m_amplitude(amplitude)
    {
    }

    void render(float* out, uint32_t frames, uint32_t channels) override
    {
        for (uint32_t i = 0; i < frames; ++i) {
            const float value = m_amplitude * float(std::sin(m_phase));
            m_phase = std::fmod(m_phase + m_step, 2.0 * M_PI);
            for (uint32_t c = 0; c < channels; ++c)
                out[i * channels + c] = value;
        }
    }

private:
    double m_step;
    float m_amplitude;
    double m_phase = 0.0;
};

class Samples : public InputSource {
public:
    Samples(std::vector<float> mono, bool loop) : m_samples(std::move(mono)), m_loop(loop) {}

    void render(float* out, uint32_t frames, uint32_t channels) override
    {
        for (uint32_t i = 0; i < frames; ++i) {
            float value = 0.0f;
            if (m_position < m_samples.size())
                value = m_samples[m_position++];
            if (m_loop && m_position >= m_samples.size())
                m_position = 0;
            for (uint32_t c = 0; c < channels; ++c)
                out[i * channels + c] = value;
        }
    }

private:
    std::vector<float> m_samples;
    bool m_loop;
    size_t m_position = 0;
};

} // namespace

std::shared_ptr<InputSource> InputSource::silence()
{
    return std::make_shared<Silence>();
}

std::shared_ptr<InputSource> InputSource::tone(double frequencyHz, float amplitude)
{
    return std::make_shared<Tone>(frequencyHz, amplitude);
}

std::shared_ptr<InputSource> InputSource::samples(std::vector<float> mono, bool loop)
{
    return std::make_shared<Samples>(std::move(mono), loop);
}

std::shared_ptr<InputSource> InputSource::wavFile(const std::string& path, bool loop, std::string* error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        if (error)
            *error = sf_strerror(nullptr);
        return nullptr;
    }
    std::vector<float> interleaved(size_t(info.frames) * size_t(info.channels));
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (info.channels <= 0 || info.samplerate <= 0 || read < 0) {
        if (error)
            *error = "unreadable audio data";
        return nullptr;
    }
    // The microphone hears the file's first channel.
    std::vector<float> mono(static_cast<size_t>(read));
    for (sf_count_t i = 0; i < read; ++i)
        mono[size_t(i)] = interleaved[size_t(i) * size_t(info.channels)];
    if (info.samplerate != int(kRateHz) && !mono.empty()) {
        // Linear interpolation is plenty for test material.
        const double ratio = double(info.samplerate) / kRateHz;
        const size_t count = size_t(double(mono.size()) / ratio);
        std::vector<float> resampled(count);
        for (size_t i = 0; i < count; ++i) {
            const double position = double(i) * ratio;
            const size_t left = size_t(position);
            const size_t right = std::min(left + 1, mono.size() - 1);
            const float fraction = float(position - double(left));
            resampled[i] = mono[left] * (1.0f - fraction) + mono[right] * fraction;
        }
        mono.swap(resampled);
    }
    return std::make_shared<Samples>(std::move(mono), loop);
}

} // namespace sim
