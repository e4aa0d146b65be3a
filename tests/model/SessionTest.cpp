#include "tests/model/StandInModelTest.h"

#include "app/audio/AudioBridge.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/PrivateFile.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/HistoryCodec.h"
#include "platform/sim/mac/PhoneCallAudio.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QThread>
#include <cstdlib>
#include <string>

class SessionTest : public StandInModelTest {
protected:
    // Arms, rings and waits until the AI is ready and the call answered.
    void connectCall(const QString& caller,
                     std::shared_ptr<sim::InputSource> voice = sim::toneVoice(733, 0.5f))
    {
        model->toggleArmed();
        ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
        mac.ring(caller, voice);
        advance(4.5);
        ASSERT_TRUE(model->busy()) << model->error().value_or("").toStdString();
        ASSERT_TRUE(waitFor([&] { return model->connected(); })) << model->error().value_or("").toStdString();
    }
};

TEST_F(SessionTest, ACallRingingThreeSecondsIsAnsweredWhenTheAIIsReadyAndSavedAtItsEnd)
{
    model->toggleArmed();
    EXPECT_FALSE(model->armed()) << "the AI connection is checked first";
    EXPECT_TRUE(model->checkingAI());
    ASSERT_TRUE(waitFor([&] { return !model->checkingAI(); }));
    ASSERT_TRUE(model->armed()) << model->error().value_or("").toStdString();
    EXPECT_TRUE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Connexion IA vérifiée");
    EXPECT_EQ(model->status(), "À l’écoute des appels");

    mac.ring("06 12 34 56 78", sim::toneVoice(733, 0.5f));
    advance(2.5);
    EXPECT_FALSE(model->busy()) << "a call is taken only after 3 seconds of ringing";
    EXPECT_EQ(model->detail(), "Appel entrant · 06 12 34 56 78");
    // Stepped without pumping events once the session starts, so the AI cannot be ready yet.
    for (int step = 0; step < 20 && !model->busy(); ++step) {
        mac.advance(0.1);
        if (!model->busy())
            pumpEvents();
    }
    ASSERT_TRUE(model->busy()) << model->error().value_or("").toStdString();
    EXPECT_EQ(model->status(), "Connexion à Orlea…");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing) << "no answer before the AI is ready";

    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << model->error().value_or("").toStdString();
    EXPECT_EQ(model->status(), "Conversation en cours");
    EXPECT_EQ(model->detail(), "06 12 34 56 78 · Enregistrement audio actif");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Active);
    EXPECT_TRUE(model->log().first().endsWith(" · Décrochage demandé"));
    const QUuid id = model->current()->id;

    advance(3.0);
    EXPECT_TRUE(model->connected());
    mac.callerHangsUp();
    advance(3.5);
    EXPECT_TRUE(model->busy()) << "the end is confirmed over five ticks";
    advance(2.0);
    ASSERT_FALSE(model->busy());
    EXPECT_TRUE(model->armed());
    EXPECT_EQ(model->status(), "À l’écoute des appels");
    EXPECT_EQ(model->detail(), "La conversation est conservée sur ce Mac.");
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().id, id);
    EXPECT_EQ(model->records().first().kind, "Appel");
    EXPECT_EQ(model->records().first().caller, "06 12 34 56 78");
    EXPECT_TRUE(model->records().first().usage.has_value());

    ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));
    EXPECT_EQ(model->records().first().recordingFile,
              std::optional<QString>("Appel-" + uuidText(id) + ".wav"))
        << model->records().first().recordingError.value_or("").toStdString();
    const std::optional<QByteArray> saved = PrivateFile::read(AppPaths::historyFile());
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(saved->contains(uuidText(id).toUtf8()));
    EXPECT_TRUE(saved->contains("Appel-")) << "the history is saved again with the recording's name";

    // A new call during the cool-down is not looked at.
    mac.ring("07 00 00 00 00");
    advance(5.0);
    EXPECT_FALSE(model->busy());
}

