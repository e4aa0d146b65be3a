#include "platform/sim/desktop/PhoneApp.h"

#include "platform/sim/desktop/Desktop.h"

namespace sim {

namespace {
const QString kNotificationSubrole = QStringLiteral("AXNotificationCenterBanner");

SimApplication& ensureApplication(Desktop& desktop, const QString& bundle, const QString& name,
                                  const QString& path, bool running)
{
    if (SimApplication* app = desktop.application(bundle))
        return *app;
    return desktop.addApplication(bundle, name, path, running);
}
} // namespace

PhoneApp::PhoneApp(Desktop& desktop)
    : m_desktop(desktop),
      m_inputDevices([] { return QStringList{QStringLiteral("MacBook Pro Microphone")}; }),
      m_outputDevices([] { return QStringList{QStringLiteral("MacBook Pro Speakers")}; }),
      m_systemInput([] { return QStringLiteral("MacBook Pro Microphone"); }),
      m_systemOutput([] { return QStringLiteral("MacBook Pro Speakers"); })
{
    SimApplication& finder =
        ensureApplication(desktop, kFinderBundle, QStringLiteral("Finder"),
                          QStringLiteral("/System/Library/CoreServices/Finder.app"), true);
    if (finder.root->children.empty())
        finder.root->add(AxNode::make(ax::kWindowRole, QStringLiteral("Documents")));
    ensureApplication(desktop, kNotificationCentreBundle, QStringLiteral("Centre de notifications"),
                      QStringLiteral("/System/Library/CoreServices/NotificationCenter.app"), true);
    ensureApplication(desktop, kCallUIBundle, QStringLiteral("PhoneCallUI"),
                      QStringLiteral("/System/Library/CoreServices/PhoneCallUI.app"), true);

    SimApplication& phone = ensureApplication(desktop, kPhoneBundle, QStringLiteral("Téléphone"),
                                              QStringLiteral("/System/Applications/Phone.app"), true);
    buildMenuBar();
    auto main = phone.root->add(AxNode::make(ax::kWindowRole, QStringLiteral("Téléphone")));
    auto recents = main->add(AxNode::make(ax::kGroupRole));
    recents->description = QStringLiteral("Récents");
    for (const char* line : {"Marie Dupont", "Hier", "06 98 76 54 32", "Lundi"})
        recents->add(AxNode::text(QString::fromUtf8(line)));
    main->add(AxNode::button(QStringLiteral("Appeler"), [] { return ax::Error::Success; }));

    std::weak_ptr<bool> alive = m_alive;
    desktop.setUrlSchemeHandler(QStringLiteral("tel"), [this, alive](const QUrl& url) {
        return !alive.expired() && dial(url.path());
    });

    SimApplication& faceTime = ensureApplication(desktop, kFaceTimeBundle, QStringLiteral("FaceTime"),
                                                 QStringLiteral("/System/Applications/FaceTime.app"), false);
    if (faceTime.root->children.empty()) {
        auto window = faceTime.root->add(AxNode::make(ax::kWindowRole, QStringLiteral("FaceTime")));
        window->add(AxNode::button(QStringLiteral("Nouveau FaceTime"), [] { return ax::Error::Success; }));
    }
}

PhoneApp::~PhoneApp()
{
    *m_alive = false;
    m_desktop.setUrlSchemeHandler(QStringLiteral("tel"), nullptr);
    removeCallElements();
    clearUnrelatedBanners();
    closeMenu();
}

std::function<ax::Error()> PhoneApp::guarded(std::function<ax::Error()> action)
{
    std::weak_ptr<bool> alive = m_alive;
    return [alive, action = std::move(action)] {
        if (alive.expired())
            return ax::Error::CannotComplete;
        return action();
    };
}

// --- calls

void PhoneApp::ring(const QString& callerText, Surface surface)
{
    m_caller = callerText;
    m_ringSurface = surface;
    setState(CallState::Ringing);
}

void PhoneApp::callerHangsUp()
{
    if (m_state == CallState::Dialing || m_state == CallState::Ringing || m_state == CallState::Active)
        setState(CallState::Ended);
}

bool PhoneApp::dial(const QString& number)
{
    if (m_diallingRefused || number.isEmpty() || m_state == CallState::Dialing ||
        m_state == CallState::Ringing || m_state == CallState::Active)
        return false;
    m_dialled.append(number);
    m_caller = number;
    setState(CallState::Dialing);
    return true;
}

void PhoneApp::remoteAnswers()
{
    if (m_state == CallState::Dialing)
        setState(CallState::Active);
}

void PhoneApp::reset()
{
    setState(CallState::Idle);
}

void PhoneApp::setState(CallState state)
{
    const bool changed = state != m_state;
    m_state = state;
    rebuild();
    if (changed && onCallStateChanged)
        onCallStateChanged(state);
}

void PhoneApp::setLabels(const CallLabels& labels)
{
    m_labels = labels;
    rebuild();
}

void PhoneApp::setActiveSurface(Surface surface)
{
    m_activeSurface = surface;
    rebuild();
}

void PhoneApp::setCallProcess(const QString& bundleIdentifier)
{
    removeCallElements();
    m_callProcess = bundleIdentifier;
    rebuild();
}

void PhoneApp::refreshInterface()
{
    rebuild();
}

void PhoneApp::removeCallElements()
{
    for (auto* node : {&m_callWindow, &m_banner}) {
        if (!*node)
            continue;
        if (auto parent = (*node)->parent.lock())
            parent->remove(*node);
        node->reset();
    }
    m_windowAnswer.reset();
    m_bannerAnswer.reset();
    m_windowHangup.reset();
    m_bannerHangup.reset();
}

std::shared_ptr<AxNode> PhoneApp::labelledButton(const QString& label, std::function<ax::Error()> press)
{
    return AxNode::button(label, guarded(std::move(press)), m_labels.labelAttribute);
}

std::shared_ptr<AxNode> PhoneApp::callWindow()
{
    SimApplication* app = m_desktop.application(m_callProcess);
    if (!app)
        return nullptr;
    // The call window goes right after the process's own menu bar and main window, before any other
    // window, so windows added later are walked first.
    std::size_t index = 0;
    for (const auto& child : app->root->children) {
        if (child->role == ax::kMenuBarRole || child->title == app->name)
            ++index;
        else
            break;
    }
    auto window = AxNode::make(ax::kWindowRole, m_caller);
    return app->root->insert(index, window);
}

std::shared_ptr<AxNode> PhoneApp::banner()
{
    SimApplication* centre = m_desktop.application(kNotificationCentreBundle);
    if (!centre)
        return nullptr;
    auto window = AxNode::make(ax::kWindowRole, QStringLiteral("Notification Center"));
    return centre->root->insert(0, window);
}

void PhoneApp::rebuild()
{
    removeCallElements();
    const auto answer = [this] {
        ++m_answerPresses;
        if (m_answerPressFails)
            return ax::Error::CannotComplete;
        if (m_state != CallState::Ringing)
            return ax::Error::InvalidUIElement;
        setState(CallState::Active);
        return ax::Error::Success;
    };
    const auto decline = [this] {
        if (m_state == CallState::Ringing)
            setState(CallState::Ended);
        return ax::Error::Success;
    };
    const auto hangup = [this] {
        ++m_hangupPresses;
        if (m_hangupPressFails)
            return ax::Error::CannotComplete;
        if (m_state != CallState::Active && m_state != CallState::Dialing)
            return ax::Error::InvalidUIElement;
        setState(CallState::Ended);
        return ax::Error::Success;
    };

    const bool ringing = m_state == CallState::Ringing;
    // While dialling, the call screen already offers the hang-up button.
    const bool active = m_state == CallState::Active || m_state == CallState::Dialing;
    if (!ringing && !active)
        return;
    const Surface surface = ringing ? m_ringSurface : m_activeSurface;

    if (surface != Surface::Banner) {
        // window › panel › [caller, status, buttons › [...]]
        m_callWindow = callWindow();
        if (m_callWindow) {
            auto panel = m_callWindow->add(AxNode::make(ax::kGroupRole));
            panel->add(AxNode::text(m_caller));
            panel->add(AxNode::text(ringing                         ? m_labels.incomingCall
                                    : m_state == CallState::Dialing ? QStringLiteral("Appel…")
                                                                    : QStringLiteral("00:00")));
            auto buttons = panel->add(AxNode::make(ax::kGroupRole));
            if (ringing) {
                m_windowAnswer = buttons->add(labelledButton(m_labels.answer, answer));
                buttons->add(labelledButton(m_labels.decline, decline));
            } else {
                buttons->add(labelledButton(m_labels.mute, [] { return ax::Error::Success; }));
                m_windowHangup = buttons->add(labelledButton(m_labels.hangup, hangup));
            }
        }
    }
    if (surface != Surface::AppWindow) {
        // window › banner › [app name, caller, actions › [...]]
        m_banner = banner();
        if (m_banner) {
            auto content = m_banner->add(AxNode::make(ax::kGroupRole));
            content->subrole = kNotificationSubrole;
            content->add(AxNode::text(m_labels.appName));
            content->add(AxNode::text(m_caller));
            auto actions = content->add(AxNode::make(ax::kGroupRole));
            if (ringing) {
                m_bannerAnswer = actions->add(labelledButton(m_labels.answer, answer));
                actions->add(labelledButton(m_labels.decline, decline));
            } else {
                m_bannerHangup = actions->add(labelledButton(m_labels.hangup, hangup));
            }
        }
    }
}

std::shared_ptr<AxNode> PhoneApp::showUnrelatedBanner(const QString& appName, const QString& text,
                                                      const QString& button)
{
    SimApplication* centre = m_desktop.application(kNotificationCentreBundle);
    if (!centre)
        return nullptr;
    auto window = centre->root->add(AxNode::make(ax::kWindowRole, QStringLiteral("Notification Center")));
    auto content = window->add(AxNode::make(ax::kGroupRole));
    content->subrole = kNotificationSubrole;
    content->add(AxNode::text(appName));
    content->add(AxNode::text(text));
    auto actions = content->add(AxNode::make(ax::kGroupRole));
    auto accept = actions->add(AxNode::button(button, [] { return ax::Error::Success; }));
    actions->add(AxNode::button(QStringLiteral("Decline"), [] { return ax::Error::Success; }));
    m_unrelatedBanners.push_back(window);
    return accept;
}

void PhoneApp::clearUnrelatedBanners()
{
    for (auto& window : m_unrelatedBanners)
        if (auto parent = window->parent.lock())
            parent->remove(window);
    m_unrelatedBanners.clear();
}

std::shared_ptr<AxNode> PhoneApp::answerButton(Surface surface) const
{
    return surface == Surface::Banner ? m_bannerAnswer : m_windowAnswer;
}

std::shared_ptr<AxNode> PhoneApp::hangupButton(Surface surface) const
{
    return surface == Surface::Banner ? m_bannerHangup : m_windowHangup;
}

// --- audio menu

void PhoneApp::buildMenuBar()
{
    SimApplication* phone = m_desktop.application(kPhoneBundle);
    if (!phone)
        return;
    if (auto old = phone->menuBar())
        phone->root->remove(old);
    m_menu.reset();
    m_videoItem.reset();
    auto bar = phone->root->insert(0, AxNode::make(ax::kMenuBarRole));
    const QStringList titles = {QStringLiteral("Apple"), QStringLiteral("Téléphone"),
                                QStringLiteral("Fichier"), QStringLiteral("Édition"),
                                QStringLiteral("Présentation")};
    for (const QString& title : titles)
        bar->add(AxNode::make(ax::kMenuBarItemRole, title));
    if (m_menuLayout.present) {
        m_videoItem = bar->add(AxNode::make(ax::kMenuBarItemRole, m_menuLayout.menuTitle));
        if (!m_menuLayout.menuIdentifier.isEmpty())
            m_videoItem->identifier = m_menuLayout.menuIdentifier;
        m_videoItem->setAction(ax::kPressAction, guarded([this] {
                                   if (m_menuPressFails)
                                       return ax::Error::CannotComplete;
                                   openMenu();
                                   return ax::Error::Success;
                               }));
    }
    bar->add(AxNode::make(ax::kMenuBarItemRole, QStringLiteral("Fenêtre")));
    bar->add(AxNode::make(ax::kMenuBarItemRole, QStringLiteral("Aide")));
}

void PhoneApp::setAudioMenuLayout(const AudioMenuLayout& layout)
{
    m_menuLayout = layout;
    buildMenuBar();
}

void PhoneApp::setAudioRoute(const AudioRoute& route)
{
    if (route == m_route)
        return;
    m_route = route;
    if (onAudioRouteChanged)
        onAudioRouteChanged(m_route);
}

QString PhoneApp::effectiveInputDevice() const
{
    if (!m_route.inputDevice.isEmpty())
        return m_route.inputDevice;
    return m_systemInput ? m_systemInput() : QString();
}

QString PhoneApp::effectiveOutputDevice() const
{
    if (!m_route.outputDevice.isEmpty())
        return m_route.outputDevice;
    return m_systemOutput ? m_systemOutput() : QString();
}

void PhoneApp::setItemPressFails(const QString& title, bool fails)
{
    if (fails)
        m_itemPressFails.insert(title);
    else
        m_itemPressFails.remove(title);
}

void PhoneApp::setSelectionIgnored(const QString& title, bool ignored)
{
    if (ignored)
        m_selectionIgnored.insert(title);
    else
        m_selectionIgnored.remove(title);
}

void PhoneApp::openMenu()
{
    closeMenu();
    ++m_menuOpenCount;
    if (m_menuOpensEmpty || !m_videoItem)
        return;
    m_menu = m_videoItem->add(AxNode::make(ax::kMenuRole));
    m_menu->setAction(ax::kCancelAction, guarded([this] {
                          closeMenu();
                          return ax::Error::Success;
                      }));

    const auto header = [this](const QString& title) {
        auto item = m_menu->add(AxNode::make(ax::kMenuItemRole, title));
        item->enabled = false;
        item->setAction(ax::kPressAction, [] { return ax::Error::CannotComplete; });
    };
    const auto item = [this](const QString& title, bool input, bool systemSetting) {
        const QString current = input ? m_route.inputDevice : m_route.outputDevice;
        const bool chosen = systemSetting ? current.isEmpty() : current == title;
        auto node = m_menu->add(AxNode::make(ax::kMenuItemRole, title));
        node->enabled = true;
        node->selected = false; // AXSelected is the highlight under the pointer, not the choice
        node->markChar = chosen && m_menuLayout.marksExposed ? m_menuLayout.markChar : QString();
        node->setAction(ax::kPressAction, guarded([this, input, title, systemSetting] {
                            return pressMenuItem(input, title, systemSetting);
                        }));
    };

    // The camera items: choosing one closes the menu and leaves the audio alone.
    for (const QString& title : m_menuLayout.leadingItems) {
        auto node = m_menu->add(AxNode::make(ax::kMenuItemRole, title));
        node->enabled = true;
        node->setAction(ax::kPressAction, guarded([this] {
                            closeMenu();
                            return ax::Error::Success;
                        }));
    }
    header(m_menuLayout.microphoneHeader);
    item(m_menuLayout.systemSetting, true, true);
    for (const QString& name : m_inputDevices ? m_inputDevices() : QStringList())
        item(name, true, false);
    auto separator = m_menu->add(AxNode::make(ax::kMenuItemRole));
    separator->enabled = false;
    header(m_menuLayout.speakerHeader);
    item(m_menuLayout.systemSetting, false, true);
    for (const QString& name : m_outputDevices ? m_outputDevices() : QStringList())
        item(name, false, false);
}

void PhoneApp::closeMenu()
{
    if (!m_menu)
        return;
    if (auto parent = m_menu->parent.lock())
        parent->remove(m_menu);
    m_menu.reset();
}

ax::Error PhoneApp::pressMenuItem(bool input, const QString& title, bool systemSetting)
{
    if (m_itemPressFails.contains(title))
        return ax::Error::CannotComplete;
    // A menu closes once one of its items is chosen.
    closeMenu();
    if (m_selectionIgnored.contains(title))
        return ax::Error::Success;
    m_selectionLog.append((input ? QStringLiteral("micro: ") : QStringLiteral("sortie: ")) + title);
    AudioRoute route = m_route;
    (input ? route.inputDevice : route.outputDevice) = systemSetting ? QString() : title;
    setAudioRoute(route);
    return ax::Error::Success;
}

} // namespace sim
