#pragma once

#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "platform/ax/Accessibility.h"
#include "platform/sim/desktop/AxTree.h"
#include "platform/workspace/Workspace.h"

#include <QList>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

// Whether the system grants this application's own activation requests.
enum class SelfActivation {
    // As macOS 14 and later: granted only while no other application is in front (the simulated
    // applications never yield to us).
    DeclinedWhileAnotherIsInFront,
    Granted,
};

// The simulated Mac desktop: its processes with their Accessibility trees, served through the real
// `ax` and `workspace` interfaces, plus the controls and fault injectors tests use.
//
// Time: a request to a slow process costs its latency, or the element's messaging time-out when
// that is shorter (the request then fails with CannotComplete, as on macOS). The cost is spent
// through `spendTime`: in tests it advances a manual clock, so seconds of hung processes take
// microseconds.
class Desktop final : public ax::Accessibility, public workspace::Workspace {
public:
    Desktop(Clock& clock, Scheduler& scheduler, std::function<void(double seconds)> spendTime);
    // Requests spend time on `clock` itself.
    Desktop(ManualClock& clock, Scheduler& scheduler);
    ~Desktop() override;

    // --- ax::Accessibility
    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(bool prompt) override;
    ax::Element createApplication(qint64 pid) override;
    ax::Error setMessagingTimeout(const ax::Element& element, float timeoutSeconds) override;
    ax::AttributeValue copyAttributeValue(const ax::Element& element, const QString& attribute) override;
    ax::Error performAction(const ax::Element& element, const QString& action) override;

    // --- workspace::Workspace
    QList<workspace::RunningApplication> runningApplications() const override;
    std::optional<QUrl> urlForApplication(const QString& bundleIdentifier) const override;
    void openApplication(const QUrl& applicationUrl, const workspace::OpenConfiguration& configuration,
                         workspace::OpenApplicationCompletion completion) override;
    bool activate(const workspace::RunningApplication& application,
                  workspace::ActivationOption options) override;
    bool activateSelf() override;
    bool openUrl(const QUrl& url) override;
    void activateFileViewerSelecting(const QList<QUrl>& fileUrls) override;
    int addWillSleepObserver(std::function<void()> observer) override;
    void removeWillSleepObserver(int token) override;

    // --- processes
    // Adds a process (running or merely installed) at the end of the workspace's order; its tree
    // starts as a bare AXApplication element titled `name`.
    SimApplication& addApplication(const QString& bundleIdentifier, const QString& name, const QString& path,
                                   bool running = true);
    SimApplication* application(const QString& bundleIdentifier);
    // Quits or launches a process. A launched process goes to the end of the running order.
    void setRunning(const QString& bundleIdentifier, bool running);
    void setInstalled(const QString& bundleIdentifier, bool installed);
    // Reorders the running processes; those not named keep their relative order after the named ones.
    void setProcessOrder(const QStringList& bundleIdentifiers);
    QString frontmostBundleIdentifier() const { return m_frontmost; }
    // This application, which is not one of the listed processes; in front after a granted activateSelf.
    static inline const QString kSelfBundleIdentifier = QStringLiteral("fr.velkaro.orlea");
    void setSelfActivation(SelfActivation policy) { m_selfActivation = policy; }
    // Appends a window of `elementCount` elements nested `depth` deep to a process; returns it.
    std::shared_ptr<AxNode> addFillerWindow(const QString& bundleIdentifier, std::size_t elementCount,
                                            int depth);

    // --- faults and inspection
    void setTrusted(bool trusted) { m_trusted = trusted; }
    bool trusted() const { return m_trusted; }
    int trustPromptCount() const { return m_trustPrompts; }
    // Runs after the system showed its "grant Accessibility" prompt (the user may act on it later).
    std::function<void()> onTrustPrompt;
    void setLatency(const QString& bundleIdentifier, double seconds);
    void setNeverAnswers(const QString& bundleIdentifier, bool hung);
    // The next openings of an application fail with this error (nothing to clear it but another call).
    void setOpenApplicationError(std::optional<workspace::Error> error) { m_openError = std::move(error); }
    double launchDelaySeconds = 0.05;
    // Seconds of clock the requests have spent since the last reset.
    double spentSeconds() const { return m_spentSeconds; }
    int requestCount() const { return m_requests; }
    void resetCounters();
    QList<QUrl> openedUrls() const { return m_openedUrls; }
    QList<QUrl> revealedFiles() const { return m_revealed; }
    // What opening a URL of a scheme does (tel: dials in the Phone app…), and whether it opened.
    // Other URLs go to `urlHandler`, and open when there is none.
    void setUrlSchemeHandler(const QString& scheme, std::function<bool(const QUrl&)> handler);
    std::function<bool(const QUrl&)> urlHandler;
    // Posts the will-sleep notification to every observer, as the system does before sleeping.
    void sleep();

    Clock& clock() { return m_clock; }
    Scheduler& scheduler() { return m_scheduler; }

private:
    struct Handle;
    // Finds the live element behind a handle and charges the request's time; on failure sets `error`.
    // A request that times out after `lateSeconds` of extra latency is still carried out then, as a
    // busy process works through its queue; `lateSeconds` is negative when it never will be.
    std::shared_ptr<AxNode> reach(const ax::Element& element, ax::Error& error,
                                  double* lateSeconds = nullptr);
    SimApplication* applicationByPid(qint64 pid) const;
    SimApplication* applicationByPath(const QString& path) const;
    ax::Element handleFor(const std::shared_ptr<AxNode>& node);

    Clock& m_clock;
    Scheduler& m_scheduler;
    std::function<void(double)> m_spendTime;
    std::vector<std::unique_ptr<SimApplication>> m_applications; // workspace order
    qint64 m_nextPid = 401;
    QString m_frontmost;
    SelfActivation m_selfActivation = SelfActivation::DeclinedWhileAnotherIsInFront;
    bool m_trusted = true;
    int m_trustPrompts = 0;
    std::optional<workspace::Error> m_openError;
    double m_spentSeconds = 0;
    int m_requests = 0;
    QList<QUrl> m_openedUrls;
    QList<QUrl> m_revealed;
    std::map<int, std::function<void()>> m_sleepObservers;
    std::map<QString, std::function<bool(const QUrl&)>> m_schemeHandlers;
    int m_nextObserver = 1;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