TEST_F(SessionTest, AnAIThatNeverAnswersFailsAfterFifteenSecondsWithoutAnswering)
{
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); }));
    // Then a server that accepts the connection and says nothing: the AI never becomes ready.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    qputenv("ORLEA_REALTIME_URL",
            QStringLiteral("ws://127.0.0.1:%1/v1/realtime").arg(silent.serverPort()).toUtf8());
    mac.ring("Marie");
    advance(4.5);
    ASSERT_TRUE(model->busy());
    ASSERT_TRUE(waitFor([&] { return silent.hasPendingConnections(); }));
    advance(10.0);
    EXPECT_TRUE(model->busy()) << model->error().value_or("").toStdString();
    advance(6.0);
    EXPECT_FALSE(model->busy());
    EXPECT_EQ(model->error(), std::optional<QString>("L’IA n’a pas répondu dans les 15 secondes. Aucun "
                                                     "décrochage automatique effectué."));
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->status(), "Une vérification est nécessaire");
    EXPECT_FALSE(model->routingConfirmed()) << "a failed phone session asks for the routing check again";
    EXPECT_NE(mac.phone().state(), sim::CallState::Active) << "the call must never be answered";
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Appel");
}

TEST_F(SessionTest, ArmingIsRefusedWithoutAnAnsweringAIOrAValidSetup)
{
    model->setRoutingConfirmed(false);
    model->toggleArmed();
    EXPECT_FALSE(model->armed());
    EXPECT_FALSE(model->checkingAI());
    EXPECT_EQ(model->error(),
              std::optional<QString>("Cliquez sur Configurer et tester le son dans Connexions avant "
                                     "d’activer le standard."));
    EXPECT_EQ(model->page(), "Connexions");

    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    qputenv("ORLEA_REALTIME_URL",
            QStringLiteral("ws://127.0.0.1:%1/v1/realtime").arg(silent.serverPort()).toUtf8());
    model->toggleArmed();
    EXPECT_TRUE(model->checkingAI());
    advance(14.0);
    EXPECT_TRUE(model->checkingAI());
    advance(1.5);
    EXPECT_FALSE(model->checkingAI());
    EXPECT_FALSE(model->armed());
    EXPECT_FALSE(model->aiVerified());
    const QString silence = "L’IA ne répond pas. Vérifiez la clé, l’accès API et la connexion Internet.";
    EXPECT_EQ(model->aiStatus(), silence);
    EXPECT_EQ(model->error(), std::optional<QString>(silence));

    // An endpoint that would carry the key in clear to another machine is refused before any check.
    model->setError(std::nullopt);
    qputenv("ORLEA_REALTIME_URL", "ws://192.0.2.1/v1/realtime");
    model->toggleArmed();
    EXPECT_FALSE(model->checkingAI()) << "no connection is attempted";
    EXPECT_FALSE(model->armed());
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(
        model->error()->startsWith("L’adresse du service IA « ws://192.0.2.1/v1/realtime » est refusée"))
        << model->error()->toStdString();
}

TEST_F(SessionTest, AccessibilityWithdrawnWhileArmedDisarmsAndSleepEndsTheSession)
{
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); }));
    mac.setAccessibilityTrusted(false);
    advance(1.0);
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->error(), std::optional<QString>("L’autorisation Accessibilité a été retirée."));

    mac.setAccessibilityTrusted(true);
    model->setError(std::nullopt);
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); }));
    mac.ring("Marie");
    advance(4.5);
    ASSERT_TRUE(model->busy());
    ASSERT_TRUE(waitFor([&] { return model->connected(); }));
    mac.sleep();
    pumpEvents();
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->status(), "En pause · Mac en veille");
    EXPECT_EQ(model->records().size(), 1);
}

