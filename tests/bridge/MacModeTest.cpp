#include "tests/bridge/BridgeSupport.h"

#include "app/audio/AudioDevices.h"
#include "app/audio/AudioRouteProbe.h"
#include "app/common/AppError.h"
#include "platform/sim/audio/AudioClient.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

constexpr AudioObjectID kMicrophone = sim::AudioServer::kMicrophoneID;
constexpr AudioObjectID kSpeakers = sim::AudioServer::kSpeakersID;

// A voice-like test signal: 300 ms bursts of 440 Hz at 0.3 with 200 ms pauses, 20 s.
std::shared_ptr<sim::InputSource> speakingMicrophone()
{
    std::vector<float> voice(48000 * 20);
    for (size_t i = 0; i < voice.size(); ++i)
        voice[i] = (i % 24000) < 14400
                       ? 0.3f * float(std::sin(2 * std::numbers::pi * 440 * double(i) / 48000.0))
                       : 0.0f;
    return sim::InputSource::samples(std::move(voice));
}

AudioObjectID systemDefault(sim::AudioServer& server, AudioObjectPropertySelector selector)
{
    AudioObjectID device = 0;
    hal::readValue(server, kAudioObjectSystemObject, hal::address(selector), device);
    return device;
}

void step(sim::AudioServer& server, AudioBridge& bridge, int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        server.advanceFrames(sim::AudioServer::kBufferFrames);
        bridge.synchronize();
    }
}

} // namespace

TEST(AudioBridge, MacModeHearsTheMicrophoneAndPlaysOnTheSpeakers)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    server.setInputSource(kMicrophone, speakingMicrophone());
    AudioBridge bridge(server);
    PcmSink sink;
    bridge.onPCM = sink.callback();
    bridge.start(kMicrophone, kSpeakers, true);
    EXPECT_EQ(&bridge.captureEngine(), &bridge.playbackEngine()) << "one engine in Mac mode";
    bridge.enqueue(wireTone(440, 0.25, 24000));
    step(server, bridge, 200);

    const std::vector<float> pcm = wireToFloat(sink.take());
    ASSERT_GT(pcm.size(), 40000u);
    float peak = 0;
    for (float x : pcm)
        peak = std::max(peak, std::fabs(x));
    EXPECT_GT(peak, 0.05f) << "the voice reaches the AI";
    EXPECT_LE(peak, 0.85f * 32767.0f / 32768.0f + 1e-6f) << "the microphone limiter's ceiling";
    const AudioBridge::Levels levels = bridge.inputLevels();
    EXPECT_GT(levels.raw, 0.0);
    const AudioFlowHealth::Counters counters = bridge.health().snapshot();
    EXPECT_GT(counters.signalFrames, 2400);
    EXPECT_GT(counters.outputFrames, 48000);

    const std::vector<float> played = server.capturedOutput(kSpeakers);
    ASSERT_GT(played.size(), 2u * 48000);
    const size_t onset = firstAbove(played, 0.05f, 2);
    ASSERT_NE(onset, SIZE_MAX);
    EXPECT_NEAR(toneAmplitude(played, 440, 48000, 2 * (onset + 4800), 24000, 2), 0.25 * 0.85, 0.01)
        << "the AI voice through the chain, the microphone mixed in silently";
    bridge.stop();
}

TEST(AudioBridge, InterventionSwapsTheAIForTheOperator)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    const AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
    ASSERT_EQ(hal::writeValue(server, kAudioObjectSystemObject,
                              hal::address(kAudioHardwarePropertyDefaultOutputDevice), voice),
              0);
    server.setInputSource(kMicrophone, speakingMicrophone());
    sim::AudioClient caller(server, call);
    sim::AudioClient phoneMicrophone(server, voice);
    std::vector<float> callerTone(48000 * 4 * 2);
    for (size_t i = 0; i < callerTone.size() / 2; ++i)
        callerTone[2 * i] = callerTone[2 * i + 1] =
            0.4f * float(std::sin(2 * std::numbers::pi * 733 * double(i) / 48000.0));
    caller.play(callerTone);

    AudioBridge bridge(server);
    bridge.start(call, voice, false);
    ASSERT_EQ(caller.start(), 0);
    ASSERT_EQ(phoneMicrophone.start(), 0);
    bridge.enqueue(wireTone(1000, 0.2, 48000));
    step(server, bridge, 10);

    bridge.startIntervention(kMicrophone, kSpeakers, call);
    AudioBridge* first = bridge.monitorBridge();
    ASSERT_NE(first, nullptr);
    bridge.startIntervention(kMicrophone, kSpeakers, call);
    EXPECT_TRUE(bridge.intervening());
    EXPECT_EQ(bridge.health().snapshot().pending, 0) << "the AI voice stops";
    EXPECT_EQ(systemDefault(server, kAudioHardwarePropertyDefaultOutputDevice), kSpeakers);
    server.clearCapturedOutput(kSpeakers);
    phoneMicrophone.takeRecorded();
    step(server, bridge, 150);
    EXPECT_FALSE(bridge.needsRestart());

    // The operator hears the caller; the phone hears the operator, and no more of the AI.
    const std::vector<float> listened = server.capturedOutput(kSpeakers);
    ASSERT_GT(listened.size(), 2u * 48000);
    EXPECT_NEAR(toneAmplitude(listened, 733, 48000, listened.size() - 2 * 24000, 24000, 2), 0.4 * 0.85, 0.01)
        << "a continuous caller voice, through the monitor's voice chain";
    const std::vector<float> sent = phoneMicrophone.takeRecorded();
    ASSERT_GT(sent.size(), 2u * 48000);
    float operatorPeak = 0;
    for (size_t i = 2 * 9600; i < sent.size(); i += 2)
        operatorPeak = std::max(operatorPeak, std::fabs(sent[i]));
    EXPECT_GT(operatorPeak, 0.03f) << "the operator's voice, after voice processing";
    EXPECT_LT(toneAmplitude(sent, 1000, 48000, sent.size() - 2 * 24000, 24000, 2), 0.005);

    bridge.stopIntervention();
    EXPECT_FALSE(bridge.intervening());
    EXPECT_EQ(systemDefault(server, kAudioHardwarePropertyDefaultOutputDevice), voice)
        << "the route is restored";
    EXPECT_TRUE(bridge.enginesRunning());
    bridge.stop();
}

