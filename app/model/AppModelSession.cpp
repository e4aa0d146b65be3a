#include "app/audio/AudioBridge.h"
#include "app/audio/CallAudioRecorder.h"
#include "app/audio/MacAudioRoute.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/model/AppModel.h"
#include "app/model/FollowUpDrafter.h"
#include "app/phone/PhoneAutomation.h"
#include "app/realtime/RealtimeClient.h"
#include "platform/workspace/Workspace.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <memory>
#include <utility>
#include <variant>

// --- sessions

void AppModel::begin(bool phoneMode, const QString& caller, std::function<void()> action)
{
    if (m_busy)
        return;
    Validated checked;
    try {
        checked = validate(phoneMode);
    } catch (const AppError& failure) {
        setError(failure.message());
        return;
    }
    // The previous call's draft gives way: this conversation needs the AI session.
    abandonFollowUpDraft(QStringLiteral("une nouvelle conversation a commencé"));
    setLastCall(std::nullopt);
    setFollowUpDraftStatus(QString());
    m_sessionInput = checked.input;
    m_sessionOutput = checked.output;
    m_audioRecoveryCount = 0;
    setAudioDiagnostic(QStringLiteral("Ouverture des circuits audio…"));
    saveSettings();

    const QUuid generation = QUuid::createUuid();
    m_generation = generation;
    QPointer<AppModel> self(this);
    // Runs on the capture tap thread: only hops to the main thread, where the token is checked.
    m_audio->onPCM = [self, generation](const QByteArray& pcm) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, pcm] {
                if (self)
                    self->forward(pcm, generation);
            },
            Qt::QueuedConnection);
    };

    setBusy(true);
    setConnected(false);
    m_turns.reset();
    m_greetingEventID.clear();
    setTurnLatencies({});
    m_phoneSession = phoneMode;
    m_sawActiveCall = false;
    m_missingActive = 0;

    CallRecord fresh;
    fresh.id = QUuid::createUuid();
    fresh.date = secondsSinceReferenceDate(m_clock.now());
    fresh.caller = caller;
    fresh.kind = phoneMode ? QStringLiteral("Appel") : QStringLiteral("Essai");
    setCurrent(fresh);

    setStatus(QStringLiteral("Connexion à Orlea…"));
    setDetail(QStringLiteral("Préparation de la conversation"));
    m_callStarted = m_clock.now();
    const SoundDevice input = checked.input;
    const SoundDevice output = checked.output;
    m_readyAction = [self, input, output, phoneMode, caller, action, generation] {
        if (self)
            self->readyStep(input, output, phoneMode, caller, action, generation);
    };
    m_realtime->connect(checked.key, m_model, m_voice, instructions());
    m_timeout = m_scheduler.after(kReadyTimeoutSeconds, [self, generation] {
        if (self)
            self->readyTimedOut(generation);
    });
}

void AppModel::forward(const QByteArray& pcm, const QUuid& generation)
{
    if (generation != m_generation || !m_connected || m_intervening)
        return;
    m_realtime->append(pcm);
    m_turns.audioSent(m_realtime->sentAudioBytes(), m_clock.uptimeSeconds());
}

void AppModel::readyTimedOut(const QUuid& generation)
{
    if (generation != m_generation || m_connected)
        return;
    fail(QStringLiteral("L’IA n’a pas répondu dans les 15 secondes. Aucun décrochage automatique effectué."));
}

void AppModel::sessionReady()
{
    m_timeout.cancel();
    m_timeout = TaskHandle();
    std::function<void()> action = std::move(m_readyAction);
    m_readyAction = nullptr;
    if (action)
        action();
}