TEST_F(SessionTest, ACallSeenRingingBeforeListeningStoppedWaitsThreeSecondsAgainAfterReArming)
{
    const struct {
        const char* how;
        std::function<void()> stop;
        std::function<void()> undo;
    } ways[] = {
        {"paused by the user", [&] { model->toggleArmed(); }, [] {}},
        {"Accessibility withdrawn",
         [&] {
             mac.setAccessibilityTrusted(false);
             advance(1.0);
         },
         [&] { mac.setAccessibilityTrusted(true); }},
        {"the Mac went to sleep",
         [&] {
             mac.sleep();
             pumpEvents();
         },
         [&] { advance(8.5); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        model->toggleArmed();
        ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
        mac.ring("06 11 22 33 44");
        advance(1.5);
        ASSERT_EQ(model->detail(), "Appel entrant · 06 11 22 33 44");
        way.stop();
        ASSERT_FALSE(model->armed());
        EXPECT_NE(model->detail(), "Appel entrant · 06 11 22 33 44") << "no call is awaited any more";
        advance(4.0);
        way.undo();
        model->setError(std::nullopt);
        model->setDetail("");

        model->toggleArmed();
        ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
        advance(1.0);
        EXPECT_FALSE(model->busy()) << "the call still ringing is not answered at once";
        EXPECT_EQ(model->detail(), "Appel entrant · 06 11 22 33 44") << "it is announced again";
        advance(1.5);
        EXPECT_FALSE(model->busy());
        advance(1.5);
        EXPECT_TRUE(model->busy()) << "taken after three seconds of ringing seen while listening";

        model->toggleArmed();
        model->finish();
        mac.callerHangsUp();
        advance(9.0);
        ASSERT_FALSE(model->busy());
    }
}

TEST_F(SessionTest, FinishWhileConnectingSavesTheRecordAndVoidsTheLateReadyAndTimeout)
{
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); }));
    mac.ring("Marie");
    for (int step = 0; step < 60 && !model->busy(); ++step) {
        mac.advance(0.1);
        if (!model->busy())
            pumpEvents();
    }
    ASSERT_TRUE(model->busy());
    model->finish();
    EXPECT_FALSE(model->busy());
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Appel");
    EXPECT_TRUE(model->records().first().transcript.isEmpty());
    ASSERT_TRUE(model->records().first().usage.has_value()) << "the usage reported at connection is kept";
    EXPECT_EQ(model->records().first().usage->model, model->model());

    model->toggleArmed(); // disarmed, so the call still ringing is not taken again
    waitFor([] { return false; }, 300);
    advance(16.0);
    EXPECT_FALSE(model->connected());
    EXPECT_FALSE(model->error().has_value()) << model->error().value_or("").toStdString();
    EXPECT_EQ(model->status(), "Standard en pause");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing) << "a finished session never answers";

    model->finish();
    EXPECT_EQ(model->records().size(), 1) << "a second finish saves nothing";
}

TEST_F(SessionTest, TheManagerTakesOverTheLineAndGivesItBack)
{
    connectCall("06 11 22 33 44");
    model->setInterventionMicUID("micro-débranché");
    model->toggleIntervention();
    EXPECT_FALSE(model->intervening());
    EXPECT_EQ(model->error(),
              std::optional<QString>("Choisissez votre micro et votre casque ou haut-parleur dans "
                                     "Connexions → Intervention humaine."));

    model->setError(std::nullopt);
    model->setInterventionMicUID("");
    model->refresh(); // picks the built-in microphone again
    ASSERT_FALSE(model->interventionMicUID().isEmpty());
    model->toggleIntervention();
    ASSERT_TRUE(model->intervening()) << model->error().value_or("").toStdString();
    EXPECT_TRUE(model->log().first().endsWith(" · Micro du gestionnaire ouvert vers l’appelant"));
    advance(1.0);
    model->toggleIntervention();
    EXPECT_FALSE(model->intervening());
    EXPECT_TRUE(model->log().first().endsWith(" · Micro du gestionnaire fermé · reprise de l’IA"));
    ASSERT_TRUE(model->current().has_value());
    int followUps = 0;
    for (const TranscriptLine& line : model->current()->transcript)
        followUps += line.speaker == "Suivi";
    EXPECT_EQ(followUps, 2);
    EXPECT_TRUE(model->connected());
}

TEST_F(SessionTest, TheTwentyMinuteLimitEndsTheCallAndDisarms)
{
    connectCall("06 99 88 77 66");
    // Steps short enough for the socket to carry the caller audio of each of them.
    ASSERT_TRUE(model->callStarted().has_value());
    const QDateTime started = *model->callStarted();
    while (model->busy() && started.msecsTo(mac.clock().now()) < 1'196'000) {
        mac.advance(2.0);
        waitFor([&] { return !model->realtime().isSending(); }, 2000);
    }
    EXPECT_TRUE(model->busy()) << model->error().value_or("").toStdString() << " just before 20 minutes; "
                               << model->status().toStdString() << " / "
                               << model->log().join(" | ").toStdString() << " / " << int(mac.phone().state())
                               << " at " << mac.clock().uptimeSeconds() << " "
                               << mac.clock().now().toString(Qt::ISODateWithMs).toStdString();
    for (int step = 0; step < 3; ++step) {
        mac.advance(2.0);
        waitFor([&] { return !model->realtime().isSending(); }, 2000);
    }
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->status(), "Limite de 20 minutes atteinte") << model->error().value_or("").toStdString();
    EXPECT_EQ(model->records().size(), 1);
    EXPECT_EQ(mac.phone().hangupPresses(), 1) << "the caller is not left on a silent line";
    EXPECT_NE(mac.phone().state(), sim::CallState::Active);
}

