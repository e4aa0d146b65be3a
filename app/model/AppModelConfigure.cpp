#include "app/audio/AudioRouteProbe.h"
#include "app/audio/MacAudioRoute.h"
#include "app/audio/MicrophoneProbe.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/model/AppModel.h"
#include "platform/hal/AudioHardware.h"
#include "platform/workspace/Workspace.h"
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

void AppModel::installNativeAudio()
{
    if (m_busy || m_armed || audioCheckRunning() || m_observingRelay)
        return;
    if (!m_nativeAudioPackage || !QFileInfo(*m_nativeAudioPackage).isFile()) {
        setError(QStringLiteral("L’installateur audio est absent de ce paquet. Utilisez la distribution "
                                "complète Orlea 0.2."));
        return;
    }
    // The system Installer takes over; the devices are noticed by the next refresh when they appear.
    m_workspace.openUrl(QUrl::fromLocalFile(*m_nativeAudioPackage));
}

void AppModel::configureAll()
{
    if (m_configuringAll || m_busy || m_armed || audioCheckRunning() || m_checkingAI || m_observingRelay)
        return;
    setSetupWaiting(false);
    m_setupWaitTarget.clear();
    setConfiguringAll(true);
    QPointer<AppModel> self(this);
    m_configureWait = m_scheduler.after(0, [self] {
        if (self)
            self->runConfiguration();
    });
}

void AppModel::runConfiguration()
{
    refresh();
    auto waitFor = [this](const QString& target, const QString& text) {
        setConfigurationStatus(text);
        setSetupWaiting(true);
        m_setupWaitTarget = target;
    };
    if (!VelkaroDevices::pair(m_devices)) {
        waitFor(QStringLiteral("driver"),
                QStringLiteral("Installez le module audio dans la fenêtre macOS. Après un éventuel "
                               "redémarrage, rouvrez cet assistant."));
        setConfiguringAll(false);
        installNativeAudio();
        return;
    }
    if (!m_micAllowed) {
        waitFor(QStringLiteral("microphone"),
                QStringLiteral("Autorisez le microphone dans la fenêtre macOS. La vérification reprendra "
                               "automatiquement."));
        setConfiguringAll(false);
        allowMicrophone();
        return;
    }
    if (!m_accessibility) {
        waitFor(
            QStringLiteral("accessibility"),
            QStringLiteral("Activez Orlea dans Accessibilité. La vérification reprendra automatiquement."));
        setConfiguringAll(false);
        allowAccessibility();
        return;
    }
    if (!m_keyPresent) {
        setConfigurationStatus(
            QStringLiteral("Saisissez votre clé OpenAI une fois, puis cliquez sur Suivant."));
        setConfiguringAll(false);
        return;
    }
    if (!m_aiVerified) {
        setConfigurationStatus(QStringLiteral("Vérification de la connexion OpenAI…"));
        verifyAI(false);
        waitWhile([this] { return m_checkingAI; }, [this] { configureAfterAICheck(); });
        return;
    }
    configureAudio();
}

void AppModel::waitWhile(std::function<bool()> working, std::function<void()> next)
{
    if (!working()) {
        next();
        return;
    }
    QPointer<AppModel> self(this);
    m_configureWait = m_scheduler.after(0.1, [self, working = std::move(working), next = std::move(next)] {
        if (self)
            self->waitWhile(working, next);
    });
}

void AppModel::configureAfterAICheck()
{
    if (!m_aiVerified) {
        setConfigurationStatus(QStringLiteral("Connexion IA à corriger : ") + m_aiStatus);
        setConfiguringAll(false);
        return;
    }
    configureAudio();
}

void AppModel::configureAudio()
{
    if (!m_routingConfirmed) {
        setConfigurationStatus(
            QStringLiteral("Configuration et test des circuits audio et de l’enregistrement…"));
        prepareNativeAudio();
        waitWhile([this] { return m_preparingAudio; },
                  [this] {
                      if (!m_routingConfirmed) {
                          setConfigurationStatus(QStringLiteral("Configuration audio à corriger. ") +
                                                 m_error.value_or(m_nativeAudioStatus));
                          setConfiguringAll(false);
                          return;
                      }
                      configureAfterAudio();
                  });
        return;
    }
    configureAfterAudio();
}

