// What a user keeps when a save meets a crash, a full or broken disk, a folder out of place, or a
// second copy of the program on the same data.

#include "app/audio/CallAudioRecorder.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/FileSystem.h"
#include "app/common/InstanceLock.h"
#include "app/common/PrivateFile.h"
#include "app/common/UserDefaults.h"
#include "app/records/HistoryCodec.h"
#include "app/records/HistoryStore.h"
#include "app/records/KeyStore.h"
#include "app/records/TranscriptExport.h"
#include "app/records/TranscriptFiles.h"
#include "tests/support/PrivateMounts.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The real file system, with a log of the calls a save makes (named by file, not descriptor) and
// failures on demand. The recorder saves from its own queue: the log is guarded.
class WatchedFileSystem final : public FileSystem {
public:
    int failSyncWith = 0;
    int failWriteWith = 0;

    QStringList operations() const
    {
        std::lock_guard lock(m_mutex);
        return m_operations;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_operations.clear();
    }

    ssize_t write(int fd, const void* data, size_t size) override
    {
        note("write " + nameOf(fd));
        return failWriteWith ? failing(failWriteWith) : FileSystem::write(fd, data, size);
    }
    int syncFile(int fd) override
    {
        note("sync " + nameOf(fd));
        return failSyncWith ? failing(failSyncWith) : FileSystem::syncFile(fd);
    }
    int close(int fd) override
    {
        note("close " + nameOf(fd));
        return FileSystem::close(fd);
    }
    int rename(const char* from, const char* to) override
    {
        note("rename " + QFileInfo(QFile::decodeName(from)).fileName() + " → " +
             QFileInfo(QFile::decodeName(to)).fileName());
        return FileSystem::rename(from, to);
    }
    int syncFolder(const char* path) override
    {
        note("sync folder " + QFileInfo(QFile::decodeName(path)).fileName());
        return FileSystem::syncFolder(path);
    }

private:
    static int failing(int err)
    {
        errno = err;
        return -1;
    }
    static QString nameOf(int fd)
    {
        return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
    }
    void note(const QString& operation)
    {
        std::lock_guard lock(m_mutex);
        m_operations << operation;
    }
    mutable std::mutex m_mutex;
    QStringList m_operations;
};

CallRecord callRecord(const QString& caller, int lines = 3)
{
    CallRecord record;
    record.id = QUuid::createUuid();
    record.date = 818431503.25;
    record.caller = caller;
    record.kind = QStringLiteral("Appel");
    for (int i = 0; i < lines; ++i)
        record.transcript << TranscriptLine::make(
            i % 2 ? QStringLiteral("Interlocuteur") : QStringLiteral("Orlea"),
            QStringLiteral("Ligne %1 : ").arg(i) + QString(120, QChar('x')));
    return record;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Files a save cut short would leave: hidden names in the program's folders.
QStringList leftovers()
{
    QStringList found;
    for (const QString& folder : {AppPaths::dataFolder(), AppPaths::transcriptsFolder()})
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            if (PrivateFile::isInterruptedSave(name))
                found << name;
    return found;
}

// A forked child that is killed, whatever happens to the test.
struct Child {
    pid_t pid = -1;
    ~Child() { stop(); }
    int stop()
    {
        int status = 0;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid = -1;
        return status;
    }
};

// Tells the parent the child is ready.
void signalReady(int fd, char byte)
{
    if (::write(fd, &byte, 1) != 1)
        ::_exit(3);
}

struct StoreFixture : ::testing::Test {
    TestDataHome home;
    ManualClock clock;
    QStringList errors;
    HistoryStore store{clock, [this](const QString& message) { errors.append(message); }};
};

using SaveFault = StoreFixture;

} // namespace

