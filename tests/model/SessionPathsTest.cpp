#include "tests/model/ConfiguredMacTest.h"

#include "app/audio/AudioBridge.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "platform/sim/mac/PhoneCallAudio.h"

#include <QFileInfo>
#include <QJsonObject>

namespace {

const QString kNeedsCheck = QStringLiteral("Une vérification est nécessaire");
const QString kKept = QStringLiteral("La conversation est conservée sur ce Mac.");

class SessionPathsTest : public ConfiguredMacTest {
protected:
    void SetUp() override
    {
        ConfiguredMacTest::SetUp();
        if (HasFatalFailure())
            return;
        confirmRouting();
    }

    // Rings until the monitoring loop has started a session, without letting the AI answer yet when it
    // would (the events are not pumped once the session exists).
    void ringUntilSession(const QString& caller)
    {
        mac.ring(caller, sim::toneVoice(733, 0.5f));
        for (int step = 0; step < 60 && !model->busy(); ++step) {
            mac.advance(0.1);
            if (!model->busy())
                pumpEvents();
        }
        ASSERT_TRUE(model->busy()) << why();
    }

    // Moves the Mac's clock to `seconds` after the session began.
    void advanceToSessionTime(double seconds)
    {
        ASSERT_TRUE(model->callStarted().has_value());
        const QDateTime target = model->callStarted()->addMSecs(qint64(seconds * 1000));
        while (mac.clock().now() < target) {
            mac.advance(std::min(0.1, mac.clock().now().msecsTo(target) / 1000.0));
            pumpEvents();
        }
    }

    void expectFailedAndSaved(const QString& message, const std::string& what)
    {
        EXPECT_FALSE(model->busy()) << what;
        EXPECT_FALSE(model->connected()) << what;
        EXPECT_FALSE(model->armed()) << what << ": a failure disarms";
        EXPECT_EQ(model->error(), std::optional<QString>(message)) << what;
        EXPECT_EQ(model->status(), kNeedsCheck) << what;
        EXPECT_EQ(model->detail(), kKept) << what;
        EXPECT_FALSE(model->routingConfirmed()) << what << ": a failed call asks for the routing check again";
        ASSERT_FALSE(model->log().isEmpty());
        EXPECT_TRUE(model->log().first().endsWith(QStringLiteral(" · ") + message))
            << what << ": " << model->log().first().toStdString();
        EXPECT_FALSE(model->audio().enginesRunning()) << what << ": the bridge is stopped";
    }

    QStringList speakers() const
    {
        QStringList names;
        if (model->current())
            for (const TranscriptLine& line : model->current()->transcript)
                names << line.speaker;
        return names;
    }
};

TEST_F(SessionPathsTest, AnAIReadyAfterFourteenSecondsStillAnswersTheCall)
{
    arm();
    ai.setConfirmsSessions(false);
    const int updatesBefore = sessionUpdates();
    ringUntilSession(QStringLiteral("06 12 34 56 78"));
    ASSERT_TRUE(waitFor([&] { return sessionUpdates() > updatesBefore; })) << "the session must be asked for";

    advanceToSessionTime(14.0);
    ASSERT_TRUE(model->busy()) << why();
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->status(), "Connexion à Orlea…");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing) << "no answer before the AI is ready";
    EXPECT_EQ(mac.phone().answerPresses(), 0);

    ai.confirmSession();
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    EXPECT_EQ(model->status(), "Conversation en cours");
    EXPECT_EQ(model->detail(), "06 12 34 56 78 · Enregistrement audio actif");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Active);
    EXPECT_EQ(mac.phone().answerPresses(), 1);

    // Past the 15 seconds of the time-out, which was cancelled, and past the greeting.
    advance(2.0);
    waitFor([&] { return !ai.received(QStringLiteral("response.create")).isEmpty(); }, 3000);
    EXPECT_FALSE(ai.received(QStringLiteral("response.create")).isEmpty()) << "the AI is asked to greet";
    advance(20.0);
    EXPECT_TRUE(model->busy()) << why();
    EXPECT_TRUE(model->connected());
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_EQ(mac.phone().answerPresses(), 1) << "answered once";
}

