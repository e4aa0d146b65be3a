#include "app/records/CallRecord.h"
#include "app/records/HistoryCodec.h"
#include "tools/realtime-standin/StandInAgent.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sndfile.h>
#include <string>
#include <vector>

namespace {

QString buildDir()
{
    const char* dir = std::getenv("ORLEA_BUILD_DIR");
    return QString::fromLocal8Bit(dir && *dir ? dir : ORLEA_TEST_BUILD_DIR);
}

// `orlea --demo --call-once` on a data folder of its own, with the embedded AI.
class DemoProgramTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    QProcess process;
    QString output;

    void SetUp() override { launch(); }

    void launch(const QString& realtimeURL = QString())
    {
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORLEA_DATA_HOME", home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("ORLEA_REALTIME_URL");
        if (!realtimeURL.isEmpty())
            environment.insert("ORLEA_REALTIME_URL", realtimeURL);
        process.setProcessEnvironment(environment);
        process.setProgram(buildDir() + "/bin/orlea");
        process.setArguments({"--demo", "--call-once"});
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000)) << process.errorString().toStdString();
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Reads the program's output until `text` appears; false after `timeoutMs`.
    bool readUntil(const QString& text, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!output.contains(text) && timer.elapsed() < timeoutMs) {
            process.waitForReadyRead(200);
            output += QString::fromUtf8(process.readAllStandardOutput());
            if (process.state() == QProcess::NotRunning)
                break;
        }
        output += QString::fromUtf8(process.readAllStandardOutput());
        return output.contains(text);
    }

    bool finish(int timeoutMs)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        output += QString::fromUtf8(process.readAllStandardOutput());
        return ended;
    }

    std::string diagnostics()
    {
        return ("\n--- sortie ---\n" + output + "\n--- erreurs ---\n" +
                QString::fromUtf8(process.readAllStandardError()))
            .toStdString();
    }

    QList<CallRecord> history()
    {
        QFile file(home.path() + "/Velkaro/history.json");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return HistoryCodec::decode(file.readAll()).value_or(QList<CallRecord>());
    }

    // The path printed after `label`, or empty.
    QString printed(const QString& label)
    {
        const QRegularExpression line("^" + QRegularExpression::escape(label) + " : (.+)$",
                                      QRegularExpression::MultilineOption);
        return line.match(output).captured(1).trimmed();
    }
};

struct Wav {
    SF_INFO info{};
    std::vector<float> samples;
};

std::optional<Wav> readWav(const QString& path)
{
    Wav wav;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &wav.info);
    if (!file)
        return std::nullopt;
    wav.samples.resize(size_t(wav.info.frames) * size_t(wav.info.channels));
    sf_readf_float(file, wav.samples.data(), wav.info.frames);
    sf_close(file);
    return wav;
}

// Stretches of sound (50 ms frames above -40 dBFS, gaps under `joinSeconds` bridged), in seconds.
std::vector<std::pair<double, double>> soundStretches(const std::vector<float>& mono, double rateHz,
                                                      double joinSeconds)
{
    const size_t frame = size_t(rateHz * 0.05);
    std::vector<std::pair<double, double>> stretches;
    for (size_t start = 0; start + frame <= mono.size(); start += frame) {
        double sum = 0;
        for (size_t i = start; i < start + frame; ++i)
            sum += double(mono[i]) * mono[i];
        if (std::sqrt(sum / double(frame)) < 0.01)
            continue;
        const double begin = double(start) / rateHz;
        const double end = double(start + frame) / rateHz;
        if (!stretches.empty() && begin - stretches.back().second < joinSeconds)
            stretches.back().second = end;
        else
            stretches.emplace_back(begin, end);
    }
    return stretches;
}

} // namespace

