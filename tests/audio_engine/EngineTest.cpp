#include "app/audio/engine/AudioConverter.h"
#include "app/audio/engine/AudioEngine.h"
#include "tests/audio_engine/Signal.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {
const AudioFormat kPlay = AudioFormat::standard(24000, 1);

std::shared_ptr<PcmBlock> monoBlock(const std::vector<float>& samples, double rate = 24000)
{
    auto block = PcmBlock::make(AudioFormat::standard(rate, 1), int(samples.size()));
    std::copy(samples.begin(), samples.end(), block->floatChannelData(0));
    block->setFrameLength(int(samples.size()));
    return block;
}

// Renders `frames` frames in device cycles of `cycle` frames, odd on purpose.
std::vector<float> render(AudioEngine& engine, int frames, int channels, int cycle = 300)
{
    std::vector<float> out(size_t(frames) * size_t(channels));
    for (int at = 0; at < frames; at += cycle)
        engine.renderOutput(out.data() + size_t(at) * size_t(channels), std::min(cycle, frames - at),
                            channels, at);
    return out;
}
} // namespace

TEST(AudioEngine, PlayerPlaysBlocksBackToBackWithCompletionsInOrder)
{
    AudioEngine engine;
    engine.setOutputDeviceFormat(24000, 1);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.connect(*player, engine.mainMixerNode(), 0, kPlay);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);

    std::mutex mutex;
    std::vector<int> completed;
    std::vector<float> expected;
    for (int b = 0; b < 5; ++b) {
        std::vector<float> samples(size_t(100 + 77 * b));
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(b + 1) * 0.1f + float(i) * 1e-5f;
        expected.insert(expected.end(), samples.begin(), samples.end());
        ASSERT_TRUE(player->scheduleBuffer(monoBlock(samples), [&, b] {
            std::lock_guard lock(mutex);
            completed.push_back(b);
        }));
    }
    EXPECT_FALSE(player->scheduleBuffer(nullptr));
    engine.start();
    player->play();
    const std::vector<float> out = render(engine, 3000, 1);
    engine.synchronize();
    ASSERT_GE(out.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(out[i], expected[i]) << "frame " << i << ": blocks must follow each other without a gap";
    for (size_t i = expected.size(); i < out.size(); ++i)
        ASSERT_EQ(out[i], 0.0f) << "silence after the last block";
    std::lock_guard lock(mutex);
    EXPECT_EQ(completed, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(AudioEngine, StoppedPlayerDiscardsItsQueueAndStillCompletes)
{
    AudioEngine engine;
    engine.setOutputDeviceFormat(24000, 1);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.connect(*player, engine.mainMixerNode(), 0, kPlay);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);
    engine.start();
    player->play();

    std::atomic<int> completions{0};
    for (int b = 0; b < 3; ++b)
        player->scheduleBuffer(monoBlock(std::vector<float>(24000, 0.5f)), [&] { ++completions; });
    render(engine, 1024, 1, 256);
    player->stop();
    player->play();
    player->scheduleBuffer(monoBlock(std::vector<float>(500, 0.25f)), [&] { ++completions; });
    const std::vector<float> out = render(engine, 1000, 1);
    engine.synchronize();
    EXPECT_EQ(completions.load(), 4) << "discarded blocks still report their completion";
    EXPECT_EQ(out[0], 0.25f) << "after stop and play the new block plays at once";
    EXPECT_EQ(out[600], 0.0f);
    EXPECT_EQ(player->queuedBlocks(), 0);

    // With the engine stopped, stop() completes the queue itself.
    engine.stop();
    player->scheduleBuffer(monoBlock(std::vector<float>(10, 0.1f)), [&] { ++completions; });
    player->stop();
    EXPECT_EQ(completions.load(), 5);
}

TEST(AudioEngine, NodesMayOutliveTheirEngine)
{
    std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
    std::atomic<int> completions{0};
    {
        AudioEngine engine;
        engine.setOutputDeviceFormat(24000, 1);
        engine.attach(player);
        engine.connect(*player, engine.mainMixerNode(), 0, kPlay);
        engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);
        engine.start();
        player->play();
        player->scheduleBuffer(monoBlock(std::vector<float>(100, 0.1f)), [&] { ++completions; });
    }
    EXPECT_EQ(player->engine(), nullptr);
    player->scheduleBuffer(monoBlock(std::vector<float>(100, 0.1f)), [&] { ++completions; });
    player->stop();
    EXPECT_EQ(completions.load(), 2) << "blocks left when the engine went are completed by stop()";
}