void AppModel::configureAfterAudio()
{
    if (m_macAudioVerified) {
        finishConfiguration();
        return;
    }
    setConfigurationStatus(QStringLiteral("Vérification du micro et des haut-parleurs du Mac…"));
    verifyMacAudio(false, [this](const std::optional<AppError>& failure) {
        if (failure) {
            setError(failure->localizedDescription());
            setConfigurationStatus(QStringLiteral("Audio du Mac à corriger : ") +
                                   failure->localizedDescription());
            setConfiguringAll(false);
            return;
        }
        finishConfiguration();
    });
}

void AppModel::finishConfiguration()
{
    const QStringList issues = readinessIssues();
    setConfigurationStatus(issues.isEmpty()
                               ? QStringLiteral("Réglages vérifiés. Dernière étape : un appel test.")
                               : QStringLiteral("Une vérification reste nécessaire : ") +
                                     issues.join(QStringLiteral(", ")));
    setConfiguringAll(false);
}

void AppModel::cancelConfiguration()
{
    if (!m_configuringAll)
        return;
    m_configureWait.cancel();
    cancelRouteProbe();
    cancelMacCheck();
    setConfigurationStatus(QStringLiteral("Configuration interrompue. Relancez-la quand vous voulez."));
    setConfiguringAll(false);
}

void AppModel::setShowSetupAssistant(bool shown)
{
    if (m_showSetupAssistant == shown)
        return;
    m_showSetupAssistant = shown;
    markChanged();
    if (!shown)
        cancelConfiguration();
}

void AppModel::resumeSetupIfReady()
{
    if (!m_showSetupAssistant || !m_setupWaiting || setupWorking() || m_busy || m_armed)
        return;
    refresh();
    const bool done = (m_setupWaitTarget == QLatin1String("driver") && VelkaroDevices::pair(m_devices)) ||
                      (m_setupWaitTarget == QLatin1String("microphone") && m_micAllowed) ||
                      (m_setupWaitTarget == QLatin1String("accessibility") && m_accessibility);
    if (done)
        configureAll();
}

void AppModel::verifyMacAudio(bool keepRoute, std::function<void(const std::optional<AppError>&)> done)
{
    cancelMacCheck();
    setMacAudioVerified(false);
    setAudioProbeActive(true);
    setProbeLevels({});
    try {
        m_macRoute->prepare(m_devices);
    } catch (const AppError& failure) {
        setAudioProbeActive(false);
        setProbeLevels({});
        if (done)
            done(failure);
        return;
    }
    m_macCheck = QUuid::createUuid();
    m_macCheckDone = std::move(done);
    // The new defaults settle before the devices are read again.
    QPointer<AppModel> self(this);
    const QUuid check = m_macCheck;
    m_macSettle = m_scheduler.after(0.3, [self, check, keepRoute] {
        if (self && self->m_macCheck == check)
            self->macCheckSettled(keepRoute);
    });
}

void AppModel::macCheckSettled(bool keepRoute)
{
    refresh();
    std::optional<SoundDevice> input;
    std::optional<SoundDevice> output;
    try {
        const AudioObjectID defaultInput = m_macRoute->readSystem(kAudioHardwarePropertyDefaultInputDevice);
        const AudioObjectID defaultOutput = m_macRoute->readSystem(kAudioHardwarePropertyDefaultOutputDevice);
        for (const SoundDevice& device : m_devices) {
            if (!input && device.id == defaultInput && device.input)
                input = device;
            if (!output && device.id == defaultOutput && device.output)
                output = device;
        }
    } catch (const AppError&) {
        // An unreadable default is a missing one.
    }
    if (!input || !output) {
        endMacCheck(AppError(QStringLiteral("Micro ou haut-parleurs du Mac indisponibles.")), keepRoute);
        return;
    }
    setStatus(QStringLiteral("Vérification de l’audio du Mac…"));
    const QUuid check = m_macCheck;
    m_macProbe->runMac(
        input->id, output->id,
        [this](const QString& text, double raw, double converted) {
            setProbeLevels({raw, converted});
            setStatus(text);
            setConfigurationStatus(text);
        },
        [this, check, keepRoute](const std::optional<AppError>& failure) {
            if (m_macCheck == check)
                endMacCheck(failure, keepRoute);
        });
}

