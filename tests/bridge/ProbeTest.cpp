#include "tests/bridge/BridgeSupport.h"

#include "app/audio/AudioDevices.h"
#include "app/audio/AudioRouteProbe.h"
#include "app/audio/MicrophoneProbe.h"
#include "app/audio/ProbeMeter.h"
#include "app/common/AppError.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The probe works in the system temporary folder; each test gets its own, so tests running in parallel
// never see each other's probe folders.
struct PrivateTempFolder {
    PrivateTempFolder() : hadPrevious(qEnvironmentVariableIsSet("TMPDIR")), previous(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", folder.path().toUtf8());
    }
    ~PrivateTempFolder()
    {
        if (hadPrevious)
            qputenv("TMPDIR", previous);
        else
            qunsetenv("TMPDIR");
    }
    QTemporaryDir folder;
    bool hadPrevious;
    QByteArray previous;
};

int probeFolders()
{
    return int(QDir(QDir::tempPath()).entryList({QStringLiteral("velkaro-probe-*")}, QDir::Dirs).size());
}

// The outcome of one run, driven to its end on manual time.
struct Outcome {
    bool ended = false;
    int calls = 0;
    QString error;
    AudioRouteProbe::Done done()
    {
        return [this](const std::optional<AppError>& failure) {
            ended = true;
            ++calls;
            error = failure ? failure->message() : QString();
        };
    }
};

QString runError(ProbeTime& time, AudioRouteProbe& probe, const QList<SoundDevice>& devices)
{
    Outcome outcome;
    probe.run(devices, outcome.done());
    EXPECT_TRUE(time.runUntil([&] { return outcome.ended; })) << "the probe never ended";
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(probe.isRunning());
    return outcome.error;
}

} // namespace

TEST(ProbeMeter, FindsItsFrequencyOnly)
{
    ProbeMeter meter(733), other(1103);
    const QByteArray sine = wireTone(733, 0.1, 24000);
    meter.append(sine);
    other.append(sine);
    EXPECT_EQ(meter.count(), 24000);
    EXPECT_NEAR(meter.amplitude(), 0.1, 0.001);
    EXPECT_LT(other.amplitude(), 0.001);
    meter.append(QByteArray(1, '\x7f'));
    EXPECT_EQ(meter.count(), 24000) << "an odd byte is ignored";
    PeakMeter peak;
    peak.add(0.3);
    peak.add(0.1);
    EXPECT_EQ(peak.value(), 0.3);
}

TEST(AudioRouteProbe, ToneTravelsThroughBothLoopbacks)
{
    InstalledServer installed;
    ProbeTime time(*installed.server);
    AudioRouteProbe probe(*installed.server, time.scheduler, time.clock);
    PrivateTempFolder temp;
    const int folders = probeFolders();
    Outcome outcome;
    probe.run(AudioDevices::all(*installed.server), outcome.done());
    EXPECT_TRUE(probe.isRunning()) << "a run returns at once and goes on in scheduled steps";
    EXPECT_FALSE(outcome.ended);
    ASSERT_TRUE(time.runUntil([&] { return outcome.ended; }));
    EXPECT_EQ(outcome.error, QString());
    EXPECT_NEAR(time.elapsedSeconds(), 2 * 6.3, 0.05);
    EXPECT_EQ(probeFolders(), folders);
}

TEST(AudioRouteProbe, FailsInFrenchAndLeavesNoFolder)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    PrivateTempFolder temp;
    const int folders = probeFolders();
    {
        sim::AudioServer bare((installed.folder.path() + QStringLiteral("/Empty")).toStdString());
        ProbeTime time(bare);
        AudioRouteProbe probe(bare, time.scheduler, time.clock);
        int bridges = 0;
        probe.bridgeStarted = [&](AudioBridge&) { ++bridges; };
        EXPECT_EQ(
            runError(time, probe, AudioDevices::all(bare)),
            QStringLiteral("Le module audio Orlea n’est pas chargé. Installez-le puis redémarrez le Mac."));
        EXPECT_EQ(bridges, 0);
    }

    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    AudioObjectID stream = 0;
    ASSERT_EQ(hal::readValue(server, call,
                             hal::address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput),
                             stream),
              0);
    ASSERT_EQ(hal::writeValue(server, stream, hal::address(kAudioStreamPropertyIsActive), UInt32(0)), 0);
    const QList<SoundDevice> devices = AudioDevices::all(server);
    {
        ProbeTime time(server);
        AudioRouteProbe probe(server, time.scheduler, time.clock);
        EXPECT_EQ(
            runError(time, probe, devices),
            QStringLiteral("Le signal de test ne traverse pas « Velkaro — Appel vers IA ». Le pilote est "
                           "visible mais son transport audio doit être corrigé. Le standard reste "
                           "désactivé."));
        EXPECT_NEAR(time.elapsedSeconds(), 6.3, 0.05) << "the second circuit is not tested";
    }
    ASSERT_EQ(hal::writeValue(server, stream, hal::address(kAudioStreamPropertyIsActive), UInt32(1)), 0);

    // The call device vanishes 4.5 s into the circuit: the probe stops listening at once.
    ProbeTime time(server);
    AudioRouteProbe probe(server, time.scheduler, time.clock);
    time.during = [&](double seconds) {
        if (seconds >= 4.5 && hal::deviceForUID(server, u"fr.velkaro.audio.call") != 0)
            server.removeDevice(call);
    };
    const QString vanished = runError(time, probe, devices);
    EXPECT_TRUE(vanished.startsWith(QStringLiteral("Test incomplet de « Velkaro — Appel vers IA » : ")))
        << vanished.toStdString();
    EXPECT_TRUE(vanished.endsWith(QStringLiteral(" s sur 6 s attendues. Le standard reste désactivé.")))
        << vanished.toStdString();
    EXPECT_TRUE(vanished.contains(QStringLiteral("moteurs entrée/sortie : arrêté/arrêté, enregistrement 4.")))
        << vanished.toStdString();
    EXPECT_LT(time.elapsedSeconds(), 4.5 + 1.0) << "a vanished device is not waited for";
    EXPECT_EQ(probeFolders(), folders);
}

