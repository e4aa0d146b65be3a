#pragma once

// A simulated audio server with the built VelkaroAudio package installed into a temporary plug-in folder.

#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/audio/PackageInstaller.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

inline std::string builtPackagePath()
{
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    return std::string(buildDir && *buildDir ? buildDir : ORLEA_TEST_BUILD_DIR) +
           "/lib/VelkaroAudio-0.2.0.pkg";
}

struct InstalledServer {
    InstalledServer() : server(std::make_unique<sim::AudioServer>((folder.path() + "/HAL").toStdString()))
    {
        const sim::InstallResult result = sim::installPackage(builtPackagePath(), *server);
        EXPECT_TRUE(result.installed) << result.error;
        EXPECT_EQ(result.bundleID, "fr.velkaro.audio.driver");
    }

    QTemporaryDir folder;
    std::unique_ptr<sim::AudioServer> server;
};
