#include "app/audio/AudioRouteProbe.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"
#include "app/model/AppModel.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/phone/PhoneAutomation.h"
#include "platform/ax/Accessibility.h"
#include "platform/permissions/Permissions.h"
#include "platform/workspace/Workspace.h"
#include <QPointer>
#include <QUrl>

void AppModel::openPrivacyPage(const char* url)
{
    const QUrl link(QString::fromLatin1(url));
    if (link.isValid())
        m_workspace.openUrl(link);
}

void AppModel::allowMicrophone()
{
    switch (m_microphone.authorizationStatus()) {
    case permissions::AuthorizationStatus::Authorized:
        refresh();
        return;
    case permissions::AuthorizationStatus::NotDetermined: {
        QPointer<AppModel> self(this);
        m_microphone.requestAccess([self](bool) {
            if (self)
                self->refresh();
        });
        return;
    }
    case permissions::AuthorizationStatus::Restricted:
    case permissions::AuthorizationStatus::Denied:
        openPrivacyPage(permissions::kMicrophonePrivacyUrl);
        setPermissionReport(QStringLiteral("Activez Orlea dans la page Microphone des réglages macOS."));
        return;
    }
}

void AppModel::allowAccessibility()
{
    if (m_accessibilityService.isProcessTrusted()) {
        refresh();
        return;
    }
    m_accessibilityService.isProcessTrustedWithOptions(true);
    openPrivacyPage(permissions::kAccessibilityPrivacyUrl);
    refresh();
    setPermissionReport(
        QStringLiteral("Activez Orlea dans Accessibilité. Si elle est déjà activée mais reste refusée "
                       "ici, retirez l’ancienne entrée puis ajoutez cette version avec le bouton +."));
}

void AppModel::verifyPermissions()
{
    refresh();
    if (m_accessibility && m_micAllowed) {
        setPermissionReport(
            QStringLiteral("Les deux autorisations sont accordées à cette version de Orlea. Vous "
                           "pouvez configurer et tester le son."));
    } else if (m_accessibility) {
        setPermissionReport(QStringLiteral(
            "Accès audio non autorisé. Autorisez le microphone pour Orlea puis revenez vérifier ici."));
        allowMicrophone();
    } else {
        setPermissionReport(QStringLiteral("Décrochage non autorisé pour cette version. Dans la page qui "
                                           "s’ouvre, activez Orlea. Si le commutateur "
                                           "est déjà activé, retirez l’ancienne entrée avec − puis ajoutez "
                                           "cette application avec +. Revenez "
                                           "ensuite vérifier ici."));
        openPrivacyPage(permissions::kAccessibilityPrivacyUrl);
    }
}

void AppModel::prepareNativeAudio()
{
    if (m_busy || m_armed || audioCheckRunning() || m_observingRelay)
        return;
    refresh();
    if (m_phone->hasActiveCall() || m_phone->incoming()) {
        setError(QStringLiteral("Terminez l’appel avant de configurer le son."));
        return;
    }
    if (!VelkaroDevices::pair(m_devices)) {
        setError(QStringLiteral("Installez le module Velkaro Audio puis redémarrez votre Mac."));
        return;
    }
    if (!m_accessibility) {
        setError(
            QStringLiteral("Il manque l’autorisation de décrocher : cliquez sur Autoriser dans la section "
                           "Accessibilité, activez Orlea dans les réglages macOS puis revenez ici."));
        return;
    }
    if (!m_micAllowed) {
        setError(QStringLiteral(
            "Il manque l’accès audio : autorisez le microphone puis relancez la configuration."));
        return;
    }
    setPreparingAudio(true);
    setRoutingConfirmed(false);
    QPointer<AppModel> self(this);
    m_scheduler.after(0, [self] {
        if (self)
            self->runNativeAudioPreparation();
    });
}

void AppModel::runNativeAudioPreparation()
{
    setNativeAudioStatus(QStringLiteral("Test local des circuits audio…"));
    // The probe owns its steps; it calls back only from a run that was not cancelled.
    m_routeProbe->run(m_devices, [this](const std::optional<AppError>& failure) {
        if (failure) {
            nativeAudioFailed(failure->localizedDescription());
            return;
        }
        setNativeAudioStatus(QStringLiteral("Configuration de Téléphone…"));
        QPointer<AppModel> self(this);
        m_audioSetup->prepare([self](std::optional<AppError> error) {
            if (!self)
                return;
            if (error) {
                self->nativeAudioFailed(error->localizedDescription());
                return;
            }
            const std::optional<VelkaroDevices::Pair> pair = VelkaroDevices::pair(self->m_devices);
            if (pair) {
                self->setInputUID(pair->call.uid);
                self->setOutputUID(pair->voice.uid);
            }
            self->setRoutingConfirmed(true);
            self->saveSettings();
            self->setNativeAudioStatus(
                QStringLiteral("Son configuré · les deux circuits transmettent le signal de test"));
            self->event(QStringLiteral("Liaison Orlea configurée dans Téléphone"));
            self->setPreparingAudio(false);
            self->returnToFront();
        });
    });
}

