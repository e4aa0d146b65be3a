#include "app/records/HistoryStore.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/records/HistoryCodec.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

namespace {

struct FileStamp {
    ino_t inode = 0;
    qint64 modifiedNs = -1;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void overwrite(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

CallRecord callRecord(const QString& caller, QList<TranscriptLine> lines = {})
{
    CallRecord record;
    record.id = QUuid::createUuid();
    record.date = 818431503.25;
    record.caller = caller;
    record.kind = QStringLiteral("Appel");
    record.transcript = std::move(lines);
    return record;
}

struct StoreFixture : ::testing::Test {
    TestDataHome home;
    ManualClock clock;
    QStringList errors;
    HistoryStore store{clock, [this](const QString& message) { errors.append(message); }};
};

using HistoryStoreTest = StoreFixture;

} // namespace

TEST_F(HistoryStoreTest, FirstSaveCreatesPrivateFolderFilesAndTranscripts)
{
    store.load();
    EXPECT_TRUE(errors.isEmpty()) << "a missing history file is not an error";
    EXPECT_TRUE(store.records().isEmpty());
    EXPECT_FALSE(QFile::exists(AppPaths::historyFile())) << "loading alone writes nothing";

    const CallRecord record = callRecord(
        QStringLiteral("Jean Martin 06 12 34 56 78"),
        {TranscriptLine::make("Interlocuteur", "Fuite d’eau"), TranscriptLine::make("Orlea", "Je note.")});
    store.insert(record);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(posixMode(AppPaths::dataFolder()), 0700);
    EXPECT_EQ(posixMode(AppPaths::historyFile()), 0600);
    EXPECT_EQ(posixMode(AppPaths::transcriptsFolder()), 0700);
    const QString transcript = TranscriptFiles::filePath(record.id);
    EXPECT_TRUE(transcript.endsWith("/Transcriptions/Appel-" + uuidText(record.id) + ".txt"));
    EXPECT_EQ(posixMode(transcript), 0600);
    EXPECT_EQ(QString::fromUtf8(contents(transcript)), record.transcriptDocument());
    EXPECT_EQ(contents(AppPaths::historyFile()), HistoryCodec::encode({record}));

    // A second store reads back the same list in the same order, duplicates included.
    store.insert(record);
    HistoryStore reader(clock, [this](const QString& message) { errors.append(message); });
    reader.load();
    ASSERT_EQ(reader.records().size(), 2);
    EXPECT_EQ(reader.records()[0], record);
    EXPECT_EQ(reader.records()[1], record);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(HistoryStoreTest, EmptyArrayLoadsSilently)
{
    QDir().mkpath(AppPaths::dataFolder());
    overwrite(AppPaths::historyFile(), "[]");
    store.load();
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_FALSE(store.historyReadFailed());
    EXPECT_TRUE(store.records().isEmpty());
}

TEST_F(HistoryStoreTest, UndecodableHistoryIsNeverOverwritten)
{
    QDir().mkpath(AppPaths::dataFolder());
    // A record without "note": the whole file is unreadable.
    const QByteArray broken = R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","date":0,"caller":"x",)"
                              R"("kind":"Appel","transcript":[]}])";
    overwrite(AppPaths::historyFile(), broken);
    const FileStamp before = stampOf(AppPaths::historyFile());
    store.load();
    EXPECT_TRUE(store.historyReadFailed());
    EXPECT_TRUE(store.records().isEmpty());
    ASSERT_EQ(errors, QStringList{"Historique illisible. Le fichier existant n’a pas été modifié."});

    const QString disabled =
        "L’historique existant est illisible. Exportez les nouvelles conversations avant "
        "de quitter ; le fichier existant est conservé.";
    const CallRecord record = callRecord("Essai");
    store.insert(record);
    const QUuid demo = store.addDemo();
    EXPECT_TRUE(store.updateNote(demo, "Note"));
    EXPECT_EQ(errors, (QStringList{errors[0], disabled, disabled, disabled}))
        << "every later save repeats it";
    EXPECT_EQ(store.records().size(), 2) << "new conversations stay in memory";
    EXPECT_EQ(contents(AppPaths::historyFile()), broken);
    EXPECT_EQ(stampOf(AppPaths::historyFile()), before);
    EXPECT_FALSE(QFile::exists(AppPaths::transcriptsFolder())) << "no transcript file is written by saves";

    // One transcript can still be prepared on request.
    const QString path = store.writeTranscriptFile(record);
    EXPECT_EQ(QString::fromUtf8(contents(path)), record.transcriptDocument());
    EXPECT_EQ(contents(AppPaths::historyFile()), broken);
}

TEST_F(HistoryStoreTest, HistoryThatExistsButCannotBeReadIsProtected)
{
    // Overwriting a history that could not be read would lose it; it is kept like an undecodable one.
    QDir().mkpath(AppPaths::historyFile());
    QFile marker(AppPaths::historyFile() + "/garde");
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    store.load();
    EXPECT_TRUE(store.historyReadFailed());
    EXPECT_EQ(errors, QStringList{"Historique illisible. Le fichier existant n’a pas été modifié."});
    store.insert(callRecord("Client"));
    EXPECT_TRUE(QFile::exists(AppPaths::historyFile() + "/garde"));
}

TEST_F(HistoryStoreTest, UnchangedTranscriptFilesAreLeftAloneButKeptPrivate)
{
    const CallRecord first = callRecord("Premier", {TranscriptLine::make("Orlea", "Bonjour")});
    const CallRecord second = callRecord("Second", {TranscriptLine::make("Orlea", "Au revoir")});
    store.insert(first);
    store.insert(second);
    const QString firstPath = TranscriptFiles::filePath(first.id);
    const QString secondPath = TranscriptFiles::filePath(second.id);
    const FileStamp firstStamp = stampOf(firstPath);
    const FileStamp secondStamp = stampOf(secondPath);

    ASSERT_TRUE(store.saveHistory());
    EXPECT_EQ(stampOf(firstPath), firstStamp) << "an unchanged transcript file was rewritten";
    EXPECT_EQ(stampOf(secondPath), secondStamp);

    ::chmod(QFile::encodeName(firstPath).constData(), 0644);
    ASSERT_TRUE(store.saveHistory());
    EXPECT_EQ(posixMode(firstPath), 0600) << "mode is set back to 0600 even when the write is skipped";
    EXPECT_EQ(stampOf(firstPath), firstStamp);

    // A fresh store knows nothing of the files: it compares bytes and still leaves them alone.
    HistoryStore restarted(clock, {});
    restarted.load();
    ::chmod(QFile::encodeName(secondPath).constData(), 0666);
    ASSERT_TRUE(restarted.saveHistory());
    EXPECT_EQ(stampOf(firstPath), firstStamp);
    EXPECT_EQ(stampOf(secondPath), secondStamp);
    EXPECT_EQ(posixMode(secondPath), 0600);

    // A note edit rewrites that record's file only.
    ASSERT_TRUE(store.updateNote(first.id, "Rappeler demain"));
    EXPECT_NE(stampOf(firstPath), firstStamp);
    EXPECT_TRUE(contents(firstPath).endsWith("NOTE DU GESTIONNAIRE\nRappeler demain"));
    EXPECT_EQ(stampOf(secondPath), secondStamp);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(HistoryStoreTest, TranscriptEditedOnDiskIsRestoredEvenWithSameSizeAndDate)
{
    const CallRecord record = callRecord("Premier", {TranscriptLine::make("Orlea", "Bonjour")});
    store.insert(record);
    const QString path = TranscriptFiles::filePath(record.id);
    const QByteArray good = contents(path);
    struct stat before {};
    ::stat(QFile::encodeName(path).constData(), &before);

    // Same length, same modification time: only the content (and the change time) differ.
    QByteArray tampered = good;
    tampered[tampered.size() - 1] = 'X';
    overwrite(path, tampered);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);

    ASSERT_TRUE(store.saveHistory());
    EXPECT_EQ(contents(path), good) << "a file changed behind our back must be compared and rewritten";

    QFile::remove(path);
    ASSERT_TRUE(store.saveHistory());
    EXPECT_EQ(contents(path), good) << "a deleted transcript file is written again";

    QDir(AppPaths::transcriptsFolder()).removeRecursively();
    ASSERT_TRUE(store.saveHistory());
    EXPECT_EQ(contents(path), good) << "a deleted transcripts folder is made again with its files";
    EXPECT_EQ(posixMode(AppPaths::transcriptsFolder()), 0700);

    // Restarted stores check their files ahead of the first save: a file edited before or after that
    // check is still rewritten.
    for (const bool editedFirst : {true, false}) {
        HistoryStore restarted(clock, {});
        restarted.load();
        auto edit = [&] {
            ::stat(QFile::encodeName(path).constData(), &before);
            overwrite(path, tampered);
            const timespec sameTimes[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), sameTimes, 0);
        };
        if (editedFirst)
            edit();
        EXPECT_FALSE(restarted.prepareSave(10)) << "one record, nothing left to check";
        if (!editedFirst)
            edit();
        ASSERT_TRUE(restarted.saveHistory());
        EXPECT_EQ(contents(path), good)
            << (editedFirst ? "edited before the check" : "edited after the check");
    }
}

TEST_F(HistoryStoreTest, UpdatesFollowTheirRules)
{
    const CallRecord record = callRecord("Client");
    store.insert(record);
    const QString history = AppPaths::historyFile();

    ASSERT_TRUE(store.updateDossier(record.id, "  SCI  Lilas \t\n"));
    EXPECT_EQ(store.records()[0].dossier, QString("SCI  Lilas")) << "ends trimmed, inner spaces kept";
    EXPECT_TRUE(contents(history).contains(R"("dossier":"SCI  Lilas")"));

    ASSERT_TRUE(store.updateDossier(record.id, " \n "));
    EXPECT_FALSE(store.records()[0].dossier.has_value()) << "a blank name takes the call out of its dossier";
    EXPECT_FALSE(contents(history).contains("dossier")) << "the key disappears from the file";

    FileStamp stamp = stampOf(history);
    EXPECT_FALSE(store.updateFollowUpStatus(record.id, "Termine"));
    EXPECT_FALSE(store.updateFollowUpStatus(record.id, "terminé"));
    EXPECT_FALSE(store.updateFollowUpStatus(record.id, " Terminé"));
    EXPECT_FALSE(store.updateFollowUpStatus(QUuid::createUuid(), "Terminé"));
    EXPECT_FALSE(store.updateNote(QUuid::createUuid(), "perdu"));
    EXPECT_FALSE(store.updateDossier(QUuid::createUuid(), "perdu"));
    EXPECT_EQ(stampOf(history), stamp) << "refused updates must not write the file";
    EXPECT_FALSE(store.records()[0].followUpStatus.has_value());

    ASSERT_TRUE(store.updateFollowUpStatus(record.id, "Terminé"));
    EXPECT_EQ(store.records()[0].statusLabel(), "Terminé");
    EXPECT_NE(stampOf(history), stamp);

    ASSERT_TRUE(store.updateNote(record.id, "  "));
    EXPECT_EQ(store.records()[0].note, "  ") << "notes are stored verbatim";

    HistoryStore reader(clock, {});
    reader.load();
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0], store.records()[0]);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(HistoryStoreTest, DemoRecordsAreAddedOnTop)
{
    store.insert(callRecord("Ancien"));
    const QUuid first = store.addDemo();
    clock.advance(60);
    const QUuid second = store.addDemo();
    ASSERT_EQ(store.records().size(), 3);
    EXPECT_EQ(store.records()[0].id, second) << "the newest demo comes first";
    EXPECT_EQ(store.records()[1].id, first);
    EXPECT_NE(first, second);

    const CallRecord& demo = store.records()[0];
    EXPECT_EQ(demo.date, secondsSinceReferenceDate(clock.now()));
    EXPECT_EQ(demo.kind, "Démonstration");
    EXPECT_TRUE(demo.caller.endsWith(" · exemple fictif")) << demo.caller.toStdString();
    EXPECT_EQ(demo.phoneLabel(), "Non communiqué");
    EXPECT_EQ(demo.note,
              "Exemple : fuite sous évier, robinet fermé. Logement et identité à confirmer. Photos "
              "disponibles, non reçues. Rappel et intervention à organiser par le gestionnaire.");
    EXPECT_FALSE(demo.dossier || demo.recordingFile || demo.recordingError || demo.usage ||
                 demo.followUpStatus);
    const QStringList expected{
        "Orlea|Bonjour, vous êtes bien au service de gestion locative. Comment puis-je vous aider ?",
        "Interlocuteur|Il y a une fuite sous mon évier depuis ce matin, au 12 rue des Lilas, appartement 4.",
        "Orlea|Est-ce que l’eau coule encore et pouvez-vous fermer le robinet d’arrêt sans risque ?",
        "Interlocuteur|J’ai fermé le robinet. Ça ne coule plus. J’ai pris des photos.",
        "Orlea|Je note la fuite et le robinet fermé. Le gestionnaire prendra connaissance de votre message "
        "pour "
        "organiser la suite."};
    QStringList lines;
    QSet<QUuid> ids;
    for (const TranscriptLine& line : demo.transcript) {
        lines.append(line.speaker + '|' + line.text);
        ids.insert(line.id);
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(ids.size(), 5) << "each line has its own id";
    EXPECT_TRUE(QFile::exists(TranscriptFiles::filePath(second)));
}

TEST_F(HistoryStoreTest, FailuresAreReportedWithTheirPrefix)
{
    // The data folder's place is taken by a file: the history cannot be written.
    QDir().mkpath(home.path());
    overwrite(AppPaths::dataFolder(), "pas un dossier");
    store.insert(callRecord("Client"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Impossible de sauvegarder l’historique : ")) << errors[0].toStdString();
    EXPECT_GT(errors[0].size(), QString("Impossible de sauvegarder l’historique : ").size());
    EXPECT_EQ(store.records().size(), 1) << "the record stays in memory";

    // A record that cannot be represented fails the save and leaves the previous file whole.
    QFile::remove(AppPaths::dataFolder());
    ASSERT_TRUE(store.saveHistory());
    const QByteArray previous = contents(AppPaths::historyFile());
    CallRecord broken = callRecord("Date impossible");
    broken.date = std::numeric_limits<double>::quiet_NaN();
    errors.clear();
    store.insert(broken);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Impossible de sauvegarder l’historique : ")) << errors[0].toStdString();
    EXPECT_EQ(contents(AppPaths::historyFile()), previous);
    EXPECT_FALSE(store.records()[0].transcriptDocument().isEmpty());
}