void AppModel::readyStep(const SoundDevice& input, const SoundDevice& output, bool phoneMode,
                         const QString& caller, const std::function<void()>& action, const QUuid& generation)
{
    try {
        if (m_recordingEnabled && m_current) {
            const QString path = AppPaths::recordingsFolder() + QStringLiteral("/Appel-") +
                                 uuidText(m_current->id) + QStringLiteral(".wav");
            m_recorder = std::make_shared<CallAudioRecorder>(path, m_clock);
            m_audio->recorder = m_recorder;
        }
        m_audio->applyVoiceEQ(m_voiceEQ);
        m_audio->start(input.id, output.id, !phoneMode);
        if (action)
            action();
    } catch (const AppError& failure) {
        fail(failure.message());
        return;
    }
    setConnected(true);
    setStatus(QStringLiteral("Conversation en cours"));
    setDetail(m_recorder ? caller + QStringLiteral(" · Enregistrement audio actif") : caller);
    event(phoneMode ? QStringLiteral("Décrochage demandé") : QStringLiteral("Essai audio démarré"));
    QPointer<AppModel> self(this);
    m_scheduler.after(kGreetingDelaySeconds, [self, generation] {
        if (self)
            self->postAnswerCheck(generation);
    });
}

// Engines still running need a full restart on the session's devices; engines the system stopped are
// resumed where they are.
void AppModel::restartSessionAudio()
{
    m_turns.voiceDiscarded();
    if (m_audio->enginesRunning())
        m_audio->start(m_sessionInput->id, m_sessionOutput->id, !m_phoneSession);
    else
        m_audio->resumeStoppedEngines();
}

void AppModel::postAnswerCheck(const QUuid& generation)
{
    if (generation != m_generation || !m_connected)
        return;
    if (m_audio->needsRestart()) {
        try {
            restartSessionAudio();
        } catch (const AppError& failure) {
            fail(QStringLiteral("Audio interrompu après décrochage : ") + failure.message());
            return;
        }
        event(QStringLiteral("Circuits audio réouverts après le décrochage"));
    }
    m_greetingEventID = m_realtime->greet();
}

void AppModel::realtimeFailed(const RealtimeError& failure)
{
    if (!m_busy && m_drafter->isActive()) {
        m_drafter->failed(failure); // the call is over: nothing to end or hang up
        return;
    }
    if (failure.recoverable) {
        // Typically the caller said "Allô ?" before the greeting and the service answered at once:
        // that answer is the greeting, a second one would talk over it.
        if (!m_greetingEventID.isEmpty() && failure.eventID == m_greetingEventID &&
            failure.code == QLatin1String("conversation_already_has_active_response"))
            event(QStringLiteral(
                "L’appelant a parlé avant l’accueil : la réponse déjà en cours sert d’accueil"));
        else
            event(failure.text);
        return;
    }
    const bool answeredCall = m_busy && m_connected && m_phoneSession;
    const bool managerOnLine = m_intervening;
    // A failed session is not asked for a draft.
    m_realtime->close();
    fail(failure.text);
    hangUpEndedCall(answeredCall, managerOnLine);
}

void AppModel::hangUpEndedCall(bool answeredCall, bool managerOnLine)
{
    if (!answeredCall)
        return;
    if (managerOnLine) {
        event(QStringLiteral("Appel laissé ouvert : vous étiez au micro. Reprenez l’appel dans Téléphone."));
        return;
    }
    try {
        m_phone->hangup();
        event(QStringLiteral("Appel raccroché dans Téléphone"));
    } catch (const AppError& failure) {
        event(failure.message());
        if (!m_error)
            setError(failure.message());
    }
}

void AppModel::voiceArrived(const QByteArray& pcm, const QString& itemID)
{
    // The rest of an answer the caller cut short is never played.
    if (!m_busy || m_turns.isCut(itemID))
        return;
    const int64_t played = m_audio->voicePlayedFrames();
    std::optional<int64_t> queuedAt;
    if (!m_intervening) {
        queuedAt = m_audio->voiceQueuedFrames();
        m_audio->enqueue(pcm);
    }
    const std::optional<double> latency =
        m_turns.voiceArrived(itemID, int(pcm.size() / 2), queuedAt, played, m_clock.uptimeSeconds());
    if (!latency)
        return;
    setTurnLatencies(m_turns.latencies());
    if (m_current) {
        m_current->responseLatency = ResponseLatency::summarize(m_turns.latencies());
        markChanged();
    }
}