TEST_F(SessionTest, HangingUpEndsAnUnrecordedCallAtOnce)
{
    model->setRecordingEnabled(false);
    connectCall("06 55 44 33 22");
    EXPECT_EQ(model->detail(), "06 55 44 33 22") << "no recording, the caller alone";
    model->hangUp();
    EXPECT_FALSE(model->busy());
    EXPECT_NE(mac.phone().state(), sim::CallState::Active);
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_FALSE(model->records().first().recordingFile.has_value());
    EXPECT_TRUE(model->finalizingRecordings().isEmpty());

    model->takeCurrentCall();
    EXPECT_EQ(model->error(),
              std::optional<QString>("Aucun bouton Décrocher détecté. Faites sonner la ligne iPhone "
                                     "avec le relais Mac activé."));
    model->joinActiveCall();
    EXPECT_EQ(model->error(),
              std::optional<QString>("Aucun appel actif détecté. Lancez ou décrochez un appel dans "
                                     "Téléphone."));
    EXPECT_FALSE(model->busy());
}

TEST_F(SessionTest, TheMacTestTalksThroughTheBuiltInDevicesAndPutsTheRouteBack)
{
    model->startTest();
    EXPECT_FALSE(model->busy()) << "the Mac audio check must pass first";
    EXPECT_TRUE(model->macPreparing()) << "the Mac check opens instead";
    for (int step = 0; step < 100 && model->macPreparing(); ++step) {
        waitFor([&] { return !model->checkingAI(); });
        advance(0.1);
    }
    ASSERT_FALSE(model->macPreparing());

    model->setMacAudioVerified(true);
    model->refresh();
    const QString routeBefore = model->macTestRoute();
    model->startTest();
    ASSERT_TRUE(model->busy()) << model->error().value_or("").toStdString();
    EXPECT_TRUE(model->macTestRoute().contains("MacBook")) << model->macTestRoute().toStdString();
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << model->error().value_or("").toStdString();
    EXPECT_TRUE(model->log().first().endsWith(" · Essai audio démarré"));
    model->toggleIntervention();
    EXPECT_FALSE(model->intervening()) << "no intervention in the Mac test";
    advance(2.0);
    model->finish();
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Essai");
    EXPECT_EQ(model->records().first().caller, "Conversation sur le Mac");
    model->refresh();
    EXPECT_EQ(model->macTestRoute(), routeBefore) << "the Mac's defaults are put back";
}

TEST_F(SessionTest, TwoAudioStallsAreRecoveredAndTheThirdEndsTheCall)
{
    connectCall("06 10 20 30 40");
    advance(2.0);
    for (int restart = 1; restart <= 2; ++restart) {
        model->audio().captureEngine().stop();
        advance(1.0);
        ASSERT_TRUE(model->busy()) << model->error().value_or("").toStdString();
        EXPECT_TRUE(
            model->log().first().endsWith(QStringLiteral(" · Transport audio relancé (%1/2)").arg(restart)))
            << model->log().first().toStdString();
        EXPECT_TRUE(model->audio().enginesRunning());
    }
    model->audio().captureEngine().stop();
    advance(1.0);
    EXPECT_FALSE(model->busy());
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->error()->startsWith("Le son de l’appel est interrompu. "))
        << model->error()->toStdString();
    EXPECT_TRUE(model->error()->endsWith(" La session a été arrêtée et l’audio disponible sauvegardé."));
    EXPECT_EQ(model->status(), "Une vérification est nécessaire");
    EXPECT_FALSE(model->routingConfirmed());
    EXPECT_EQ(model->records().size(), 1);
}

class AgentSessionTest : public SessionTest {
protected:
    bool withAgent() const override { return true; }
};

