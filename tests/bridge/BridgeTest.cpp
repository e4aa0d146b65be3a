#include "tests/bridge/BridgeSupport.h"

#include "app/audio/CallAudioRecorder.h"
#include "app/audio/InputAudioConversion.h"
#include "app/common/AppError.h"
#include "platform/sim/audio/AudioClient.h"

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <thread>

namespace {

struct PhoneCall {
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
    AudioBridge bridge{server};
    PcmSink sink;

    PhoneCall() { bridge.onPCM = sink.callback(); }

    // One server cycle at a time, delivering the taps after each.
    void step(int cycles)
    {
        for (int i = 0; i < cycles; ++i) {
            server.advanceFrames(sim::AudioServer::kBufferFrames);
            bridge.synchronize();
        }
    }
};

QString startError(AudioBridge& bridge, AudioObjectID input, AudioObjectID output, bool onMac)
{
    try {
        bridge.start(input, output, onMac);
    } catch (const AppError& error) {
        return error.message();
    }
    return QStringLiteral("(started)");
}

} // namespace

TEST(InputAudioConversion, StereoSourceGivesTheLeftChannelOnly)
{
    const AudioFormat stereo = AudioFormat::standard(48000, 2);
    EXPECT_EQ(InputAudioConversion::make(stereo, AudioFormat::standard(24000, 2)), nullptr);
    auto converter = InputAudioConversion::make(stereo, AudioBridge::wireFormat());
    ASSERT_NE(converter, nullptr);
    PcmBlock in(stereo, 4800);
    in.setFrameLength(4800);
    for (int i = 0; i < 4800; ++i) {
        in.floatChannelData(0)[i] = 0.5f * float(std::sin(2 * std::numbers::pi * 733 * i / 48000.0));
        in.floatChannelData(1)[i] = 0.5f;
    }
    PcmBlock out(AudioBridge::wireFormat(), AudioConverter::outputCapacity(4800, 48000, 24000));
    ASSERT_TRUE(converter->convert(in, out));
    EXPECT_EQ(out.frameCapacity(), 2464);
    ASSERT_GT(out.frameLength(), 1500);
    std::vector<float> mono(size_t(out.frameLength()));
    for (int i = 0; i < out.frameLength(); ++i)
        mono[size_t(i)] = float(out.int16ChannelData(0)[i]) / 32768.0f;
    const size_t tail = 1200;
    EXPECT_NEAR(toneAmplitude(mono, 733, 24000, mono.size() - tail, tail), 0.5, 0.02);
    double mean = 0;
    for (size_t i = mono.size() - tail; i < mono.size(); ++i)
        mean += mono[i];
    EXPECT_NEAR(mean / double(tail), 0.0, 0.01) << "the right channel's DC is not mixed in";
    EXPECT_EQ(AudioConverter::outputCapacity(2048, 48000, 24000), 1088);
}