void AppModel::transcriptArrived(const QString& speaker, const QString& text, const QString& itemID)
{
    if (!m_current)
        return;
    TranscriptLine line = TranscriptLine::make(speaker, text);
    if (speaker == QLatin1String("Orlea"))
        line.interrupted = m_turns.assistantLine(itemID, line.id);
    m_current->transcript.append(line);
    markChanged();
}

void AppModel::callerStartedSpeaking()
{
    const std::optional<ConversationTurns::Cut> cut = m_turns.callerSpoke(m_audio->voicePlayedFrames());
    m_audio->interrupt();
    if (!cut || !m_busy)
        return;
    // The service forgets what the caller never heard (it refuses an item it cannot name).
    if (!cut->itemID.isEmpty())
        m_realtime->truncate(cut->itemID, cut->audioEndMs);
    if (!m_current)
        return;
    if (const std::optional<QUuid> lineID = m_turns.lineOf(cut->itemID)) {
        for (TranscriptLine& line : m_current->transcript) {
            if (line.id == *lineID)
                line.interrupted = true;
        }
        markChanged();
    }
}

void AppModel::finish()
{
    m_generation = QUuid::createUuid();
    m_timeout.cancel();
    m_timeout = TaskHandle();
    m_readyAction = nullptr;
    m_audio->stop();
    // A call with the caller's words keeps its session a few seconds more for the follow-up draft;
    // otherwise closing reports the final usage into m_current.
    const bool drafting = m_current && wantsFollowUpDraft(*m_current);
    // With no session (a sleep, a failure while idle) the previous call's draft keeps the client.
    if (!drafting && !m_drafter->isActive())
        m_realtime->close();
    m_macRoute->restore();
    if (m_current) {
        m_history.insert(*m_current);
        setLastCall(m_current->id);
        if (drafting)
            startFollowUpDraft(*m_current);
        if (m_recorder) {
            const QUuid id = m_current->id;
            QSet<QUuid> finalizing = m_finalizingRecordings;
            finalizing.insert(id);
            setFinalizingRecordings(finalizing);
            QPointer<AppModel> self(this);
            // The completion runs on the recorder's queue.
            m_recorder->finish([self, id](const CallAudioRecorder::Result& result) {
                std::optional<QString> file;
                std::optional<QString> error;
                if (const QString* path = std::get_if<QString>(&result))
                    file = QFileInfo(*path).fileName();
                else
                    error = std::get<AppError>(result).message();
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [self, id, file, error] {
                        if (self)
                            self->recordingFinished(id, file, error);
                    },
                    Qt::QueuedConnection);
            });
        }
    }
    m_recorder.reset();
    m_audio->recorder.reset();
    setIntervening(false);
    setCurrent(std::nullopt);
    setBusy(false);
    setConnected(false);
    m_phoneSession = false;
    m_callStarted.reset();
    m_cooldownUntil = m_clock.now().addMSecs(qint64(kCooldownSeconds * 1000));
    m_ringSince.reset();
    setStatus(m_armed ? QStringLiteral("À l’écoute des appels") : QStringLiteral("Standard en pause"));
    setDetail(QStringLiteral("La conversation est conservée sur ce Mac."));
    markChanged();
}

void AppModel::recordingFinished(const QUuid& id, const std::optional<QString>& file,
                                 const std::optional<QString>& error)
{
    QSet<QUuid> finalizing = m_finalizingRecordings;
    finalizing.remove(id);
    setFinalizingRecordings(finalizing);
    const bool found = m_history.update(id, [&](CallRecord& changed) {
        if (file)
            changed.recordingFile = file;
        else
            changed.recordingError = error;
    });
    if (found)
        markChanged();
}

