#pragma once

// A model on a fresh simulated Mac (manual time) in a temporary data folder, with desktop services
// that record what they were asked.

#include "app/common/AppPaths.h"
#include "app/common/UserDefaults.h"
#include "app/model/AppModel.h"
#include "app/records/TranscriptExport.h"
#include "platform/sim/mac/Mac.h"
#include "tests/support/TestDataHome.h"

#include <QCoreApplication>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

// The driver's installer package of this build (the test main always sets ORLEA_BUILD_DIR).
inline QString driverPackagePath()
{
    return qEnvironmentVariable("ORLEA_BUILD_DIR") + QStringLiteral("/lib/VelkaroAudio-0.2.0.pkg");
}

inline QUrl driverPackageUrl()
{
    return QUrl::fromLocalFile(driverPackagePath());
}

struct RecordingClipboard final : Clipboard {
    QString text;
    bool setText(const QString& value) override
    {
        text = value;
        return true;
    }
};

struct ScriptedSavePanel final : SavePanel {
    std::optional<QString> answer;
    QStringList proposed;
    std::optional<QString> askSaveURL(const QString& proposedName, ExportType) override
    {
        proposed << proposedName;
        return answer;
    }
};

struct RecordingRevealer final : FileRevealer {
    QStringList shown;
    void reveal(const QString& path) override { shown << path; }
};

class ModelTest : public ::testing::Test {
protected:
    // Declared first: the data folder must exist before the Mac and the defaults open their files.
    TestDataHome home;
    sim::Mac mac{home.path() + QStringLiteral("/SimulatedMac")};
    UserDefaults defaults{AppPaths::preferencesFile()};
    RecordingClipboard clipboard;
    ScriptedSavePanel savePanel;
    RecordingRevealer revealer;

    Platform platform()
    {
        return Platform{mac.hardware(),   mac.accessibility(), mac.workspace(),
                        mac.microphone(), mac.clock(),         mac.scheduler(),
                        defaults,         clipboard,           savePanel,
                        revealer,         std::nullopt,        &mac.notifications()};
    }
    std::unique_ptr<AppModel> makeModel() { return std::make_unique<AppModel>(platform()); }
};

inline void pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