TEST(AudioBridge, PhoneModeCarriesBothDirectionsThroughTheDriver)
{
    PhoneCall phone;
    ASSERT_NE(phone.call, 0u);
    ASSERT_NE(phone.voice, 0u);
    // The Phone app: plays the caller into the call device, hears its microphone on the voice device.
    sim::AudioClient caller(phone.server, phone.call);
    sim::AudioClient microphone(phone.server, phone.voice);
    ASSERT_EQ(caller.outputChannels(), 2u);

    phone.bridge.start(phone.call, phone.voice, false);
    EXPECT_TRUE(phone.bridge.enginesRunning());
    EXPECT_FALSE(phone.bridge.needsRestart());
    EXPECT_EQ(
        phone.bridge.routeDescription(),
        QStringLiteral("entrée : Velkaro — Appel vers IA / sortie : Velkaro — IA vers appel · source : 2 "
                       "canaux, 48000 Hz"));

    // The caller: 733 Hz at 0.5 on the left, a 1103 Hz tone on the right that must not leak in.
    const int toneFrames = 96000;
    std::vector<float> callerTone(size_t(toneFrames) * 2);
    for (int i = 0; i < toneFrames; ++i) {
        callerTone[size_t(2 * i)] = 0.5f * float(std::sin(2 * std::numbers::pi * 733 * i / 48000.0));
        callerTone[size_t(2 * i + 1)] = 0.3f * float(std::sin(2 * std::numbers::pi * 1103 * i / 48000.0));
    }
    caller.play(callerTone);
    ASSERT_EQ(caller.start(), 0);
    ASSERT_EQ(microphone.start(), 0);
    // The AI: 440 Hz at 0.25 of full scale, 1.5 s.
    phone.bridge.enqueue(wireTone(440, 0.25, 36000));
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 1);

    int captureDeliveryCycles = -1;
    int playbackDeliveryCycles = -1;
    std::vector<float> heard;
    for (int cycle = 1; cycle <= 240; ++cycle) {
        phone.step(1);
        const std::vector<float> got = microphone.takeRecorded();
        heard.insert(heard.end(), got.begin(), got.end());
        if (captureDeliveryCycles < 0 && firstAbove(wireToFloat(phone.sink.take()), 0.05f) != SIZE_MAX)
            captureDeliveryCycles = cycle;
        if (playbackDeliveryCycles < 0 && firstAbove(heard, 0.05f, 2) != SIZE_MAX)
            playbackDeliveryCycles = cycle;
    }

    // Capture: 24 kHz mono 16-bit, the left channel's tone at its level.
    const std::vector<float> pcm = wireToFloat(phone.sink.take());
    ASSERT_GT(pcm.size(), 40000u);
    const size_t onset = firstAbove(pcm, 0.05f);
    ASSERT_NE(onset, SIZE_MAX);
    EXPECT_NEAR(toneAmplitude(pcm, 733, 24000, onset + 2400, 24000), 0.5, 0.01);
    EXPECT_LT(toneAmplitude(pcm, 1103, 24000, onset + 2400, 24000), 0.005) << "channel 0 only";
    const AudioFlowHealth::Counters counters = phone.bridge.health().snapshot();
    EXPECT_EQ(counters.inputFrames, int64_t(pcm.size()));
    EXPECT_EQ(counters.inputErrors, 0);
    EXPECT_NEAR(counters.rawPeak, 0.5, 0.01);

    // Playback: 0.25 × 0.85 headroom at the Phone app's microphone, both channels, through the flat chain.
    const size_t voiceOnset = firstAbove(heard, 0.05f, 2);
    ASSERT_NE(voiceOnset, SIZE_MAX);
    EXPECT_NEAR(toneAmplitude(heard, 440, 48000, 2 * (voiceOnset + 4800), 48000, 2), 0.25 * 0.85, 0.01);
    EXPECT_NEAR(toneAmplitude(heard, 440, 48000, 2 * (voiceOnset + 4800) + 1, 48000, 2), 0.25 * 0.85, 0.01);
    EXPECT_GT(counters.outputFrames, 36000);
    EXPECT_EQ(counters.pending, 0) << "the chunk played back";

    // Latencies, in 48 kHz frames from the first frame written to the device to the first sign of it.
    const double captureStreamFrames = 2.0 * double(onset);
    const double playbackStreamFrames = double(voiceOnset);
    std::printf("latency capture: stream %.0f frames, delivered after %d cycles (%d frames)\n",
                captureStreamFrames, captureDeliveryCycles, captureDeliveryCycles * 512);
    std::printf("latency playback: stream %.0f frames, delivered after %d cycles (%d frames)\n",
                playbackStreamFrames, playbackDeliveryCycles, playbackDeliveryCycles * 512);
    EXPECT_GE(captureStreamFrames, 2048 + 512) << "the loopback holds 2048 frames";
    EXPECT_LT(captureStreamFrames, 2048 + 512 + 1024);
    // The limiter's 12 ms look-ahead (576 frames) and the 24→48 kHz link of the graph come on top.
    EXPECT_GE(playbackStreamFrames, 2048 + 512 + 576);
    EXPECT_LT(playbackStreamFrames, 2048 + 512 + 576 + 768);

    phone.bridge.stop();
    EXPECT_FALSE(phone.bridge.enginesRunning());
    EXPECT_TRUE(phone.bridge.needsRestart());
    EXPECT_TRUE(
        phone.bridge.flowStatus().endsWith(QStringLiteral(" · moteurs entrée/sortie : arrêté/arrêté")))
        << phone.bridge.flowStatus().toStdString();
}

TEST(AudioBridge, StartFailuresLeaveNothingRunning)
{
    PhoneCall phone;
    const QString badDevice = QStringLiteral("Impossible de sélectionner le périphérique audio (%1).")
                                  .arg(qint32(kAudioHardwareBadDeviceError));
    EXPECT_EQ(startError(phone.bridge, 999, phone.voice, false), badDevice);
    EXPECT_EQ(startError(phone.bridge, phone.call, 999, false), badDevice);
    EXPECT_EQ(startError(phone.bridge, sim::AudioServer::kSpeakersID, phone.voice, false),
              QStringLiteral("Format du microphone incompatible."))
        << "the speakers have no input stream";
    EXPECT_EQ(startError(phone.bridge, phone.call, sim::AudioServer::kMicrophoneID, false),
              QStringLiteral("Le périphérique de sortie ne fournit pas de format audio utilisable."));
    EXPECT_EQ(startError(phone.bridge, phone.call, phone.voice, true),
              QStringLiteral("Le périphérique audio du Mac a changé. Relancez la vérification audio du Mac."))
        << "the virtual devices are not the Mac's defaults";
    EXPECT_FALSE(phone.bridge.enginesRunning());
    EXPECT_TRUE(phone.bridge.needsRestart());
    EXPECT_FALSE(phone.server.isRunning(phone.call));
    EXPECT_FALSE(phone.server.isRunning(phone.voice));
    try {
        phone.bridge.startIntervention(sim::AudioServer::kMicrophoneID, sim::AudioServer::kSpeakersID,
                                       phone.call);
        ADD_FAILURE() << "intervention without call audio";
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Le son de l’appel doit fonctionner avant d’intervenir."));
    }
    // Nothing of the failures stays in the way of a good start.
    phone.bridge.start(phone.call, phone.voice, false);
    EXPECT_TRUE(phone.bridge.enginesRunning());
}

