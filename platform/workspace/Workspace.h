#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// The workspace service (running applications, opening applications and URLs, the file manager and
// the system's sleep notification), shaped like NSWorkspace / NSRunningApplication.
namespace workspace {

struct RunningApplication {
    QString bundleIdentifier;
    qint64 processIdentifier = 0;
    QString localizedName;
};

// A failure reported by the workspace; the description is the platform's own sentence.
struct Error {
    QString domain;
    int code = 0;
    QString localizedDescription;
};

struct OpenConfiguration {
    // Bring the application to the front once it is running.
    bool activates = true;
};

enum class ActivationOption {
    None,
    ActivateAllWindows,
};

// Exactly one of the two is set.
using OpenApplicationCompletion =
    std::function<void(std::optional<RunningApplication> application, std::optional<Error> error)>;

class Workspace {
public:
    virtual ~Workspace() = default;

    // The running applications, in the order the system reports them.
    virtual QList<RunningApplication> runningApplications() const = 0;
    // The location of the installed application with that bundle identifier, if any.
    virtual std::optional<QUrl> urlForApplication(const QString& bundleIdentifier) const = 0;
    // Opens (launching if needed) the application at `applicationUrl`; the completion runs later on
    // the main thread, never inside this call.
    virtual void openApplication(const QUrl& applicationUrl, const OpenConfiguration& configuration,
                                 OpenApplicationCompletion completion) = 0;
    // NSRunningApplication.activate(options:).
    virtual bool activate(const RunningApplication& application, ActivationOption options) = 0;
    // Brings this application to the front. Since macOS 14 activation is only a request, which the system
    // declines unless the front application yields to us: false then, and the caller must ask the user to
    // come back (a notification, a sound) instead of assuming Orlea is in front.
    virtual bool activateSelf() = 0;
    // Opens a URL with its default handler: tel: dialling, System Settings panes, installer packages.
    virtual bool openUrl(const QUrl& url) = 0;
    // Shows the files selected in the file manager.
    virtual void activateFileViewerSelecting(const QList<QUrl>& fileUrls) = 0;

    // Observers of the will-sleep notification, called on the main thread. The returned token
    // removes the observer.
    virtual int addWillSleepObserver(std::function<void()> observer) = 0;
    virtual void removeWillSleepObserver(int token) = 0;
};

} // namespace workspace