TEST_F(SessionPathsTest, AnErrorFromTheAIEndsTheConversationAndSavesIt)
{
    arm();
    ringUntilSession(QStringLiteral("06 22 33 44 55"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    const QUuid id = model->current()->id;
    advance(2.0);

    ai.sendError(QStringLiteral("server_error"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    expectFailedAndSaved(
        QStringLiteral("L’IA signale une erreur (server_error). Vérifiez votre configuration."),
        "error while talking");
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().id, id);
    EXPECT_EQ(model->records().first().kind, "Appel");
    EXPECT_EQ(model->records().first().caller, "06 22 33 44 55");
    ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));
    EXPECT_EQ(model->records().first().recordingFile,
              std::optional<QString>("Appel-" + uuidText(id) + ".wav"))
        << model->records().first().recordingError.value_or("").toStdString();
    EXPECT_TRUE(waitFor([&] { return !ai.hasClient(); })) << "the AI connection is closed";

    // The disarmed switchboard leaves the next call alone.
    mac.callerHangsUp();
    advance(10.0);
    mac.ring(QStringLiteral("07 00 00 00 00"));
    advance(5.0);
    EXPECT_FALSE(model->busy());
    mac.callerHangsUp();

    // An error without a code while the AI is still connecting: the call is never answered.
    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    arm();
    ai.setConfirmsSessions(false);
    const int updatesBefore = sessionUpdates();
    const int pressesBefore = mac.phone().answerPresses();
    ringUntilSession(QStringLiteral("06 99 00 00 00"));
    ASSERT_TRUE(waitFor([&] { return sessionUpdates() > updatesBefore; }));
    ai.sendErrorValue(QStringLiteral("quota"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    expectFailedAndSaved(QStringLiteral("L’IA signale une erreur (erreur). Vérifiez votre configuration."),
                         "error while connecting");
    EXPECT_EQ(model->records().size(), 2);
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing);
    EXPECT_EQ(mac.phone().answerPresses(), pressesBefore);
    advance(16.0);
    EXPECT_EQ(model->error(),
              std::optional<QString>("L’IA signale une erreur (erreur). Vérifiez votre configuration."))
        << "the cancelled time-out must not report again";
}

TEST_F(SessionPathsTest, AnAnswerButtonGoneOrDeadFailsTheSessionWithoutAnswering)
{
    arm();
    ai.setConfirmsSessions(false);
    const int updatesBefore = sessionUpdates();
    ringUntilSession(QStringLiteral("06 40 40 40 40"));
    ASSERT_TRUE(waitFor([&] { return sessionUpdates() > updatesBefore; }));
    // The caller gives up while the AI connects: the button the session holds is gone.
    mac.callerHangsUp();
    advance(1.0);
    ai.confirmSession();
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    expectFailedAndSaved(QStringLiteral("L’appel n’est plus disponible."), "button gone");
    EXPECT_EQ(mac.phone().answerPresses(), 0);
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Appel");
    EXPECT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));

    // A button that is there but does not react.
    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    ai.setConfirmsSessions(true);
    arm();
    advance(9.0); // the cool-down
    mac.phone().setAnswerPressFails(true);
    ringUntilSession(QStringLiteral("06 50 50 50 50"));
    ASSERT_TRUE(waitFor([&] { return !model->busy() || model->connected(); }));
    expectFailedAndSaved(QStringLiteral("Le bouton Décrocher n’a pas répondu. Décrochez dans Téléphone."),
                         "dead button");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing);
    EXPECT_EQ(model->records().size(), 2);
}

TEST_F(SessionPathsTest, ADialledTestCallIsJoinedByTheAIOnceThePersonAnswers)
{
    model->setOutgoingNumber(QStringLiteral(" 06 12 34 56 78 "));
    model->dialTestNumber();
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_EQ(model->outgoingStatus(),
              "Confirmez l’appel dans Téléphone si macOS le demande. Quand la personne "
              "décroche, cliquez sur Brancher l’IA.");
    EXPECT_EQ(mac.phone().dialledNumbers(), QStringList{"0612345678"});
    EXPECT_EQ(mac.phone().state(), sim::CallState::Dialing);

    // The Phone app already dials: this second number is refused.
    model->setOutgoingNumber(QStringLiteral("+33 6 12 34 56 78"));
    model->dialTestNumber();
    EXPECT_EQ(model->outgoingStatus(), "Impossible d’ouvrir le numéro. Composez-le dans Téléphone.");
    EXPECT_EQ(mac.desktop().openedUrls().last(), QUrl("tel:+33612345678")) << "the plus stays in front";

    mac.remoteAnswers(sim::toneVoice(523, 0.5f));
    ASSERT_EQ(mac.phone().state(), sim::CallState::Active);
    model->joinActiveCall();
    ASSERT_TRUE(model->busy()) << why();
    EXPECT_TRUE(model->phoneSession());
    EXPECT_EQ(model->current()->caller, "Appel en cours · identité à confirmer");
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    EXPECT_EQ(model->detail(), "Appel en cours · identité à confirmer · Enregistrement audio actif");
    EXPECT_EQ(mac.phone().answerPresses(), 0) << "a call in progress is not answered again";

    advance(3.0);
    EXPECT_TRUE(model->busy()) << why();
    mac.callerHangsUp();
    advance(6.0);
    EXPECT_FALSE(model->busy()) << "the end of the call ends the session";
    EXPECT_FALSE(model->error().has_value()) << why();
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Appel");
    EXPECT_EQ(model->records().first().caller, "Appel en cours · identité à confirmer");

    // While armed the test number is left alone.
    arm();
    model->setOutgoingNumber(QStringLiteral("0611223344"));
    model->dialTestNumber();
    EXPECT_EQ(mac.phone().dialledNumbers().size(), 1);
}