TEST(AudioEngine, MixerAppliesBusAndOutputVolumes)
{
    AudioEngine engine;
    engine.setOutputDeviceFormat(24000, 2);
    auto a = std::make_shared<AudioPlayerNode>();
    auto b = std::make_shared<AudioPlayerNode>();
    auto submix = std::make_shared<AudioMixerNode>();
    engine.attach(a);
    engine.attach(b);
    engine.attach(submix);
    engine.connect(*a, *submix, 0, kPlay);
    engine.connect(*submix, engine.mainMixerNode(), 0, kPlay);
    engine.connect(*b, engine.mainMixerNode(), 1, kPlay);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(24000, 2));
    submix->setOutputVolume(0.85f);
    engine.mainMixerNode().setInputVolume(1, 0.25f);
    engine.mainMixerNode().setOutputVolume(0.5f);
    a->scheduleBuffer(monoBlock(std::vector<float>(4000, 0.4f)));
    b->scheduleBuffer(monoBlock(std::vector<float>(4000, 0.8f)));
    engine.start();
    a->play();
    b->play();
    const std::vector<float> out = render(engine, 2000, 2);
    const float expected = (0.4f * 0.85f + 0.8f * 0.25f) * 0.5f;
    EXPECT_NEAR(out[1000], expected, 1e-6) << "left";
    EXPECT_NEAR(out[1001], expected, 1e-6) << "right: a mono source feeds both channels";

    engine.mainMixerNode().setOutputVolume(0.0f);
    const std::vector<float> muted = render(engine, 512, 2);
    EXPECT_EQ(muted[600], 0.0f) << "volume changes apply while running";
}

TEST(AudioEngine, LinkAtAnotherRateIsResampled)
{
    // The voice at 24 kHz mono into a 48 kHz stereo device, as the bridge wires it.
    AudioEngine engine;
    engine.setOutputDeviceFormat(48000, 2);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.connect(*player, engine.mainMixerNode(), 0, kPlay);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
    player->scheduleBuffer(monoBlock(Signal::sine(1000, 24000, 24000, 0.5)));
    engine.start();
    player->play();
    const std::vector<float> out = render(engine, 48000, 2, 512);
    std::vector<float> left, right;
    for (size_t i = 0; i < out.size(); i += 2) {
        left.push_back(out[i]);
        right.push_back(out[i + 1]);
    }
    const size_t from = 4800, count = 38400;
    EXPECT_NEAR(Signal::toneAmplitude(left.data() + from, count, 1000, 48000), 0.5, 0.01);
    EXPECT_NEAR(Signal::zeroCrossingFrequency(left.data() + from, count, 48000), 1000, 1);
    EXPECT_EQ(left, right);
}

