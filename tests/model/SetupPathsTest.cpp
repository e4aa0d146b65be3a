#include "tests/model/ConfiguredMacTest.h"

#include "platform/sim/mac/PhoneCallAudio.h"

namespace {

const QString kSilentAI =
    QStringLiteral("L’IA ne répond pas. Vérifiez la clé, l’accès API et la connexion Internet.");
const QString kMacCheckStatus = QStringLiteral("Vérification du micro et des haut-parleurs du Mac…");

class SetupPathsTest : public ConfiguredMacTest {
protected:
    // The person at the Mac speaks during the Mac audio check.
    void macUserSpeaks() { mac.setMacMicrophoneSound(sim::toneVoice(330, 0.3f)); }

    bool stepsAre(const QList<bool>& expected) { return model->setupSteps() == expected; }

    static std::string text(const QList<bool>& steps)
    {
        std::string out;
        for (bool done : steps)
            out += done ? '1' : '0';
        return out;
    }
};

TEST_F(SetupPathsTest, AnAICheckAgainstASilentServiceFailsAfterFifteenSecondsAndALateAnswerChangesNothing)
{
    setAnsweringChecks(false);
    ai.setConfirmsSessions(false);
    model->verifyAI(false);
    EXPECT_TRUE(model->checkingAI());
    EXPECT_FALSE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Vérification de la connexion…");
    ASSERT_TRUE(waitFor([&] { return sessionUpdates() == 1; })) << "the check must reach the service";
    EXPECT_EQ(ai.received(QStringLiteral("session.update"))
                  .first()["session"]
                  .toObject()["instructions"]
                  .toString(),
              "Vérification de connexion. Ne génère aucune réponse.");

    advance(14.5);
    EXPECT_TRUE(model->checkingAI()) << "still waiting before 15 seconds";
    advance(1.0);
    EXPECT_FALSE(model->checkingAI());
    EXPECT_FALSE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), kSilentAI);
    EXPECT_EQ(model->error(), std::optional<QString>(kSilentAI));
    EXPECT_FALSE(model->armed());
    EXPECT_TRUE(waitFor([&] { return !ai.hasClient(); })) << "the check's connection is closed";

    // The service wakes up too late.
    ai.confirmSession();
    waitFor([] { return false; }, 200);
    advance(1.0);
    EXPECT_FALSE(model->aiVerified());
    EXPECT_FALSE(model->checkingAI());
    EXPECT_EQ(model->aiStatus(), kSilentAI);
    EXPECT_FALSE(model->setupSteps()[2]);

    // A check that is answered wins, and no earlier watchdog undoes it.
    model->setError(std::nullopt);
    ai.setConfirmsSessions(true);
    model->verifyAI(false);
    ASSERT_TRUE(waitFor([&] { return !model->checkingAI(); }));
    EXPECT_TRUE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Connexion IA vérifiée");
    advance(16.0);
    EXPECT_TRUE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Connexion IA vérifiée");
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_FALSE(model->armed()) << "a check without arming never arms";
}

