#pragma once

#include "platform/sim/desktop/AxTree.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace sim {

class Desktop;

enum class CallState { Idle, Dialing, Ringing, Active, Ended };

// Where a call shows its buttons.
enum class Surface { AppWindow, Banner, AppWindowAndBanner };

// What the call screens say. Labels may carry stray spaces or either apostrophe, as real builds do.
struct CallLabels {
    QString answer = QStringLiteral("Accepter");
    QString decline = QStringLiteral("Refuser");
    QString hangup = QStringLiteral("Raccrocher");
    QString mute = QStringLiteral("Silence");
    QString incomingCall = QStringLiteral("Appel entrant");
    QString appName = QStringLiteral("Téléphone");
    // The attribute that carries a button's label (icon buttons use AXDescription).
    QString labelAttribute = QStringLiteral("AXDescription");

    // A Mac set to English.
    static CallLabels english()
    {
        CallLabels labels;
        labels.answer = QStringLiteral("Accept");
        labels.decline = QStringLiteral("Decline");
        labels.hangup = QStringLiteral("End Call");
        labels.mute = QStringLiteral("Mute");
        labels.incomingCall = QStringLiteral("Incoming Call");
        labels.appName = QStringLiteral("Phone");
        return labels;
    }
};

// The "Vidéo" menu of the menu bar: camera items first, then a microphone and a speaker section.
struct AudioMenuLayout {
    bool present = true;
    QString menuTitle = QStringLiteral("Vidéo");
    // Empty: the menu bar item carries no identifier.
    QString menuIdentifier = QStringLiteral("com.apple.facetime.menu.video");
    // Items above the first header; they belong to no section.
    QStringList leadingItems = {QStringLiteral("Caméra"), QStringLiteral("Caméra FaceTime HD")};
    QString microphoneHeader = QStringLiteral("Micro");
    QString speakerHeader = QStringLiteral("Sortie");
    QString systemSetting = QStringLiteral("Utiliser le réglage système");
    // False: selection marks are not exposed (AXMenuItemMarkChar stays empty).
    bool marksExposed = true;
    QString markChar = QStringLiteral("✓");
};

// The devices the Phone app uses; an empty name follows the system setting.
struct AudioRoute {
    QString inputDevice;
    QString outputDevice;
    friend bool operator==(const AudioRoute&, const AudioRoute&) = default;
};

// The simulated telephony processes: the Phone app (menu bar, main window, call window), FaceTime,
// the call interface process and the notification centre's banners. The call logic and the audio
// choices live here; `Desktop` serves the trees.
class PhoneApp {
public:
    static inline const QString kPhoneBundle = QStringLiteral("com.apple.mobilephone");
    static inline const QString kFaceTimeBundle = QStringLiteral("com.apple.FaceTime");
    static inline const QString kCallUIBundle = QStringLiteral("com.apple.TelephonyUtilities.PhoneCallUI");
    static inline const QString kNotificationCentreBundle = QStringLiteral("com.apple.notificationcenterui");
    static inline const QString kFinderBundle = QStringLiteral("com.apple.finder");

    // Adds the processes to `desktop` (Finder, notification centre, call interface and Phone app
    // running; FaceTime installed).
    explicit PhoneApp(Desktop& desktop);
    ~PhoneApp();
    PhoneApp(const PhoneApp&) = delete;
    PhoneApp& operator=(const PhoneApp&) = delete;

    // --- calls
    void ring(const QString& callerText, Surface surface = Surface::AppWindowAndBanner);
    // The far end hangs up (or gives up ringing).
    void callerHangsUp();
    // An outgoing call, as a "tel:" URL opened through the workspace starts one; false when the
    // Phone app is busy with another call or refuses to dial.
    bool dial(const QString& number);
    // The dialled person picks up.
    void remoteAnswers();
    void setDiallingRefused(bool refused) { m_diallingRefused = refused; }
    QStringList dialledNumbers() const { return m_dialled; }
    void reset();
    CallState state() const { return m_state; }
    QString caller() const { return m_caller; }
    int answerPresses() const { return m_answerPresses; }
    int hangupPresses() const { return m_hangupPresses; }

