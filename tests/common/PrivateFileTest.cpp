#include "app/common/PrivateFile.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/FileSystem.h"
#include "tests/support/PrivateMounts.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {
struct UmaskGuard {
    explicit UmaskGuard(mode_t mask) : previous(::umask(mask)) {}
    ~UmaskGuard() { ::umask(previous); }
    mode_t previous;
};

ino_t inode(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}
} // namespace

TEST(PrivateFile, WritesPrivatelyAndAtomicallyWhateverTheUmask)
{
    TestDataHome home;
    {
        UmaskGuard closed(0277); // mkdir alone would give 0500: a folder nothing can be saved into
        PrivateFile::ensureFolder(AppPaths::transcriptsFolder());
        EXPECT_EQ(posixMode(AppPaths::dataFolder()), 0700);
        EXPECT_EQ(posixMode(AppPaths::transcriptsFolder()), 0700);
    }
    UmaskGuard open(0); // a permissive umask must not make the file readable by others
    const QString folder = AppPaths::dataFolder() + "/a/b";
    PrivateFile::ensureFolder(folder);
    EXPECT_EQ(posixMode(folder), 0700);

    const QString file = folder + "/history.json";
    PrivateFile::write(file, "first");
    EXPECT_EQ(posixMode(file), 0600);
    const ino_t before = inode(file);

    PrivateFile::write(file, "second");
    EXPECT_EQ(PrivateFile::read(file).value(), QByteArray("second"));
    EXPECT_EQ(posixMode(file), 0600);
    EXPECT_NE(inode(file), before) << "the new content must arrive by rename, not by rewriting in place";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file left";
}

TEST(PrivateFile, AFailedRenameLeavesNoTemporaryFile)
{
    TestDataHome home;
    const QString folder = AppPaths::dataFolder();
    PrivateFile::ensureFolder(folder + "/history.json"); // a folder where the file should go
    EXPECT_THROW(PrivateFile::write(folder + "/history.json", "x"), AppError);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(PrivateFile, FailureKeepsThePreviousFileAndSpeaksFrench)
{
    // A data folder on a read-only mount, which root cannot write either. Where this process may not
    // mount, the file system answers as a read-only volume through the seam.
    struct ReadOnlyVolume final : FileSystem {
        int createTemporary(QByteArray&) override
        {
            errno = EROFS;
            return -1;
        }
    } readOnly;
    TestDataHome home;
    const QString folder = AppPaths::dataFolder();
    PrivateFile::ensureFolder(folder);
    PrivateFile::write(folder + "/history.json", "kept");
    QString why;
    const bool mounted = PrivateMounts::bindReadOnly(folder, &why);
    std::optional<FileSystem::Override> seam;
    if (!mounted)
        seam.emplace(readOnly);
    try {
        PrivateFile::write(folder + "/history.json", "lost");
        ADD_FAILURE() << "writing into a read-only folder must throw";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(),
                  "Le volume est en lecture seule : impossible d’enregistrer le fichier « history.json ».");
    }
    if (mounted)
        PrivateMounts::unmount(folder);
    EXPECT_EQ(PrivateFile::read(folder + "/history.json").value(), QByteArray("kept"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"history.json"});
}

TEST(PrivateFile, FolderRulesAndReads)
{
    TestDataHome home;
    const QString folder = AppPaths::credentialsFolder();
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    PrivateFile::ensureFolder(folder);
    EXPECT_EQ(posixMode(folder), 0755) << "an existing folder is accepted without change";
    PrivateFile::ensureFolder(folder, PrivateFile::Tighten::Yes);
    EXPECT_EQ(posixMode(folder), 0700);

    EXPECT_FALSE(PrivateFile::read(folder + "/missing").has_value());
    EXPECT_THROW(PrivateFile::read(folder), AppError) << "a folder is not a readable file";

    PrivateFile::write(folder + "/blocker", "x");
    EXPECT_THROW(PrivateFile::ensureFolder(folder + "/blocker/inner"), AppError);

    // Only what an interrupted save leaves is removed at start, never a file of the user's.
    for (const char* name : {".history.json.Ab12Z9.partial", ".Appel-1.wav.partial"})
        EXPECT_TRUE(PrivateFile::isInterruptedSave(name)) << name;
    for (const char* name : {"history.json", ".orlea.lock", "Appel-1.wav.input.caf", ".partial",
                             ".notes.backup", "copie.partial"})
        EXPECT_FALSE(PrivateFile::isInterruptedSave(name)) << name;
}
