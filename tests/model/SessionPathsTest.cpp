#include "tests/model/ConfiguredMacTest.h"

#include "app/audio/AudioBridge.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "platform/sim/mac/PhoneCallAudio.h"

#include <QFileInfo>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

const QString kNeedsCheck = QStringLiteral("Une vérification est nécessaire");

// `seconds` of a 440 Hz tone at half scale, as wire PCM.
QByteArray aiTone(double seconds)
{
    QByteArray bytes(int(seconds * 24000) * 2, '\0');
    auto* out = reinterpret_cast<int16_t*>(bytes.data());
    for (int n = 0; n < bytes.size() / 2; ++n)
        out[n] = int16_t(std::lround(16384.0 * std::sin(2.0 * M_PI * 440.0 * n / 24000.0)));
    return bytes;
}
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
        // The log may go on with what was done about the call.
        EXPECT_TRUE(
            std::any_of(model->log().begin(), model->log().end(),
                        [&](const QString& line) { return line.endsWith(QStringLiteral(" · ") + message); }))
            << what << ": " << model->log().join(" | ").toStdString();
        EXPECT_FALSE(model->audio().enginesRunning()) << what << ": the bridge is stopped";
    }

    // The AI starts assistant item `item` (when new) and sends `pcm` of it.
    void aiSpeaks(const QString& item, const QByteArray& pcm)
    {
        if (!m_items.contains(item)) {
            m_items << item;
            ai.send(
                QJsonObject{{"type", "response.output_item.added"},
                            {"output_index", 0},
                            {"item", QJsonObject{{"id", item}, {"type", "message"}, {"role", "assistant"}}}});
        }
        ai.send(QJsonObject{{"type", "response.output_audio.delta"},
                            {"item_id", item},
                            {"delta", QString::fromLatin1(pcm.toBase64())}});
    }

    // What the caller heard of the AI, in milliseconds: from its first to its last loud sample.
    double heardMilliseconds()
    {
        const std::vector<float> heard = mac.callAudio().heardByCaller();
        std::optional<size_t> first;
        size_t last = 0;
        for (size_t i = 0; i < heard.size(); ++i) {
            if (std::fabs(heard[i]) > 0.05f) {
                first = first.value_or(i);
                last = i;
            }
        }
        return first ? double(last - *first + 1) / 48.0 : 0.0;
    }

    // The time the caller's audio is sent in whole milliseconds, so that a turn end the AI names
    // falls exactly at the end of what was sent.
    qint64 sendUntilWholeMilliseconds()
    {
        for (int step = 0; step < 400; ++step) {
            const qint64 before = model->realtime().sentAudioBytes();
            // One IO buffer, and every chunk it captured sent before the clock moves again.
            mac.advance(512.0 / 48000.0);
            model->audio().synchronize();
            pumpEvents();
            waitFor([&] { return !model->realtime().isSending(); }, 2000);
            const qint64 bytes = model->realtime().sentAudioBytes();
            if (bytes != before && bytes % 48 == 0 &&
                waitFor([&] { return receivedAudioBytes() == bytes; }, 2000))
                return bytes / 48;
        }
        ADD_FAILURE() << "the caller's audio never reached a whole millisecond";
        return 0;
    }

    qint64 receivedAudioBytes() const
    {
        qint64 bytes = 0;
        for (const QJsonObject& event : ai.received(QStringLiteral("input_audio_buffer.append")))
            bytes += QByteArray::fromBase64(event["audio"].toString().toLatin1()).size();
        return bytes;
    }

    QStringList speakers() const
    {
        QStringList names;
        if (model->current())
            for (const TranscriptLine& line : model->current()->transcript)
                names << line.speaker;
        return names;
    }

private:
    QStringList m_items;
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

