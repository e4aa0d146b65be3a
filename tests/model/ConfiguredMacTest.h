#pragma once

// A simulated Mac with the driver installed, both permissions granted and a key saved, whose AI is a
// scripted stand-in on this thread behind a real loopback socket. Time on the Mac moves only by hand;
// the socket gets real time through `waitFor`, which never moves the Mac's clock.

#include "tests/model/ModelTestSupport.h"

#include "app/audio/AudioRouteProbe.h"
#include "app/audio/MacAudioRoute.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/realtime/RealtimeClient.h"
#include "platform/hal/AudioHardware.h"
#include "tools/realtime-standin/RealtimeStandIn.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <string>

class ConfiguredMacTest : public ModelTest {
protected:
    RealtimeStandIn ai;
    std::unique_ptr<AppModel> model;
    // configurationStatus as seen at each step of `advance`, repeats dropped.
    QStringList configurationSteps;

    void SetUp() override
    {
        ASSERT_TRUE(ai.listen()) << ai.errorString().toStdString();
        ai.setConfirmsSessions(true);
        qputenv("ORLEA_REALTIME_URL", ai.url().toString().toUtf8());
        ASSERT_TRUE(mac.workspace().openUrl(driverPackageUrl())) << "the driver package must install";
        mac.setAccessibilityTrusted(true);
        ASSERT_TRUE(mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true));
        model = makeModel();
        model->saveKey("demo");
    }

    void TearDown() override
    {
        model.reset();
        qunsetenv("ORLEA_REALTIME_URL");
    }

    void noteConfigurationStatus()
    {
        if (model &&
            (configurationSteps.isEmpty() || configurationSteps.last() != model->configurationStatus()))
            configurationSteps << model->configurationStatus();
    }

    // The Phone app set to the two virtual devices and the routing confirmed, as the audio configuration
    // leaves them.
    void confirmRouting()
    {
        model->setInputUID(VelkaroDevices::kCallUID);
        model->setOutputUID(VelkaroDevices::kVoiceUID);
        std::optional<QString> setupResult;
        model->audioSetup().prepare(
            [&](std::optional<AppError> error) { setupResult = error ? error->message() : QString(); });
        mac.advance(5);
        ASSERT_EQ(setupResult, std::optional<QString>(QString()));
        model->setRoutingConfirmed(true);
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

    // Moves the Mac's time in 0.1 s steps, letting the sockets and queued hops run in between. A
    // running AI check, or a probe's recording being written, gets the real time it needs first, so a
    // loaded machine never times it out.
    void advance(double seconds)
    {
        for (double done = 0; done < seconds - 1e-9; done += 0.1) {
            if (model && model->checkingAI() && m_answeringChecks)
                waitFor([&] { return !model->checkingAI(); });
            if (model && model->routeProbe().isAwaitingRecording())
                waitFor([&] { return !model->routeProbe().isAwaitingRecording(); });
            mac.advance(0.1);
            pumpEvents();
            // The Mac's time runs faster than real time: the caller audio of each step is sent
            // before the next, as it would be at the real pace.
            if (model && model->connected())
                waitFor([&] { return !model->realtime().isSending(); }, 2000);
            noteConfigurationStatus();
        }
    }

    // Steps the Mac's time until `condition` holds, at most `maxSeconds`.
    bool advanceUntil(const std::function<bool()>& condition, double maxSeconds)
    {
        for (double done = 0; done < maxSeconds && !condition(); done += 0.1)
            advance(0.1);
        return condition();
    }

    // Whether `advance` waits in real time for AI checks (false when the AI is meant to stay silent).
    void setAnsweringChecks(bool answering) { m_answeringChecks = answering; }

    void arm()
    {
        model->toggleArmed();
        ASSERT_TRUE(waitFor([&] { return !model->checkingAI(); }));
        ASSERT_TRUE(model->armed()) << why();
    }

    AudioObjectID systemDevice(AudioObjectPropertySelector selector)
    {
        return model->macRoute().readSystem(selector);
    }

    // The Mac's sound settings on the two virtual devices, so that a check that borrows the built-in
    // ones has something to put back.
    void setSystemDevicesToVirtualPair()
    {
        model->refresh();
        const std::optional<VelkaroDevices::Pair> pair = VelkaroDevices::pair(model->devices());
        ASSERT_TRUE(pair.has_value());
        model->macRoute().writeSystem(kAudioHardwarePropertyDefaultInputDevice, pair->call.id);
        model->macRoute().writeSystem(kAudioHardwarePropertyDefaultOutputDevice, pair->voice.id);
        ASSERT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), pair->call.id);
        ASSERT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), pair->voice.id);
    }

    int sessionUpdates() const { return int(ai.received(QStringLiteral("session.update")).size()); }

    std::string why() const
    {
        return model ? model->error().value_or(QString()).toStdString() : std::string();
    }

private:
    bool m_answeringChecks = true;
};
