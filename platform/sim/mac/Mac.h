#pragma once

#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "platform/permissions/Permissions.h"
#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/audio/InputSource.h"
#include "platform/sim/audio/PackageInstaller.h"
#include "platform/sim/desktop/Desktop.h"
#include "platform/sim/desktop/PhoneApp.h"
#include "platform/sim/mac/ComputerSound.h"
#include "platform/sim/mac/MicrophoneAccess.h"
#include "platform/sim/mac/NotificationCenter.h"
#include "platform/sim/mac/PhoneCallAudio.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace sim {

// How the simulated Mac keeps time.
enum class MacClock {
    // A manual clock and scheduler; the audio devices run only when `advance` moves time. Tests.
    Manual,
    // The system clock, Qt timers and the audio server's real-time thread. The demo.
    RealTime,
};

// What the simulated Installer does with a package opened through the workspace.
enum class InstallerPolicy {
    // The user clicks through at once: installed before `openUrl` returns.
    Immediate,
    // The Installer window waits until the control API runs or cancels it.
    WaitForUser,
};

enum class PrivacyPage { Microphone, Accessibility };

// One whole simulated Mac, built and wired: the audio server (its plug-in folder under the state
// folder), the desktop with the Phone app and its call audio, the microphone and Accessibility
// permissions, the System Settings privacy pages, the Installer and sleep. The application receives
// its services through the platform interfaces (`hardware`, `accessibility`, `workspace`,
// `microphone`, `clock`, `scheduler`); tests, the demo and the Simulateur window play the user and the
// far end through the control API below. Main thread only.
//
// State: the installed plug-ins and the privacy settings live under `stateFolder`, so a new folder is a
// fresh Mac and a used one is the same Mac again.
class Mac final : public QObject {
    Q_OBJECT
public:
    explicit Mac(const QString& stateFolder, MacClock clockMode = MacClock::Manual);
    ~Mac() override;

    // "$ORLEA_DATA_HOME/SimulatedMac" (the application-support folder otherwise).
    static QString defaultStateFolder();
    QString stateFolder() const { return m_stateFolder; }
    QString plugInFolder() const;

    // --- the services the application uses
    hal::AudioHardware& hardware() { return *m_server; }
    ax::Accessibility& accessibility() { return *m_desktop; }
    workspace::Workspace& workspace() { return *m_desktop; }
    permissions::MicrophoneAuthorization& microphone() { return *m_microphone; }
    notifications::UserNotificationCenter& notifications() { return *m_notifications; }
    Clock& clock() { return *m_clock; }
    Scheduler& scheduler() { return *m_scheduler; }

    // --- its parts, for inspection and fault injection
    AudioServer& audioServer() { return *m_server; }
    Desktop& desktop() { return *m_desktop; }
    PhoneApp& phone() { return *m_phone; }
    PhoneCallAudio& callAudio() { return *m_callAudio; }
    MicrophoneAccess& microphoneAccess() { return *m_microphone; }
    // The computer's microphone and speakers behind the built-in ones (not connected until asked).
    ComputerSound& computerSound() { return *m_computerSound; }
    NotificationCenter& notificationCenter() { return *m_notifications; }

    // --- time
    MacClock clockMode() const { return m_clockMode; }
    // Manual mode only (null otherwise).
    ManualClock* manualClock() { return m_manualClock; }
    ManualScheduler* manualScheduler() { return m_manualScheduler; }
    // Manual mode: moves time forward, running due tasks and the audio devices' cycles in step (one IO
    // buffer at a time), so that what a task sees of the audio is what real time would show.
    void advance(double seconds);
    // Manual mode: runs the audio devices up to the clock's time (after the clock moved by itself), then
    // settles their notifications.
    void syncAudio();
    // The audio server's notifications of the changes made so far have reached their listeners (on its
    // notification thread) and the Phone app has followed them. Main thread.
    void settleAudio();
    // Real-time mode: whether a slow simulated process makes Accessibility requests really wait.
    void setSlowProcessesSleep(bool sleep) { m_realSleep = sleep; }

    // --- the far end of calls
    // Rings the Phone app; the caller speaks `voice` once the call is answered (null: keeps the voice
    // set before, silence at first).
    void ring(const QString& callerText, std::shared_ptr<InputSource> voice = {},
              Surface surface = Surface::AppWindowAndBanner);
    void callerHangsUp();
    // The person dialled through "tel:" picks up and speaks `voice` (null: keeps the voice set before).
    void remoteAnswers(std::shared_ptr<InputSource> voice = {});
    // What the Mac's built-in microphone hears: the person sitting at the Mac (null: silence).
    void setMacMicrophoneSound(std::shared_ptr<InputSource> sound);

