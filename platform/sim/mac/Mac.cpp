#include "platform/sim/mac/Mac.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "platform/sim/mac/ServerDevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUrl>
#include <cmath>

namespace sim {
namespace {

constexpr int kMaxEvents = 200;
const QString kSettingsScheme = QStringLiteral("x-apple.systempreferences");

QString statusName(permissions::AuthorizationStatus status)
{
    switch (status) {
    case permissions::AuthorizationStatus::NotDetermined:
        return QStringLiteral("notDetermined");
    case permissions::AuthorizationStatus::Restricted:
        return QStringLiteral("restricted");
    case permissions::AuthorizationStatus::Denied:
        return QStringLiteral("denied");
    case permissions::AuthorizationStatus::Authorized:
        return QStringLiteral("authorized");
    }
    return {};
}

QString pageName(PrivacyPage page)
{
    return page == PrivacyPage::Microphone ? QStringLiteral("Microphone") : QStringLiteral("Accessibilité");
}

void devicesChanged(AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* clientData)
{
    auto* mac = static_cast<Mac*>(clientData);
    // Heard on the server's notification thread (on the flushing thread in manual delivery); the Phone
    // app reacts on the main thread.
    QMetaObject::invokeMethod(
        mac, [mac] { mac->callAudio().refresh(); },
        QThread::currentThread() == mac->thread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

constexpr AudioObjectPropertySelector kWatchedSelectors[] = {kAudioHardwarePropertyDefaultInputDevice,
                                                             kAudioHardwarePropertyDefaultOutputDevice,
                                                             kAudioHardwarePropertyDevices};

} // namespace

Mac::Mac(const QString& stateFolder, MacClock clockMode) : m_stateFolder(stateFolder), m_clockMode(clockMode)
{
    QDir().mkpath(plugInFolder());
    std::function<void(double)> spendTime;
    if (clockMode == MacClock::Manual) {
        auto clock = std::make_unique<ManualClock>();
        auto scheduler = std::make_unique<ManualScheduler>(*clock);
        m_manualClock = clock.get();
        m_manualScheduler = scheduler.get();
        m_ownedClock = std::move(clock);
        m_ownedScheduler = std::move(scheduler);
        // A hung process costs clock time, during which the audio devices keep running.
        spendTime = [this](double seconds) {
            m_manualClock->advance(seconds);
            syncAudio();
        };
    } else {
        m_ownedClock = std::make_unique<SystemClock>();
        m_ownedScheduler = std::make_unique<QtScheduler>();
        spendTime = [this](double seconds) {
            if (m_realSleep && seconds > 0)
                QThread::usleep(static_cast<unsigned long>(seconds * 1e6));
        };
    }
    m_clock = m_ownedClock.get();
    m_scheduler = m_ownedScheduler.get();
    m_audioOriginSeconds = m_clock->uptimeSeconds();

    m_server = std::make_unique<AudioServer>(plugInFolder().toStdString());
    // Whatever an earlier run installed is loaded at boot, as the system audio server does.
    m_server->loadPlugIns();
    m_desktop = std::make_unique<Desktop>(*m_clock, *m_scheduler, std::move(spendTime));
    m_phone = std::make_unique<PhoneApp>(*m_desktop);
    m_callAudio = std::make_unique<PhoneCallAudio>(*m_server, *m_phone, *m_scheduler);
    m_microphone = std::make_unique<MicrophoneAccess>(*m_scheduler);
    m_computerSound = std::make_unique<ComputerSound>(*m_server, *m_callAudio,
                                                      m_stateFolder + QStringLiteral("/ComputerSound.json"));
    connect(m_computerSound.get(), &ComputerSound::changed, this, &Mac::changed);
    m_notifications = std::make_unique<NotificationCenter>(*m_scheduler);
    // A new Mac has not trusted our application yet.
    m_desktop->setTrusted(false);
    loadPrivacy();
    wire();
    if (clockMode == MacClock::RealTime)
        m_server->startRealTime();
}

Mac::~Mac()
{
    *m_alive = false;
    m_server->stopRealTime();
    for (const auto selector : kWatchedSelectors)
        m_server->removePropertyListener(kAudioObjectSystemObject, hal::address(selector), devicesChanged,
                                         this);
    // A change matched to our listener before its removal is still delivered: let it land while we live.
    m_server->flushNotifications();
    // The Phone app's audio closes while the server still runs its devices; nobody hears of it.
    m_callAudio->onChanged = nullptr;
    m_callAudio.reset();
    m_notifications->onEvent = nullptr;
}

QString Mac::defaultStateFolder()
{
    return AppPaths::applicationSupport() + QStringLiteral("/SimulatedMac");
}

QString Mac::plugInFolder() const
{
    return m_stateFolder + QStringLiteral("/HAL");
}

void Mac::wire()
{
    m_phone->setInputDevices([this] { return deviceNames(*m_server, true); });
    m_phone->setOutputDevices([this] { return deviceNames(*m_server, false); });
    m_phone->setSystemDefaultDevices([this] { return defaultDeviceName(*m_server, true); },
                                     [this] { return defaultDeviceName(*m_server, false); });
    for (const auto selector : kWatchedSelectors)
        m_server->addPropertyListener(kAudioObjectSystemObject, hal::address(selector), devicesChanged, this);

    m_callAudio->onChanged = [this] {
        event(m_callAudio->isOpen()
                  ? QStringLiteral("Téléphone : son de l’appel ouvert (haut-parleur « %1 », micro « %2 »)")
                        .arg(m_callAudio->speakerDevice(), m_callAudio->microphoneDevice())
                  : QStringLiteral("Téléphone : son de l’appel fermé"));
    };
    m_microphone->onChanged = [this] {
        savePrivacy();
        event(m_microphone->isDialogShown()
                  ? QStringLiteral("Demande d’accès au micro affichée")
                  : QStringLiteral("Micro : ") + statusName(m_microphone->authorizationStatus()));
    };
    m_notifications->onEvent = [this](const QString& what) { event(what); };
    m_desktop->onTrustPrompt = [this] {
        event(QStringLiteral("Demande d’accès Accessibilité affichée"));
        if (m_promptAnswer != UserAnswer::Grant)
            return;
        std::weak_ptr<bool> alive = m_alive;
        m_scheduler->after(userDelaySeconds, [this, alive] {
            if (!alive.expired())
                setAccessibilityTrusted(true);
        });
    };
    std::weak_ptr<bool> alive = m_alive;
    m_desktop->setUrlSchemeHandler(
        QStringLiteral("file"), [this, alive](const QUrl& url) { return !alive.expired() && openFile(url); });
    m_desktop->setUrlSchemeHandler(
        kSettingsScheme, [this, alive](const QUrl& url) { return !alive.expired() && openSettings(url); });
}

// --- time

void Mac::advance(double seconds)
{
    if (!m_manualScheduler)
        return;
    const double step = double(AudioServer::kBufferFrames) / AudioServer::kSampleRateHz;
    double remaining = std::max(0.0, seconds);
    do {
        const double slice = std::min(step, remaining);
        m_manualScheduler->advance(slice);
        syncAudio();
        remaining -= slice;
    } while (remaining > 1e-9);
}

void Mac::syncAudio()
{
    if (!m_manualClock)
        return;
    const double elapsed = m_manualClock->uptimeSeconds() - m_audioOriginSeconds;
    const auto due = static_cast<UInt64>(std::floor(elapsed * AudioServer::kSampleRateHz + 1e-6));
    if (due > m_audioFrames) {
        m_server->advanceFrames(due - m_audioFrames);
        m_audioFrames = due;
    }
    settleAudio();
}

void Mac::settleAudio()
{
    m_server->flushNotifications();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

// --- calls

void Mac::ring(const QString& callerText, std::shared_ptr<InputSource> voice, Surface surface)
{
    if (voice)
        m_callAudio->setCallerVoice(std::move(voice));
    event(QStringLiteral("Appel entrant de ") + callerText);
    m_phone->ring(callerText, surface);
}

void Mac::callerHangsUp()
{
    event(QStringLiteral("L’appelant raccroche"));
    m_phone->callerHangsUp();
}

void Mac::remoteAnswers(std::shared_ptr<InputSource> voice)
{
    if (voice)
        m_callAudio->setCallerVoice(std::move(voice));
    event(QStringLiteral("Le correspondant décroche"));
    m_phone->remoteAnswers();
}

void Mac::setMacMicrophoneSound(std::shared_ptr<InputSource> sound)
{
    m_server->setInputSource(AudioServer::kMicrophoneID, sound ? std::move(sound) : InputSource::silence());
}

// --- permissions

void Mac::setUserAnswer(UserAnswer answer)
{
    m_microphone->setDialogAnswer(answer);
    m_notifications->setPromptAnswer(answer);
    m_promptAnswer = answer;
    m_pageAnswer = answer;
}

void Mac::setMicrophoneDialogAnswer(UserAnswer answer)
{
    m_microphone->setDialogAnswer(answer);
}

bool Mac::answerMicrophoneDialog(bool grant)
{
    return m_microphone->answerDialog(grant);
}

permissions::AuthorizationStatus Mac::microphoneStatus() const
{
    return m_microphone->authorizationStatus();
}

void Mac::setAccessibilityTrusted(bool trusted)
{
    if (m_desktop->trusted() == trusted)
        return;
    m_desktop->setTrusted(trusted);
    savePrivacy();
    event(trusted ? QStringLiteral("Accessibilité : autorisée") : QStringLiteral("Accessibilité : retirée"));
}

bool Mac::accessibilityTrusted() const
{
    return m_desktop->trusted();
}

bool Mac::setPrivacySwitch(PrivacyPage page, bool on)
{
    if (page == PrivacyPage::Accessibility) {
        setAccessibilityTrusted(on);
        return true;
    }
    if (m_microphone->authorizationStatus() == permissions::AuthorizationStatus::Restricted)
        return false;
    m_microphone->setStatus(on ? permissions::AuthorizationStatus::Authorized
                               : permissions::AuthorizationStatus::Denied);
    return true;
}

void Mac::loadPrivacy()
{
    QFile file(m_stateFolder + QStringLiteral("/Privacy.json"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject state = QJsonDocument::fromJson(file.readAll()).object();
    for (const auto status :
         {permissions::AuthorizationStatus::Restricted, permissions::AuthorizationStatus::Denied,
          permissions::AuthorizationStatus::Authorized})
        if (state.value(QStringLiteral("microphone")).toString() == statusName(status))
            m_microphone->setStatus(status);
    m_desktop->setTrusted(state.value(QStringLiteral("accessibility")).toBool(false));
}

void Mac::savePrivacy()
{
    QJsonObject state;
    state.insert(QStringLiteral("microphone"), statusName(m_microphone->authorizationStatus()));
    state.insert(QStringLiteral("accessibility"), m_desktop->trusted());
    try {
        PrivateFile::write(m_stateFolder + QStringLiteral("/Privacy.json"),
                           QJsonDocument(state).toJson(QJsonDocument::Indented));
    } catch (const AppError& error) {
        // The Mac goes on with its settings in memory; the next run starts from the last saved ones.
        event(error.message());
    }
}

// --- workspace URL opening

bool Mac::openFile(const QUrl& url)
{
    const QString path = url.toLocalFile();
    if (!QFileInfo::exists(path)) {
        event(QStringLiteral("Fichier introuvable : ") + path);
        return false;
    }
    if (QFileInfo(path).suffix() != QStringLiteral("pkg")) {
        event(QStringLiteral("Fichier ouvert : ") + path);
        return true;
    }
    event(QStringLiteral("Programme d’installation ouvert : ") + QFileInfo(path).fileName());
    if (m_installerPolicy == InstallerPolicy::Immediate) {
        install(path);
    } else {
        m_pendingPackages.append(path);
        emit changed();
    }
    return true;
}

bool Mac::openSettings(const QUrl& url)
{
    const QString anchor = url.query();
    std::optional<PrivacyPage> page;
    if (anchor == QStringLiteral("Privacy_Microphone"))
        page = PrivacyPage::Microphone;
    else if (anchor == QStringLiteral("Privacy_Accessibility"))
        page = PrivacyPage::Accessibility;
    m_currentPage = page;
    if (!page) {
        event(QStringLiteral("Réglages système ouverts : ") + url.toString());
        return true;
    }
    m_shownPages.append(*page);
    event(QStringLiteral("Réglages système : page ") + pageName(*page));
    if (m_pageAnswer == UserAnswer::Grant) {
        std::weak_ptr<bool> alive = m_alive;
        m_scheduler->after(userDelaySeconds, [this, alive, page = *page] {
            if (!alive.expired())
                setPrivacySwitch(page, true);
        });
    }
    return true;
}

// --- the Installer

InstallResult Mac::install(const QString& packagePath)
{
    const InstallResult result = installPackage(packagePath.toStdString(), *m_server, !m_installNeedsRestart);
    m_installations.append(result);
    event(result.installed
              ? QStringLiteral("Installation réussie : ") + QString::fromStdString(result.bundleID)
              : QStringLiteral("Échec de l’installation : ") + QString::fromStdString(result.error));
    return result;
}

std::optional<InstallResult> Mac::runInstaller()
{
    if (m_pendingPackages.isEmpty())
        return std::nullopt;
    return install(m_pendingPackages.takeFirst());
}

void Mac::restartAudioServer()
{
    const int loaded = m_server->loadPlugIns();
    event(QStringLiteral("Serveur audio redémarré : %1 module(s) chargé(s)").arg(loaded));
}

void Mac::cancelInstaller()
{
    if (m_pendingPackages.isEmpty())
        return;
    event(QStringLiteral("Installation annulée : ") + QFileInfo(m_pendingPackages.takeFirst()).fileName());
}

// --- sleep

void Mac::sleep()
{
    event(QStringLiteral("Le Mac va se mettre en veille"));
    m_desktop->sleep();
}

void Mac::event(const QString& text)
{
    m_events.append(text);
    if (m_events.size() > kMaxEvents)
        m_events.removeFirst();
    emit changed();
}

} // namespace sim
