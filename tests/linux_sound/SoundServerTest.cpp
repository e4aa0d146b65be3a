#include "platform/linux/sound/SoundServer.h"
#include "tests/linux_sound/SoundMeasures.h"
#include "tests/support/PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

using namespace hostsound;

namespace {

// Plays a tone through a playback stream while a capture stream records the sink's monitor; returns what
// was heard after the first half second, the first channel only.
std::vector<float> playAndHear(SoundServer& client, const std::string& sink, uint32_t rateHz,
                               uint32_t channels, double toneHz, float amplitude, double seconds)
{
    auto playback = client.open(Direction::Output, sink, rateHz, channels);
    auto capture = client.open(Direction::Input, sink + ".monitor", rateHz, channels);
    std::vector<float> heard;
    std::vector<float> block(256 * channels);
    const size_t total = size_t(seconds * rateHz);
    size_t phase = 0;
    while (heard.size() < total && playback->state() != Stream::State::Gone) {
        while (playback->writableFrames() > 256 && playback->readableFrames() < rateHz / 20) {
            for (size_t i = 0; i < 256; ++i, ++phase)
                for (uint32_t c = 0; c < channels; ++c)
                    block[i * channels + c] =
                        amplitude * float(std::sin(2 * M_PI * toneHz * double(phase) / rateHz));
            playback->write(block.data(), 256);
        }
        size_t got;
        while ((got = capture->read(block.data(), 256)) > 0)
            for (size_t i = 0; i < got; ++i)
                heard.push_back(block[i * channels]);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    heard.erase(heard.begin(), heard.begin() + std::min(heard.size(), size_t(rateHz / 2)));
    return heard;
}

} // namespace

TEST(SampleRing, KeepsOrderAcrossTheWrapRefusesWhatDoesNotFitAndWritesSilence)
{
    SampleRing ring(2, 4);
    const float a[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ring.write(a, 3), 3u);
    float out[8] = {};
    EXPECT_EQ(ring.read(out, 2), 2u);
    const float b[] = {7, 8, 9, 10, 11, 12, 13, 14};
    EXPECT_EQ(ring.write(b, 4), 3u) << "a full ring takes only what fits";
    EXPECT_EQ(ring.read(out, 8), 4u);
    EXPECT_EQ(std::vector<float>(out, out + 8), (std::vector<float>{5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ring.write(nullptr, 2), 2u);
    out[0] = out[3] = 9;
    EXPECT_EQ(ring.read(out, 2), 2u);
    EXPECT_EQ(out[0] + out[3], 0.0f) << "a null write is silence";
}

TEST(SoundServer, NoServerIsAnAnswerNotAWait)
{
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    auto client = SoundServer::connect("unix:/nonexistent/orlea-sound/native", error);
    EXPECT_EQ(client, nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3))
        << "no autospawn, no retry";
}

TEST(SoundServer, ListsTheComputersDevicesAndFollowsThemAsTheyComeGoAndChangeDefaults)
{
    PrivateSoundServer server;
    REQUIRE_SOUND_SERVER(server);
    std::string error;
    auto client = SoundServer::connect(server.serverString().toStdString(), error);
    ASSERT_NE(client, nullptr) << error;
    std::atomic<int> changes{0};
    client->setOnChanged([&] { ++changes; });

    auto devices = client->devices();
    const Device* speakers = find(devices, "speakers");
    const Device* microphone = find(devices, "microphone");
    ASSERT_TRUE(speakers && microphone);
    EXPECT_EQ(speakers->direction, Direction::Output);
    EXPECT_EQ(speakers->description, "Haut-parleurs");
    EXPECT_EQ(speakers->sampleRateHz, 48000u);
    EXPECT_EQ(speakers->channels, 2u);
    EXPECT_TRUE(speakers->isDefault);
    EXPECT_EQ(microphone->direction, Direction::Input);
    EXPECT_EQ(microphone->channels, 1u);
    EXPECT_TRUE(microphone->isDefault);
    EXPECT_EQ(find(devices, "speakers.monitor"), nullptr) << "a monitor is not an input of the computer";
    EXPECT_EQ(devices.front().direction, Direction::Input) << "inputs come first";

    // A headset at 8 kHz mono and a 44.1 kHz card come and take the default; then one goes.
    const QString headset = server.pactl({"load-module", "module-null-sink", "sink_name=headset", "rate=8000",
                                          "channels=1", "sink_properties=device.description=Casque"});
    ASSERT_FALSE(headset.isEmpty());
    server.pactl({"load-module", "module-null-sink", "sink_name=card44", "rate=44100", "channels=2"});
    server.pactl({"set-default-sink", "headset"});
    ASSERT_TRUE(eventually([&] {
        const auto now = client->devices();
        const Device* added = find(now, "headset");
        return added && added->isDefault && find(now, "card44") && !find(now, "speakers")->isDefault;
    })) << "a new device and a new default are followed without asking";
    devices = client->devices();
    EXPECT_EQ(find(devices, "headset")->sampleRateHz, 8000u);
    EXPECT_EQ(find(devices, "headset")->channels, 1u);
    EXPECT_EQ(find(devices, "card44")->sampleRateHz, 44100u);
    EXPECT_GT(changes.load(), 0);

    server.pactl({"unload-module", headset});
    EXPECT_TRUE(eventually([&] { return find(client->devices(), "headset") == nullptr; }))
        << "an unplugged device leaves the list";

    server.kill();
    EXPECT_TRUE(eventually([&] { return !client->isConnected() && client->devices().empty(); }))
        << "a dead server leaves no devices behind";
}

TEST(SoundServer, StreamsCarryAToneAtTheDevicesOwnFormatAndDieWithTheirDevice)
{
    PrivateSoundServer server;
    REQUIRE_SOUND_SERVER(server);
    std::string error;
    auto client = SoundServer::connect(server.serverString().toStdString(), error);
    ASSERT_NE(client, nullptr) << error;
    server.pactl({"load-module", "module-null-sink", "sink_name=card44", "rate=44100", "channels=2"});
    server.pactl({"load-module", "module-null-sink", "sink_name=headset", "rate=8000", "channels=1"});

    struct Case {
        const char* sink;
        uint32_t rateHz, channels;
        double toneHz;
    };
    for (const Case& c :
         {Case{"speakers", 48000, 2, 440}, Case{"card44", 44100, 2, 1000}, Case{"headset", 8000, 1, 300}}) {
        SCOPED_TRACE(c.sink);
        const auto heard = playAndHear(*client, c.sink, c.rateHz, c.channels, c.toneHz, 0.25f, 1.5);
        ASSERT_GT(heard.size(), c.rateHz / 2) << "the monitor heard too little";
        EXPECT_NEAR(frequencyHz(heard, c.rateHz), c.toneHz, c.toneHz * 0.02);
        // A sine of amplitude 0.25 is -15 dBFS RMS.
        EXPECT_NEAR(levelDb(heard), -15.05, 1.0);
    }

    // The server's microphone hears what is played into its feed.
    auto feed = client->open(Direction::Output, "micfeed", 48000, 1);
    auto microphone = client->open(Direction::Input, "microphone", 48000, 1);
    std::vector<float> block(480);
    std::vector<float> heard;
    size_t phase = 0;
    ASSERT_TRUE(eventually([&] {
        while (feed->writableFrames() > 480 && feed->readableFrames() < 2400) {
            for (float& sample : block)
                sample = 0.5f * float(std::sin(2 * M_PI * 500 * double(phase++) / 48000));
            feed->write(block.data(), 480);
        }
        size_t got;
        while ((got = microphone->read(block.data(), 480)) > 0)
            heard.insert(heard.end(), block.begin(), block.begin() + got);
        return heard.size() > 48000;
    }));
    heard.erase(heard.begin(), heard.begin() + 24000);
    EXPECT_NEAR(frequencyHz(heard, 48000), 500, 10);
    EXPECT_GT(levelDb(heard), -12) << "the microphone hears its feed";

    // The device goes: its streams stop rather than move to another device.
    auto playing = client->open(Direction::Output, "card44", 44100, 2);
    ASSERT_TRUE(eventually([&] { return playing->state() == Stream::State::Ready; }));
    const QString modules = server.pactl({"list", "short", "modules"});
    for (const QString& line : modules.split('\n'))
        if (line.contains("sink_name=card44"))
            server.pactl({"unload-module", line.section('\t', 0, 0)});
    EXPECT_TRUE(eventually([&] { return playing->state() == Stream::State::Gone; }));
    EXPECT_EQ(client->open(Direction::Output, "card44", 44100, 2)->state() == Stream::State::Ready, false);
}
