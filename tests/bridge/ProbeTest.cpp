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

// Waits by stepping the simulated clock; `atMilliseconds` runs once when that much time has passed.
struct SteppedTiming {
    explicit SteppedTiming(sim::AudioServer& server) : server(server) {}
    sim::AudioServer& server;
    double elapsedSeconds = 0;
    std::function<void(double seconds)> during;

    ProbeTiming timing()
    {
        ProbeTiming timing;
        timing.wait = [this](int milliseconds) {
            const UInt64 frames = UInt64(milliseconds) * 48;
            for (UInt64 done = 0; done < frames; done += sim::AudioServer::kBufferFrames)
                server.advanceFrames(sim::AudioServer::kBufferFrames);
            elapsedSeconds += milliseconds / 1000.0;
            if (during)
                during(elapsedSeconds);
            QCoreApplication::processEvents();
        };
        timing.uptimeSeconds = [this] { return elapsedSeconds; };
        return timing;
    }
};

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

QString runError(AudioRouteProbe& probe, const QList<SoundDevice>& devices)
{
    try {
        probe.run(devices);
    } catch (const AppError& error) {
        return error.message();
    }
    return QString();
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
    SteppedTiming stepped(*installed.server);
    AudioRouteProbe probe(*installed.server, stepped.timing());
    PrivateTempFolder temp;
    const int folders = probeFolders();
    EXPECT_EQ(runError(probe, AudioDevices::all(*installed.server)), QString());
    EXPECT_NEAR(stepped.elapsedSeconds, 2 * 6.3, 0.01);
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
        AudioRouteProbe probe(bare, SteppedTiming(bare).timing());
        EXPECT_EQ(
            runError(probe, AudioDevices::all(bare)),
            QStringLiteral("Le module audio Orlea n’est pas chargé. Installez-le puis redémarrez le Mac."));
    }

    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    AudioObjectID stream = 0;
    ASSERT_EQ(hal::readValue(server, call,
                             hal::address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput),
                             stream),
              0);
    ASSERT_EQ(hal::writeValue(server, stream, hal::address(kAudioStreamPropertyIsActive), UInt32(0)), 0);
    SteppedTiming stepped(server);
    AudioRouteProbe probe(server, stepped.timing());
    const QList<SoundDevice> devices = AudioDevices::all(server);
    EXPECT_EQ(runError(probe, devices),
              QStringLiteral(
                  "Le signal de test ne traverse pas « Velkaro — Appel vers IA ». Le pilote est visible mais "
                  "son transport audio doit être corrigé. Le standard reste désactivé."));
    EXPECT_NEAR(stepped.elapsedSeconds, 6.3, 0.01) << "the second circuit is not tested";
    ASSERT_EQ(hal::writeValue(server, stream, hal::address(kAudioStreamPropertyIsActive), UInt32(1)), 0);

    // The call device vanishes 4.2 s into the circuit.
    stepped.elapsedSeconds = 0;
    stepped.during = [&](double seconds) {
        if (seconds > 4.45 && seconds < 4.55)
            server.removeDevice(call);
    };
    const QString vanished = runError(probe, devices);
    EXPECT_TRUE(vanished.startsWith(QStringLiteral("Test incomplet de « Velkaro — Appel vers IA » : ")))
        << vanished.toStdString();
    EXPECT_TRUE(vanished.endsWith(QStringLiteral(" s sur 6 s attendues. Le standard reste désactivé.")))
        << vanished.toStdString();
    EXPECT_TRUE(vanished.contains(QStringLiteral("moteurs entrée/sortie : arrêté/arrêté, enregistrement 4.")))
        << vanished.toStdString();
    EXPECT_EQ(probeFolders(), folders);
}

TEST(MicrophoneProbe, HearsTheMicrophoneAndReportsLevels)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    SteppedTiming stepped(server);
    MicrophoneProbe probe(server, stepped.timing());
    std::vector<double> levels;
    const auto level = [&](double value) { levels.push_back(value); };
    EXPECT_FALSE(probe.run(sim::AudioServer::kMicrophoneID, level)) << "a silent microphone";
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 0.0);

    server.setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    levels.clear();
    stepped.elapsedSeconds = 0;
    EXPECT_TRUE(probe.run(sim::AudioServer::kMicrophoneID, level));
    EXPECT_NEAR(stepped.elapsedSeconds, 5.0, 0.01);
    EXPECT_NE(std::find(levels.begin(), levels.end(), 1.0), levels.end()) << "0.3 × 5 capped at 1";
    EXPECT_EQ(levels.back(), 0.0);

    try {
        probe.run(999, level);
        ADD_FAILURE() << "opened a missing microphone";
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Impossible d’ouvrir le microphone."));
    }
    try {
        probe.run(sim::AudioServer::kSpeakersID, level);
        ADD_FAILURE() << "the speakers are no microphone";
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Le microphone ne fournit pas de format audio."));
    }
}

TEST(AudioRouteProbe, CancellationCleansUp)
{
    InstalledServer installed;
    sim::AudioServer& server = *installed.server;
    PrivateTempFolder temp;
    const int folders = probeFolders();
    struct Cancelled {};
    SteppedTiming stepped(server);
    stepped.during = [](double seconds) {
        if (seconds > 3.0)
            throw Cancelled{};
    };
    AudioRouteProbe probe(server, stepped.timing());
    EXPECT_THROW(probe.run(AudioDevices::all(server)), Cancelled);
    EXPECT_EQ(probeFolders(), folders);
    EXPECT_FALSE(server.isRunning(hal::deviceForUID(server, u"fr.velkaro.audio.call")));

    server.setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    stepped.elapsedSeconds = 0;
    std::vector<double> levels;
    MicrophoneProbe microphone(server, stepped.timing());
    EXPECT_THROW(
        microphone.run(sim::AudioServer::kMicrophoneID, [&](double level) { levels.push_back(level); }),
        Cancelled);
    QCoreApplication::processEvents();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 0.0) << "the level falls to 0 and no late report follows";
    EXPECT_FALSE(server.isRunning(sim::AudioServer::kMicrophoneID));
}