void AppModel::takeCurrentCall()
{
    if (m_busy)
        return;
    const std::optional<IncomingCall> call = m_phone->incoming();
    if (!call) {
        setError(QStringLiteral(
            "Aucun bouton Décrocher détecté. Faites sonner la ligne iPhone avec le relais Mac activé."));
        return;
    }
    PhoneAutomation* phone = m_phone.get();
    const IncomingCall ringing = *call;
    begin(true, ringing.caller, [phone, ringing] { phone->answer(ringing); });
}

void AppModel::joinActiveCall()
{
    if (!m_phone->hasActiveCall()) {
        setError(QStringLiteral("Aucun appel actif détecté. Lancez ou décrochez un appel dans Téléphone."));
        return;
    }
    begin(true, QStringLiteral("Appel en cours · identité à confirmer"), nullptr);
}

void AppModel::hangUp()
{
    if (!m_busy)
        return;
    if (m_phoneSession) {
        try {
            m_phone->hangup();
        } catch (const AppError& failure) {
            setError(failure.message());
        }
    }
    finish();
}

// --- monitoring loop

void AppModel::tick()
{
    resumeSetupIfReady();
    setAccessibility(m_accessibilityService.isProcessTrusted());
    watchRelay(m_clock.now());
    if (m_busy) {
        superviseSession();
        return;
    }
    if (!m_armed)
        return;
    if (!m_accessibility) {
        setArmed(false);
        setError(QStringLiteral("L’autorisation Accessibilité a été retirée."));
        return;
    }
    const QDateTime now = m_clock.now();
    if (now <= m_cooldownUntil)
        return;
    const std::optional<IncomingCall> call = m_phone->incoming();
    if (!call) {
        m_ringSince.reset();
        return;
    }
    if (!m_ringSince) {
        m_ringSince = now;
        setDetail(QStringLiteral("Appel entrant · ") + call->caller);
    }
    if (m_ringSince->msecsTo(now) >= qint64(kRingConfirmSeconds * 1000)) {
        m_ringSince.reset();
        PhoneAutomation* phone = m_phone.get();
        const IncomingCall ringing = *call;
        begin(true, ringing.caller, [phone, ringing] { phone->answer(ringing); });
    }
}

void AppModel::superviseSession()
{
    if (m_connected) {
        const QString flow = m_audio->flowStatus();
        setAudioDiagnostic(flow);
        if (m_audio->needsRestart() && m_sessionInput && m_sessionOutput) {
            if (m_intervening) {
                fail(QStringLiteral(
                    "Le son a été interrompu pendant votre intervention. Reprenez l’appel dans Téléphone."));
                return;
            }
            if (m_audioRecoveryCount > 1) {
                const QString what =
                    m_phoneSession ? QStringLiteral("Le son de l’appel est interrompu.")
                                   : QStringLiteral("Le micro ou la sortie du Mac ne transmet plus d’audio.");
                fail(what + QLatin1Char(' ') + flow +
                     QStringLiteral(" La session a été arrêtée et l’audio disponible sauvegardé."));
                return;
            }
            ++m_audioRecoveryCount;
            event(QStringLiteral("Diagnostic avant relance : ") + flow);
            try {
                restartSessionAudio();
            } catch (const AppError& failure) {
                fail(QStringLiteral("Impossible de rétablir le son : ") + failure.message());
                return;
            }
            event(QStringLiteral("Transport audio relancé (%1/2)").arg(m_audioRecoveryCount));
        }
    }
    const QDateTime now = m_clock.now();
    if (m_callStarted && m_callStarted->msecsTo(now) > qint64(kSessionLimitSeconds * 1000)) {
        const bool answeredCall = m_connected && m_phoneSession;
        const bool managerOnLine = m_intervening;
        finish();
        setArmed(false);
        setStatus(QStringLiteral("Limite de 20 minutes atteinte"));
        hangUpEndedCall(answeredCall, managerOnLine);
        return;
    }
    if (!m_connected || !m_phoneSession)
        return;
    if (m_phone->hasActiveCall()) {
        m_sawActiveCall = true;
        m_missingActive = 0;
        return;
    }
    if (m_sawActiveCall) {
        ++m_missingActive;
        if (m_missingActive >= kEndAfterMissingTicks)
            finish();
        return;
    }
    if (m_callStarted && m_callStarted->msecsTo(now) > qint64(kAnswerConfirmSeconds * 1000))
        fail(QStringLiteral("Le décrochage a été demandé, mais la présence d’un appel actif n’a pas pu être "
                            "confirmée. L’audio disponible a été sauvegardé."));
}