TEST(AudioBridge, EnqueueAndInterruptKeepTheQueueDepth)
{
    PhoneCall phone;
    phone.bridge.start(phone.call, phone.voice, false);
    EXPECT_EQ(AudioBridge::playbackBuffer(QByteArray(1, '\1')), nullptr);
    EXPECT_EQ(AudioBridge::playbackBuffer(QByteArray()), nullptr);
    EXPECT_EQ(AudioBridge::playbackBuffer(QByteArray(2'000'000, '\0')), nullptr);
    auto five = AudioBridge::playbackBuffer(QByteArray("\x00\x40\x00\xc0\x7f", 5));
    ASSERT_NE(five, nullptr);
    ASSERT_EQ(five->frameLength(), 2);
    EXPECT_EQ(five->floatChannelData(0)[0], 0.5f);
    EXPECT_EQ(five->floatChannelData(0)[1], -0.5f);

    phone.bridge.enqueue(QByteArray(1, '\0'));
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 0) << "a chunk of one byte is not played";
    phone.bridge.enqueue(wireTone(440, 0.1, 4800));
    const double demand = phone.bridge.health().snapshot().demandTime;
    phone.bridge.enqueue(wireTone(440, 0.1, 4800));
    phone.bridge.enqueue(wireTone(440, 0.1, 4800));
    auto counters = phone.bridge.health().snapshot();
    EXPECT_EQ(counters.pending, 3);
    EXPECT_EQ(counters.demandTime, demand) << "a busy queue keeps its demand time";
    EXPECT_EQ(phone.bridge.voiceQueuedFrames(), 14400);
    phone.step(10); // 5120 frames at 48 kHz: 2560 of the voice
    const int64_t played = phone.bridge.voicePlayedFrames();
    EXPECT_GE(played, 2560 - 256) << "the graph renders ahead by at most one quantum";
    EXPECT_LE(played, 2560 + 256);
    phone.bridge.interrupt();
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 0);
    EXPECT_EQ(phone.bridge.voiceQueuedFrames(), played) << "what was dropped will never be played";
    phone.step(40);
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 0)
        << "late completions of dropped chunks change nothing";
    EXPECT_EQ(phone.bridge.voicePlayedFrames(), played);
    phone.bridge.enqueue(wireTone(440, 0.1, 2400));
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 1);
    EXPECT_EQ(phone.bridge.voiceQueuedFrames(), played + 2400);
    phone.step(20);
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 0) << "the player plays again after an interruption";
    EXPECT_EQ(phone.bridge.voicePlayedFrames(), played + 2400);
    // A new start keeps the timeline going.
    phone.bridge.start(phone.call, phone.voice, false);
    EXPECT_EQ(phone.bridge.voicePlayedFrames(), played + 2400);
    EXPECT_EQ(phone.bridge.voiceQueuedFrames(), played + 2400);
}

