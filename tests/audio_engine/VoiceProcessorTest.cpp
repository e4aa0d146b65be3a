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

namespace {

// What the speakers play at their own sample n: speech-like noise, on and off every quarter second.
float speakerSample(long long n)
{
    if (n < 0)
        return 0.0f;
    uint64_t x = uint64_t(n) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    const float white = float(x % 20001) / 10000.0f - 1.0f; // uniform in [-1, 1]
    return ((n / 4000) % 2 ? 0.17f : 0.035f) * white;
}

// Speakers on a card whose clock runs `ppm` against the microphone's, for `seconds` at 8 kHz: the echo
// left over the last ten seconds, and the deepest reference backlog.
double residualEchoOnTwoClocks(double ppm, double seconds, bool giveReference, size_t& deepest)
{
    const double rate = 8000, ratio = 1 + ppm * 1e-6;
    VoiceProcessor processor(rate, false);
    std::vector<float> played, mic(80);
    long long speakerNext = 0;
    double residual = 0;
    size_t counted = 0;
    const size_t frames = size_t(rate * seconds);
    for (size_t at = 0; at < frames; at += 80) {
        // The speakers' clock plays 80 × ratio samples while the microphone takes 80.
        const auto speakerEnd = (long long)(double(at + 80) * ratio);
        played.clear();
        for (; speakerNext < speakerEnd; ++speakerNext)
            played.push_back(speakerSample(speakerNext));
        // The microphone hears the speakers 3 ms late at half level.
        for (size_t i = 0; i < 80; ++i)
            mic[i] = 0.5f * speakerSample((long long)(double(at + i) * ratio) - 24);
        if (giveReference)
            processor.playback(played.data(), int(played.size()));
        processor.capture(mic.data(), 80);
        deepest = std::max(deepest, processor.referenceBacklogFrames());
        if (at >= frames - size_t(rate * 10)) {
            for (float sample : mic)
                residual += double(sample) * sample;
            counted += 80;
        }
    }
    return std::sqrt(residual / double(counted));
}

} // namespace

TEST(VoiceProcessor, FollowsSpeakersOnAnotherClockThroughATwentyMinuteCall)
{
    size_t unused = 0;
    const double echo = residualEchoOnTwoClocks(0, 20, false, unused);
    for (const double ppm : {+300.0, -300.0}) {
        SCOPED_TRACE(ppm);
        size_t deepest = 0;
        const double left = residualEchoOnTwoClocks(ppm, 20 * 60, true, deepest);
        EXPECT_LT(deepest, size_t(8000 * 0.05)) << "the reference stays where it started";
        EXPECT_LT(Signal::dB(left / echo), -10.0)
            << "after 20 minutes the echo is still cancelled (" << left << " vs " << echo << ")";
    }
}