TEST_F(AgentSessionTest, TheGreetingAndBothVoicesAreTranscribedAndSaved)
{
    connectCall("06 01 02 03 04", sim::toneVoice(440, 0.5f, 1.5));
    auto speakers = [&] {
        QStringList names;
        if (model->current())
            for (const TranscriptLine& line : model->current()->transcript)
                names << line.speaker;
        return names;
    };
    for (int step = 0; step < 200 && !(speakers().contains("Orlea") && speakers().contains("Interlocuteur"));
         ++step) {
        mac.advance(0.1);
        waitFor([&] { return !model->realtime().isSending(); }, 500);
        waitFor([&] { return false; }, 10); // the stand-in's own timers run in real time
    }
    EXPECT_TRUE(speakers().contains("Orlea")) << speakers().join(",").toStdString();
    EXPECT_TRUE(speakers().contains("Interlocuteur")) << speakers().join(",").toStdString();
    // The greeting is made with the session's instructions, so it knows the business.
    EXPECT_EQ(model->current()->transcript.first().text,
              "Bonjour, SCI Les Hauts de Valmont, service de gestion locative. Comment puis-je vous aider ?");
    const qsizetype lines = model->current()->transcript.size();
    model->hangUp();
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().transcript.size(), lines);
    ASSERT_TRUE(model->records().first().usage.has_value());
    EXPECT_TRUE(model->records().first().usage->estimatedUSD.has_value()) << "the closing usage is kept";
}

class PacedAgentSessionTest : public SessionTest {
protected:
    bool withAgent() const override { return true; }
    double agentSpeed() const override { return 1.0; }
};

TEST_F(PacedAgentSessionTest, ACallerWhoSpeaksBeforeTheGreetingGetsOneGreetingInTheBusinessName)
{
    // "Allô ?" as soon as the call is answered: the service's own turn detection answers before the
    // greeting is asked for, and refuses the greeting while that answer runs.
    connectCall("06 07 08 09 10", sim::toneVoice(440, 0.5f, 0.4));
    auto orleaLines = [&] {
        QStringList lines;
        if (model->current())
            for (const TranscriptLine& line : model->current()->transcript)
                if (line.speaker == "Orlea")
                    lines << line.text;
        return lines;
    };
    for (int step = 0; step < 400 && orleaLines().isEmpty(); ++step) {
        mac.advance(0.1);
        waitFor([&] { return !model->realtime().isSending(); }, 500);
        waitFor([&] { return false; }, 20); // the stand-in speaks in real time
    }
    ASSERT_EQ(orleaLines().size(), 1) << model->log().join("\n").toStdString();
    EXPECT_EQ(orleaLines()[0],
              "Bonjour, SCI Les Hauts de Valmont, service de gestion locative. Comment puis-je vous aider ?");
    EXPECT_TRUE(model->log().join("\n").contains(
        " · L’appelant a parlé avant l’accueil : la réponse déjà en cours sert d’accueil"))
        << model->log().join("\n").toStdString();
    advance(2.0);
    EXPECT_TRUE(model->busy());
    EXPECT_TRUE(model->connected());
    EXPECT_TRUE(model->armed());
    EXPECT_FALSE(model->error().has_value()) << model->error().value_or("").toStdString();
    EXPECT_EQ(mac.phone().state(), sim::CallState::Active);
    EXPECT_EQ(orleaLines().size(), 1) << "no second greeting";
}

TEST_F(SessionTest, RelayObservationTimesOutThenSeesACallThatAges)
{
    model->observeRelay();
    EXPECT_TRUE(model->observingRelay());
    EXPECT_EQ(model->relayStatus(), "Appelez votre iPhone depuis une autre ligne · attente 45 secondes");
    advance(44.0);
    EXPECT_TRUE(model->observingRelay());
    advance(2.0);
    EXPECT_FALSE(model->observingRelay());
    EXPECT_EQ(model->relayStatus(), "Aucun appel détecté pendant le test · relais non confirmé");

    model->observeRelay();
    mac.ring("06 00 00 00 01");
    advance(1.0);
    EXPECT_FALSE(model->observingRelay());
    EXPECT_TRUE(model->relayStatus().startsWith("Appel détecté sur le Mac à "))
        << model->relayStatus().toStdString();
    EXPECT_FALSE(model->busy()) << "the observation never answers";
    mac.callerHangsUp();
    advance(61.0);
    EXPECT_TRUE(model->relayStatus().startsWith("Dernier appel détecté à "));
    EXPECT_TRUE(model->relayStatus().endsWith(" · connexion actuelle non confirmée"));

    mac.setAccessibilityTrusted(false);
    model->observeRelay();
    EXPECT_FALSE(model->observingRelay());
    EXPECT_EQ(model->error(), std::optional<QString>(
                                  "Autorisez Accessibilité pour observer l’arrivée de l’appel sur le Mac."));
}