void AppModel::toggleArmed()
{
    if (m_armed) {
        cancelAudioChecks();
        setArmed(false);
        setStatus(m_busy ? QStringLiteral("Conversation en cours") : QStringLiteral("Standard en pause"));
        return;
    }
    if (m_busy)
        return;
    try {
        validate(true);
    } catch (const AppError& failure) {
        setError(failure.message());
        setPage(QStringLiteral("Connexions"));
        return;
    }
    saveSettings();
    verifyAI(true);
}

void AppModel::sleepPause()
{
    cancelAudioChecks();
    setArmed(false);
    finish();
    setStatus(QStringLiteral("En pause · Mac en veille"));
}

void AppModel::watchRelay(const QDateTime& now)
{
    if (m_observingRelay) {
        if (!m_accessibility) {
            setObservingRelay(false);
            setRelayStatus(QStringLiteral("Autorisation Accessibilité manquante"));
        } else if (m_phone->incoming() || m_phone->hasActiveCall()) {
            m_lastRelayEvidence = now;
            setObservingRelay(false);
            setRelayStatus(QStringLiteral("Appel détecté sur le Mac à ") +
                           QLocale().toString(now.toLocalTime().time(), QLocale::ShortFormat));
        } else if (m_relayDeadline && now >= *m_relayDeadline) {
            setObservingRelay(false);
            setRelayStatus(QStringLiteral("Aucun appel détecté pendant le test · relais non confirmé"));
        }
    }
    if (m_lastRelayEvidence && !m_observingRelay &&
        m_lastRelayEvidence->msecsTo(now) > qint64(kRelayFreshnessSeconds * 1000)) {
        setRelayStatus(QStringLiteral("Dernier appel détecté à ") +
                       QLocale().toString(m_lastRelayEvidence->toLocalTime().time(), QLocale::ShortFormat) +
                       QStringLiteral(" · connexion actuelle non confirmée"));
    }
}

void AppModel::observeRelay()
{
    refresh();
    if (!m_accessibility) {
        setError(QStringLiteral("Autorisez Accessibilité pour observer l’arrivée de l’appel sur le Mac."));
        return;
    }
    if (m_busy || m_armed || m_preparingAudio || m_testingMicrophone || m_observingRelay || m_macPreparing)
        return;
    setObservingRelay(true);
    m_relayDeadline = m_clock.now().addMSecs(qint64(kRelayObservationSeconds * 1000));
    setRelayStatus(QStringLiteral("Appelez votre iPhone depuis une autre ligne · attente 45 secondes"));
    openPhone();
}

void AppModel::openPhone()
{
    if (const std::optional<QUrl> url =
            m_workspace.urlForApplication(QStringLiteral("com.apple.mobilephone")))
        m_workspace.openApplication(*url, workspace::OpenConfiguration{}, [](auto, auto) {});
}