void AppModel::endMacCheck(const std::optional<AppError>& failure, bool keepRoute)
{
    m_macCheck = QUuid();
    if (!failure)
        setMacAudioVerified(true);
    if (failure || !keepRoute)
        m_macRoute->restore();
    setAudioProbeActive(false);
    setProbeLevels({});
    if (auto done = std::exchange(m_macCheckDone, nullptr))
        done(failure);
}

void AppModel::cancelMacCheck()
{
    if (!m_audioProbeActive)
        return;
    m_macCheck = QUuid();
    m_macSettle.cancel();
    m_macProbe->cancel();
    m_macCheckDone = nullptr;
    m_macRoute->restore();
    setAudioProbeActive(false);
    setProbeLevels({});
    setStatus(QStringLiteral("Vérification audio interrompue"));
}

void AppModel::testMicrophone()
{
    if (m_busy || m_armed || audioCheckRunning() || m_configuringAll)
        return;
    refresh();
    if (!m_micAllowed) {
        setError(QStringLiteral("Autorisez d’abord le microphone."));
        return;
    }
    std::optional<SoundDevice> builtIn;
    for (const SoundDevice& device : m_devices) {
        if (device.input && (device.name.contains(QLatin1String("MacBook")) ||
                             device.name.contains(QLatin1String("Built-in")))) {
            builtIn = device;
            break;
        }
    }
    if (!builtIn) {
        setError(QStringLiteral("Microphone intégré introuvable. Ce test est facultatif pour les appels "
                                "utilisant notre module virtuel."));
        return;
    }
    setTestingMicrophone(true);
    setMicrophoneStatus(QStringLiteral("Parlez pendant cinq secondes…"));
    // The probe owns its steps; it calls back only from a run that was not cancelled.
    m_microphoneProbe->run(
        builtIn->id, [this](double level) { setMicrophoneLevel(level); },
        [this](const MicrophoneProbe::Result& result) {
            if (const bool* heard = std::get_if<bool>(&result))
                setMicrophoneStatus(*heard ? QStringLiteral("Le microphone capte du son")
                                           : QStringLiteral("Aucun son détecté : parlez plus près et "
                                                            "vérifiez le microphone"));
            else
                setMicrophoneStatus(std::get<AppError>(result).localizedDescription());
            setTestingMicrophone(false);
            setMicrophoneLevel(0);
        });
}

void AppModel::cancelMicrophoneTest()
{
    if (!m_microphoneProbe->isRunning())
        return;
    m_microphoneProbe->cancel();
    setMicrophoneStatus(QStringLiteral("Test du microphone interrompu"));
    setTestingMicrophone(false);
    setMicrophoneLevel(0);
}

void AppModel::cancelAudioChecks()
{
    cancelConfiguration();
    cancelMacPreparation();
    cancelRouteProbe();
    cancelMacCheck();
    cancelMicrophoneTest();
}

