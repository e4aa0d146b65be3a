#include "platform/sim/mac/PersonAtComputer.h"

#include "app/audio/engine/VoiceProcessor.h"
#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/audio/ClockBridge.h"

#include <algorithm>
#include <vector>

namespace sim {
namespace {

constexpr size_t kScratchFrames = 8192;
// The server takes what is played in small requests, so the queue before it can be shallower than the
// one after a capture, which arrives in whole fragments (about 20 ms).
constexpr double kEarQueueMs = 15;

// The person's voice as the caller's: the computer's input brought onto the simulated server's clock,
// with the echo of what they hear taken out when a processor is shared with their ear. render() runs in
// the Phone app's IO cycle (the simulated server's IO thread).
class PersonVoice final : public InputSource {
public:
    PersonVoice(std::shared_ptr<HostEndpoint> endpoint, std::shared_ptr<VoiceProcessor> processor)
        : m_bridge(std::make_shared<ClockBridge>(std::move(endpoint), AudioServer::kSampleRateHz)),
          m_processor(std::move(processor)), m_mono(kScratchFrames)
    {
    }
    std::shared_ptr<const ClockBridge> bridge() const { return m_bridge; }
    // Real-time: no allocation, no lock, no logging.
    void render(float* out, uint32_t frames, uint32_t channels) override
    {
        while (frames > 0) {
            const uint32_t n = std::min<uint32_t>(frames, kScratchFrames);
            m_bridge->pull(m_mono.data(), n);
            if (m_processor)
                m_processor->capture(m_mono.data(), int(n));
            for (uint32_t i = 0; i < n; ++i)
                for (uint32_t c = 0; c < channels; ++c)
                    out[i * channels + c] = m_mono[i];
            out += size_t(n) * channels;
            frames -= n;
        }
    }

private:
    std::shared_ptr<ClockBridge> m_bridge;
    std::shared_ptr<VoiceProcessor> m_processor;
    std::vector<float> m_mono;
};

// What the caller hears, played on the computer's output; the echo canceller's reference when shared.
// heard() runs in the Phone app's IO cycle.
class CallerEar final : public AudioClient::InputTap {
public:
    CallerEar(std::shared_ptr<HostEndpoint> endpoint, std::shared_ptr<VoiceProcessor> processor)
        : m_bridge(
              std::make_shared<ClockBridge>(std::move(endpoint), AudioServer::kSampleRateHz, kEarQueueMs)),
          m_processor(std::move(processor)), m_mono(kScratchFrames)
    {
    }
    std::shared_ptr<const ClockBridge> bridge() const { return m_bridge; }
    // Real-time: no allocation, no lock, no logging.
    void heard(const float* interleaved, size_t frames, unsigned channels) override
    {
        while (frames > 0) {
            const size_t n = std::min(frames, kScratchFrames);
            for (size_t i = 0; i < n; ++i) {
                float sum = 0;
                for (unsigned c = 0; c < channels; ++c)
                    sum += interleaved[i * channels + c];
                m_mono[i] = sum / float(channels);
            }
            if (m_processor)
                m_processor->playback(m_mono.data(), int(n));
            m_bridge->push(m_mono.data(), n);
            interleaved += n * channels;
            frames -= n;
        }
    }

private:
    std::shared_ptr<ClockBridge> m_bridge;
    std::shared_ptr<VoiceProcessor> m_processor;
    std::vector<float> m_mono;
};

} // namespace

PersonAtComputer PersonAtComputer::make(std::shared_ptr<HostEndpoint> microphone,
                                        std::shared_ptr<HostEndpoint> speaker, bool cancelEcho)
{
    // The processor's 10 ms frames at the simulated server's rate, on both sides of the bridges.
    auto processor = cancelEcho && microphone && speaker
                         ? std::make_shared<VoiceProcessor>(AudioServer::kSampleRateHz, false)
                         : nullptr;
    PersonAtComputer person;
    if (microphone) {
        auto voice = std::make_shared<PersonVoice>(std::move(microphone), processor);
        person.voiceBridge = voice->bridge();
        person.voice = std::move(voice);
    }
    if (speaker) {
        auto ear = std::make_shared<CallerEar>(std::move(speaker), processor);
        person.earBridge = ear->bridge();
        person.ear = std::move(ear);
    }
    return person;
}

} // namespace sim