TEST_F(SetupPathsTest, ConfigureAllResumesAfterTheGrantAndRunsEveryCheckToTheEnd)
{
    setSystemDevicesToVirtualPair();
    const AudioObjectID userInput = systemDevice(kAudioHardwarePropertyDefaultInputDevice);
    const AudioObjectID userOutput = systemDevice(kAudioHardwarePropertyDefaultOutputDevice);
    macUserSpeaks();
    mac.setAccessibilityTrusted(false);
    model->setShowSetupAssistant(true);

    model->configureAll();
    advance(0.5);
    EXPECT_TRUE(model->setupWaiting());
    EXPECT_EQ(model->setupWaitTarget(), "accessibility");
    EXPECT_EQ(model->configurationStatus(),
              "Activez Orlea dans Accessibilité. La vérification reprendra automatiquement.");

    mac.setAccessibilityTrusted(true);
    ASSERT_TRUE(advanceUntil([&] { return model->configuringAll(); }, 2.0)) << "the next tick resumes";
    ASSERT_TRUE(advanceUntil([&] { return !model->configuringAll(); }, 120.0))
        << model->configurationStatus().toStdString();

    EXPECT_EQ(model->configurationStatus(), "Réglages vérifiés. Dernière étape : un appel test.") << why();
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_FALSE(model->setupWaiting());
    EXPECT_TRUE(model->setupWaitTarget().isEmpty());
    const QStringList expectedOrder = {"Vérification de la connexion OpenAI…",
                                       "Configuration et test des circuits audio et de l’enregistrement…",
                                       kMacCheckStatus};
    qsizetype at = 0;
    for (const QString& step : expectedOrder) {
        at = configurationSteps.indexOf(step, at);
        EXPECT_GE(at, 0) << "missing or out of order: " << step.toStdString() << " in "
                         << configurationSteps.join(" | ").toStdString();
    }
    bool macProgress = false;
    for (const QString& step : configurationSteps)
        macProgress |= step.startsWith("Parlez maintenant : « Bonjour, test du microphone. »\n");
    EXPECT_TRUE(macProgress) << "the Mac check reports its progress: "
                             << configurationSteps.join(" | ").toStdString();

    EXPECT_TRUE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Connexion IA vérifiée");
    EXPECT_TRUE(model->routingConfirmed());
    EXPECT_EQ(model->inputUID(), VelkaroDevices::kCallUID);
    EXPECT_EQ(model->outputUID(), VelkaroDevices::kVoiceUID);
    EXPECT_EQ(model->nativeAudioStatus(), "Son configuré · les deux circuits transmettent le signal de test");
    EXPECT_EQ(mac.phone().audioRoute().inputDevice, "Velkaro — IA vers appel")
        << "the Phone app's microphone";
    EXPECT_EQ(mac.phone().audioRoute().outputDevice, "Velkaro — Appel vers IA");
    EXPECT_TRUE(model->macAudioVerified());
    EXPECT_FALSE(model->audioProbeActive());
    EXPECT_EQ(model->probeLevels(), AppModel::ProbeLevels{});
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput)
        << "the user's input is back";
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), userOutput)
        << "the user's output is back";
    EXPECT_TRUE(model->readinessIssues().isEmpty()) << model->readinessIssues().join(", ").toStdString();
    EXPECT_TRUE(stepsAre({true, true, true, true, true, false})) << text(model->setupSteps());
    EXPECT_EQ(model->setupPercent(), 83);
}

TEST_F(SetupPathsTest, ConfigureAllStopsAtAFailedAICheckAndThenAtASilentMacMicrophone)
{
    setSystemDevicesToVirtualPair();
    const AudioObjectID userInput = systemDevice(kAudioHardwarePropertyDefaultInputDevice);
    setAnsweringChecks(false);
    ai.setConfirmsSessions(false);
    model->configureAll();
    ASSERT_TRUE(advanceUntil([&] { return !model->configuringAll(); }, 20.0));
    EXPECT_EQ(model->configurationStatus(), "Connexion IA à corriger : " + kSilentAI);
    EXPECT_FALSE(model->routingConfirmed()) << "no later step runs";
    EXPECT_FALSE(model->setupWaiting()) << "the user restarts a failed check";

    // The AI answers now; nobody speaks at the Mac.
    model->setError(std::nullopt);
    setAnsweringChecks(true);
    ai.setConfirmsSessions(true);
    model->configureAll();
    ASSERT_TRUE(advanceUntil([&] { return !model->configuringAll(); }, 120.0));
    EXPECT_TRUE(model->aiVerified());
    EXPECT_TRUE(model->routingConfirmed());
    EXPECT_FALSE(model->macAudioVerified());
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->error()->startsWith(
        "Le test Mac ne peut pas valider le microphone : parlez pendant la vérification, puis réessayez. "))
        << why();
    EXPECT_EQ(model->configurationStatus(), "Audio du Mac à corriger : " + *model->error());
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput) << "the route is put back";
    EXPECT_FALSE(model->audioProbeActive());
    EXPECT_TRUE(model->readinessIssues().isEmpty()) << "the Mac audio does not block arming";
    EXPECT_EQ(model->setupPercent(), 66);

    // Rerun with someone speaking: only the Mac check is left to do.
    model->setError(std::nullopt);
    macUserSpeaks();
    configurationSteps.clear();
    model->configureAll();
    ASSERT_TRUE(advanceUntil([&] { return !model->configuringAll(); }, 60.0));
    EXPECT_EQ(model->configurationStatus(), "Réglages vérifiés. Dernière étape : un appel test.") << why();
    EXPECT_FALSE(configurationSteps.contains("Vérification de la connexion OpenAI…"))
        << "a verified AI is not checked again";
    EXPECT_TRUE(model->macAudioVerified());
}