    const CallLabels& labels() const { return m_labels; }
    void setLabels(const CallLabels& labels);
    // Where an active call shows its hang-up button.
    void setActiveSurface(Surface surface);
    // The process whose window shows the call (the Phone app by default).
    void setCallProcess(const QString& bundleIdentifier);
    // Rebuilds every call element: handles taken before now refer to vanished elements.
    void refreshInterface();
    void setAnswerPressFails(bool fails) { m_answerPressFails = fails; }
    void setHangupPressFails(bool fails) { m_hangupPressFails = fails; }
    // A banner of another application with an accept button (a calendar invitation…).
    std::shared_ptr<AxNode>
    showUnrelatedBanner(const QString& appName = QStringLiteral("Calendrier"),
                        const QString& text = QStringLiteral("Réunion d’équipe à 10:00"),
                        const QString& button = QStringLiteral("Accept"));
    void clearUnrelatedBanners();
    // The current answer or hang-up button on a surface, for tests that inject faults into it.
    std::shared_ptr<AxNode> answerButton(Surface surface) const;
    std::shared_ptr<AxNode> hangupButton(Surface surface) const;

    // --- audio menu
    void setAudioMenuLayout(const AudioMenuLayout& layout);
    const AudioMenuLayout& audioMenuLayout() const { return m_menuLayout; }
    // The device names each section lists, asked each time the menu opens (the audio server's view).
    void setInputDevices(std::function<QStringList()> provider) { m_inputDevices = std::move(provider); }
    void setOutputDevices(std::function<QStringList()> provider) { m_outputDevices = std::move(provider); }
    AudioRoute audioRoute() const { return m_route; }
    // What "Utiliser le réglage système" stands for: the audio server's default devices.
    void setSystemDefaultDevices(std::function<QString()> input, std::function<QString()> output)
    {
        m_systemInput = std::move(input);
        m_systemOutput = std::move(output);
    }
    // The devices a call uses now: the chosen ones, or the system's defaults.
    QString effectiveInputDevice() const;
    QString effectiveOutputDevice() const;
    // What the user chose by hand before the program ran.
    void setAudioRoute(const AudioRoute& route);
    bool isMenuOpen() const { return m_menu != nullptr; }
    int menuOpenCount() const { return m_menuOpenCount; }
    // Every selection made in the menu, e.g. "micro: AirPods" or "sortie: Utiliser le réglage système".
    QStringList selectionLog() const { return m_selectionLog; }
    // Faults: pressing the item of that title fails; or succeeds without changing anything.
    void setItemPressFails(const QString& title, bool fails);
    void setSelectionIgnored(const QString& title, bool ignored);
    void setMenuBarItemPressFails(bool fails) { m_menuPressFails = fails; }
    // The menu opens without any content.
    void setMenuOpensEmpty(bool empty) { m_menuOpensEmpty = empty; }

    // --- hooks for the audio side: a call that becomes active plays the caller into the route's
    // output device and records its input device; the route can change during a call.
    std::function<void(CallState)> onCallStateChanged;
    std::function<void(const AudioRoute&)> onAudioRouteChanged;

private:
    void setState(CallState state);
    void rebuild();
    void buildMenuBar();
    void openMenu();
    void closeMenu();
    ax::Error pressMenuItem(bool input, const QString& title, bool systemSetting);
    std::shared_ptr<AxNode> callWindow();
    std::shared_ptr<AxNode> banner();
    std::shared_ptr<AxNode> labelledButton(const QString& label, std::function<ax::Error()> press);
    std::function<ax::Error()> guarded(std::function<ax::Error()> action);
    void removeCallElements();

    Desktop& m_desktop;
    CallState m_state = CallState::Idle;
    QString m_caller;
    Surface m_ringSurface = Surface::AppWindowAndBanner;
    Surface m_activeSurface = Surface::AppWindow;
    QString m_callProcess = kPhoneBundle;
    CallLabels m_labels;
    bool m_answerPressFails = false;
    bool m_hangupPressFails = false;
    bool m_diallingRefused = false;
    QStringList m_dialled;
    int m_answerPresses = 0;
    int m_hangupPresses = 0;

    std::shared_ptr<AxNode> m_callWindow;
    std::shared_ptr<AxNode> m_banner;
    std::shared_ptr<AxNode> m_windowAnswer, m_bannerAnswer, m_windowHangup, m_bannerHangup;
    std::vector<std::shared_ptr<AxNode>> m_unrelatedBanners;

    AudioMenuLayout m_menuLayout;
    std::function<QStringList()> m_inputDevices;
    std::function<QStringList()> m_outputDevices;
    AudioRoute m_route;
    std::function<QString()> m_systemInput;
    std::function<QString()> m_systemOutput;
    std::shared_ptr<AxNode> m_videoItem;
    std::shared_ptr<AxNode> m_menu;
    int m_menuOpenCount = 0;
    QStringList m_selectionLog;
    QSet<QString> m_itemPressFails;
    QSet<QString> m_selectionIgnored;
    bool m_menuPressFails = false;
    bool m_menuOpensEmpty = false;

    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