TEST(AudioEngine, TapsDeliverBlocksOfTheRequestedSizeInOrder)
{
    AudioEngine engine;
    engine.setInputDeviceFormat(48000, 2);
    engine.setOutputDeviceFormat(48000, 2);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    const AudioFormat stereo = AudioFormat::standard(48000, 2);
    engine.connect(*player, engine.mainMixerNode(), 0, stereo);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, stereo);

    std::vector<float> captured;
    std::vector<double> capturedTimes;
    std::vector<float> tappedOutput;
    ASSERT_FALSE(engine.installTap(engine.inputNode(), 0, 2048, AudioFormat::standard(24000, 1), {}))
        << "a tap does not convert";
    ASSERT_TRUE(engine.installTap(engine.inputNode(), 0, 2048, engine.inputNode().outputFormat(),
                                  [&](const std::shared_ptr<PcmBlock>& block, double when) {
                                      EXPECT_EQ(block->frameLength(), 2048);
                                      captured.insert(captured.end(), block->floatChannelData(1),
                                                      block->floatChannelData(1) + 2048);
                                      capturedTimes.push_back(when);
                                  }));
    ASSERT_TRUE(engine.installTap(engine.mainMixerNode(), 0, 2048, stereo,
                                  [&](const std::shared_ptr<PcmBlock>& block, double) {
                                      tappedOutput.insert(tappedOutput.end(), block->floatChannelData(0),
                                                          block->floatChannelData(0) + 2048);
                                  }));
    std::vector<float> ramp(10000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(i) / 10000.0f;
    auto block = PcmBlock::make(stereo, 10000);
    std::copy(ramp.begin(), ramp.end(), block->floatChannelData(0));
    block->setFrameLength(10000);
    player->scheduleBuffer(block);
    engine.start();
    player->play();

    std::vector<float> device(441 * 2);
    int next = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        for (int i = 0; i < 441; ++i) {
            device[size_t(i) * 2] = 0.0f;
            device[size_t(i) * 2 + 1] = float(next++);
        }
        engine.captureInput(device.data(), 441, 2, cycle * 441);
        std::vector<float> out(441 * 2);
        engine.renderOutput(out.data(), 441, 2, cycle * 441);
    }
    engine.synchronize();
    ASSERT_EQ(captured.size(), 4u * 2048) << "8820 frames make four whole blocks; the rest waits";
    for (size_t i = 0; i < captured.size(); ++i)
        ASSERT_EQ(captured[i], float(i));
    EXPECT_EQ(capturedTimes, (std::vector<double>{0, 2048, 4096, 6144}));
    ASSERT_GE(tappedOutput.size(), 4u * 2048);
    for (size_t i = 0; i < tappedOutput.size(); ++i)
        ASSERT_EQ(tappedOutput[i], ramp[i]);

    engine.removeTap(engine.inputNode(), 0);
    engine.captureInput(device.data(), 441, 2, 0);
    engine.synchronize();
    EXPECT_EQ(captured.size(), 4u * 2048);
}

TEST(AudioEngine, StoppedBySystemIsVisibleAndSilent)
{
    AudioEngine engine;
    engine.setOutputDeviceFormat(48000, 2);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
    engine.start();
    EXPECT_TRUE(engine.isRunning());
    engine.stopBySystem();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_TRUE(engine.wasStoppedBySystem());
    std::vector<float> out(512, 1.0f);
    engine.renderOutput(out.data(), 256, 2, 0);
    EXPECT_EQ(out, std::vector<float>(512, 0.0f));
    engine.start();
    EXPECT_TRUE(engine.isRunning());
    EXPECT_FALSE(engine.wasStoppedBySystem());
}

TEST(AudioEngine, CaptureOnlyEngineDeliversItsTap)
{
    // The phone-mode capture engine: an input device, no output device, one tap.
    AudioEngine engine;
    engine.setInputDeviceFormat(44100, 1);
    std::atomic<int> blocks{0};
    ASSERT_TRUE(engine.installTap(engine.inputNode(), 0, 2048, AudioFormat::standard(44100, 1),
                                  [&](auto&, double) { ++blocks; }));
    AudioEngine other;
    auto stranger = std::make_shared<AudioMixerNode>();
    other.attach(stranger);
    EXPECT_FALSE(engine.connect(*stranger, engine.mainMixerNode(), 0, kPlay)) << "a node of another engine";
    engine.start();
    std::vector<float> buffer(512, 0.25f);
    for (int i = 0; i < 8; ++i)
        engine.captureInput(buffer.data(), 512, 1, i * 512.0);
    engine.synchronize();
    EXPECT_EQ(blocks.load(), 2);
}

