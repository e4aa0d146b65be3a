#include "platform/sim/desktop/Desktop.h"

#include <algorithm>
#include <limits>

namespace sim {

// The simulated AXUIElementRef: a weak link to the element (a closed window does not stay alive
// because someone kept a handle on one of its buttons) and the time-out set on this reference.
struct Desktop::Handle final : ax::ElementRef {
    std::weak_ptr<AxNode> node;
    float timeoutSeconds = 0;

    bool sameElement(const ax::ElementRef& other) const override
    {
        const auto* handle = dynamic_cast<const Handle*>(&other);
        if (!handle)
            return false;
        const auto mine = node.lock();
        return mine && mine == handle->node.lock();
    }
};

Desktop::Desktop(Clock& clock, Scheduler& scheduler, std::function<void(double)> spendTime)
    : m_clock(clock), m_scheduler(scheduler), m_spendTime(std::move(spendTime))
{
}

Desktop::Desktop(ManualClock& clock, Scheduler& scheduler)
    : Desktop(clock, scheduler, [&clock](double seconds) { clock.advance(seconds); })
{
}

Desktop::~Desktop()
{
    *m_alive = false;
}

// --- Accessibility

bool Desktop::isProcessTrusted()
{
    return m_trusted;
}

bool Desktop::isProcessTrustedWithOptions(bool prompt)
{
    if (prompt && !m_trusted) {
        ++m_trustPrompts;
        // The prompt does not wait for the user: the answer is the trust as it stands now.
        const bool trusted = m_trusted;
        if (onTrustPrompt)
            onTrustPrompt();
        return trusted;
    }
    return m_trusted;
}

ax::Element Desktop::createApplication(qint64 pid)
{
    auto handle = std::make_shared<Handle>();
    if (SimApplication* app = applicationByPid(pid))
        handle->node = app->root;
    return ax::Element(std::move(handle));
}

ax::Error Desktop::setMessagingTimeout(const ax::Element& element, float timeoutSeconds)
{
    auto* handle = dynamic_cast<Handle*>(element.ref());
    if (!handle || timeoutSeconds < 0)
        return ax::Error::IllegalArgument;
    handle->timeoutSeconds = timeoutSeconds;
    return ax::Error::Success;
}

std::shared_ptr<AxNode> Desktop::reach(const ax::Element& element, ax::Error& error, double* lateSeconds)
{
    if (lateSeconds)
        *lateSeconds = -1;
    ++m_requests;
    if (!m_trusted) {
        error = ax::Error::APIDisabled;
        return nullptr;
    }
    const auto* handle = dynamic_cast<const Handle*>(element.ref());
    if (!handle) {
        error = ax::Error::IllegalArgument;
        return nullptr;
    }
    auto node = handle->node.lock();
    if (!node || !node->alive) {
        error = ax::Error::InvalidUIElement;
        return nullptr;
    }
    const SimApplication* app = node->application;
    if (!app || !app->running) {
        error = ax::Error::CannotComplete;
        return nullptr;
    }
    double latency = node->latencySeconds >= 0 ? node->latencySeconds : app->latencySeconds;
    if (app->neverAnswers)
        latency = std::numeric_limits<double>::infinity();
    if (latency > 0) {
        const double timeout =
            handle->timeoutSeconds > 0 ? handle->timeoutSeconds : ax::kDefaultMessagingTimeoutSeconds;
        const double cost = std::min(latency, timeout);
        m_spentSeconds += cost;
        if (m_spendTime)
            m_spendTime(cost);
        if (latency > timeout) {
            error = ax::Error::CannotComplete;
            if (lateSeconds && !app->neverAnswers)
                *lateSeconds = latency - timeout;
            return nullptr;
        }
    }
    error = ax::Error::Success;
    return node;
}

ax::Element Desktop::handleFor(const std::shared_ptr<AxNode>& node)
{
    auto handle = std::make_shared<Handle>();
    handle->node = node;
    return ax::Element(std::move(handle));
}

namespace {
ax::AttributeValue stringAttribute(const QString& text)
{
    if (text.isNull())
        return {ax::Error::NoValue, {}};
    return {ax::Error::Success, text};
}

ax::AttributeValue boolAttribute(const std::optional<bool>& flag)
{
    if (!flag)
        return {ax::Error::NoValue, {}};
    return {ax::Error::Success, *flag};
}
} // namespace

ax::AttributeValue Desktop::copyAttributeValue(const ax::Element& element, const QString& attribute)
{
    ax::Error error = ax::Error::Success;
    const auto node = reach(element, error);
    if (!node)
        return {error, {}};

    if (attribute == ax::kRoleAttribute)
        return stringAttribute(node->role);
    if (attribute == ax::kTitleAttribute)
        return stringAttribute(node->title);
    if (attribute == ax::kDescriptionAttribute)
        return stringAttribute(node->description);
    if (attribute == ax::kHelpAttribute)
        return stringAttribute(node->help);
    if (attribute == ax::kValueAttribute)
        return stringAttribute(node->value);
    if (attribute == ax::kChildrenAttribute) {
        ax::ElementList children;
        children.reserve(qsizetype(node->children.size()));
        for (const auto& child : node->children)
            children.append(handleFor(child));
        return {ax::Error::Success, children};
    }
    if (attribute == ax::kParentAttribute) {
        const auto parent = node->parent.lock();
        if (!parent)
            return {ax::Error::NoValue, {}};
        return {ax::Error::Success, handleFor(parent)};
    }
    if (attribute == ax::kSubroleAttribute)
        return stringAttribute(node->subrole);
    if (attribute == ax::kIdentifierAttribute)
        return stringAttribute(node->identifier);
    if (attribute == ax::kMenuItemMarkCharAttribute)
        return stringAttribute(node->markChar);
    if (attribute == ax::kSelectedAttribute)
        return boolAttribute(node->selected);
    if (attribute == ax::kEnabledAttribute)
        return boolAttribute(node->enabled);
    if (attribute == ax::kWindowsAttribute && node->role == ax::kApplicationRole) {
        ax::ElementList windows;
        for (const auto& child : node->children)
            if (child->role == ax::kWindowRole)
                windows.append(handleFor(child));
        return {ax::Error::Success, windows};
    }
    if (attribute == ax::kMenuBarAttribute && node->role == ax::kApplicationRole) {
        if (!node->application->menuBarReadable)
            return {ax::Error::CannotComplete, {}};
        const auto menuBar = node->application->menuBar();
        if (!menuBar)
            return {ax::Error::NoValue, {}};
        return {ax::Error::Success, handleFor(menuBar)};
    }
    return {ax::Error::AttributeUnsupported, {}};
}

ax::Error Desktop::performAction(const ax::Element& element, const QString& action)
{
    ax::Error error = ax::Error::Success;
    double lateSeconds = -1;
    const auto node = reach(element, error, &lateSeconds);
    if (!node) {
        if (lateSeconds >= 0) {
            // The caller stopped waiting, but the process still presses the button when it gets there.
            const auto* handle = dynamic_cast<const Handle*>(element.ref());
            std::weak_ptr<AxNode> target = handle ? handle->node : std::weak_ptr<AxNode>();
            std::weak_ptr<bool> alive = m_alive;
            m_scheduler.after(lateSeconds, [alive, target, action] {
                const auto late = target.lock();
                if (alive.expired() || !late || !late->alive || late->actionFailure)
                    return;
                if (const auto* handler = late->action(action); handler && *handler) {
                    const auto run = *handler;
                    run();
                }
            });
        }
        return error;
    }
    if (node->actionFailure)
        return *node->actionFailure;
    const auto* handler = node->action(action);
    if (!handler || !*handler)
        return ax::Error::ActionUnsupported;
    // The handler may rebuild the tree; `node` keeps this element alive until it returns.
    const auto run = *handler;
    return run();
}

// --- Workspace

QList<workspace::RunningApplication> Desktop::runningApplications() const
{
    QList<workspace::RunningApplication> running;
    for (const auto& app : m_applications)
        if (app->running)
            running.append({app->bundleIdentifier, app->pid, app->name});
    return running;
}

std::optional<QUrl> Desktop::urlForApplication(const QString& bundleIdentifier) const
{
    for (const auto& app : m_applications)
        if (app->bundleIdentifier == bundleIdentifier && app->installed)
            return QUrl::fromLocalFile(app->path);
    return std::nullopt;
}

void Desktop::openApplication(const QUrl& applicationUrl, const workspace::OpenConfiguration& configuration,
                              workspace::OpenApplicationCompletion completion)
{
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler.after(launchDelaySeconds, [this, alive, applicationUrl, configuration,
                                           completion = std::move(completion)] {
        if (alive.expired())
            return;
        if (m_openError) {
            completion(std::nullopt, *m_openError);
            return;
        }
        SimApplication* app = applicationByPath(applicationUrl.toLocalFile());
        if (!app || !app->installed) {
            completion(
                std::nullopt,
                workspace::Error{
                    QStringLiteral("NSCocoaErrorDomain"), 260,
                    QStringLiteral("L’application « %1 » est introuvable.").arg(applicationUrl.fileName())});
            return;
        }
        if (!app->running)
            setRunning(app->bundleIdentifier, true);
        if (configuration.activates)
            m_frontmost = app->bundleIdentifier;
        completion(workspace::RunningApplication{app->bundleIdentifier, app->pid, app->name}, std::nullopt);
    });
}

bool Desktop::activate(const workspace::RunningApplication& application, workspace::ActivationOption)
{
    SimApplication* app = applicationByPid(application.processIdentifier);
    if (!app || !app->running)
        return false;
    m_frontmost = app->bundleIdentifier;
    return true;
}

bool Desktop::activateSelf()
{
    const bool anotherInFront = !m_frontmost.isEmpty() && m_frontmost != kSelfBundleIdentifier;
    if (anotherInFront && m_selfActivation == SelfActivation::DeclinedWhileAnotherIsInFront)
        return false;
    m_frontmost = kSelfBundleIdentifier;
    return true;
}

bool Desktop::openUrl(const QUrl& url)
{
    m_openedUrls.append(url);
    if (const auto it = m_schemeHandlers.find(url.scheme()); it != m_schemeHandlers.end() && it->second)
        return it->second(url);
    return urlHandler ? urlHandler(url) : true;
}

void Desktop::setUrlSchemeHandler(const QString& scheme, std::function<bool(const QUrl&)> handler)
{
    m_schemeHandlers[scheme] = std::move(handler);
}

void Desktop::activateFileViewerSelecting(const QList<QUrl>& fileUrls)
{
    m_revealed.append(fileUrls);
}

int Desktop::addWillSleepObserver(std::function<void()> observer)
{
    const int token = m_nextObserver++;
    m_sleepObservers.emplace(token, std::move(observer));
    return token;
}

void Desktop::removeWillSleepObserver(int token)
{
    m_sleepObservers.erase(token);
}

void Desktop::sleep()
{
    // Copied: an observer may remove itself.
    const auto observers = m_sleepObservers;
    for (const auto& [token, observer] : observers)
        if (m_sleepObservers.count(token))
            observer();
}

// --- Processes

SimApplication& Desktop::addApplication(const QString& bundleIdentifier, const QString& name,
                                        const QString& path, bool running)
{
    auto app = std::make_unique<SimApplication>();
    app->bundleIdentifier = bundleIdentifier;
    app->name = name;
    app->path = path;
    app->running = running;
    app->pid = m_nextPid++;
    app->root = AxNode::make(ax::kApplicationRole, name);
    adoptSubtree(*app->root, app.get());
    m_applications.push_back(std::move(app));
    return *m_applications.back();
}

SimApplication* Desktop::application(const QString& bundleIdentifier)
{
    for (const auto& app : m_applications)
        if (app->bundleIdentifier == bundleIdentifier)
            return app.get();
    return nullptr;
}

SimApplication* Desktop::applicationByPid(qint64 pid) const
{
    for (const auto& app : m_applications)
        if (app->pid == pid)
            return app.get();
    return nullptr;
}

SimApplication* Desktop::applicationByPath(const QString& path) const
{
    for (const auto& app : m_applications)
        if (app->path == path)
            return app.get();
    return nullptr;
}

void Desktop::setRunning(const QString& bundleIdentifier, bool running)
{
    auto it = std::find_if(m_applications.begin(), m_applications.end(),
                           [&](const auto& app) { return app->bundleIdentifier == bundleIdentifier; });
    if (it == m_applications.end() || (*it)->running == running)
        return;
    (*it)->running = running;
    if (running) {
        // A new process: new pid, and the workspace lists it last.
        (*it)->pid = m_nextPid++;
        auto app = std::move(*it);
        m_applications.erase(it);
        m_applications.push_back(std::move(app));
    } else if (m_frontmost == bundleIdentifier) {
        m_frontmost.clear();
    }
}

void Desktop::setInstalled(const QString& bundleIdentifier, bool installed)
{
    if (SimApplication* app = application(bundleIdentifier))
        app->installed = installed;
}

void Desktop::setProcessOrder(const QStringList& bundleIdentifiers)
{
    auto rank = [&](const std::unique_ptr<SimApplication>& app) {
        const auto index = bundleIdentifiers.indexOf(app->bundleIdentifier);
        return index < 0 ? bundleIdentifiers.size() : index;
    };
    std::stable_sort(m_applications.begin(), m_applications.end(),
                     [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
}

std::shared_ptr<AxNode> Desktop::addFillerWindow(const QString& bundleIdentifier, std::size_t elementCount,
                                                 int depth)
{
    SimApplication* app = application(bundleIdentifier);
    if (!app || elementCount == 0)
        return nullptr;
    auto window = AxNode::make(ax::kWindowRole, QStringLiteral("Récents"));
    if (elementCount > 1)
        window->add(makeFillerTree(elementCount - 1, std::max(0, depth - 1)));
    return app->root->add(window);
}

void Desktop::setLatency(const QString& bundleIdentifier, double seconds)
{
    if (SimApplication* app = application(bundleIdentifier))
        app->latencySeconds = seconds;
}

void Desktop::setNeverAnswers(const QString& bundleIdentifier, bool hung)
{
    if (SimApplication* app = application(bundleIdentifier))
        app->neverAnswers = hung;
}

void Desktop::resetCounters()
{
    m_spentSeconds = 0;
    m_requests = 0;
}

} // namespace sim