TEST_F(SaveFault, EachFileIsFlushedBeforeItsRenameAndItsFolderAfter)
{
    WatchedFileSystem fs;
    const FileSystem::Override watching(fs);
    const CallRecord record = callRecord("06 12 34 56 78");
    struct SilentPanel final : SavePanel {
        QString path;
        std::optional<QString> askSaveURL(const QString&, ExportType) override { return path; }
    } panel;
    panel.path = home.path() + "/Bureau/Conversation.txt";
    QDir().mkpath(home.path() + "/Bureau");
    const QString recording = AppPaths::recordingsFolder() + "/Appel-1.wav";

    struct Case {
        const char* what;
        std::function<void()> save;
        QString file;
        QString folder;
    };
    const Case cases[] = {
        {"history", [&] { store.insert(record); }, "history.json", "Velkaro"},
        {"transcript", [&] { store.updateNote(record.id, "rappeler"); },
         QFileInfo(TranscriptFiles::filePath(record.id)).fileName(), "Transcriptions"},
        {"key", [] { APIKeyStore::save("sk-test"); }, "openai.key", "Credentials"},
        {"export", [&] { TranscriptExport::exportTranscript(record, panel); }, "Conversation.txt", "Bureau"},
        {"preferences",
         [] {
             UserDefaults defaults(AppPaths::preferencesFile());
             defaults.setString(SettingsKey::voice, "marin");
         },
         "fr.velkaro.orlea.json", "Preferences"},
        {"recording",
         [&] {
             ManualClock recorderClock;
             CallAudioRecorder recorder(recording, recorderClock);
             recorderClock.advance(0.5);
             recorder.append(QByteArray(4800, '\x10'), 0);
             recorder.finish({});
             recorder.waitUntilIdle();
         },
         "Appel-1.wav", "Recordings"},
    };
    for (const Case& c : cases) {
        fs.clear();
        c.save();
        const QStringList all = fs.operations();
        QStringList steps; // this file's steps, without their names
        int renamed = -1;
        for (int i = 0; i < all.size(); ++i) {
            if (!all[i].contains(c.file))
                continue;
            steps << all[i].section(' ', 0, 0);
            if (all[i].startsWith("rename ") && all[i].endsWith("→ " + c.file))
                renamed = i;
        }
        ASSERT_GE(renamed, 0) << c.what << " was not renamed into place: " << all.join(" | ").toStdString();
        EXPECT_TRUE(steps.join(' ').endsWith("sync close rename"))
            << c.what << ": " << steps.join(' ').toStdString();
        EXPECT_LT(steps.lastIndexOf("write"), steps.indexOf("sync")) << c.what << ": written after its flush";
        ASSERT_LT(renamed + 1, all.size()) << c.what;
        EXPECT_EQ(all[renamed + 1], "sync folder " + c.folder) << c.what;
    }

    // A flush that fails (a failing drive) changes nothing and says so.
    const QByteArray before = contents(AppPaths::historyFile());
    fs.failSyncWith = EIO;
    errors.clear();
    store.updateNote(record.id, "perdue");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(HistoryStore::kSaveFailedPrefix +
                                     "Impossible d’enregistrer le fichier « history.json »"))
        << errors[0].toStdString();
    EXPECT_EQ(contents(AppPaths::historyFile()), before) << "the previous history is intact";
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(SaveFault, AProcessKilledAnywhereInASaveLeavesTheOldOrTheNewHistory)
{
    // One call with a long transcript, so that a save takes long enough to be cut in any of its steps.
    CallRecord base = callRecord("06 12 34 56 78", 400);
    store.insert(base);
    ASSERT_TRUE(errors.isEmpty());
    // Kills land anywhere within the first few saves of each child.
    QElapsedTimer timer;
    timer.start();
    store.saveHistory();
    const auto saveMicroseconds = std::max<qint64>(timer.nsecsElapsed() / 1000, 200);
    std::uniform_int_distribution<qint64> delay(0, 4 * saveMicroseconds);
    std::mt19937 random(20261208);
    int version = 0; // the note of the newest complete save seen so far
    int cutMidSave = 0;
    for (int round = 0; round < 200; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        Child child;
        child.pid = ::fork();
        ASSERT_GE(child.pid, 0);
        if (child.pid == 0) {
            // Saves new versions of the note until it is killed.
            ::close(ready[0]);
            ManualClock childClock;
            HistoryStore saver(childClock, {});
            saver.load();
            if (saver.records().isEmpty())
                ::_exit(2);
            const int first = saver.records().first().note.toInt() + 1;
            signalReady(ready[1], 'r');
            for (int n = first;; ++n)
                saver.updateNote(base.id, QString::number(n));
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the saving child did not start";
        ::close(ready[0]);
        ::usleep(useconds_t(delay(random)));
        const int status = child.stop();
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended on its own";

        if (!leftovers().isEmpty())
            ++cutMidSave;
        // The next start.
        PrivateFile::removeInterruptedSaves();
        EXPECT_TRUE(leftovers().isEmpty())
            << "round " << round << ": " << leftovers().join(", ").toStdString();
        const std::optional<QList<CallRecord>> decoded =
            HistoryCodec::decode(contents(AppPaths::historyFile()));
        ASSERT_TRUE(decoded.has_value()) << "round " << round << ": the history no longer decodes";
        ASSERT_EQ(decoded->size(), 1);
        CallRecord expected = base;
        expected.note = decoded->first().note;
        EXPECT_EQ(HistoryCodec::encode(*decoded), HistoryCodec::encode({expected})) << "round " << round;
        const int seen = decoded->first().note.toInt();
        ASSERT_GE(seen, version) << "round " << round << ": an older version came back";
        version = seen;
    }
    EXPECT_GT(cutMidSave, 0) << "no kill landed inside a save";
    EXPECT_GT(version, 0) << "no child ever finished a save";
    HistoryStore restarted(clock, [this](const QString& message) { errors.append(message); });
    restarted.load();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(" | ").toStdString();
}

TEST_F(SaveFault, AFullDiskKeepsThePreviousHistoryAndTheNextSaveSucceedsOnceThereIsRoom)
{
    // A data folder on a small file system of its own; where mounts are not allowed, the disk says
    // "full" through the file-system seam instead.
    ASSERT_TRUE(QDir().mkpath(AppPaths::dataFolder()));
    QString why;
    const bool mounted = PrivateMounts::mountTmpfs(AppPaths::dataFolder(), 256 * 1024, &why);
    WatchedFileSystem fs;
    std::optional<FileSystem::Override> seam;
    if (!mounted)
        seam.emplace(fs);

    CallRecord call = callRecord("06 12 34 56 78");
    store.insert(call);
    ASSERT_TRUE(errors.isEmpty()) << errors.join(" | ").toStdString();
    const QByteArray saved = contents(AppPaths::historyFile());

    const QString filler = AppPaths::dataFolder() + "/filler";
    if (mounted) {
        QFile file(filler);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (file.write(block) == block.size() && file.flush()) {
        }
    } else {
        fs.failWriteWith = ENOSPC;
    }
    store.updateNote(call.id, QString(8000, QChar('n')));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], HistoryStore::kSaveFailedPrefix +
                             "Espace disque insuffisant pour enregistrer le fichier « history.json ».");
    EXPECT_EQ(contents(AppPaths::historyFile()), saved) << "the previous history is intact";
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();

    // Room again: the next save writes everything that waited in memory.
    if (mounted) {
        ASSERT_TRUE(QFile::remove(filler));
    }
    fs.failWriteWith = 0;
    errors.clear();
    ASSERT_TRUE(store.saveHistory()) << errors.join(" | ").toStdString();
    const auto decoded = HistoryCodec::decode(contents(AppPaths::historyFile()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->first().note.size(), 8000);
    if (mounted)
        PrivateMounts::unmount(AppPaths::dataFolder());
}