namespace {

// Runs the Mac route check to its end on manual time; the failure's sentence, empty on success.
QString runMacError(ProbeTime& time, AudioRouteProbe& probe, const AudioRouteProbe::Progress& progress = {})
{
    std::optional<QString> outcome;
    probe.runMac(kMicrophone, kSpeakers, progress, [&](const std::optional<AppError>& failure) {
        outcome = failure ? failure->message() : QString();
    });
    EXPECT_TRUE(time.runUntil([&] { return outcome.has_value(); })) << "the check never ended";
    return outcome.value_or(QStringLiteral("(never ended)"));
}

} // namespace

TEST(AudioRouteProbe, MacRouteWaitsForTheVoice)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    QStringList texts;
    const auto progress = [&](const QString& text, double, double) { texts << text; };
    {
        ProbeTime time(server);
        AudioRouteProbe probe(server, time.scheduler, time.clock);
        const QString silent = runMacError(time, probe, progress);
        EXPECT_TRUE(silent.startsWith(QStringLiteral("Le test Mac ne peut pas valider le microphone : "
                                                     "parlez pendant la vérification, puis réessayez. ")))
            << silent.toStdString();
        EXPECT_NEAR(time.elapsedSeconds(), 15.0, 0.2);
        ASSERT_FALSE(texts.isEmpty());
        EXPECT_TRUE(texts.first().startsWith(
            QStringLiteral("Parlez maintenant : « Bonjour, test du microphone. »\n")));
    }

    server.setInputSource(kMicrophone, speakingMicrophone());
    {
        ProbeTime time(server);
        AudioRouteProbe probe(server, time.scheduler, time.clock);
        EXPECT_EQ(runMacError(time, probe, progress), QString());
        EXPECT_LT(time.elapsedSeconds(), 3.0) << "two seconds of audio both ways and some voice suffice";
        EXPECT_FALSE(server.isRunning(kMicrophone));
    }

    // Headphones plugged in a second into the check become the default output: it ends at once.
    ProbeTime time(server);
    AudioRouteProbe probe(server, time.scheduler, time.clock);
    server.setInputSource(kMicrophone, nullptr);
    AudioObjectID headset = 0;
    time.during = [&](double seconds) {
        if (seconds >= 1.0 && headset == 0) {
            headset = server.addDevice({u"Casque", u"headset", 0, 2, kAudioDeviceTransportTypeBuiltIn});
            hal::writeValue(server, kAudioObjectSystemObject,
                            hal::address(kAudioHardwarePropertyDefaultOutputDevice), headset);
        }
    };
    EXPECT_EQ(
        runMacError(time, probe),
        QStringLiteral("Le périphérique audio du Mac a changé. Relancez la vérification audio du Mac."));
    EXPECT_LT(time.elapsedSeconds(), 2.0);
    EXPECT_FALSE(server.isRunning(kMicrophone));
    EXPECT_FALSE(server.isRunning(kSpeakers));
}

TEST(AudioRouteProbe, MacRouteResumesStoppedEnginesThreeTimesAtMost)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    server.setInputSource(kMicrophone, speakingMicrophone());
    for (const int stops : {3, 4}) {
        ProbeTime time(server);
        AudioRouteProbe probe(server, time.scheduler, time.clock);
        AudioBridge* running = nullptr;
        int stopped = 0;
        probe.bridgeStarted = [&](AudioBridge& bridge) { running = &bridge; };
        // The system stops the engine every 300 ms, before two seconds of audio could pass.
        time.during = [&](double seconds) {
            if (running && stopped < stops && seconds >= 0.3 * (stopped + 1) - 1e-9) {
                running->playbackEngine().engine().stopBySystem();
                ++stopped;
            }
        };
        const QString error = runMacError(time, probe);
        if (stops == 3) {
            EXPECT_EQ(error, QString());
            EXPECT_LT(time.elapsedSeconds(), 5.0);
        } else {
            EXPECT_TRUE(error.contains(QStringLiteral("moteurs entrée/sortie : arrêté/arrêté")))
                << error.toStdString();
            EXPECT_NEAR(time.elapsedSeconds(), 15.0, 0.2) << "no fourth resume";
        }
        EXPECT_EQ(stopped, stops);
    }
}
