#include "app/audio/MicrophoneLimiter.h"
#include "app/audio/VoiceEQSettings.h"
#include "app/audio/VoiceOutputChain.h"
#include "app/common/AppPaths.h"
#include "app/common/UserDefaults.h"
#include "tests/audio_engine/Signal.h"
#include "tests/support/TestDataHome.h"

#include <gtest/gtest.h>

namespace {
const AudioFormat kPlay = AudioFormat::standard(24000, 1);

// The bridge's wiring at 24 kHz mono: player → equaliser → limiter → headroom → main mixer.
struct ChainRig {
    AudioEngine engine;
    std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
    VoiceOutputChain chain;

    ChainRig()
    {
        engine.setOutputDeviceFormat(24000, 1);
        engine.attach(player);
        chain.wire(engine, *player, engine.mainMixerNode(), 0, kPlay);
        engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);
        engine.start();
        player->play();
    }

    std::vector<float> play(const std::vector<float>& samples)
    {
        auto block = PcmBlock::make(kPlay, int(samples.size()));
        std::copy(samples.begin(), samples.end(), block->floatChannelData(0));
        block->setFrameLength(int(samples.size()));
        player->scheduleBuffer(block);
        std::vector<float> out(samples.size());
        for (size_t at = 0; at < out.size(); at += 480)
            engine.renderOutput(out.data() + at, int(std::min<size_t>(480, out.size() - at)), 1, double(at));
        return out;
    }
};
} // namespace

TEST(VoiceEQSettings, SafeGainsAlwaysNineAndClamped)
{
    VoiceEQSettings settings;
    settings.gains = {20, -30, std::numeric_limits<float>::quiet_NaN()};
    EXPECT_EQ(settings.safeGains(), (std::vector<float>{12, -12, 0, 0, 0, 0, 0, 0, 0}));
    settings.gains = std::vector<float>(12, 3.5f);
    settings.gains[1] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(settings.safeGains(), (std::vector<float>{3.5f, 0, 3.5f, 3.5f, 3.5f, 3.5f, 3.5f, 3.5f, 3.5f}));
    EXPECT_EQ(VoiceEQSettings{}.safeGains(), std::vector<float>(9, 0.0f));
}

