// The person at the computer as the caller, on a laptop whose speakers play into its microphone: what
// the caller hears must not come back to the AI as the caller's voice.

#include "platform/sim/mac/PersonAtComputer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>

namespace {

// A laptop: what its speakers play reaches its microphone 25 ms later at half the level.
struct Laptop {
    std::deque<float> air;
    std::deque<float> microphone = std::deque<float>(size_t(48000 * 0.025), 0.0f);
    // The computer's clock moves by `frames`: the speaker plays them, the microphone hears them.
    void run(size_t frames)
    {
        for (size_t i = 0; i < frames; ++i) {
            const float played = air.empty() ? 0.0f : air.front();
            if (!air.empty())
                air.pop_front();
            microphone.push_back(0.5f * played);
        }
    }
};

class LaptopEndpoint final : public sim::HostEndpoint {
public:
    LaptopEndpoint(Laptop& laptop, bool input) : m_laptop(laptop), m_input(input) {}
    double sampleRateHz() const override { return 48000; }
    unsigned channels() const override { return 1; }
    bool isAlive() const override { return true; }
    size_t queuedFrames() const override
    {
        return m_input ? m_laptop.microphone.size() : m_laptop.air.size();
    }
    size_t read(float* out, size_t frames) override
    {
        const size_t n = std::min(frames, m_laptop.microphone.size());
        for (size_t i = 0; i < n; ++i) {
            if (out)
                out[i] = m_laptop.microphone.front();
            m_laptop.microphone.pop_front();
        }
        return n;
    }
    size_t write(const float* in, size_t frames) override
    {
        m_laptop.air.insert(m_laptop.air.end(), in, in + frames);
        return frames;
    }

private:
    Laptop& m_laptop;
    bool m_input;
};

struct Levels {
    double
        echoDb; // the caller's voice over the last five of 20 seconds of the AI speaking, the person silent
    double voiceDb; // then over four seconds of the person speaking, the AI silent
};

double levelDb(double sum, size_t count)
{
    return 10 * std::log10(sum / double(std::max<size_t>(count, 1)) + 1e-20);
}

Levels callerLevels(bool cancelEcho)
{
    Laptop laptop;
    const auto person =
        sim::PersonAtComputer::make(std::make_shared<LaptopEndpoint>(laptop, true),
                                    std::make_shared<LaptopEndpoint>(laptop, false), cancelEcho);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> heard(512), voice(512);
    double echo = 0, speech = 0;
    size_t echoCount = 0, speechCount = 0;
    for (size_t cycle = 0; cycle < size_t(25 * 48000 / 512); ++cycle) {
        const double start = double(cycle * 512) / 48000;
        // Syllables of 200 ms: the AI's (noise) for 20 s, then the person's (a 300 Hz voice).
        for (size_t i = 0; i < heard.size(); ++i) {
            const double t = start + double(i) / 48000;
            const float syllable = float(0.5 + 0.5 * std::sin(2 * M_PI * 2.5 * t));
            heard[i] = t < 20 ? 0.1f * noise(random) * syllable : 0.0f;
            if (t >= 20)
                laptop.microphone.push_back(0.2f * syllable * float(std::sin(2 * M_PI * 300 * t)));
        }
        person.ear->heard(heard.data(), heard.size(), 1);
        laptop.run(start >= 20 ? 0 : 512);
        person.voice->render(voice.data(), 512, 1);
        for (float sample : voice) {
            if (start >= 15 && start < 20) {
                echo += double(sample) * sample;
                ++echoCount;
            } else if (start >= 21) {
                speech += double(sample) * sample;
                ++speechCount;
            }
        }
    }
    return {levelDb(echo, echoCount), levelDb(speech, speechCount)};
}

} // namespace

TEST(PersonAtComputer, TheEchoOfWhatTheCallerHearsIsTakenOutOfTheirVoiceOnOneCard)
{
    const Levels raw = callerLevels(false);
    const Levels cancelled = callerLevels(true);
    EXPECT_GT(raw.echoDb, -35.0) << "without cancellation the AI hears itself (the laptop echoes)";
    EXPECT_LT(cancelled.echoDb, raw.echoDb - 15.0)
        << "echo at " << cancelled.echoDb << " dBFS against " << raw.echoDb << " dBFS";
    EXPECT_GT(cancelled.voiceDb, raw.voiceDb - 6.0) << "the person's own voice goes through";
}
