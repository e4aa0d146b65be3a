#pragma once

#include <QString>
#include <functional>
#include <optional>

// Notifications to the user outside the window, shaped like UNUserNotificationCenter (the Mac's
// notification centre): an authorisation the system asks the user for once, requests added by
// identifier, and the user's activation of a delivered notification coming back by that identifier.
namespace notifications {

// UNNotificationRequest with its UNMutableNotificationContent.
struct NotificationRequest {
    QString identifier;
    QString title;
    QString body;
};

// NSError as the notification centre reports it; the description is the platform's own sentence.
struct Error {
    QString domain;
    int code = 0;
    QString localizedDescription;
};

class UserNotificationCenter {
public:
    virtual ~UserNotificationCenter() = default;

    // requestAuthorizationWithOptions:completionHandler: for alerts and sounds. The system asks the user
    // the first time only and answers from the setting afterwards. The completion runs later on the main
    // thread, never inside this call.
    virtual void
    requestAuthorization(std::function<void(bool granted, std::optional<Error> error)> completion) = 0;
    // addNotificationRequest:withCompletionHandler:. The completion (main thread, later) receives the
    // error when the system would not take it (not allowed, no service), nothing when it did.
    virtual void add(const NotificationRequest& request,
                     std::function<void(std::optional<Error> error)> completion) = 0;
    // The delegate's userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:: the
    // user clicked a notification of ours; called on the main thread with its identifier.
    virtual void setActivationHandler(std::function<void(const QString& identifier)> handler) = 0;
};

} // namespace notifications