TEST(VoiceEQSettings, LoadsWhatIsStoredOrTheDefault)
{
    TestDataHome home;
    UserDefaults defaults(AppPaths::preferencesFile());
    EXPECT_EQ(VoiceEQSettings::load(defaults), VoiceEQSettings{}) << "nothing stored";

    VoiceEQSettings settings;
    settings.enabled = true;
    settings.gains = {1, 2, 3, 4, 5, 6, 7, 8, -9};
    settings.save(defaults);
    EXPECT_EQ(VoiceEQSettings::load(defaults), settings);

    defaults.setData(SettingsKey::voiceEQ, R"({"enabled":true,"gains":[20,1,2,3,4,5,6,7,-40,9,10,11]})");
    const VoiceEQSettings twelve = VoiceEQSettings::load(defaults);
    EXPECT_TRUE(twelve.enabled);
    EXPECT_EQ(twelve.gains, (std::vector<float>{12, 1, 2, 3, 4, 5, 6, 7, -12})) << "first nine, clamped";

    defaults.setData(SettingsKey::voiceEQ, R"({"enabled":true,"gains":[1,2]})");
    EXPECT_EQ(VoiceEQSettings::load(defaults).gains, (std::vector<float>{1, 2, 0, 0, 0, 0, 0, 0, 0}));

    for (const char* broken : {R"({"enabled":true})", R"({"gains":[1,2,3]})", R"({"enabled":1,"gains":[]})",
                               R"({"enabled":true,"gains":[1,"2"]})", R"([true])", "not json", ""}) {
        defaults.setData(SettingsKey::voiceEQ, broken);
        EXPECT_EQ(VoiceEQSettings::load(defaults), VoiceEQSettings{}) << broken;
    }
    defaults.setString(SettingsKey::voiceEQ, R"({"enabled":true,"gains":[]})");
    EXPECT_EQ(VoiceEQSettings::load(defaults), VoiceEQSettings{}) << "a string is not a data value";

    // A setting with no JSON form writes nothing: the previous value stays.
    settings.save(defaults);
    VoiceEQSettings unencodable = settings;
    unencodable.gains[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(unencodable.encoded().has_value());
    unencodable.save(defaults);
    EXPECT_EQ(VoiceEQSettings::load(defaults), settings);
}

TEST(VoiceOutputChain, EachBandMeasuresItsGainThroughTheChain)
{
    const double headroomDb = Signal::dB(VoiceOutputChain::kHeadroomVolume);
    for (int band = 0; band < VoiceEQSettings::kBandCount; ++band) {
        ChainRig rig;
        VoiceEQSettings settings;
        settings.enabled = true;
        const float gainDb = band % 2 ? -9.0f : 10.0f;
        settings.gains[size_t(band)] = gainDb;
        rig.chain.apply(settings);
        const double frequency = VoiceEQSettings::frequencies[size_t(band)];
        // 0.2 + 10 dB stays under the limiter's ceiling: the equaliser alone shapes the level.
        const std::vector<float> in = Signal::sine(frequency, 24000, 48000, 0.2);
        const std::vector<float> out = rig.play(in);
        const size_t from = 24000, count = 19200;
        const double measured =
            Signal::dB(Signal::rms(out.data() + from, count) / Signal::rms(in.data() + from, count)) -
            headroomDb;
        EXPECT_NEAR(measured, gainDb, 0.5) << "band " << band << " at " << frequency << " Hz";
    }
}

TEST(VoiceOutputChain, DisabledIsFlatAndLoudVoiceIsLimited)
{
    ChainRig rig;
    auto& eq = rig.chain.equalizerUnit();
    VoiceEQSettings settings;
    settings.enabled = false;
    settings.gains = std::vector<float>(9, 12.0f);
    rig.chain.apply(settings);
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(eq.band(i).bypass);
        EXPECT_EQ(eq.band(i).gainDb, 12.0f) << "bypass keeps the gain";
        EXPECT_EQ(eq.band(i).frequencyHz, VoiceEQSettings::frequencies[size_t(i)]);
        EXPECT_EQ(eq.band(i).bandwidthOctaves, 1.0f);
    }
    const std::vector<float> in = Signal::sine(700, 24000, 12000, 0.5);
    const std::vector<float> out = rig.play(in);
    const int latency = rig.chain.limiter()->processor().latencyFrames();
    for (size_t i = 0; i + size_t(latency) < in.size(); ++i)
        ASSERT_FLOAT_EQ(out[i + size_t(latency)], in[i] * 0.85f) << "frame " << i;

    // A voice at +12 dBFS comes out at most at the headroom level.
    const std::vector<float> loud = rig.play(Signal::sine(300, 24000, 24000, 4.0));
    float peak = 0;
    for (float x : loud)
        peak = std::max(peak, std::fabs(x));
    EXPECT_LE(peak, 0.85f);
    EXPECT_GT(peak, 0.8f);
}

TEST(MicrophoneLimiter, InstantAttackSmoothReleaseWithinCeiling)
{
    MicrophoneLimiter limiter(24000);
    EXPECT_DOUBLE_EQ(limiter.release(), 0.9998333472214507);
    EXPECT_FLOAT_EQ(limiter.process(0.3f), 0.3f);
    EXPECT_FLOAT_EQ(limiter.process(1.7f), 0.85f);
    EXPECT_NEAR(limiter.gain(), 0.5, 1e-7) << "1.7f is a hair above 1.7";
    const float next = limiter.process(0.1f);
    EXPECT_NEAR(limiter.gain(), 1 - 0.5 * 0.99983334722, 1e-7);
    EXPECT_NEAR(next, 0.1 * 0.50008333, 1e-6);
    EXPECT_EQ(limiter.process(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_NEAR(limiter.gain(), 1 - 0.5 * 0.99983334722, 1e-7) << "a non-finite sample leaves the gain";
    for (int i = 0; i < 24000 * 5; ++i)
        limiter.process(0.1f);
    EXPECT_GT(limiter.gain(), 0.999);
    for (float x : {-5.0f, 2.0f, -0.86f, 100.0f})
        EXPECT_LE(std::fabs(limiter.process(x)), 0.85f);
}