TEST(AudioConverter, StereoToneAt48kBecomesMono16BitAt24k)
{
    const AudioFormat capture = AudioFormat::standard(48000, 2);
    const AudioFormat wire{24000, 1, SampleType::Int16, true};
    auto converter = AudioConverter::make(capture, wire);
    ASSERT_TRUE(converter);
    EXPECT_EQ(AudioConverter::outputCapacity(2048, 48000, 24000), 1088);
    EXPECT_EQ(AudioConverter::outputCapacity(441, 44100, 24000), 240 + 64);
    EXPECT_FALSE(AudioConverter::make(AudioFormat::standard(0, 2), wire));

    const std::vector<float> left = Signal::sine(733, 48000, 48000 * 2, 0.5);
    const std::vector<float> right = Signal::sine(2100, 48000, 48000 * 2, 0.9);
    std::vector<int16_t> wireSamples;
    for (int at = 0; at + 2048 <= int(left.size()); at += 2048) {
        PcmBlock in(capture, 2048);
        std::copy(left.begin() + at, left.begin() + at + 2048, in.floatChannelData(0));
        std::copy(right.begin() + at, right.begin() + at + 2048, in.floatChannelData(1));
        in.setFrameLength(2048);
        PcmBlock out(wire, AudioConverter::outputCapacity(2048, 48000, 24000));
        ASSERT_TRUE(converter->convert(in, out));
        const int16_t* data = out.int16ChannelData(0);
        wireSamples.insert(wireSamples.end(), data, data + out.frameLength());
    }
    EXPECT_LE(wireSamples.size(), 46u * 1024) << "half as many frames, less the filter delay";
    EXPECT_GE(wireSamples.size(), 45u * 1024);
    const size_t from = 2400, count = 36000;
    EXPECT_NEAR(Signal::toneAmplitude(wireSamples.data() + from, count, 733, 24000, 32767.0), 0.5, 0.005);
    EXPECT_NEAR(Signal::zeroCrossingFrequency(wireSamples.data() + from, count, 24000), 733, 0.5);
    EXPECT_LT(Signal::toneAmplitude(wireSamples.data() + from, count, 2100, 24000, 32767.0), 0.001)
        << "mono takes channel 0 alone";

    // A short output block loses nothing: what does not fit comes out of the next call.
    auto same = AudioConverter::make(AudioFormat::standard(24000, 1), wire);
    PcmBlock ramp(AudioFormat::standard(24000, 1), 300);
    for (int i = 0; i < 300; ++i)
        ramp.floatChannelData(0)[i] = float(i) / 1000.0f;
    ramp.setFrameLength(300);
    PcmBlock small(wire, 200);
    ASSERT_TRUE(same->convert(ramp, small));
    EXPECT_EQ(small.frameLength(), 200);
    ramp.setFrameLength(0);
    ASSERT_TRUE(same->convert(ramp, small));
    ASSERT_EQ(small.frameLength(), 100);
    EXPECT_EQ(small.int16ChannelData(0)[0], Pcm::floatToInt16(0.2f));

    // A mismatched block is refused without harming the stream.
    PcmBlock wrong(AudioFormat::standard(44100, 2), 16);
    PcmBlock out(wire, 100);
    EXPECT_FALSE(converter->convert(wrong, out));
}