void AppModel::toggleIntervention()
{
    if (!m_busy || !m_connected || !m_phoneSession)
        return;
    if (m_intervening) {
        m_audio->stopIntervention();
        setIntervening(false);
        if (m_current) {
            m_current->transcript.append(TranscriptLine::make(
                QStringLiteral("Suivi"),
                QStringLiteral("Fin de l’intervention du gestionnaire. Reprise de l’IA.")));
            markChanged();
        }
        event(QStringLiteral("Micro du gestionnaire fermé · reprise de l’IA"));
        return;
    }
    std::optional<SoundDevice> microphone;
    std::optional<SoundDevice> listening;
    for (const SoundDevice& device : m_devices) {
        if (!microphone && device.uid == m_interventionMicUID && device.input)
            microphone = device;
        if (!listening && device.uid == m_interventionOutputUID && device.output)
            listening = device;
    }
    auto isCallDevice = [this](const SoundDevice& device) {
        return device.id == m_sessionInput->id || device.id == m_sessionOutput->id;
    };
    if (!microphone || !listening || !m_sessionInput || !m_sessionOutput || isCallDevice(*microphone) ||
        isCallDevice(*listening)) {
        setError(QStringLiteral("Choisissez votre micro et votre casque ou haut-parleur dans Connexions → "
                                "Intervention humaine."));
        return;
    }
    try {
        m_audio->startIntervention(microphone->id, listening->id, m_sessionInput->id);
    } catch (const AppError& failure) {
        setError(failure.message());
        return;
    }
    m_turns.voiceDiscarded();
    setIntervening(true);
    if (m_current) {
        m_current->transcript.append(TranscriptLine::make(
            QStringLiteral("Suivi"),
            QStringLiteral(
                "Intervention du gestionnaire : voix de l’IA suspendue. Cette partie est conservée dans "
                "l’audio si l’enregistrement est activé ; elle n’est pas transcrite automatiquement.")));
        markChanged();
    }
    event(QStringLiteral("Micro du gestionnaire ouvert vers l’appelant"));
}

void AppModel::startTest()
{
    if (m_busy || m_armed || setupWorking())
        return;
    if (!m_macAudioVerified) {
        prepareMacAssistant();
        return;
    }
    setError(std::nullopt);
    refresh();
    try {
        m_macRoute->prepare(m_devices);
    } catch (const AppError& failure) {
        m_macRoute->restore();
        setMacAudioVerified(false);
        setError(failure.message());
        return;
    }
    begin(false, QStringLiteral("Conversation sur le Mac"), nullptr);
    if (!m_busy)
        m_macRoute->restore();
}

QString AppModel::macTestRoute() const
{
    auto nameOf = [this](AudioObjectPropertySelector selector, bool input) -> std::optional<QString> {
        AudioObjectID id = 0;
        try {
            id = m_macRoute->readSystem(selector);
        } catch (const AppError&) {
            return std::nullopt;
        }
        for (const SoundDevice& device : m_devices) {
            if (device.id == id && (input ? device.input : device.output))
                return device.name;
        }
        return std::nullopt;
    };
    return QStringLiteral("Micro : ") +
           nameOf(kAudioHardwarePropertyDefaultInputDevice, true)
               .value_or(QStringLiteral("Micro indisponible")) +
           QStringLiteral(" · Sortie : ") +
           nameOf(kAudioHardwarePropertyDefaultOutputDevice, false)
               .value_or(QStringLiteral("Sortie indisponible"));
}

namespace {

// Polls in 100 ms steps until the recordings are written or the deadline passes; `done` runs once.
void awaitRecordings(QPointer<AppModel> model, Scheduler& scheduler, Clock& clock, double deadline,
                     std::shared_ptr<std::function<void()>> done)
{
    if (!model || model->finalizingRecordings().isEmpty() || clock.uptimeSeconds() >= deadline) {
        if (*done)
            std::exchange(*done, nullptr)();
        return;
    }
    scheduler.after(0.1, [model, &scheduler, &clock, deadline, done] {
        awaitRecordings(model, scheduler, clock, deadline, done);
    });
}

} // namespace

void AppModel::finishBeforeQuit(double maxWaitSeconds, std::function<void()> done)
{
    // The process is winding down: no new call may be taken while the recordings are written, and
    // an audio check gives the Mac its devices back now rather than after its last step.
    m_timer.cancel();
    cancelAudioChecks();
    finish();
    abandonFollowUpDraft(QStringLiteral("Orlea se ferme"));
    auto once = std::make_shared<std::function<void()>>(std::move(done));
    awaitRecordings(QPointer<AppModel>(this), m_scheduler, m_clock, m_clock.uptimeSeconds() + maxWaitSeconds,
                    once);
}
