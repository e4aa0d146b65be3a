#include "app/common/UserDefaults.h"
#include "app/common/AppPaths.h"
#include "tests/support/TestDataHome.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(UserDefaults, ValuesKeepTheirTypeAcrossRunsInAPrivateFile)
{
    TestDataHome home;
    {
        const mode_t previous = ::umask(0); // a permissive umask must not expose the settings
        UserDefaults defaults(AppPaths::preferencesFile());
        defaults.setString(SettingsKey::company, "SCI Les Lilas");
        defaults.setBool(SettingsKey::recordingEnabled, false);
        defaults.setData(SettingsKey::voiceEQ, QByteArray("{\"enabled\":true}\0\xff", 18));
        defaults.setString(SettingsKey::voice, "false"); // a string that looks like a bool stays a string
        defaults.sync();
        ::umask(previous);
    }
    EXPECT_EQ(posixMode(AppPaths::preferencesFile()), 0600);
    EXPECT_EQ(posixMode(QFileInfo(AppPaths::preferencesFile()).absolutePath()), 0700);
    UserDefaults defaults(AppPaths::preferencesFile());
    EXPECT_EQ(defaults.string(SettingsKey::company), QString("SCI Les Lilas"));
    EXPECT_EQ(defaults.boolean(SettingsKey::recordingEnabled), false);
    EXPECT_EQ(defaults.data(SettingsKey::voiceEQ), QByteArray("{\"enabled\":true}\0\xff", 18));
    EXPECT_EQ(defaults.string(SettingsKey::voice), QString("false"));
    EXPECT_FALSE(defaults.boolean(SettingsKey::voice).has_value()) << "a string is not a bool";
    EXPECT_FALSE(defaults.string(SettingsKey::recordingEnabled).has_value()) << "a bool is not a string";
    EXPECT_FALSE(defaults.string(SettingsKey::model).has_value());
    EXPECT_EQ(defaults.string(SettingsKey::model, "gpt-realtime"), QString("gpt-realtime"));
}

TEST(UserDefaults, AHandEditedOrBrokenFileGivesDefaults)
{
    TestDataHome home;
    const QString path = AppPaths::preferencesFile();
    UserDefaults(path).setString(SettingsKey::voice, "marin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"recordingEnabled\": \"yes\", \"voice\": 12}");
    file.close();
    UserDefaults defaults(path);
    EXPECT_FALSE(defaults.boolean(SettingsKey::recordingEnabled).has_value());
    EXPECT_FALSE(defaults.string(SettingsKey::voice).has_value());
}
