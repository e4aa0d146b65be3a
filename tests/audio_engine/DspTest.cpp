#include "app/audio/engine/ParametricEqualizer.h"
#include "app/audio/engine/PeakLimiter.h"
#include "tests/audio_engine/Signal.h"

#include <gtest/gtest.h>
#include <random>

namespace {
constexpr double kRate = 24000.0;
const float kCentres[] = {63, 125, 250, 500, 1000, 2000, 4000, 8000, 10000};

std::vector<float> runEqualizer(ParametricEqualizer& eq, std::vector<float> signal)
{
    float* channels[1];
    for (size_t at = 0; at < signal.size(); at += 256) {
        channels[0] = signal.data() + at;
        eq.process(channels, int(std::min<size_t>(256, signal.size() - at)));
    }
    return signal;
}
} // namespace

TEST(ParametricEqualizer, EachBandReachesItsGainAtItsCentre)
{
    for (float gainDb : {12.0f, 6.0f, -6.0f, -12.0f}) {
        for (int band = 0; band < 9; ++band) {
            ParametricEqualizer eq(9);
            for (int i = 0; i < 9; ++i)
                eq.setBand(i, EqualizerBand{EqualizerBand::FilterType::Parametric, kCentres[i], 1.0f,
                                            i == band ? gainDb : 0.0f, false});
            eq.prepare(kRate, 1, 256);
            const int frames = int(kRate * 2);
            const std::vector<float> in = Signal::sine(kCentres[band], kRate, frames, 0.25);
            const std::vector<float> out = runEqualizer(eq, in);
            // Skip the first second: the 63 Hz section takes a while to settle.
            const size_t from = size_t(kRate);
            const double measured = Signal::dB(Signal::rms(out.data() + from, out.size() - from) /
                                               Signal::rms(in.data() + from, in.size() - from));
            EXPECT_NEAR(measured, gainDb, 0.5) << "band " << band << " at " << kCentres[band] << " Hz";
        }
    }
}

TEST(ParametricEqualizer, BypassedBandsAreFlatAndKeepTheirGains)
{
    ParametricEqualizer eq(9);
    for (int i = 0; i < 9; ++i)
        eq.setBand(i, EqualizerBand{EqualizerBand::FilterType::Parametric, kCentres[i], 1.0f, 9.0f, true});
    eq.prepare(kRate, 1, 256);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> in(24000);
    for (float& x : in)
        x = noise(random);
    EXPECT_EQ(runEqualizer(eq, in), in) << "a bypassed equaliser must pass samples untouched";
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(eq.band(i).gainDb, 9.0f) << "bypass keeps the gain of band " << i;

    // Switching the bands on while audio runs takes effect at the next block.
    for (int i = 0; i < 9; ++i) {
        EqualizerBand b = eq.band(i);
        b.bypass = false;
        eq.setBand(i, b);
    }
    EXPECT_NE(runEqualizer(eq, in), in);
}

TEST(PeakLimiter, NoSampleAboveTheCeilingAndQuietAudioUntouched)
{
    PeakLimiter limiter;
    limiter.prepare(kRate, 2, 256);
    const int latency = limiter.latencyFrames();
    EXPECT_EQ(latency, 288) << "12 ms of look-ahead at 24 kHz";

    // Quiet speech-like material, then +12 dBFS bursts and isolated spikes, then quiet again.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const int frames = int(kRate * 3);
    std::vector<float> left(static_cast<size_t>(frames));
    std::vector<float> right(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const bool loud = i >= 24000 && i < 48000;
        const double amplitude = loud ? 4.0 : 0.3; // 4.0 = +12 dBFS
        left[size_t(i)] = float(amplitude * std::sin(2 * std::numbers::pi * 440 * i / kRate));
        right[size_t(i)] = float(amplitude * 0.5 * noise(random));
        if (loud && i % 1000 == 0)
            right[size_t(i)] = -4.0f;
    }
    std::vector<float> outLeft = left, outRight = right;
    for (int at = 0; at < frames; at += 256) {
        float* channels[2] = {outLeft.data() + at, outRight.data() + at};
        limiter.process(channels, std::min(256, frames - at));
    }
    float maxOut = 0.0f;
    for (int i = 0; i < frames; ++i)
        maxOut = std::max({maxOut, std::fabs(outLeft[size_t(i)]), std::fabs(outRight[size_t(i)])});
    EXPECT_LE(maxOut, 1.0f) << "a sample passed the ceiling";
    EXPECT_GT(maxOut, 0.9f) << "loud passages should come out near full scale";

    // Before the bursts the limiter is transparent, shifted by its latency.
    for (int i = 0; i + latency < 24000; ++i) {
        ASSERT_EQ(outLeft[size_t(i + latency)], left[size_t(i)]) << "frame " << i;
        ASSERT_EQ(outRight[size_t(i + latency)], right[size_t(i)]) << "frame " << i;
    }
    // After a release of a fraction of a second it is transparent again.
    for (int i = 60000; i + latency < frames; ++i)
        ASSERT_EQ(outLeft[size_t(i + latency)], left[size_t(i)]) << "frame " << i;
}

TEST(PeakLimiter, NonFiniteInputBecomesSilence)
{
    PeakLimiter limiter;
    limiter.prepare(kRate, 1, 256);
    std::vector<float> signal(2000, 0.5f);
    signal[100] = std::numeric_limits<float>::quiet_NaN();
    signal[200] = std::numeric_limits<float>::infinity();
    float* channels[1] = {signal.data()};
    limiter.process(channels, int(signal.size()));
    for (float x : signal)
        ASSERT_TRUE(std::isfinite(x) && std::fabs(x) <= 1.0f);
    EXPECT_EQ(signal[100 + limiter.latencyFrames()], 0.0f);
}