TEST_F(SaveFault, ATranscriptsFolderReplacedByAFileKeepsTheHistoryAndRecoversOnceMovedAway)
{
    const CallRecord first = callRecord("Client");
    store.insert(first);
    ASSERT_TRUE(errors.isEmpty());
    ASSERT_TRUE(QDir(AppPaths::transcriptsFolder()).removeRecursively());
    QFile blocker(AppPaths::transcriptsFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("pas un dossier");
    blocker.close();

    const CallRecord second = callRecord("Autre client");
    store.insert(second);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], HistoryStore::kTranscriptFailedPrefix +
                             "« Transcriptions » existe déjà et n’est pas un dossier.");
    EXPECT_EQ(contents(AppPaths::historyFile()), HistoryCodec::encode(store.records()))
        << "the history itself is saved";

    // Once the file is moved away, the next save writes every transcript again.
    ASSERT_TRUE(QFile::rename(AppPaths::transcriptsFolder(), home.path() + "/Transcriptions.txt"));
    errors.clear();
    ASSERT_TRUE(store.saveHistory()) << errors.join(" | ").toStdString();
    for (const CallRecord& record : {first, second})
        EXPECT_EQ(contents(TranscriptFiles::filePath(record.id)), record.transcriptDocument().toUtf8());
}

TEST(InstanceFault, TwoProcessesOnOneDataFolderAndALockLeftByAKilledOne)
{
    TestDataHome home;
    const QString folder = AppPaths::dataFolder();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    Child child;
    child.pid = ::fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        ::close(ready[0]);
        InstanceLock::Outcome held = InstanceLock::acquire(folder);
        signalReady(ready[1], held.lock ? 'y' : 'n');
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(answer, 'y') << "the first copy takes the folder";

    const InstanceLock::Outcome second = InstanceLock::acquire(folder);
    EXPECT_FALSE(second.lock.has_value()) << "a second copy must not share the data folder";
    EXPECT_EQ(second.refusal, QStringLiteral("Orlea est déjà ouvert avec le dossier de données « %1 » "
                                             "(processus %2). Un seul Orlea peut l’utiliser à la fois : "
                                             "fermez l’autre, puis relancez.")
                                  .arg(folder)
                                  .arg(child.pid));

    // Killed without a chance to clean up: its lock goes with it.
    child.stop();
    InstanceLock::Outcome next = InstanceLock::acquire(folder);
    EXPECT_TRUE(next.lock.has_value()) << next.refusal.toStdString();
    EXPECT_EQ(posixMode(InstanceLock::lockFile(folder)), 0600);
}
