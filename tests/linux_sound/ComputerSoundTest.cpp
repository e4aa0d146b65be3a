#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/mac/Mac.h"
#include "tests/linux_sound/SoundMeasures.h"
#include "tests/support/PrivateSoundServer.h"
#include "tests/support/TestDataHome.h"

#include <gtest/gtest.h>

using namespace sim;
using hostsound::Direction;

namespace {

Float64 nominalRate(Mac& mac, AudioObjectID device)
{
    Float64 rate = 0;
    hal::readValue(mac.hardware(), device, hal::address(kAudioDevicePropertyNominalSampleRate), rate);
    return rate;
}

std::vector<float> sine(double toneHz, double rateHz, size_t frames, size_t channels, float amplitude)
{
    std::vector<float> samples(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < channels; ++c)
            samples[i * channels + c] = amplitude * float(std::sin(2 * M_PI * toneHz * double(i) / rateHz));
    return samples;
}

// A Mac whose built-in devices can be backed by the private daemon's.
struct BackedMac {
    PrivateSoundServer server;
    TestDataHome home;
    Mac mac{home.path() + QStringLiteral("/Mac")};
    bool connect() { return mac.computerSound().connect(server.serverString()); }
};

} // namespace

TEST(ComputerSound, TheMacsBuiltInDevicesPlayAndHearThroughTheComputersAtTheirNativeFormat)
{
    BackedMac fixture;
    REQUIRE_SOUND_SERVER(fixture.server);
    Mac& mac = fixture.mac;
    ASSERT_TRUE(fixture.connect()) << mac.computerSound().reason().toStdString();
    const QString card = fixture.server.pactl(
        {"load-module", "module-null-sink", "sink_name=card44", "rate=44100", "channels=2"});
    ASSERT_TRUE(eventually([&] { return find(mac.computerSound().soundServer()->devices(), "card44"); }));

    // The speakers become a 44.1 kHz stereo device, as the card behind them.
    ComputerSound& sound = mac.computerSound();
    ASSERT_TRUE(sound.setBacking(Direction::Output, "card44"));
    EXPECT_EQ(nominalRate(mac, AudioServer::kSpeakersID), 44100.0);
    auto monitor = sound.soundServer()->open(Direction::Input, "card44.monitor", 44100, 2);
    AudioClient speakers(mac.hardware(), AudioServer::kSpeakersID);
    ASSERT_EQ(speakers.outputChannels(), 2u);
    speakers.play(sine(1000, 44100, 44100 * 3, 2, 0.25f));
    ASSERT_EQ(speakers.start(), 0);

    // The microphone hears what the computer's microphone hears: a 500 Hz tone played into its feed.
    ASSERT_TRUE(sound.setBacking(Direction::Input, "microphone"));
    auto feed = sound.soundServer()->open(Direction::Output, "micfeed", 48000, 1);
    const auto feedTone = sine(500, 48000, 48000 * 3, 1, 0.5f);
    size_t fed = 0;
    AudioClient microphone(mac.hardware(), AudioServer::kMicrophoneID);
    ASSERT_EQ(microphone.start(), 0);

    std::vector<float> heardBySink, heardByMac, block(2 * 512);
    ASSERT_TRUE(eventually([&] {
        fed += feed->write(feedTone.data() + fed,
                           std::min<size_t>(feedTone.size() - fed, 4800 - feed->readableFrames()));
        mac.advance(0.005);
        for (size_t got; (got = monitor->read(block.data(), 512)) > 0;)
            for (size_t i = 0; i < got; ++i)
                heardBySink.push_back(block[2 * i]);
        const auto recorded = microphone.takeRecorded();
        heardByMac.insert(heardByMac.end(), recorded.begin(), recorded.end());
        return heardBySink.size() > 44100 * 2 && heardByMac.size() > 48000 * 2;
    })) << "the sink heard "
        << heardBySink.size() << " frames, the Mac " << heardByMac.size();
    heardBySink.erase(heardBySink.begin(), heardBySink.begin() + 22050);
    heardBySink.resize(44100);
    EXPECT_NEAR(frequencyHz(heardBySink, 44100), 1000, 10) << "played at the card's own rate";
    EXPECT_NEAR(levelDb(heardBySink), -15.05, 1.0);
    heardByMac.erase(heardByMac.begin(), heardByMac.begin() + 24000);
    heardByMac.resize(48000);
    EXPECT_NEAR(frequencyHz(heardByMac, 48000), 500, 5);
    EXPECT_NEAR(levelDb(heardByMac), -9.03, 1.0);
    EXPECT_EQ(feed->underruns(), 0u);

    // The card is unplugged: the speakers die and stop, the rest of the Mac goes on.
    fixture.server.pactl({"unload-module", card});
    ASSERT_TRUE(eventually([&] {
        mac.advance(0.005);
        return !mac.audioServer().isAlive(AudioServer::kSpeakersID);
    }));
    EXPECT_FALSE(sound.isBackingAlive(Direction::Output));
    EXPECT_TRUE(sound.isBackingAlive(Direction::Input));
    EXPECT_NE(speakers.start(), 0) << "a dead device does not start again";
    mac.advance(0.1);
    EXPECT_TRUE(mac.audioServer().isRunning(AudioServer::kMicrophoneID));

    // The choices are the Mac's: the same Mac started again takes the microphone back; the card is gone,
    // so its speakers are the simulated ones.
    Mac again(mac.stateFolder());
    ASSERT_TRUE(again.computerSound().connect(fixture.server.serverString()));
    EXPECT_EQ(again.computerSound().backing(Direction::Input), QStringLiteral("microphone"));
    EXPECT_EQ(again.computerSound().backing(Direction::Output), QString());
    EXPECT_EQ(nominalRate(again, AudioServer::kSpeakersID), 48000.0);
}

// One physical microphone never feeds both the caller and the Mac: whichever takes it last keeps it, and
// one French line says what moved.
TEST(ComputerSound, ThePersonsMicrophoneFeedsEitherTheCallerOrTheMacNeverBoth)
{
    BackedMac fixture;
    REQUIRE_SOUND_SERVER(fixture.server);
    ComputerSound& sound = fixture.mac.computerSound();
    ASSERT_TRUE(fixture.connect());
    ASSERT_TRUE(sound.setBacking(Direction::Input, "microphone"));

    ASSERT_TRUE(sound.setCaller("microphone", "speakers"));
    EXPECT_EQ(sound.backing(Direction::Input), QString()) << "the Mac's microphone went back to its sound";
    EXPECT_EQ(sound.notice(),
              "Votre micro sert désormais à l’appelant : le micro du Mac reprend un son simulé.");
    EXPECT_EQ(fixture.mac.callAudio().callerVoice(), sound.callerVoice());
    EXPECT_FALSE(sound.cancelsCallerEcho()) << "virtual devices belong to no card";

    ASSERT_TRUE(sound.setBacking(Direction::Input, "microphone"));
    EXPECT_EQ(sound.callerInput(), QString());
    EXPECT_EQ(sound.callerOutput(), "speakers") << "the caller still hears on the speakers";
    EXPECT_EQ(sound.notice(), "Votre micro sert désormais au Mac : l’appelant reprend une voix simulée.");
    EXPECT_FALSE(sound.setCaller("micro-absent", {}));
}
