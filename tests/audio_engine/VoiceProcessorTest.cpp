#include "app/audio/engine/VoiceProcessor.h"
#include "tests/audio_engine/Signal.h"

#include <gtest/gtest.h>
#include <random>

namespace {
// What reaches the microphone when the speakers play `reference`: a delayed, quieter copy.
double residualEchoRms(bool giveReference)
{
    const double rate = 16000;
    VoiceProcessor processor(rate, false);
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    const int frames = int(rate * 8), delay = 48;
    std::vector<float> played(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) // speech-like: noise switched on and off every quarter second
        played[size_t(i)] = (i / 4000) % 2 ? noise(random) : 0.2f * noise(random);
    std::vector<float> mic(size_t(frames), 0.0f);
    for (int i = delay; i < frames; ++i)
        mic[size_t(i)] = 0.5f * played[size_t(i - delay)];
    const std::vector<float> silence(160, 0.0f);
    for (int at = 0; at < frames; at += 160) {
        processor.playback(giveReference ? played.data() + at : silence.data(), 160);
        processor.capture(mic.data() + at, 160);
    }
    const size_t from = size_t(rate * 6);
    return Signal::rms(mic.data() + from, size_t(frames) - from);
}
} // namespace

TEST(VoiceProcessor, CancelsTheEchoOfWhatWasPlayed)
{
    const double withReference = residualEchoRms(true);
    const double withoutReference = residualEchoRms(false);
    EXPECT_LT(Signal::dB(withReference / withoutReference), -10.0)
        << "echo cancellation should remove far more than noise suppression alone (" << withReference
        << " vs " << withoutReference << ")";
}