TEST_F(DemoProgramTest, OneWholeCallInRealTimeLeavesItsHistoryTranscriptAndRecording)
{
    ASSERT_TRUE(finish(150000)) << "the demonstration must end on its own" << diagnostics();
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << diagnostics();
    ASSERT_EQ(process.exitCode(), 0) << diagnostics();
    EXPECT_TRUE(output.contains("Conversation en cours")) << diagnostics();
    EXPECT_TRUE(output.contains("Démonstration terminée.")) << diagnostics();
    EXPECT_TRUE(output.contains("Latence : ")) << diagnostics();

    const QList<CallRecord> records = history();
    ASSERT_EQ(records.size(), 1) << "history.json must decode to the one call" << diagnostics();
    const CallRecord& call = records.first();
    EXPECT_EQ(call.kind, "Appel");
    EXPECT_EQ(call.caller, "06 12 34 56 78");
    QStringList speakers;
    for (const TranscriptLine& line : call.transcript)
        speakers << line.speaker;
    EXPECT_TRUE(speakers.contains("Orlea")) << speakers.join(",").toStdString() << diagnostics();
    EXPECT_TRUE(speakers.contains("Interlocuteur")) << speakers.join(",").toStdString() << diagnostics();
    EXPECT_TRUE(call.usage.has_value());
    // Every answer to the caller is timed, and the call keeps the summary.
    EXPECT_TRUE(output.contains("Réactivité, réponse par réponse")) << diagnostics();
    ASSERT_TRUE(call.responseLatency.has_value()) << diagnostics();
    EXPECT_GE(call.responseLatency->turns, 1);
    EXPECT_GE(call.responseLatency->medianMs, int(StandInAgent::kThinkingSeconds * 1000))
        << "an answer cannot come before the AI has thought";
    // Once the caller has hung up the AI drafts the follow-up, kept with the call and printed; the leak
    // makes it urgent, which a notification announces.
    ASSERT_TRUE(call.followUpDraft.has_value()) << diagnostics();
    EXPECT_EQ(call.followUpDraft->callerName, "Claire Martin");
    EXPECT_TRUE(call.followUpDraft->urgent);
    EXPECT_TRUE(output.contains("\n   Demande : " + call.followUpDraft->request + "\n")) << diagnostics();
    EXPECT_TRUE(output.contains("\nNotification : Appel urgent · Claire Martin — ")) << diagnostics();

    const QString data = home.path() + "/Velkaro";
    EXPECT_EQ(printed("Historique"), data + "/history.json") << diagnostics();
    const QString transcriptPath = data + "/Transcriptions/Appel-" + uuidText(call.id) + ".txt";
    EXPECT_EQ(printed("Transcription"), transcriptPath) << diagnostics();
    QFile transcript(transcriptPath);
    ASSERT_TRUE(transcript.open(QIODevice::ReadOnly)) << transcriptPath.toStdString();
    EXPECT_EQ(QString::fromUtf8(transcript.readAll()), call.transcriptDocument());

    ASSERT_EQ(call.recordingFile, std::optional<QString>("Appel-" + uuidText(call.id) + ".wav"))
        << call.recordingError.value_or("").toStdString();
    const QString recordingPath = data + "/Recordings/" + *call.recordingFile;
    EXPECT_EQ(printed("Enregistrement"), recordingPath) << diagnostics();
    const std::optional<Wav> wav = readWav(recordingPath);
    ASSERT_TRUE(wav.has_value()) << sf_strerror(nullptr);
    EXPECT_EQ(wav->info.samplerate, 24000);
    EXPECT_EQ(wav->info.channels, 1);
    EXPECT_EQ(wav->info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // The caller keeps silent for the first eight seconds after the answer, so the sound that starts
    // early is the AI's greeting. The AI speaks again only after the caller has spoken, so a later
    // stretch after a pause is the caller's voice; the AI's answer follows it.
    const auto stretches = soundStretches(wav->samples, 24000, 0.5);
    std::string shown;
    for (const auto& [begin, end] : stretches)
        shown += " [" + std::to_string(begin) + "–" + std::to_string(end) + "]";
    ASSERT_GE(stretches.size(), 3u) << "greeting, caller, answer:" << shown;
    EXPECT_LT(stretches.front().first, 7.0) << "the greeting must be recorded:" << shown;
    EXPECT_GT(double(wav->info.frames) / 24000.0, 20.0) << "the whole conversation must be recorded";
}

TEST_F(DemoProgramTest, SigtermDuringTheConversationEndsAndSavesItBeforeExiting)
{
    ASSERT_TRUE(readUntil("   Orlea : ", 120000)) << "the AI must speak first" << diagnostics();
    process.terminate(); // SIGTERM
    ASSERT_TRUE(finish(30000)) << "a clean quit is bounded" << diagnostics();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << diagnostics();
    EXPECT_EQ(process.exitCode(), 0) << diagnostics();
    EXPECT_TRUE(output.contains("Signal SIGTERM reçu")) << diagnostics();

    const QList<CallRecord> records = history();
    ASSERT_EQ(records.size(), 1) << diagnostics();
    EXPECT_EQ(records.first().kind, "Appel");
    EXPECT_FALSE(records.first().transcript.isEmpty());
    EXPECT_EQ(records.first().recordingFile,
              std::optional<QString>("Appel-" + uuidText(records.first().id) + ".wav"))
        << "the recording is finished within the wait"
        << records.first().recordingError.value_or("").toStdString();
    EXPECT_TRUE(
        QFile::exists(home.path() + "/Velkaro/Recordings/Appel-" + uuidText(records.first().id) + ".wav"));
}

TEST_F(DemoProgramTest, ASecondOrleaOnTheSameDataIsRefusedAndAKilledOneLeavesNoLockBehind)
{
    ASSERT_TRUE(readUntil("Données : ", 60000)) << diagnostics();
    const qint64 first = process.processId();
    QProcess second;
    second.setProcessEnvironment(process.processEnvironment());
    second.start(process.program(), process.arguments());
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 1);
    const QString refusal = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(refusal.contains(
        QStringLiteral("Échec : Orlea est déjà ouvert avec le dossier de données « %1/Velkaro » "
                       "(processus %2).")
            .arg(home.path())
            .arg(first)))
        << refusal.toStdString();
    EXPECT_EQ(process.state(), QProcess::Running) << "the first copy carries on";

    // The window says it in a dialog as well; without a screen nobody could close one, so it must not wait.
    QProcess window;
    window.setProcessEnvironment(process.processEnvironment());
    window.start(process.program(), {});
    ASSERT_TRUE(window.waitForFinished(60000)) << "a refusal without a screen waits for nobody";
    EXPECT_EQ(window.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(window.readAllStandardError()).contains("Échec : Orlea est déjà ouvert"));

    // Killed outright: the next start takes the folder over and clears what an interrupted save left.
    process.kill();
    ASSERT_TRUE(process.waitForFinished(10000));
    const QString stray = home.path() + "/Velkaro/.history.json.Ab12Z9.partial";
    {
        QFile file(stray);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[{\"id\":");
    }
    output.clear();
    launch();
    ASSERT_TRUE(readUntil("Données : ", 60000)) << diagnostics();
    EXPECT_FALSE(QFile::exists(stray)) << "the half-written temporary file is removed at start";
}

class UnreachableAIDemoTest : public DemoProgramTest {
protected:
    void SetUp() override
    {
        // A port nobody listens on: the AI check fails at once.
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        launch(QStringLiteral("ws://127.0.0.1:%1/v1/realtime").arg(port));
    }
};

TEST_F(UnreachableAIDemoTest, AFailedSetupEndsWithTheFrenchMessageAndANonZeroCode)
{
    ASSERT_TRUE(finish(120000)) << diagnostics();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(process.exitCode(), 0) << diagnostics();
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains("Échec : ")) << errors.toStdString();
    EXPECT_FALSE(output.contains("Démonstration terminée.")) << diagnostics();
    EXPECT_TRUE(history().isEmpty()) << "no call was made";
}

TEST(DemoProgramHostSound, WithoutASoundServerItSaysSoInFrenchAndExitsWithOne)
{
    QTemporaryDir home;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORLEA_DATA_HOME", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("PULSE_SERVER", "unix:" + home.path() + "/no-server");
    process.setProcessEnvironment(environment);
    process.start(buildDir() + "/bin/orlea", {"--demo", "--call-once", "--host-sound"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains("aucun serveur de son (PulseAudio ou PipeWire) ne répond"))
        << errors.toStdString();
}