TEST_F(SessionPathsTest, AFinishedTestCallWithBothVoicesConfirmsTheSetupForThisRunOnly)
{
    arm();
    ringUntilSession(QStringLiteral("06 77 66 55 44"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    advance(2.0);
    ai.send(QJsonObject{{"type", "response.output_audio_transcript.done"},
                        {"transcript", "Bonjour, SCI Les Hauts de Valmont, je vous écoute."}});
    ai.send(QJsonObject{{"type", "conversation.item.input_audio_transcription.completed"},
                        {"transcript", "Bonjour, c’est un essai."}});
    ASSERT_TRUE(waitFor([&] { return speakers().size() >= 2; }));
    EXPECT_EQ(speakers(), (QStringList{"Orlea", "Interlocuteur"}));
    EXPECT_FALSE(model->validationCandidate().has_value()) << "a call in progress is no candidate yet";

    mac.callerHangsUp();
    advance(6.0);
    ASSERT_FALSE(model->busy()) << why();
    ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));
    ASSERT_EQ(model->records().size(), 1);
    const CallRecord call = model->records().first();
    ASSERT_TRUE(call.recordingFile.has_value()) << call.recordingError.value_or("").toStdString();
    EXPECT_TRUE(QFileInfo(AppPaths::recordingsFolder() + "/" + *call.recordingFile).isFile());

    ASSERT_TRUE(model->validationCandidate().has_value());
    EXPECT_EQ(model->validationCandidate()->id, call.id);
    EXPECT_TRUE(model->readinessIssues().isEmpty()) << model->readinessIssues().join(", ").toStdString();
    EXPECT_FALSE(model->setupSteps()[5]);
    model->confirmTestCall();
    EXPECT_EQ(model->validatedCallID(), std::optional<QUuid>(call.id));
    EXPECT_EQ(model->configurationStatus(), "Configuration terminée · 100 %");
    EXPECT_TRUE(model->setupSteps()[5]);
    EXPECT_EQ(model->setupPercent(), 83) << "the Mac audio step is still open";

    // Each setting the call vouches for puts the step back while it differs.
    const QString voice = model->voice();
    model->setVoice(QStringLiteral("cedar"));
    EXPECT_FALSE(model->setupSteps()[5]) << "voice";
    model->setVoice(voice);
    EXPECT_TRUE(model->setupSteps()[5]) << "voice back";
    const QString company = model->company();
    model->setCompany(QStringLiteral("SCI Autre"));
    EXPECT_FALSE(model->setupSteps()[5]) << "company";
    model->setCompany(company);
    model->setModel(QStringLiteral("gpt-realtime-2025-08-28"));
    EXPECT_FALSE(model->setupSteps()[5]) << "model";
    model->setModel(QStringLiteral("gpt-realtime"));
    model->setRecordingEnabled(false);
    EXPECT_FALSE(model->setupSteps()[5]) << "recording";
    model->setRecordingEnabled(true);
    EXPECT_TRUE(model->setupSteps()[5]) << "all back";
    model->setOutputUID(VelkaroDevices::kCallUID);
    EXPECT_FALSE(model->setupSteps()[5]) << "devices";
    EXPECT_FALSE(model->routingConfirmed());

    // The confirmation is not kept: the next launch asks for a new test call.
    model.reset();
    model = makeModel();
    EXPECT_EQ(model->records().size(), 1);
    EXPECT_FALSE(model->validatedCallID().has_value());
    EXPECT_FALSE(model->setupSteps()[5]);
    EXPECT_FALSE(model->validationCandidate().has_value()) << "a call of an earlier run does not count";
}

} // namespace