TEST(MicrophoneProbe, HearsTheMicrophoneAndReportsLevels)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    ProbeTime time(server);
    MicrophoneProbe probe(server, time.scheduler);
    std::vector<double> levels;
    const auto level = [&](double value) { levels.push_back(value); };
    std::optional<MicrophoneProbe::Result> result;
    const auto done = [&](const MicrophoneProbe::Result& value) { result = value; };
    const auto heard = [&] {
        return result && std::holds_alternative<bool>(*result) && std::get<bool>(*result);
    };
    const auto error = [&] {
        return result && std::holds_alternative<AppError>(*result) ? std::get<AppError>(*result).message()
                                                                   : QString();
    };

    probe.run(sim::AudioServer::kMicrophoneID, level, done);
    ASSERT_TRUE(time.runUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(heard()) << "a silent microphone";
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 0.0);

    server.setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    levels.clear();
    result.reset();
    const double started = time.elapsedSeconds();
    probe.run(sim::AudioServer::kMicrophoneID, level, done);
    ASSERT_TRUE(time.runUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(heard());
    EXPECT_NEAR(time.elapsedSeconds() - started, 5.0, 0.05);
    EXPECT_NE(std::find(levels.begin(), levels.end(), 1.0), levels.end()) << "0.3 × 5 capped at 1";
    EXPECT_EQ(levels.back(), 0.0);

    const struct {
        AudioObjectID device;
        QString message;
    } failures[] = {
        {999, QStringLiteral("Impossible d’ouvrir le microphone.")},
        {sim::AudioServer::kSpeakersID, QStringLiteral("Le microphone ne fournit pas de format audio.")},
    };
    for (const auto& failure : failures) {
        result.reset();
        probe.run(failure.device, level, done);
        ASSERT_TRUE(time.runUntil([&] { return result.has_value(); }));
        EXPECT_EQ(error(), failure.message) << failure.device;
    }

    // The microphone is unplugged a second in: the test ends at once.
    result.reset();
    const double unplugged = time.elapsedSeconds() + 1.0;
    time.during = [&](double seconds) {
        if (seconds >= unplugged && server.isRunning(sim::AudioServer::kMicrophoneID))
            server.removeDevice(sim::AudioServer::kMicrophoneID);
    };
    probe.run(sim::AudioServer::kMicrophoneID, level, done);
    ASSERT_TRUE(time.runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(error(), QStringLiteral("Microphone indisponible."));
    EXPECT_LT(time.elapsedSeconds() - unplugged, 1.0);
    EXPECT_EQ(levels.back(), 0.0);
}

TEST(AudioRouteProbe, CancellationCleansUpAtOnce)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    PrivateTempFolder temp;
    const int folders = probeFolders();
    ProbeTime time(server);
    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");

    // Cancelled while listening, and dropped while listening: nothing is reported, nothing is left.
    for (const bool drop : {false, true}) {
        auto probe = std::make_unique<AudioRouteProbe>(server, time.scheduler, time.clock);
        Outcome outcome;
        probe->run(AudioDevices::all(server), outcome.done());
        time.advance(3.0);
        ASSERT_TRUE(server.isRunning(call));
        if (drop)
            probe.reset();
        else
            probe->cancel();
        EXPECT_FALSE(server.isRunning(call)) << (drop ? "dropped" : "cancelled");
        EXPECT_EQ(probeFolders(), folders);
        time.advance(10);
        EXPECT_FALSE(outcome.ended) << "a cancelled run reports nothing";
    }

    server.setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    std::vector<double> levels;
    bool ended = false;
    MicrophoneProbe microphone(server, time.scheduler);
    microphone.run(
        sim::AudioServer::kMicrophoneID, [&](double level) { levels.push_back(level); },
        [&](const MicrophoneProbe::Result&) { ended = true; });
    time.advance(3.0);
    microphone.cancel();
    EXPECT_FALSE(server.isRunning(sim::AudioServer::kMicrophoneID));
    QCoreApplication::processEvents();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 0.0) << "the level falls to 0 and no late report follows";
    EXPECT_FALSE(ended);
}