TEST(AudioConverter, SampleConversionsRoundAndClip)
{
    EXPECT_EQ(Pcm::floatToInt16(1.0f), 32767);
    EXPECT_EQ(Pcm::floatToInt16(-1.0f), -32767);
    EXPECT_EQ(Pcm::floatToInt16(3.0f), 32767);
    EXPECT_EQ(Pcm::floatToInt16(-3.0f), -32767);
    EXPECT_EQ(Pcm::floatToInt16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(Pcm::floatToInt16(0.5f / 32767.0f), 1) << "halves away from zero";
    EXPECT_EQ(Pcm::floatToInt16(-0.5f / 32767.0f), -1);
    EXPECT_EQ(Pcm::int16ToFloat(-32768), -1.0f);
    EXPECT_EQ(Pcm::int16ToFloat(16384), 0.5f);
}

TEST(AudioEngine, IoThreadsMainThreadAndTapsRunTogether)
{
    // Device IO on threads of their own while the main thread schedules, interrupts and removes a
    // tap: every scheduled block completes exactly once and nothing crashes.
    AudioEngine engine;
    engine.setInputDeviceFormat(48000, 2);
    engine.setOutputDeviceFormat(48000, 2);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.connect(*player, engine.mainMixerNode(), 0, kPlay);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
    std::atomic<int> inputBlocks{0}, outputBlocks{0}, completions{0};
    engine.installTap(engine.inputNode(), 0, 2048, AudioFormat::standard(48000, 2),
                      [&](auto&, double) { ++inputBlocks; });
    engine.installTap(engine.mainMixerNode(), 0, 2048, AudioFormat::standard(48000, 2),
                      [&](auto&, double) { ++outputBlocks; });
    engine.start();
    player->play();

    std::atomic<bool> running{true};
    std::thread output([&] {
        std::vector<float> buffer(512 * 2);
        while (running)
            engine.renderOutput(buffer.data(), 512, 2, 0);
    });
    std::thread input([&] {
        std::vector<float> buffer(480 * 2, 0.1f);
        while (running) {
            engine.captureInput(buffer.data(), 480, 2, 0);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 300; ++i) {
        player->scheduleBuffer(monoBlock(std::vector<float>(size_t(50 + i % 200), 0.2f)),
                               [&] { ++completions; });
        if (i % 50 == 49) {
            player->stop();
            player->play();
        }
        if (i == 150) {
            // However slow the input thread (under a sanitizer, on a loaded machine), a block first.
            for (int wait = 0; wait < 5000 && inputBlocks == 0; ++wait) {
                engine.synchronize();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            engine.removeTap(engine.inputNode(), 0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    running = false;
    output.join();
    input.join();
    engine.stop();
    player->stop();
    EXPECT_EQ(completions.load(), 300);
    EXPECT_GT(inputBlocks.load(), 0);
    EXPECT_GT(outputBlocks.load(), 0);
}

namespace {

// Holds the IO thread inside a render until it is opened: an IO cycle still in flight.
class GateNode final : public AudioNode {
public:
    GateNode() { m_outputFormat = kPlay; }
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};

protected:
    void render(float* const* channelData, int frames) override
    {
        entered = true;
        while (!open)
            std::this_thread::yield();
        std::fill(channelData[0], channelData[0] + frames, 0.0f);
    }
};

// Aborts the whole program, naming the step, when a step hangs: a hang would otherwise eat the time-out.
class Watchdog {
public:
    explicit Watchdog(const char* step)
        : m_thread([this, step] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::seconds(30), [this] { return m_finished; })) {
                  std::fprintf(stderr, "hung: %s\n", step);
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace

// A device listener stops the engine on its own thread while the main thread stops it, interrupts a
// player or waits for the taps, and IO is still inside a cycle.
TEST(AudioEngine, StopsFromAnyThreadWhileIoIsInFlight)
{
    {
        // The player's queue is drained by the render or, once IO is out, by a stopped player: never both.
        AudioEngine engine;
        engine.setOutputDeviceFormat(24000, 1);
        auto gate = std::make_shared<GateNode>();
        auto player = std::make_shared<AudioPlayerNode>();
        engine.attach(gate);
        engine.attach(player);
        engine.connect(*gate, engine.mainMixerNode(), 0, kPlay);
        engine.connect(*player, engine.mainMixerNode(), 1, kPlay);
        engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);
        std::atomic<int> completions{0}, duringCycle{0};
        for (int b = 0; b < 3; ++b)
            player->scheduleBuffer(monoBlock(std::vector<float>(4000, 0.1f)), [&] {
                ++completions;
                duringCycle += gate->open ? 0 : 1;
            });
        engine.start();
        player->play();
        std::thread io([&] {
            std::vector<float> out(256);
            engine.renderOutput(out.data(), 256, 1, 0);
        });
        while (!gate->entered)
            std::this_thread::yield();
        std::thread listener([&] { engine.stopBySystem(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::thread interrupter([&] { player->stop(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate->open = true;
        io.join();
        listener.join();
        interrupter.join();
        EXPECT_FALSE(engine.isRunning());
        EXPECT_TRUE(engine.wasStoppedBySystem());
        EXPECT_EQ(duringCycle.load(), 0) << "the queue was emptied while the render still consumed it";
        EXPECT_EQ(completions.load(), 3);
    }
    {
        // The listener's stop and the main thread's stop end one service thread once.
        AudioEngine engine;
        engine.setOutputDeviceFormat(24000, 1);
        engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, kPlay);
        Watchdog watchdog("two concurrent stops");
        for (int round = 0; round < 200; ++round) {
            engine.start();
            std::atomic<int> ready{0};
            std::thread listener([&] {
                ++ready;
                while (ready < 2)
                    std::this_thread::yield();
                engine.stopBySystem();
            });
            ++ready;
            while (ready < 2)
                std::this_thread::yield();
            engine.stop();
            listener.join();
            ASSERT_FALSE(engine.isRunning()) << "round " << round;
        }
    }
    {
        // Waiting for the taps returns even when a stop on another thread ends the service thread.
        AudioEngine engine;
        engine.setInputDeviceFormat(48000, 1);
        std::atomic<int> blocks{0};
        engine.installTap(engine.inputNode(), 0, 256, AudioFormat::standard(48000, 1),
                          [&](auto&, double) { ++blocks; });
        Watchdog watchdog("synchronize during a stop");
        std::vector<float> buffer(512, 0.25f);
        for (int round = 0; round < 300; ++round) {
            engine.start();
            engine.captureInput(buffer.data(), 512, 1, 0);
            std::thread listener([&] { engine.stopBySystem(); });
            engine.synchronize();
            listener.join();
            engine.synchronize();
        }
        EXPECT_EQ(blocks.load(), 2 * 300) << "every captured frame reached the tap";
    }
}

TEST(AudioConverter, StereoStaysStereoAcrossRates)
{
    const AudioFormat from = AudioFormat::standard(44100, 2);
    const AudioFormat to{24000, 2, SampleType::Float32, true};
    auto converter = AudioConverter::make(from, to);
    ASSERT_TRUE(converter);
    std::vector<float> left, right;
    const std::vector<float> toneL = Signal::sine(500, 44100, 44100, 0.3);
    const std::vector<float> toneR = Signal::sine(1500, 44100, 44100, 0.7);
    for (int at = 0; at + 441 <= 44100; at += 441) {
        PcmBlock in(from, 441);
        std::copy(toneL.begin() + at, toneL.begin() + at + 441, in.floatChannelData(0));
        std::copy(toneR.begin() + at, toneR.begin() + at + 441, in.floatChannelData(1));
        in.setFrameLength(441);
        PcmBlock out(to, AudioConverter::outputCapacity(441, 44100, 24000));
        ASSERT_TRUE(converter->convert(in, out));
        for (int i = 0; i < out.frameLength(); ++i) {
            left.push_back(out.floatChannelData(0)[i * 2]);
            right.push_back(out.floatChannelData(1)[i * 2]);
        }
    }
    const size_t from0 = 2400, count = 19200;
    EXPECT_NEAR(Signal::toneAmplitude(left.data() + from0, count, 500, 24000), 0.3, 0.005);
    EXPECT_NEAR(Signal::toneAmplitude(right.data() + from0, count, 1500, 24000), 0.7, 0.005);
    EXPECT_LT(Signal::toneAmplitude(left.data() + from0, count, 1500, 24000), 0.001) << "channels stay apart";
}