void AppModel::nativeAudioFailed(const QString& message)
{
    setError(message);
    setNativeAudioStatus(QStringLiteral("Configuration à vérifier"));
    setPreparingAudio(false);
    returnToFront();
}

void AppModel::cancelRouteProbe()
{
    if (!m_routeProbe->isRunning())
        return;
    m_routeProbe->cancel();
    setNativeAudioStatus(QStringLiteral("Configuration à vérifier"));
    setPreparingAudio(false);
}

void AppModel::resetPhoneAudio()
{
    if (m_busy || m_armed || audioCheckRunning() || m_observingRelay)
        return;
    if (m_phone->hasActiveCall() || m_phone->incoming()) {
        setError(QStringLiteral("Terminez l’appel avant de modifier le son."));
        return;
    }
    setPreparingAudio(true);
    QPointer<AppModel> self(this);
    m_audioSetup->useSystemAudio([self](std::optional<AppError> error) {
        if (!self)
            return;
        if (error) {
            self->setError(error->localizedDescription());
        } else {
            self->setRoutingConfirmed(false);
            self->setNativeAudioStatus(QStringLiteral("Téléphone utilise le son système"));
        }
        self->setPreparingAudio(false);
        self->returnToFront();
    });
}

void AppModel::returnToFront()
{
    // Since macOS 14 this is a request the system may decline while the Phone app keeps the front: the
    // result is on our window all the same, so the user is only told where to look.
    if (!m_workspace.activateSelf())
        event(QStringLiteral(
            "Téléphone est resté au premier plan : revenez dans Orlea pour voir le résultat."));
}

const QStringList AppModel::kSetupStepTitles = {
    QStringLiteral("Installer le son"), QStringLiteral("Autoriser le Mac"),
    QStringLiteral("Connecter l’IA"),   QStringLiteral("Audio du téléphone"),
    QStringLiteral("Audio du Mac"),     QStringLiteral("Tester un appel"),
};

QList<bool> AppModel::setupSteps() const
{
    const bool testCall = m_validatedCallID && m_history.find(*m_validatedCallID) != nullptr &&
                          m_validatedSetup == setupSignature();
    return {VelkaroDevices::pair(m_devices).has_value(),
            m_micAllowed && m_accessibility,
            m_keyPresent && m_aiVerified,
            m_routingConfirmed,
            m_macAudioVerified,
            testCall};
}

int AppModel::setupPercent() const
{
    const QList<bool> steps = setupSteps();
    return int(steps.count(true) * 100 / steps.size());
}

QStringList AppModel::readinessIssues() const
{
    QStringList issues;
    if (!VelkaroDevices::pair(m_devices))
        issues << QStringLiteral("Installer le module audio");
    if (!m_accessibility)
        issues << QStringLiteral("Autoriser le décrochage dans Accessibilité");
    if (!m_micAllowed)
        issues << QStringLiteral("Autoriser l’accès audio");
    if (!m_routingConfirmed)
        issues << QStringLiteral("Configurer et tester le son");
    if (!m_keyPresent)
        issues << QStringLiteral("Enregistrer la clé IA");
    else if (!m_aiVerified)
        issues << QStringLiteral("Vérifier la connexion IA");
    return issues;
}

QString AppModel::setupSignature() const
{
    return QStringList{m_inputUID, m_outputUID,
                       m_model,    m_voice,
                       m_company,  m_recordingEnabled ? QStringLiteral("true") : QStringLiteral("false")}
        .join(QLatin1Char('|'));
}

void AppModel::presentStartupAssistant()
{
    if (m_startupAssistantPresented)
        return;
    m_startupAssistantPresented = true;
    if (m_busy || m_armed || m_showMacTest || m_showAgentSetup || m_showOutgoingTest)
        return;
    refresh();
    if (setupSteps().contains(false))
        setShowSetupAssistant(true);
}