TEST(AudioBridge, VanishedDeviceNeedsRestartAndResumeFollowsTheFormats)
{
    PhoneCall phone;
    phone.bridge.start(phone.call, phone.voice, false);
    phone.step(20);
    EXPECT_FALSE(phone.bridge.needsRestart());
    const int64_t before = phone.bridge.health().snapshot().inputFrames;
    EXPECT_GT(before, 0);
    phone.bridge.resumeStoppedEngines();
    EXPECT_EQ(phone.bridge.health().snapshot().inputFrames, before) << "running engines: nothing reset";

    // The system stops the playback engine: resume brings it back with the same graph.
    phone.bridge.playbackEngine().engine().stopBySystem();
    EXPECT_TRUE(phone.bridge.needsRestart());
    EXPECT_FALSE(phone.bridge.enginesRunning());
    phone.bridge.resumeStoppedEngines();
    EXPECT_TRUE(phone.bridge.enginesRunning());
    EXPECT_EQ(phone.bridge.health().snapshot().inputFrames, 0) << "counters reset at resume";
    phone.bridge.enqueue(wireTone(440, 0.1, 2400));
    phone.step(20);
    EXPECT_GT(phone.bridge.health().snapshot().inputFrames, 0);
    EXPECT_GT(phone.bridge.health().snapshot().outputFrames, 0);
    EXPECT_EQ(phone.bridge.health().snapshot().pending, 0);

    // The voice device vanishes: the playback engine is stopped by the system.
    ASSERT_TRUE(phone.server.removeDevice(phone.voice));
    phone.server.flushNotifications(); // its listener runs on the server's notification thread
    EXPECT_TRUE(phone.bridge.playbackEngine().wasStoppedBySystem());
    EXPECT_TRUE(phone.bridge.needsRestart());
    EXPECT_TRUE(phone.bridge.captureEngine().isRunning());
    try {
        phone.bridge.resumeStoppedEngines();
        ADD_FAILURE() << "resumed on a vanished device";
    } catch (const AppError& error) {
        EXPECT_EQ(
            error.message(),
            QStringLiteral("macOS a modifié le format audio. Relancez la vérification pour reconstruire le "
                           "circuit."));
    }
    EXPECT_TRUE(phone.bridge.flowStatus().endsWith(QStringLiteral("moteurs entrée/sortie : actif/arrêté")))
        << phone.bridge.flowStatus().toStdString();
    phone.bridge.stop();
}

// The audio's own time, read by the recorder on the tap thread: blocks are placed where the audio put
// them, however fast or slow the machine runs the cycles.
struct AudioClock final : Clock {
    std::atomic<double> seconds{0};
    QDateTime now() const override { return QDateTime::fromSecsSinceEpoch(qint64(seconds.load())); }
    double uptimeSeconds() const override { return seconds.load(); }
};

TEST(AudioBridge, RecorderGetsBothSidesOfTheCall)
{
    PhoneCall phone;
    QTemporaryDir folder;
    AudioClock clock;
    auto recorder = std::make_shared<CallAudioRecorder>(folder.path() + QStringLiteral("/call.wav"), clock);
    phone.bridge.recorder = recorder;
    sim::AudioClient caller(phone.server, phone.call);
    std::vector<float> callerTone(48000 * 2 * 2);
    for (size_t i = 0; i < callerTone.size() / 2; ++i)
        callerTone[2 * i] = 0.4f * float(std::sin(2 * std::numbers::pi * 733 * double(i) / 48000.0));
    caller.play(callerTone);
    phone.bridge.start(phone.call, phone.voice, false);
    ASSERT_EQ(caller.start(), 0);
    phone.bridge.enqueue(wireTone(440, 0.4, 48000));
    for (int cycle = 0; cycle < 188; ++cycle) { // about 2 s
        phone.step(1);
        clock.seconds = clock.seconds + sim::AudioServer::kBufferFrames / sim::AudioServer::kSampleRateHz;
    }
    phone.bridge.stop();
    phone.bridge.recorder.reset();
    std::promise<CallAudioRecorder::Result> done;
    recorder->finish([&](const CallAudioRecorder::Result& result) { done.set_value(result); });
    const CallAudioRecorder::Result result = done.get_future().get();
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(std::get<QString>(result)).constData(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> mix(size_t(info.frames));
    sf_readf_float(file, mix.data(), info.frames);
    sf_close(file);
    EXPECT_NEAR(double(info.frames), 2 * 24000.0, 2048.0);
    // Both tracks at half level: the caller at 0.2, the AI voice at 0.4 × 0.85 ÷ 2.
    EXPECT_NEAR(toneAmplitude(mix, 733, 24000, 24000, 12000), 0.2, 0.01);
    EXPECT_NEAR(toneAmplitude(mix, 440, 24000, 24000, 12000), 0.17, 0.01);
}

TEST(AudioBridge, RunsOnTheRealTimeClockAndStopsCleanly)
{
    PhoneCall phone;
    sim::AudioClient caller(phone.server, phone.call);
    caller.play(std::vector<float>(48000 * 2, 0.25f));
    phone.bridge.start(phone.call, phone.voice, false);
    ASSERT_EQ(caller.start(), 0);
    phone.server.startRealTime();
    phone.bridge.enqueue(wireTone(440, 0.2, 24000));
    for (int i = 0; i < 200 && phone.bridge.health().snapshot().inputFrames < 4096; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(phone.bridge.health().snapshot().inputFrames, 4096) << "capture flows on the device threads";
    // A device vanishing under running IO threads stops the engine without a hang.
    ASSERT_TRUE(phone.server.removeDevice(phone.call));
    phone.server.flushNotifications();
    EXPECT_TRUE(phone.bridge.needsRestart());
    EXPECT_FALSE(phone.bridge.captureEngine().isRunning());
    phone.bridge.stop();
    phone.server.stopRealTime();
    EXPECT_FALSE(phone.server.isRunning(phone.voice));
}
