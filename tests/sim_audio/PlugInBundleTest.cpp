// The driver's bundle as the build makes it, and how the audio server finds the driver's factory in it.

#include "platform/sim/audio/PlugInBundle.h"
#include "platform/sim/audio/AudioServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString kPlugInType = QStringLiteral("443ABAB8-E7B3-491A-B985-BEB9187030DB");
const QString kFactory = QStringLiteral("7C1F4A52-0E8B-4C39-9D2A-5B6E1F0A8C31");

QString builtBundle()
{
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    return QString::fromLocal8Bit(buildDir && *buildDir ? buildDir : ORLEA_TEST_BUILD_DIR) +
           QStringLiteral("/lib/VelkaroAudio.driver");
}

TEST(DriverBundle, InfoPlistNamesTheFactoryOfTheAudioServerPlugInType)
{
    std::string error;
    const QVariantMap info =
        sim::readPropertyList((builtBundle() + "/Contents/Info.plist").toStdString(), &error).toMap();
    ASSERT_FALSE(info.isEmpty()) << error;
    EXPECT_EQ(info.value("CFBundleIdentifier").toString(), "fr.velkaro.audio.driver");
    EXPECT_EQ(info.value("CFBundlePackageType").toString(), "BNDL");
    EXPECT_EQ(info.value("LSMinimumSystemVersion").toString(), "26.0");
    EXPECT_EQ(info.value("CFBundleExecutable").toString(), "VelkaroAudio");
    EXPECT_TRUE(QFile::exists(builtBundle() + "/Contents/MacOS/VelkaroAudio"));

    const QVariantList factories = info.value("CFPlugInTypes").toMap().value(kPlugInType).toList();
    ASSERT_EQ(factories.size(), 1) << "one factory for the audio server plug-in type";
    EXPECT_EQ(factories.first().toString(), kFactory);
    EXPECT_EQ(info.value("CFPlugInFactories").toMap().value(kFactory).toString(), "VelkaroAudioFactory");

    // The `icon` property points at this resource.
    QFile icon(builtBundle() + "/Contents/Resources/AppIcon.icns");
    ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
    const QByteArray bytes = icon.readAll();
    ASSERT_GE(bytes.size(), 8);
    EXPECT_EQ(bytes.left(4), "icns");
    EXPECT_EQ(qFromBigEndian<quint32>(bytes.constData() + 4), quint32(bytes.size()));
}

TEST(DriverBundle, AudioServerLoadsOnlyWhatThePropertyListLeadsTo)
{
    const struct {
        const char* name;
        QString from;
        QString to;
        const char* refusal; // empty when the bundle loads
    } cases[] = {
        {"as built", {}, {}, ""},
        {"UUIDs in lower case", kFactory, kFactory.toLower(), ""},
        {"no factory for our plug-in type", kPlugInType,
         QStringLiteral("00000000-0000-0000-0000-000000000001"), "CFPlugInTypes"},
        {"the type's factory is not described", QStringLiteral("<key>") + kFactory,
         QStringLiteral("<key>7C1F4A52-0E8B-4C39-9D2A-000000000000"), "CFPlugInFactories"},
        {"the function is not exported", QStringLiteral(">VelkaroAudioFactory<"),
         QStringLiteral(">VelkaroFactory<"), "factory function is missing"},
        {"a key=value description", QStringLiteral("<?xml"),
         QStringLiteral("CFBundleIdentifier=fr.velkaro.audio.driver\n<?xml"), "property list"},
    };
    for (const auto& c : cases) {
        QTemporaryDir folder;
        const std::filesystem::path bundle = folder.path().toStdString() + "/HAL/VelkaroAudio.driver";
        std::filesystem::create_directories(bundle.parent_path());
        std::filesystem::copy(builtBundle().toStdString(), bundle, std::filesystem::copy_options::recursive);
        QFile plist(QString::fromStdString((bundle / "Contents" / "Info.plist").string()));
        ASSERT_TRUE(plist.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(plist.readAll());
        plist.close();
        if (!c.from.isEmpty()) {
            ASSERT_TRUE(text.contains(c.from)) << c.name;
            text.replace(c.from, c.to);
        }
        ASSERT_TRUE(plist.open(QIODevice::WriteOnly | QIODevice::Truncate));
        plist.write(text.toUtf8());
        plist.close();

        sim::AudioServer server(bundle.parent_path().string());
        std::string error;
        const bool loaded = server.loadPlugIn(bundle.string(), &error);
        if (*c.refusal == '\0') {
            EXPECT_TRUE(loaded) << c.name << ": " << error;
            EXPECT_TRUE(server.isPlugInLoaded("fr.velkaro.audio.driver")) << c.name;
        } else {
            EXPECT_FALSE(loaded) << c.name;
            EXPECT_NE(error.find(c.refusal), std::string::npos) << c.name << ": " << error;
        }
    }
}

} // namespace