    // --- permissions
    // The one answer of the simulated user to the microphone dialog, the Accessibility prompt, the
    // privacy pages and the notifications prompt (the demo's user grants everything the application
    // asks for).
    void setUserAnswer(UserAnswer answer);
    // The answer the simulated user gives to the microphone access dialog.
    void setMicrophoneDialogAnswer(UserAnswer answer);
    bool answerMicrophoneDialog(bool grant);
    permissions::AuthorizationStatus microphoneStatus() const;
    // The Accessibility switch of our application in System Settings.
    void setAccessibilityTrusted(bool trusted);
    bool accessibilityTrusted() const;
    // What the user does after the system's Accessibility prompt (Grant: turns the switch on).
    void setAccessibilityPromptAnswer(UserAnswer answer) { m_promptAnswer = answer; }

    // --- System Settings privacy pages (opened with permissions::k…PrivacyUrl)
    QList<PrivacyPage> shownPrivacyPages() const { return m_shownPages; }
    std::optional<PrivacyPage> currentPrivacyPage() const { return m_currentPage; }
    // What the user does on a page that opens (Grant: turns our application on there).
    void setPrivacyPageAnswer(UserAnswer answer) { m_pageAnswer = answer; }
    // The user flips our application's switch on a page. The microphone switch of a restricted
    // setting does not move; false then.
    bool setPrivacySwitch(PrivacyPage page, bool on);
    // Seconds the simulated user takes to act on a prompt or a page by policy.
    double userDelaySeconds = 0.5;

    // --- the Installer
    void setInstallerPolicy(InstallerPolicy policy) { m_installerPolicy = policy; }
    // Installed drivers wait for the audio server's next start (`restartAudioServer`, or a new Mac on
    // the same state folder) instead of loading at once.
    void setInstallNeedsRestart(bool needsRestart) { m_installNeedsRestart = needsRestart; }
    // Loads the drivers installed since the audio server started, as a restart of it does.
    void restartAudioServer();
    // Packages opened and waiting in the Installer window.
    QStringList pendingPackages() const { return m_pendingPackages; }
    // Installs the first waiting package (nothing when none waits).
    std::optional<InstallResult> runInstaller();
    // The user closes the Installer window without installing.
    void cancelInstaller();
    QList<InstallResult> installations() const { return m_installations; }

    // --- sleep
    // The Mac is about to sleep: the workspace's will-sleep observers hear it.
    void sleep();

    // What happened on the Mac, oldest first, in words (for the Simulateur window and test failures).
    QStringList events() const { return m_events; }

signals:
    void changed();

private:
    void wire();
    bool openFile(const QUrl& url);
    bool openSettings(const QUrl& url);
    InstallResult install(const QString& packagePath);
    void event(const QString& text);
    void loadPrivacy();
    void savePrivacy();

    QString m_stateFolder;
    MacClock m_clockMode;
    std::unique_ptr<Clock> m_ownedClock;
    std::unique_ptr<Scheduler> m_ownedScheduler;
    Clock* m_clock = nullptr;
    Scheduler* m_scheduler = nullptr;
    ManualClock* m_manualClock = nullptr;
    ManualScheduler* m_manualScheduler = nullptr;
    double m_audioOriginSeconds = 0;
    UInt64 m_audioFrames = 0;
    bool m_realSleep = true;

    std::unique_ptr<AudioServer> m_server;
    std::unique_ptr<Desktop> m_desktop;
    std::unique_ptr<PhoneApp> m_phone;
    std::unique_ptr<PhoneCallAudio> m_callAudio;
    std::unique_ptr<MicrophoneAccess> m_microphone;
    std::unique_ptr<ComputerSound> m_computerSound;
    std::unique_ptr<NotificationCenter> m_notifications;

    UserAnswer m_promptAnswer = UserAnswer::Ask;
    UserAnswer m_pageAnswer = UserAnswer::Ask;
    QList<PrivacyPage> m_shownPages;
    std::optional<PrivacyPage> m_currentPage;
    InstallerPolicy m_installerPolicy = InstallerPolicy::Immediate;
    bool m_installNeedsRestart = false;
    QStringList m_pendingPackages;
    QList<InstallResult> m_installations;
    QStringList m_events;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
