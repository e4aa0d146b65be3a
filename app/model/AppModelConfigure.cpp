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
    if (m_busy || m_armed || m_preparingAudio || m_testingMicrophone || m_observingRelay || m_macPreparing)
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
    if (m_configuringAll || m_busy || m_armed || m_preparingAudio || m_checkingAI || m_testingMicrophone ||
        m_observingRelay)
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
    if (!m_macAudioVerified) {
        setConfigurationStatus(QStringLiteral("Vérification du micro et des haut-parleurs du Mac…"));
        try {
            verifyMacAudio(false);
        } catch (const AppError& failure) {
            setError(failure.localizedDescription());
            setConfigurationStatus(QStringLiteral("Audio du Mac à corriger : ") +
                                   failure.localizedDescription());
            setConfiguringAll(false);
            return;
        }
    }
    const QStringList issues = readinessIssues();
    setConfigurationStatus(issues.isEmpty()
                               ? QStringLiteral("Réglages vérifiés. Dernière étape : un appel test.")
                               : QStringLiteral("Une vérification reste nécessaire : ") +
                                     issues.join(QStringLiteral(", ")));
    setConfiguringAll(false);
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

void AppModel::verifyMacAudio(bool keepRoute)
{
    setMacAudioVerified(false);
    setAudioProbeActive(true);
    setProbeLevels({});
    auto settle = [this] {
        setAudioProbeActive(false);
        setProbeLevels({});
    };
    try {
        m_macRoute->prepare(m_devices);
    } catch (const AppError&) {
        settle();
        throw;
    }
    m_probeTiming.wait(300);
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
        m_macRoute->restore();
        settle();
        throw AppError(QStringLiteral("Micro ou haut-parleurs du Mac indisponibles."));
    }
    setStatus(QStringLiteral("Vérification de l’audio du Mac…"));
    try {
        AudioRouteProbe probe(m_hardware, m_probeTiming);
        probe.runMac(input->id, output->id, [this](const QString& text, double raw, double converted) {
            setProbeLevels({raw, converted});
            setStatus(text);
            setConfigurationStatus(text);
        });
    } catch (const AppError&) {
        m_macRoute->restore();
        settle();
        throw;
    }
    setMacAudioVerified(true);
    if (!keepRoute)
        m_macRoute->restore();
    settle();
}

void AppModel::testMicrophone()
{
    if (m_busy || m_armed || m_preparingAudio || m_testingMicrophone)
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
    QPointer<AppModel> self(this);
    const AudioObjectID deviceID = builtIn->id;
    m_scheduler.after(0, [self, deviceID] {
        if (!self)
            return;
        try {
            MicrophoneProbe probe(self->m_hardware, self->m_probeTiming);
            const bool heard = probe.run(deviceID, [self](double level) {
                if (self)
                    self->setMicrophoneLevel(level);
            });
            self->setMicrophoneStatus(heard ? QStringLiteral("Le microphone capte du son")
                                            : QStringLiteral("Aucun son détecté : parlez plus près et "
                                                             "vérifiez le microphone"));
        } catch (const AppError& failure) {
            self->setMicrophoneStatus(failure.localizedDescription());
        }
        self->setTestingMicrophone(false);
        self->setMicrophoneLevel(0);
    });
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
    m_scheduler.after(0, [self] {
        if (!self)
            return;
        auto checkAudio = [self] {
            if (!self)
                return;
            if (!self->m_aiVerified) {
                // The check has set the error.
                self->setMacPreparing(false);
                return;
            }
            if (self->m_macAssistantOpen) {
                try {
                    self->verifyMacAudio(true);
                    if (self->m_macAssistantOpen)
                        self->setStatus(QStringLiteral("Audio du Mac vérifié · prêt à discuter"));
                    else
                        self->m_macRoute->restore();
                } catch (const AppError& failure) {
                    try {
                        self->m_macRoute->restore();
                    } catch (const AppError&) {
                        // The check's failure is the one the user needs to read.
                    }
                    self->setError(failure.localizedDescription());
                    self->setStatus(QStringLiteral("Audio du Mac à corriger"));
                }
            }
            self->setMacPreparing(false);
        };
        if (!self->m_aiVerified) {
            self->verifyAI(false);
            self->waitWhile([self] { return self && self->m_checkingAI; }, checkAudio);
            return;
        }
        checkAudio();
    });
}