TEST_F(SessionTest, PreparingTheNativeAudioProvesBothCircuitsAndSelectsThemInThePhoneApp)
{
    model->setInputUID("");
    model->setOutputUID("");
    ASSERT_FALSE(model->routingConfirmed());
    mac.ring("06 00 00 00 02");
    model->prepareNativeAudio();
    EXPECT_EQ(model->error(), std::optional<QString>("Terminez l’appel avant de configurer le son."));
    mac.callerHangsUp();
    advance(1.0);

    model->setError(std::nullopt);
    model->prepareNativeAudio();
    EXPECT_TRUE(model->preparingAudio());
    for (int step = 0; step < 200 && model->preparingAudio(); ++step)
        advance(0.1);
    EXPECT_FALSE(model->preparingAudio());
    EXPECT_FALSE(model->error().has_value()) << model->error().value_or("").toStdString();
    EXPECT_TRUE(model->routingConfirmed());
    EXPECT_EQ(model->inputUID(), VelkaroDevices::kCallUID);
    EXPECT_EQ(model->outputUID(), VelkaroDevices::kVoiceUID);
    EXPECT_EQ(defaults.string(SettingsKey::inputUID), VelkaroDevices::kCallUID);
    EXPECT_EQ(model->nativeAudioStatus(), "Son configuré · les deux circuits transmettent le signal de test");
    EXPECT_TRUE(std::any_of(model->log().begin(), model->log().end(), [](const QString& line) {
        return line.endsWith(" · Liaison Orlea configurée dans Téléphone");
    }));

    model->resetPhoneAudio();
    for (int step = 0; step < 100 && model->preparingAudio(); ++step)
        advance(0.1);
    EXPECT_FALSE(model->routingConfirmed());
    EXPECT_EQ(model->nativeAudioStatus(), "Téléphone utilise le son système");
}

TEST_F(SessionTest, OrleaComesBackInFrontOfThePhoneAppWhateverItsAudioMenuGave)
{
    sim::Desktop& desktop = mac.desktop();
    const QString self = sim::Desktop::kSelfBundleIdentifier;
    auto settled = [&] {
        for (int step = 0; step < 200 && model->preparingAudio(); ++step)
            advance(0.1);
        return !model->preparingAudio();
    };
    const QString declined =
        " · Téléphone est resté au premier plan : revenez dans Orlea pour voir le résultat.";

    desktop.setSelfActivation(sim::SelfActivation::Granted);
    model->prepareNativeAudio();
    ASSERT_TRUE(settled());
    EXPECT_TRUE(model->routingConfirmed()) << model->error().value_or("").toStdString();
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), self) << "after a configuration that worked";

    model->resetPhoneAudio();
    ASSERT_TRUE(settled());
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), self) << "after giving the Phone app its system sound";

    desktop.setOpenApplicationError(
        workspace::Error{"NSCocoaErrorDomain", 260, "L’application « Téléphone » est introuvable."});
    model->prepareNativeAudio();
    ASSERT_TRUE(settled());
    EXPECT_FALSE(model->routingConfirmed());
    EXPECT_TRUE(model->error().has_value());
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), self) << "after a configuration that failed";
    desktop.setOpenApplicationError(std::nullopt);

    // When macOS keeps the Phone app in front, the user is only told where to look.
    model->setError(std::nullopt);
    desktop.setSelfActivation(sim::SelfActivation::DeclinedWhileAnotherIsInFront);
    model->prepareNativeAudio();
    ASSERT_TRUE(settled());
    EXPECT_TRUE(model->routingConfirmed());
    EXPECT_FALSE(model->error().has_value()) << model->error()->toStdString();
    EXPECT_NE(desktop.frontmostBundleIdentifier(), self);
    EXPECT_TRUE(model->log().first().endsWith(declined)) << model->log().first().toStdString();
}