TEST_F(SetupPathsTest, TheMacAssistantChecksTheBuiltInDevicesAndKeepsThemForTheTest)
{
    confirmRouting();
    setSystemDevicesToVirtualPair();
    const AudioObjectID userInput = systemDevice(kAudioHardwarePropertyDefaultInputDevice);
    const AudioObjectID userOutput = systemDevice(kAudioHardwarePropertyDefaultOutputDevice);
    macUserSpeaks();

    // With the window closed only the AI is checked.
    model->prepareMacAssistant();
    EXPECT_TRUE(model->macPreparing());
    ASSERT_TRUE(advanceUntil([&] { return !model->macPreparing(); }, 5.0));
    EXPECT_TRUE(model->aiVerified());
    EXPECT_FALSE(model->macAudioVerified());
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput);

    // The test asked for before the Mac check opens the check instead.
    model->setMacAssistantOpen(true);
    model->startTest();
    EXPECT_FALSE(model->busy());
    EXPECT_TRUE(model->macPreparing()) << "the Mac check runs first";
    ASSERT_TRUE(advanceUntil([&] { return !model->macPreparing(); }, 30.0));
    EXPECT_TRUE(model->macAudioVerified()) << why();
    EXPECT_EQ(model->status(), "Audio du Mac vérifié · prêt à discuter");
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_NE(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput) << "kept for the test";
    EXPECT_TRUE(model->macTestRoute().startsWith("Micro : MacBook")) << model->macTestRoute().toStdString();
    EXPECT_TRUE(model->macTestRoute().contains(" · Sortie : MacBook")) << model->macTestRoute().toStdString();

    model->startTest();
    ASSERT_TRUE(model->busy()) << why();
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    advance(2.0);
    model->finish();
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput) << "the test puts them back";
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), userOutput);

    // The check alone, without keeping the route.
    std::optional<QString> outcome;
    model->verifyMacAudio(false, [&](const std::optional<AppError>& failure) {
        outcome = failure ? failure->message() : QString();
    });
    EXPECT_TRUE(model->audioProbeActive());
    ASSERT_TRUE(advanceUntil([&] { return outcome.has_value(); }, 20.0));
    EXPECT_EQ(outcome, QString());
    EXPECT_TRUE(model->macAudioVerified());
    EXPECT_FALSE(model->audioProbeActive());
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput);
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), userOutput);
}

// Quitting, sleep (which disarms) or closing the window that started it ends an audio check at once:
// the devices stop and the Mac's own ones are given back without waiting for the check's last step.
TEST_F(SetupPathsTest, AudioChecksEndAtOnceWhenTheUserMovesOn)
{
    confirmRouting();
    setSystemDevicesToVirtualPair();
    const AudioObjectID userInput = systemDevice(kAudioHardwarePropertyDefaultInputDevice);
    const AudioObjectID userOutput = systemDevice(kAudioHardwarePropertyDefaultOutputDevice);
    const AudioObjectID call = hal::deviceForUID(mac.hardware(), u"fr.velkaro.audio.call");
    const auto nothingRuns = [&] {
        return !mac.audioServer().isRunning(call) &&
               !mac.audioServer().isRunning(sim::AudioServer::kMicrophoneID) &&
               !mac.audioServer().isRunning(sim::AudioServer::kSpeakersID);
    };
    const struct {
        const char* name;
        std::function<void()> start;
        std::function<bool()> running;
        std::function<void()> moveOn;
        std::function<QString()> shown = {};
        QString says = {};
    } cases[] = {
        {"quitting during the route test", [&] { model->prepareNativeAudio(); },
         [&] { return model->routeProbe().isRunning(); }, [&] { model->finishBeforeQuit(5, [] {}); },
         [&] { return model->nativeAudioStatus(); }, "Configuration à vérifier"},
        {"closing the assistant during the configuration",
         [&] {
             model->setRoutingConfirmed(false);
             model->setShowSetupAssistant(true);
             model->configureAll();
         },
         [&] { return model->routeProbe().isRunning(); }, [&] { model->setShowSetupAssistant(false); },
         [&] { return model->configurationStatus(); },
         "Configuration interrompue. Relancez-la quand vous voulez."},
        {"closing the Mac test window during its check",
         [&] {
             model->setMacAssistantOpen(true);
             model->prepareMacAssistant();
         },
         [&] {
             return model->audioProbeActive() && mac.audioServer().isRunning(sim::AudioServer::kMicrophoneID);
         },
         [&] { model->setMacAssistantOpen(false); }},
        {"the Mac going to sleep during the microphone test", [&] { model->testMicrophone(); },
         [&] { return mac.audioServer().isRunning(sim::AudioServer::kMicrophoneID); }, [&] { mac.sleep(); },
         [&] { return model->microphoneStatus(); }, "Test du microphone interrompu"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        model->setError(std::nullopt);
        test.start();
        ASSERT_TRUE(advanceUntil(test.running, 10.0)) << why();
        advance(1.0);
        ASSERT_TRUE(test.running()) << "still checking a second later";
        test.moveOn();
        EXPECT_FALSE(model->setupWorking());
        EXPECT_FALSE(model->routeProbe().isRunning());
        EXPECT_TRUE(nothingRuns());
        EXPECT_EQ(model->microphoneLevel(), 0.0);
        EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput)
            << "the route is put back";
        EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), userOutput);
        if (test.shown) {
            EXPECT_EQ(test.shown(), test.says);
        }
        advance(20.0);
        EXPECT_FALSE(model->setupWorking()) << "nothing of the check comes back later";
        EXPECT_FALSE(model->macAudioVerified());
        EXPECT_FALSE(model->error().has_value()) << why();
    }
}

