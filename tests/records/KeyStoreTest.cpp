#include "app/records/KeyStore.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
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
} // namespace

TEST(KeyStore, SavesAPrivateFileInAPrivateFolder)
{
    TestDataHome home;
    const QString keyFile = AppPaths::credentialsFolder() + "/openai.key";
    EXPECT_EQ(APIKeyStore::store().keyFile(), keyFile);
    EXPECT_FALSE(APIKeyStore::exists());
    EXPECT_EQ(APIKeyStore::read(), std::nullopt) << "a missing key is absent, not an error";

    const auto entered = APIKeyStore::enteredKey(" sk-test-123\n");
    ASSERT_TRUE(entered.has_value());
    APIKeyStore::save(*entered);
    EXPECT_EQ(contents(keyFile), QByteArray("sk-test-123")) << "the trimmed key, nothing added";
    EXPECT_EQ(posixMode(keyFile), 0600) << "the key must never be readable by others";
    EXPECT_EQ(posixMode(AppPaths::credentialsFolder()), 0700);
    EXPECT_EQ(APIKeyStore::read(), QString("sk-test-123"));

    // Loosened by hand, then saved over: the folder is tightened again and the file replaced.
    ::chmod(QFile::encodeName(AppPaths::credentialsFolder()).constData(), 0755);
    ::chmod(QFile::encodeName(keyFile).constData(), 0644);
    APIKeyStore::save("sk-nouvelle-clé");
    EXPECT_EQ(posixMode(AppPaths::credentialsFolder()), 0700);
    EXPECT_EQ(posixMode(keyFile), 0600);
    EXPECT_EQ(APIKeyStore::read(), QString("sk-nouvelle-clé"));
    EXPECT_EQ(QDir(AppPaths::credentialsFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file is left behind";
}

TEST(KeyStore, ReadsTheFileAsItIs)
{
    TestDataHome home;
    const LocalKeyStore store(home.path() + "/ailleurs");
    store.save("x");
    overwrite(store.keyFile(), "sk-main\n");
    EXPECT_EQ(store.read(), QString("sk-main\n")) << "trimming is the caller's concern";

    overwrite(store.keyFile(), "");
    EXPECT_TRUE(store.exists()) << "an empty file still counts as a key";
    EXPECT_EQ(store.read(), QString(""));

    // Bytes that are not UTF-8, and a file cut inside "é": neither may come back as a shorter key.
    for (const QByteArray& bytes : {QByteArray("sk-\xff\xfe", 5), QByteArray("sk-cl\xc3", 6)}) {
        overwrite(store.keyFile(), bytes);
        try {
            const auto key = store.read();
            ADD_FAILURE() << "undecodable bytes were read as " << key.value_or("(absent)").toStdString();
        } catch (const AppError& error) {
            EXPECT_TRUE(error.message().contains("UTF-8")) << error.message().toStdString();
        }
    }

    store.remove();
    EXPECT_FALSE(store.exists());
    EXPECT_TRUE(QFileInfo(store.folder()).isDir()) << "the folder stays";
    EXPECT_NO_THROW(store.remove()) << "deleting a missing key succeeds";
}

TEST(KeyStore, BlankEntriesAreRefused)
{
    EXPECT_EQ(APIKeyStore::enteredKey(""), std::nullopt);
    EXPECT_EQ(APIKeyStore::enteredKey(" \t\n "), std::nullopt);
    EXPECT_EQ(APIKeyStore::enteredKey("  a b \r\n"), QString("a b"));
    EXPECT_EQ(APIKeyStore::kEmptyKeyMessage, "Saisissez votre clé dans ce champ sécurisé.");
}
