#pragma once

#include "platform/workspace/Workspace.h"

#include <memory>

namespace macos {

// The workspace seam on NSWorkspace and NSRunningApplication (AppKit has no C interface for them, hence
// Objective-C++ in MacWorkspace.mm). Main thread only. Application launches complete on a queue of the
// system's; their completion hops to the main thread. The will-sleep observers are registered with the
// workspace's own notification centre (not the default one, which never posts it) on the main queue.
class MacWorkspace final : public workspace::Workspace {
public:
    MacWorkspace();
    // Removes the will-sleep observers still registered.
    ~MacWorkspace() override;
    MacWorkspace(const MacWorkspace&) = delete;
    MacWorkspace& operator=(const MacWorkspace&) = delete;

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

private:
    struct Observers; // the notification centre's tokens, Objective-C objects
    std::unique_ptr<Observers> m_observers;
};

} // namespace macos
