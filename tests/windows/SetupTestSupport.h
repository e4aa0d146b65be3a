#pragma once

// A simulated Mac brought to a given point of the setup for the assistant and Mac test windows: the
// driver installed, the permissions granted, the stand-in AI answering on a loopback socket.

#include "tests/windows/WindowTestSupport.h"

#include "app/audio/VelkaroDevices.h"
#include "app/common/Clock.h"
#include "app/windows/Theme.h"
#include "platform/sim/mac/PhoneCallAudio.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QElapsedTimer>
#include <QScrollArea>
#include <QSettings>
#include <QThread>
#include <QUrl>
#include <QVariantMap>
#include <cstdlib>
#include <functional>
#include <string>

class SetupWindowTest : public ModelTest {
protected:
    RealtimeStandInThread standIn;
    bool standInRunning = false;

    void SetUp() override
    {
        // The application's look, so the snapshots show what a user sees.
        static const bool themed = [] {
            Theme::apply(*qApp);
            return true;
        }();
        (void)themed;
    }

    void TearDown() override
    {
        if (standInRunning) {
            standIn.stop();
            qunsetenv("ORLEA_REALTIME_URL");
        }
    }

    // A model that can open the driver package, as the application bundle does.
    std::unique_ptr<AppModel> makeModelWithPackage()
    {
        Platform services = platform();
        services.nativeAudioPackage = driverPackagePath();
        return std::make_unique<AppModel>(services);
    }

    // The user installed the driver and allowed the microphone and Accessibility.
    void prepareMac()
    {
        ASSERT_TRUE(mac.workspace().openUrl(QUrl::fromLocalFile(driverPackagePath())))
            << "the driver must install";
        mac.setAccessibilityTrusted(true);
        ASSERT_TRUE(mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true));
    }

    // The stand-in AI that confirms sessions at once, reached through ORLEA_REALTIME_URL.
    void startAI()
    {
        RealtimeStandInThread::Options options;
        options.agent = false;
        options.speed = 0.0;
        ASSERT_TRUE(standIn.start(options)) << standIn.errorString().toStdString();
        standInRunning = true;
        qputenv("ORLEA_REALTIME_URL", standIn.url().toString().toUtf8());
    }

    // Moves the Mac's time in small steps, letting queued work and the views run in between.
    void advance(double seconds)
    {
        for (double done = 0; done < seconds - 1e-9; done += 0.1) {
            mac.advance(0.1);
            pumpEvents();
        }
        settle();
    }

    // Real time for the sockets, without moving the Mac's clock.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        settle();
        return condition();
    }

    // Every stored setting, to prove a window changed none.
    QVariantMap storedSettings()
    {
        defaults.sync();
        QVariantMap all;
        const QStringList keys = defaults.keys();
        for (const QString& key : keys)
            all.insert(key, defaults.value(key));
        return all;
    }

    // A finished phone call of this run in which both voices spoke: what the test call step waits for.
    CallRecord spokenCall()
    {
        CallRecord record;
        record.id = QUuid::createUuid();
        record.date = secondsSinceReferenceDate(mac.clock().now());
        record.caller = QStringLiteral("06 12 34 56 78");
        record.kind = QStringLiteral("Appel");
        record.transcript << TranscriptLine::make(QStringLiteral("Orlea"), QStringLiteral("Bonjour"))
                          << TranscriptLine::make(QStringLiteral("Interlocuteur"),
                                                  QStringLiteral("Oui, bonjour"));
        return record;
    }
};

inline bool shownTo(QWidget& root, const char* objectName)
{
    QWidget* widget = root.findChild<QWidget*>(QString::fromLatin1(objectName));
    return widget && widget->isVisibleTo(&root);
}

// The whole scrolling content of a sheet, not only what its viewport shows.
inline void saveFullSnapshot(QWidget& sheet, const QString& name)
{
    const QSize size = sheet.size();
    auto* scroll = sheet.findChild<QScrollArea*>();
    if (scroll && scroll->widget())
        sheet.resize(size.width(), scroll->widget()->heightForWidth(size.width()) + 40);
    settle();
    saveSnapshot(sheet, name);
    sheet.resize(size);
    settle();
}
