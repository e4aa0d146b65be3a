#include "platform/macos/MacWorkspace.h"

#include "platform/macos/CFSupport.h"
#include "platform/macos/MainThread.h"

#include <AppKit/AppKit.h>

#include <map>

namespace macos {

struct MacWorkspace::Observers {
    std::map<int, id<NSObject>> tokens;
    int next = 1;
};

namespace {

QString toQString(NSString* string)
{
    return macos::toQString((__bridge CFStringRef)string);
}

NSString* toNSString(const QString& text)
{
    return [NSString stringWithCharacters:reinterpret_cast<const unichar*>(text.utf16())
                                   length:NSUInteger(text.size())];
}

NSURL* toNSURL(const QUrl& url)
{
    return [NSURL URLWithString:toNSString(url.toString(QUrl::FullyEncoded))];
}

workspace::RunningApplication toRunningApplication(NSRunningApplication* application)
{
    return {toQString(application.bundleIdentifier), qint64(application.processIdentifier),
            toQString(application.localizedName)};
}

} // namespace

MacWorkspace::MacWorkspace() : m_observers(std::make_unique<Observers>()) {}

MacWorkspace::~MacWorkspace()
{
    NSNotificationCenter* centre = NSWorkspace.sharedWorkspace.notificationCenter;
    for (const auto& [token, observer] : m_observers->tokens)
        [centre removeObserver:observer];
}

QList<workspace::RunningApplication> MacWorkspace::runningApplications() const
{
    QList<workspace::RunningApplication> applications;
    for (NSRunningApplication* application in NSWorkspace.sharedWorkspace.runningApplications)
        applications.append(toRunningApplication(application));
    return applications;
}

std::optional<QUrl> MacWorkspace::urlForApplication(const QString& bundleIdentifier) const
{
    NSURL* url =
        [NSWorkspace.sharedWorkspace URLForApplicationWithBundleIdentifier:toNSString(bundleIdentifier)];
    if (url == nil)
        return std::nullopt;
    return QUrl(toQString(url.absoluteString));
}

void MacWorkspace::openApplication(const QUrl& applicationUrl,
                                   const workspace::OpenConfiguration& configuration,
                                   workspace::OpenApplicationCompletion completion)
{
    NSWorkspaceOpenConfiguration* open = [NSWorkspaceOpenConfiguration configuration];
    open.activates = configuration.activates;
    [NSWorkspace.sharedWorkspace
        openApplicationAtURL:toNSURL(applicationUrl)
               configuration:open
           completionHandler:^(NSRunningApplication* application, NSError* error) {
             // A queue of the system's: the values are copied here, the completion runs on the main thread.
             std::optional<workspace::RunningApplication> opened;
             std::optional<workspace::Error> failure;
             if (application != nil && error == nil)
                 opened = toRunningApplication(application);
             else
                 failure = workspace::Error{toQString(error.domain), int(error.code),
                                            toQString(error.localizedDescription)};
             postToMainThread([completion, opened, failure] { completion(opened, failure); });
           }];
}

bool MacWorkspace::activate(const workspace::RunningApplication& application,
                            workspace::ActivationOption options)
{
    NSRunningApplication* running =
        [NSRunningApplication runningApplicationWithProcessIdentifier:pid_t(application.processIdentifier)];
    if (running == nil)
        return false;
    const NSApplicationActivationOptions flags =
        options == workspace::ActivationOption::ActivateAllWindows ? NSApplicationActivateAllWindows : 0;
    return [running activateWithOptions:flags];
}

bool MacWorkspace::activateSelf()
{
    NSRunningApplication* orlea = NSRunningApplication.currentApplication;
    if (orlea.active)
        return true;
    // Asked on behalf of the front application: the system grants it only if that application yields.
    NSRunningApplication* front = NSWorkspace.sharedWorkspace.frontmostApplication;
    if (front == nil)
        return [orlea activateWithOptions:NSApplicationActivateAllWindows];
    return [orlea activateFromApplication:front options:NSApplicationActivateAllWindows];
}

bool MacWorkspace::openUrl(const QUrl& url)
{
    NSURL* target = toNSURL(url);
    return target != nil && [NSWorkspace.sharedWorkspace openURL:target];
}

void MacWorkspace::activateFileViewerSelecting(const QList<QUrl>& fileUrls)
{
    NSMutableArray<NSURL*>* urls = [NSMutableArray arrayWithCapacity:NSUInteger(fileUrls.size())];
    for (const QUrl& url : fileUrls)
        if (NSURL* file = toNSURL(url))
            [urls addObject:file];
    [NSWorkspace.sharedWorkspace activateFileViewerSelectingURLs:urls];
}

int MacWorkspace::addWillSleepObserver(std::function<void()> observer)
{
    const int token = m_observers->next++;
    m_observers->tokens[token] =
        [NSWorkspace.sharedWorkspace.notificationCenter addObserverForName:NSWorkspaceWillSleepNotification
                                                                    object:nil
                                                                     queue:NSOperationQueue.mainQueue
                                                                usingBlock:^(NSNotification*) {
                                                                  observer();
                                                                }];
    return token;
}

void MacWorkspace::removeWillSleepObserver(int token)
{
    const auto it = m_observers->tokens.find(token);
    if (it == m_observers->tokens.end())
        return;
    [NSWorkspace.sharedWorkspace.notificationCenter removeObserver:it->second];
    m_observers->tokens.erase(it);
}

} // namespace macos
