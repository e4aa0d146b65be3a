#include "app/records/TranscriptExport.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/records/HistoryStore.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

struct FakeClipboard : Clipboard {
    bool accepts = true;
    QString text;
    bool setText(const QString& newText) override
    {
        if (accepts)
            text = newText;
        return accepts;
    }
};

// Answers the next save panel as the test scripted it, and remembers what it was asked.
struct ScriptedSavePanel : SavePanel {
    std::optional<QString> answer;
    int asked = 0;
    QString proposedName;
    std::optional<ExportType> allowedType;
    std::optional<QString> askSaveURL(const QString& proposed, ExportType type) override
    {
        ++asked;
        proposedName = proposed;
        allowedType = type;
        return answer;
    }
};

struct FakeRevealer : FileRevealer {
    QStringList revealed;
    void reveal(const QString& path) override { revealed.append(path); }
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void overwrite(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

CallRecord record()
{
    CallRecord r;
    r.id = QUuid::fromString(QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7"));
    r.date = 818431503;
    r.caller = QStringLiteral("Jean Martin");
    r.kind = QStringLiteral("Essai");
    r.transcript = {TranscriptLine::make("Orlea", "Bonjour")};
    return r;
}

} // namespace

TEST(TranscriptExport, CopiesTheDocument)
{
    FakeClipboard clipboard;
    const CallRecord r = record();
    EXPECT_EQ(TranscriptExport::copyTranscript(r, clipboard), "Transcription de l’appel 7C9E6679 copiée.");
    EXPECT_EQ(clipboard.text, r.transcriptDocument());
    clipboard.accepts = false;
    EXPECT_EQ(TranscriptExport::copyTranscript(r, clipboard), "La copie n’a pas abouti. Réessayez.");
}

TEST(TranscriptExport, ExportsWhereTheUserChooses)
{
    TestDataHome home;
    ScriptedSavePanel panel;
    const CallRecord r = record();

    EXPECT_EQ(TranscriptExport::exportTranscript(r, panel), std::nullopt) << "cancelling does nothing";
    EXPECT_EQ(panel.proposedName, "Conversation-7C9E6679.txt");
    EXPECT_EQ(panel.allowedType, ExportType::PlainText);
    EXPECT_TRUE(QDir(home.path()).isEmpty());

    panel.answer = home.path() + "/Bureau-export.txt";
    overwrite(*panel.answer,
              "ancien contenu plus long que le nouveau document, qui doit disparaître en entier");
    EXPECT_EQ(TranscriptExport::exportTranscript(r, panel), std::nullopt);
    EXPECT_EQ(QString::fromUtf8(contents(*panel.answer)), r.transcriptDocument());

    panel.answer = home.path() + "/dossier-absent/export.txt";
    const auto error = TranscriptExport::exportTranscript(r, panel);
    ASSERT_TRUE(error.has_value()) << "a write failure is reported";
    EXPECT_FALSE(error->startsWith("Impossible de préparer")) << "the description alone, no prefix";
}

TEST(TranscriptExport, RevealWritesThePrivateFileEvenWhenSavingIsDisabled)
{
    TestDataHome home;
    ManualClock clock;
    QStringList errors;
    HistoryStore store(clock, [&](const QString& e) { errors.append(e); });
    QDir().mkpath(AppPaths::dataFolder());
    overwrite(AppPaths::historyFile(), "{pas un tableau}");
    store.load();
    ASSERT_TRUE(store.historyReadFailed());

    FakeRevealer revealer;
    const CallRecord r = record();
    EXPECT_EQ(TranscriptExport::revealTranscript(r, store, revealer), std::nullopt);
    ASSERT_EQ(revealer.revealed.size(), 1);
    EXPECT_EQ(revealer.revealed[0], TranscriptFiles::filePath(r.id));
    EXPECT_EQ(posixMode(revealer.revealed[0]), 0600);
    EXPECT_EQ(QString::fromUtf8(contents(revealer.revealed[0])), r.transcriptDocument());
    EXPECT_EQ(contents(AppPaths::historyFile()), QByteArray("{pas un tableau}"));

    // The transcripts folder's place is taken: nothing is shown, the failure is explained.
    QDir(AppPaths::transcriptsFolder()).removeRecursively();
    overwrite(AppPaths::transcriptsFolder(), "x");
    const auto error = TranscriptExport::revealTranscript(r, store, revealer);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->startsWith("Impossible de préparer la transcription : ")) << error->toStdString();
    EXPECT_EQ(revealer.revealed.size(), 1);
}

TEST(TranscriptExport, RecordingsResolveOnlyBareNamesOfExistingFiles)
{
    TestDataHome home;
    EXPECT_EQ(TranscriptExport::recordingsFolder(), AppPaths::dataFolder() + "/Recordings");
    QDir().mkpath(AppPaths::recordingsFolder());
    overwrite(AppPaths::recordingsFolder() + "/Appel-1.wav", "RIFF....WAVE");
    overwrite(AppPaths::dataFolder() + "/x.wav", "secret");

    CallRecord r = record();
    EXPECT_EQ(TranscriptExport::recordingURL(r), std::nullopt) << "no recording";
    r.recordingFile = "Appel-1.wav";
    EXPECT_EQ(TranscriptExport::recordingURL(r), AppPaths::recordingsFolder() + "/Appel-1.wav");
    for (const char* unsafe : {"../x.wav", "sub/Appel-1.wav", "Appel-1.wav/", "..", ".", ""}) {
        r.recordingFile = QString::fromUtf8(unsafe);
        EXPECT_EQ(TranscriptExport::recordingURL(r), std::nullopt) << "'" << unsafe << "' must not resolve";
    }
    r.recordingFile = "Absent.wav";
    EXPECT_EQ(TranscriptExport::recordingURL(r), std::nullopt);
}

TEST(TranscriptExport, ExportsRecordings)
{
    TestDataHome home;
    QDir().mkpath(AppPaths::recordingsFolder());
    const QByteArray wav("RIFF\x24\x00\x00\x00WAVEfmt ", 16);
    overwrite(AppPaths::recordingsFolder() + "/Appel-7C9E6679.wav", wav);
    ScriptedSavePanel panel;
    CallRecord r = record();
    r.recordingFile = "../Appel-7C9E6679.wav";
    EXPECT_EQ(TranscriptExport::exportRecording(r, panel),
              QString("L’enregistrement audio est introuvable."));
    EXPECT_EQ(panel.asked, 0) << "no panel for a recording that cannot be found";

    r.recordingFile = "Appel-7C9E6679.wav";
    EXPECT_EQ(TranscriptExport::exportRecording(r, panel), std::nullopt) << "cancel";
    EXPECT_EQ(panel.proposedName, "Appel-7C9E6679.wav") << "the recording's own name is proposed";
    EXPECT_EQ(panel.allowedType, ExportType::WAVAudio);

    panel.answer = home.path() + "/copie.wav";
    EXPECT_EQ(TranscriptExport::exportRecording(r, panel), std::nullopt);
    EXPECT_EQ(contents(*panel.answer), wav);

    panel.answer = home.path() + "/absent/copie.wav";
    const auto error = TranscriptExport::exportRecording(r, panel);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->startsWith("Export audio impossible : ")) << error->toStdString();

    QFile::remove(AppPaths::recordingsFolder() + "/Appel-7C9E6679.wav");
    EXPECT_EQ(TranscriptExport::exportRecording(r, panel),
              QString("L’enregistrement audio est introuvable."));
}
