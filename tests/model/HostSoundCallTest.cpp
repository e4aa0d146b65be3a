// A whole call with the person at the computer as the caller, through a private sound server: a French
// recording spoken into the server's microphone is what the AI receives, the AI's voice comes out of the
// caller's output, and the output unplugged, then the server gone, mid-call leave the call running and
// saved.

#include "platform/sim/audio/InputSource.h"
#include "tests/model/StandInModelTest.h"
#include "tests/support/PrivateSoundServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <cmath>
#include <mutex>

using hostsound::Direction;

namespace {

// 20 ms loudness frames of a signal, the shape a voice keeps through any resampling.
std::vector<double> envelope(const std::vector<float>& samples, double rateHz)
{
    const size_t frame = size_t(rateHz / 50);
    std::vector<double> levels;
    for (size_t start = 0; start + frame <= samples.size(); start += frame) {
        double sum = 0;
        for (size_t i = start; i < start + frame; ++i)
            sum += double(samples[i]) * samples[i];
        levels.push_back(std::sqrt(sum / double(frame)));
    }
    return levels;
}

// The best normalised correlation of `needle` inside `haystack`, over every offset.
double bestMatch(const std::vector<double>& needle, const std::vector<double>& haystack)
{
    double best = -1;
    for (size_t lag = 0; lag + needle.size() <= haystack.size(); ++lag) {
        double mean1 = 0, mean2 = 0;
        for (size_t i = 0; i < needle.size(); ++i) {
            mean1 += needle[i];
            mean2 += haystack[lag + i];
        }
        mean1 /= double(needle.size());
        mean2 /= double(needle.size());
        double cross = 0, power1 = 0, power2 = 0;
        for (size_t i = 0; i < needle.size(); ++i) {
            const double a = needle[i] - mean1, b = haystack[lag + i] - mean2;
            cross += a * b;
            power1 += a * a;
            power2 += b * b;
        }
        if (power1 > 0 && power2 > 0)
            best = std::max(best, cross / std::sqrt(power1 * power2));
    }
    return best;
}

class HostSoundCallTest : public StandInModelTest {
protected:
    bool withAgent() const override { return true; }
    RealtimeStandInThread::Options standInOptions() const override
    {
        RealtimeStandInThread::Options options = StandInModelTest::standInOptions();
        options.onEvent = [this](const QJsonObject& event) {
            if (event.value("type").toString() != "input_audio_buffer.append")
                return;
            const QByteArray pcm = QByteArray::fromBase64(event.value("audio").toString().toLatin1());
            std::lock_guard lock(receivedMutex);
            for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
                received.push_back(float(qint16(quint8(pcm[i]) | (quint8(pcm[i + 1]) << 8))) / 32768.0f);
        };
        return options;
    }

    // Moves the Mac's clock with the real one, since the sound server's devices run in real time, while
    // feeding `voice` into the server's microphone and keeping what its speakers played.
    void runInRealTime(double seconds)
    {
        QElapsedTimer timer;
        timer.start();
        double moved = 0;
        std::vector<float> block(960);
        while (moved < seconds) {
            while (feed && feed->readableFrames() < 4800 && fed < voice.size()) {
                const size_t n = std::min(voice.size() - fed, size_t(4800) - feed->readableFrames());
                fed += feed->write(voice.data() + fed, n);
            }
            for (size_t got; monitor && (got = monitor->read(block.data(), 480)) > 0;)
                for (size_t i = 0; i < got; ++i)
                    heardOnSpeakers.push_back(block[2 * i]);
            const double now = double(timer.nsecsElapsed()) / 1e9;
            if (now > moved) {
                mac.advance(now - moved);
                moved = now;
            }
            pumpEvents();
            QThread::msleep(5);
        }
    }

    mutable std::mutex receivedMutex;
    mutable std::vector<float> received; // what the AI received, 24 kHz
    std::vector<float> voice;            // the French recording, 48 kHz
    size_t fed = 0;
    std::shared_ptr<hostsound::Stream> feed;
    std::shared_ptr<hostsound::Stream> monitor;
    std::vector<float> heardOnSpeakers;
};

} // namespace

TEST_F(HostSoundCallTest, ThePersonsVoiceReachesTheAIAndTheAIIsHeardOnTheirOutputUntilTheSoundGoes)
{
    PrivateSoundServer server;
    REQUIRE_SOUND_SERVER(server);
    sim::ComputerSound& sound = mac.computerSound();
    ASSERT_TRUE(sound.connect(server.serverString())) << sound.reason().toStdString();
    ASSERT_TRUE(sound.setCaller("microphone", "speakers"));

    const QString recording =
        qEnvironmentVariable("ORLEA_SOURCE_DIR") + "/tools/realtime-standin/prompts/coordonnees.wav";
    auto source = sim::InputSource::wavFile(recording.toStdString());
    ASSERT_TRUE(source) << recording.toStdString();
    voice.assign(size_t(48000 * 3.0), 0.0f);
    source->render(voice.data(), uint32_t(voice.size()), 1);
    feed = sound.soundServer()->open(Direction::Output, "micfeed", 48000, 1);
    monitor = sound.soundServer()->open(Direction::Input, "speakers.monitor", 48000, 2);

    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
    mac.ring("06 98 76 54 32", sound.callerVoice());
    advance(4.5);
    ASSERT_TRUE(waitFor([&] { return model->connected(); })) << model->error().value_or("").toStdString();
    runInRealTime(6.0);

    std::vector<float> got;
    {
        std::lock_guard lock(receivedMutex);
        got = received;
    }
    ASSERT_GT(got.size(), size_t(24000 * 4)) << "the AI received too little";
    const double match = bestMatch(envelope(voice, 48000), envelope(got, 24000));
    EXPECT_GT(match, 0.8) << "what the AI received is not the recording spoken into the microphone";

    // The greeting came out of the caller's output.
    double loudest = 0;
    for (const double level : envelope(heardOnSpeakers, 48000))
        loudest = std::max(loudest, level);
    EXPECT_GT(20 * std::log10(loudest + 1e-12), -30.0) << "the AI's voice was not heard on the speakers";

    // The desktop's default devices change: the call keeps the devices it was given.
    size_t before = 0;
    {
        std::lock_guard lock(receivedMutex);
        before = received.size();
    }
    server.pactl({"set-default-sink", "micfeed"});
    server.pactl({"set-default-source", "micfeed.monitor"});
    runInRealTime(1.0);
    EXPECT_TRUE(model->busy()) << "a new default device does not end the call";
    {
        std::lock_guard lock(receivedMutex);
        EXPECT_GT(received.size(), before + 12000) << "the caller's path stopped with the defaults' change";
    }

    // The speakers are unplugged: the call goes on, then ends and is saved with its recording.
    const QString modules = server.pactl({"list", "short", "modules"});
    for (const QString& line : modules.split('\n'))
        if (line.contains("sink_name=speakers"))
            server.pactl({"unload-module", line.section('\t', 0, 0)});
    monitor.reset();
    runInRealTime(1.5);
    EXPECT_TRUE(model->busy()) << "an unplugged output does not end the call";
    // Then the sound server itself goes: the caller falls silent, the call still goes on.
    feed.reset();
    server.kill();
    runInRealTime(1.5);
    EXPECT_FALSE(sound.isConnected());
    EXPECT_TRUE(model->busy()) << "a dead sound server does not end the call";
    model->hangUp();
    ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_FALSE(model->records().first().recordingError.has_value());
}