TEST_F(SessionPathsTest, AFatalAIFailureMidCallEndsSavesAndHangsUpUnlessTheManagerHoldsTheLine)
{
    struct Case {
        const char* what;
        std::function<void()> fault;
        QString code;
    };
    const std::vector<Case> cases{
        {"error event", [&] { ai.sendError(QStringLiteral("server_error")); }, "server_error"},
        {"failed response",
         [&] {
             ai.send(QJsonObject{
                 {"type", "response.done"},
                 {"response",
                  QJsonObject{{"id", "resp_1"},
                              {"status", "failed"},
                              {"status_details",
                               QJsonObject{{"type", "failed"},
                                           {"error", QJsonObject{{"type", "insufficient_quota"},
                                                                 {"code", "insufficient_quota"}}}}}}}});
         },
         "insufficient_quota"},
        {"session expired", [&] { ai.expireSession(); }, "session_expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        model->setRoutingConfirmed(true);
        model->setError(std::nullopt);
        arm();
        advance(9.0); // past the cool-down of the previous call
        const int hangups = mac.phone().hangupPresses();
        ringUntilSession(QStringLiteral("06 22 33 44 55"));
        ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
        ASSERT_TRUE(model->connected()) << why();
        const QUuid id = model->current()->id;
        advance(2.0);

        c.fault();
        ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
        const QString message =
            QStringLiteral("L’IA signale une erreur (%1). Vérifiez votre configuration.").arg(c.code);
        expectFailedAndSaved(message, c.what);
        EXPECT_EQ(mac.phone().hangupPresses(), hangups + 1) << "the caller is not left on a silent line";
        EXPECT_NE(mac.phone().state(), sim::CallState::Active);
        EXPECT_TRUE(model->log().first().endsWith(" · Appel raccroché dans Téléphone"))
            << model->log().first().toStdString();
        ASSERT_FALSE(model->records().isEmpty());
        EXPECT_EQ(model->records().first().id, id) << "saved before the hang-up";
        ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }));
        EXPECT_EQ(model->records().first().recordingFile,
                  std::optional<QString>("Appel-" + uuidText(id) + ".wav"))
            << model->records().first().recordingError.value_or("").toStdString();
        EXPECT_TRUE(waitFor([&] { return !ai.hasClient(); })) << "the AI connection is closed";
        mac.callerHangsUp();
    }

    // The manager is talking to the caller: the session ends but the line stays with them.
    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    arm();
    advance(9.0);
    ringUntilSession(QStringLiteral("06 22 33 44 66"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    model->toggleIntervention();
    ASSERT_TRUE(model->intervening()) << why();
    const int hangups = mac.phone().hangupPresses();
    ai.sendError(QStringLiteral("server_error"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    EXPECT_EQ(mac.phone().hangupPresses(), hangups);
    EXPECT_EQ(mac.phone().state(), sim::CallState::Active);
    EXPECT_TRUE(model->log().first().endsWith(
        " · Appel laissé ouvert : vous étiez au micro. Reprenez l’appel dans Téléphone."));
    mac.callerHangsUp();

    // Failures before the AI is ready: the call is never answered, so there is nothing to hang up.
    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    arm();
    advance(9.0);
    ai.setConfirmsSessions(false);
    int updatesBefore = sessionUpdates();
    const int pressesBefore = mac.phone().answerPresses();
    ringUntilSession(QStringLiteral("06 99 00 00 00"));
    ASSERT_TRUE(waitFor([&] { return sessionUpdates() > updatesBefore; }));
    ai.sendErrorValue(QStringLiteral("quota"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    expectFailedAndSaved(QStringLiteral("L’IA signale une erreur (erreur). Vérifiez votre configuration."),
                         "error while connecting");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing);
    EXPECT_EQ(mac.phone().answerPresses(), pressesBefore);
    advance(16.0);
    EXPECT_EQ(model->error(),
              std::optional<QString>("L’IA signale une erreur (erreur). Vérifiez votre configuration."))
        << "the cancelled time-out must not report again";
    mac.callerHangsUp();

    // A key the service refuses: the AI check says so and the switchboard stays off; a refusal when a
    // call comes in ends that session with the same words.
    ai.setConfirmsSessions(true);
    model->setRoutingConfirmed(true);
    model->setError(std::nullopt);
    ai.refuseHandshakes(401);
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return !model->checkingAI(); }));
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->aiStatus(), RealtimeClient::refusedHandshakeMessage(401));
    ai.refuseHandshakes(std::nullopt);
    model->setError(std::nullopt);
    arm();
    ai.refuseHandshakes(403);
    const qsizetype saved = model->records().size();
    ringUntilSession(QStringLiteral("06 99 00 00 01"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    expectFailedAndSaved(RealtimeClient::refusedHandshakeMessage(403), "refused handshake");
    EXPECT_EQ(model->records().size(), saved + 1);
    EXPECT_EQ(mac.phone().state(), sim::CallState::Ringing);
}

TEST_F(SessionPathsTest, AnErrorAboutOneRequestChangesNothingForTheCaller)
{
    arm();
    ringUntilSession(QStringLiteral("06 22 33 44 77"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    advance(2.0);
    ASSERT_FALSE(ai.received(QStringLiteral("response.create")).isEmpty());
    const int hangups = mac.phone().hangupPresses();

    ai.sendError(QStringLiteral("response_cancel_not_active"), QStringLiteral("orlea_1_99"));
    ASSERT_TRUE(waitFor([&] {
        return model->log().first().endsWith(
            " · L’IA a refusé une demande (response_cancel_not_active) · la conversation continue");
    })) << model->log().first().toStdString();
    advance(2.0);
    EXPECT_TRUE(model->busy());
    EXPECT_TRUE(model->connected());
    EXPECT_TRUE(model->armed());
    EXPECT_FALSE(model->error().has_value()) << why();
    EXPECT_EQ(model->status(), "Conversation en cours");
    EXPECT_EQ(mac.phone().state(), sim::CallState::Active);
    EXPECT_EQ(mac.phone().hangupPresses(), hangups);
    EXPECT_TRUE(ai.hasClient());
}

TEST_F(SessionPathsTest, ACallerWhoCutsInMakesTheServiceForgetWhatTheyNeverHeard)
{
    arm();
    ringUntilSession(QStringLiteral("06 31 31 31 31"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    advance(2.0);
    auto truncations = [&] { return ai.received(QStringLiteral("conversation.item.truncate")); };

    // Two seconds of answer arrive at once, its transcript ahead of it; the caller cuts in after 0.8 s.
    aiSpeaks(QStringLiteral("item_A"), aiTone(2.0));
    ai.send(QJsonObject{{"type", "response.output_audio_transcript.done"},
                        {"item_id", "item_A"},
                        {"transcript", "Je note votre nom et l’adresse du logement."}});
    ASSERT_TRUE(
        waitFor([&] { return model->audio().voiceQueuedFrames() >= 48000 && speakers().size() == 1; }));
    advance(0.8);
    ai.send(QJsonObject{
        {"type", "input_audio_buffer.speech_started"}, {"audio_start_ms", 100}, {"item_id", "c1"}});
    ASSERT_TRUE(waitFor([&] { return truncations().size() == 1; }));
    // What is left of the answer, arriving late, is not played either.
    aiSpeaks(QStringLiteral("item_A"), aiTone(0.5));
    advance(1.0);
    const QJsonObject cut = truncations()[0];
    EXPECT_EQ(cut["item_id"], "item_A");
    EXPECT_EQ(cut["content_index"], 0);
    const double heard = heardMilliseconds();
    EXPECT_GT(heard, 700.0);
    EXPECT_LT(heard, 1000.0);
    EXPECT_NEAR(cut["audio_end_ms"].toDouble(), heard, 512.0 / 48.0)
        << "what the Phone app's microphone got, within one driver buffer";
    ASSERT_EQ(model->current()->transcript.size(), 1);
    EXPECT_TRUE(model->current()->transcript[0].interrupted) << "the cut answer is marked";
    EXPECT_EQ(model->current()->transcript[0].text, "Je note votre nom et l’adresse du logement.")
        << "its text is what was received";

    // Speech when nothing is left to hear forgets nothing.
    aiSpeaks(QStringLiteral("item_B"), aiTone(0.3));
    advance(1.0);
    ai.send(QJsonObject{
        {"type", "input_audio_buffer.speech_started"}, {"audio_start_ms", 900}, {"item_id", "c2"}});
    ai.send(QJsonObject{
        {"type", "response.output_audio_transcript.done"}, {"item_id", "item_B"}, {"transcript", "Merci."}});
    ASSERT_TRUE(waitFor([&] { return speakers().size() == 2; }));
    EXPECT_EQ(truncations().size(), 1);
    EXPECT_FALSE(model->current()->transcript[1].interrupted);

    // While the manager holds the line nothing of the AI reaches the caller: cut at 0, and the line
    // that arrives afterwards is marked.
    model->toggleIntervention();
    ASSERT_TRUE(model->intervening()) << why();
    aiSpeaks(QStringLiteral("item_C"), aiTone(1.0));
    advance(0.5);
    ai.send(QJsonObject{
        {"type", "input_audio_buffer.speech_started"}, {"audio_start_ms", 2000}, {"item_id", "c3"}});
    ASSERT_TRUE(waitFor([&] { return truncations().size() == 2; }));
    EXPECT_EQ(truncations()[1]["item_id"], "item_C");
    EXPECT_EQ(truncations()[1]["audio_end_ms"], 0);
    ai.send(QJsonObject{{"type", "response.output_audio_transcript.done"},
                        {"item_id", "item_C"},
                        {"transcript", "Un instant."}});
    ASSERT_TRUE(waitFor([&] { return speakers().size() == 4; })) << speakers().join(",").toStdString();
    EXPECT_TRUE(model->current()->transcript.last().interrupted);
    model->toggleIntervention();

    model->hangUp();
    ASSERT_FALSE(model->records().isEmpty());
    QStringList marked;
    for (const TranscriptLine& line : model->records().first().transcript)
        if (line.interrupted)
            marked << line.text;
    EXPECT_EQ(marked, (QStringList{"Je note votre nom et l’adresse du logement.", "Un instant."}))
        << "the marks are saved with the record";
    EXPECT_FALSE(model->error().has_value()) << why();
}

TEST_F(SessionPathsTest, EachAnswerTimeRunsFromTheEndOfTheCallersTurnToItsFirstSoundOnThePhone)
{
    arm();
    ringUntilSession(QStringLiteral("06 41 41 41 41"));
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    ASSERT_TRUE(model->connected()) << why();
    advance(2.0);

    // The service says where the caller's turn ended, in the audio it got; the answer comes `delay`
    // of Mac time after that audio was sent.
    const std::vector<double> delays{0.9, 1.3, 0.6};
    for (size_t turn = 0; turn < delays.size(); ++turn) {
        const qint64 endMs = sendUntilWholeMilliseconds();
        ai.send(QJsonObject{{"type", "input_audio_buffer.speech_stopped"}, {"audio_end_ms", endMs}});
        advance(delays[turn]);
        const int64_t queued = model->audio().voiceQueuedFrames();
        aiSpeaks(QStringLiteral("item_%1").arg(turn), aiTone(0.2));
        ASSERT_TRUE(waitFor([&] { return model->audio().voiceQueuedFrames() > queued; }));
        ASSERT_EQ(model->turnLatencies().size(), qsizetype(turn + 1));
        EXPECT_NEAR(model->turnLatencies().last(), delays[turn], 1e-9) << "turn " << turn;
        advance(1.0); // the answer plays out
    }
    EXPECT_EQ(model->current()->responseLatency, (ResponseLatency{3, 900, 1300}));
    // A turn the AI answers while the manager holds the line is not measured.
    model->toggleIntervention();
    ASSERT_TRUE(model->intervening()) << why();
    ai.send(QJsonObject{{"type", "input_audio_buffer.speech_stopped"}, {"audio_end_ms", 1000}});
    aiSpeaks(QStringLiteral("item_9"), aiTone(0.2));
    advance(0.5);
    model->toggleIntervention();
    EXPECT_EQ(model->turnLatencies().size(), 3);

    mac.callerHangsUp();
    advance(6.0);
    ASSERT_FALSE(model->busy());
    EXPECT_EQ(model->records().first().responseLatency, (ResponseLatency{3, 900, 1300}));
    EXPECT_EQ(model->turnLatencies().size(), 3) << "the last call's times stay to be read";
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