// Headphones plugged in during the Mac check become the default output: the check ends within a second
// and gives back the input it borrowed, leaving the user's new output alone.
TEST_F(SetupPathsTest, ADeviceChangeEndsTheMacCheckAndGivesTheRouteBack)
{
    confirmRouting();
    setSystemDevicesToVirtualPair();
    const AudioObjectID userInput = systemDevice(kAudioHardwarePropertyDefaultInputDevice);
    model->setMacAssistantOpen(true);
    model->prepareMacAssistant();
    ASSERT_TRUE(
        advanceUntil([&] { return mac.audioServer().isRunning(sim::AudioServer::kMicrophoneID); }, 10.0))
        << why();
    advance(1.0);
    const AudioObjectID headphones =
        mac.audioServer().addDevice({u"Casque", u"headphones", 0, 2, kAudioDeviceTransportTypeBuiltIn});
    model->macRoute().writeSystem(kAudioHardwarePropertyDefaultOutputDevice, headphones);
    EXPECT_TRUE(advanceUntil([&] { return !model->audioProbeActive(); }, 1.0)) << "still checking";
    EXPECT_EQ(model->error(), std::optional<QString>("Le périphérique audio du Mac a changé. Relancez la "
                                                     "vérification audio du Mac."));
    EXPECT_FALSE(model->macAudioVerified());
    EXPECT_FALSE(mac.audioServer().isRunning(sim::AudioServer::kMicrophoneID));
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultInputDevice), userInput) << "the input is put back";
    EXPECT_EQ(systemDevice(kAudioHardwarePropertyDefaultOutputDevice), headphones)
        << "the user's own choice stays";
    model->setMacAssistantOpen(false);
}

// While a check holds the devices, neither arming nor another check may start.
TEST_F(SetupPathsTest, NothingArmsOrConfiguresDuringAnAudioCheck)
{
    confirmRouting();
    setSystemDevicesToVirtualPair();
    model->setMacAssistantOpen(true);
    const struct {
        const char* name;
        std::function<void()> start;
        std::function<bool()> running;
    } cases[] = {
        {"the route test", [&] { model->prepareNativeAudio(); }, [&] { return model->preparingAudio(); }},
        {"the Mac check", [&] { model->prepareMacAssistant(); }, [&] { return model->audioProbeActive(); }},
        {"the microphone test", [&] { model->testMicrophone(); }, [&] { return model->testingMicrophone(); }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        model->setError(std::nullopt);
        test.start();
        ASSERT_TRUE(advanceUntil(test.running, 10.0)) << why();
        advance(0.5);
        ASSERT_TRUE(test.running());

        model->toggleArmed();
        EXPECT_FALSE(model->armed());
        EXPECT_FALSE(model->checkingAI());
        EXPECT_EQ(model->error(), std::optional<QString>("Patientez pendant la configuration audio."));
        model->configureAll();
        EXPECT_FALSE(model->configuringAll());
        for (const auto& other : cases) {
            if (&other == &test)
                continue;
            other.start();
            EXPECT_FALSE(other.running()) << other.name << " started too";
        }
        model->cancelAudioChecks();
    }
    model->setMacAssistantOpen(false);
}

} // namespace