void AppModel::dialTestNumber()
{
    if (m_busy || m_armed)
        return;
    const QString typed = m_outgoingNumber.trimmed();
    static const QString kAllowed = QStringLiteral("+0123456789 .()-");
    bool wellFormed = !typed.isEmpty();
    for (const QChar c : typed)
        wellFormed = wellFormed && kAllowed.contains(c);
    if (!wellFormed) {
        setOutgoingStatus(QStringLiteral("Saisissez un numéro de téléphone valide."));
        return;
    }
    QString cleaned;
    int digits = 0;
    for (const QChar c : typed) {
        if (c.isDigit()) {
            cleaned += c;
            ++digits;
        } else if (c == QLatin1Char('+')) {
            cleaned += c;
        }
    }
    const QUrl url(QStringLiteral("tel:") + cleaned);
    if (digits < 8 || digits > 15 || cleaned.count(QLatin1Char('+')) > 1 || cleaned.lastIndexOf('+') > 0 ||
        !url.isValid()) {
        setOutgoingStatus(QStringLiteral("Saisissez un numéro complet, avec l’indicatif si nécessaire."));
        return;
    }
    try {
        validate(true);
    } catch (const AppError& failure) {
        setError(failure.localizedDescription());
        return;
    }
    setOutgoingStatus(m_workspace.openUrl(url)
                          ? QStringLiteral("Confirmez l’appel dans Téléphone si macOS le demande. Quand la "
                                           "personne décroche, cliquez sur Brancher l’IA.")
                          : QStringLiteral("Impossible d’ouvrir le numéro. Composez-le dans Téléphone."));
}

std::optional<CallRecord> AppModel::validationCandidate() const
{
    // The history keeps the newest first.
    for (const CallRecord& record : records()) {
        if (record.kind != QLatin1String("Appel") || record.date < m_setupSessionStart)
            continue;
        bool aiSpoke = false;
        bool callerSpoke = false;
        for (const TranscriptLine& line : record.transcript) {
            aiSpoke =
                aiSpoke || line.speaker == QLatin1String("Orlea") || line.speaker == QLatin1String("Velkaro");
            callerSpoke = callerSpoke || line.speaker == QLatin1String("Interlocuteur");
        }
        if (!aiSpoke || !callerSpoke)
            continue;
        if (m_recordingEnabled) {
            // Only a bare name inside the Recordings folder counts: never a path leading elsewhere.
            const QString file = record.recordingFile.value_or(QString());
            if (file.isEmpty() || QFileInfo(file).fileName() != file ||
                !QFileInfo(AppPaths::recordingsFolder() + QLatin1Char('/') + file).isFile())
                continue;
        }
        return record;
    }
    return std::nullopt;
}

void AppModel::confirmTestCall()
{
    if (!readinessIssues().isEmpty() || m_busy)
        return;
    const std::optional<CallRecord> candidate = validationCandidate();
    if (!candidate)
        return;
    setValidatedCallID(candidate->id);
    m_validatedSetup = setupSignature();
    setConfigurationStatus(QStringLiteral("Configuration terminée · 100 %"));
}

void AppModel::prepareMacAssistant()
{
    if (m_macPreparing || m_busy || m_armed || setupWorking())
        return;
    refresh();
    setMacAudioVerified(false);
    setError(std::nullopt);
    if (!m_micAllowed) {
        allowMicrophone();
        return;
    }
    if (!m_keyPresent)
        return;
    setMacPreparing(true);
    QPointer<AppModel> self(this);
    m_configureWait = m_scheduler.after(0, [self] {
        if (!self)
            return;
        auto checkAudio = [self] {
            if (!self)
                return;
            if (!self->m_aiVerified || !self->m_macAssistantOpen) {
                // A failed AI check has set the error.
                self->setMacPreparing(false);
                return;
            }
            self->verifyMacAudio(true, [self](const std::optional<AppError>& failure) {
                if (!self)
                    return;
                if (failure) {
                    self->setError(failure->localizedDescription());
                    self->setStatus(QStringLiteral("Audio du Mac à corriger"));
                } else {
                    self->setStatus(QStringLiteral("Audio du Mac vérifié · prêt à discuter"));
                }
                self->setMacPreparing(false);
            });
        };
        if (!self->m_aiVerified) {
            self->verifyAI(false);
            self->waitWhile([self] { return self && self->m_checkingAI; }, checkAudio);
            return;
        }
        checkAudio();
    });
}

void AppModel::cancelMacPreparation()
{
    if (!m_macPreparing)
        return;
    m_configureWait.cancel();
    cancelMacCheck();
    setMacPreparing(false);
}

void AppModel::setMacAssistantOpen(bool open)
{
    if (m_macAssistantOpen == open)
        return;
    m_macAssistantOpen = open;
    markChanged();
    if (!open)
        cancelMacPreparation();
}
