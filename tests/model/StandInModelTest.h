#pragma once

// A configured Mac (driver installed, permissions granted, key saved, the Phone app on the two virtual
// devices, routing confirmed) talking to the stand-in AI on its own thread over a real loopback
// socket, while the Mac's time is moved by hand.

#include "tests/model/ModelTestSupport.h"

#include "app/audio/AudioRouteProbe.h"
#include "app/audio/VelkaroDevices.h"
#include "app/phone/NativeAudioSetup.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QElapsedTimer>
#include <QThread>
#include <functional>

class StandInModelTest : public ModelTest {
protected:
    RealtimeStandInThread standIn;
    std::unique_ptr<AppModel> model;

    // The scripted agent speaks; without it the stand-in only confirms sessions.
    virtual bool withAgent() const { return false; }
    // The agent's pace (StandInAgent::setSpeed): 0 answers at once.
    virtual double agentSpeed() const { return 0.0; }
    virtual RealtimeStandInThread::Options standInOptions() const
    {
        RealtimeStandInThread::Options options;
        options.agent = withAgent();
        options.speed = agentSpeed();
        return options;
    }

    void SetUp() override
    {
        ASSERT_TRUE(standIn.start(standInOptions())) << standIn.errorString().toStdString();
        qputenv("ORLEA_REALTIME_URL", standIn.url().toString().toUtf8());
        ASSERT_TRUE(mac.workspace().openUrl(driverPackageUrl())) << "the driver package must install";
        mac.setAccessibilityTrusted(true);
        ASSERT_TRUE(mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true));
        model = makeModel();
        model->saveKey("demo");
        model->setInputUID(VelkaroDevices::kCallUID);
        model->setOutputUID(VelkaroDevices::kVoiceUID);
        // The Phone app is set to the two virtual devices, as the audio configuration does.
        std::optional<QString> setupResult;
        model->audioSetup().prepare(
            [&](std::optional<AppError> error) { setupResult = error ? error->message() : QString(); });
        mac.advance(5);
        ASSERT_EQ(setupResult, std::optional<QString>(QString()));
        model->setRoutingConfirmed(true);
    }

    void TearDown() override
    {
        model.reset();
        standIn.stop();
        qunsetenv("ORLEA_REALTIME_URL");
    }

    // Moves the Mac's time in small steps, letting the sockets and queued hops run in between; a
    // probe's recording being written gets the real time it needs first.
    void advance(double seconds)
    {
        for (double done = 0; done < seconds - 1e-9; done += 0.1) {
            if (model && model->routeProbe().isAwaitingRecording())
                waitFor([&] { return !model->routeProbe().isAwaitingRecording(); });
            mac.advance(0.1);
            pumpEvents();
        }
    }

    // Real time for the socket, without moving the Mac's clock.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        return condition();
    }
};
