#pragma once

#include "platform/notifications/UserNotifications.h"

#include <memory>

namespace macos {

// The notification seam on UNUserNotificationCenter (Objective-C only, hence MacUserNotifications.mm). The
// system asks the user's permission at the first authorisation request and remembers the answer (System
// Settings › Notifications › Orlea). The centre's completions arrive on a queue of the system's and are
// handed to the main thread. Its delegate, set at construction so that a click that launched Orlea is
// not missed, passes clicks on to the activation handler on the main thread, and lets a notification
// show while Orlea is in front.
class MacUserNotifications final : public notifications::UserNotificationCenter {
public:
    MacUserNotifications();
    ~MacUserNotifications() override;
    MacUserNotifications(const MacUserNotifications&) = delete;
    MacUserNotifications& operator=(const MacUserNotifications&) = delete;

    void requestAuthorization(
        std::function<void(bool granted, std::optional<notifications::Error> error)> completion) override;
    void add(const notifications::NotificationRequest& request,
             std::function<void(std::optional<notifications::Error> error)> completion) override;
    void setActivationHandler(std::function<void(const QString& identifier)> handler) override;

private:
    struct Delegate; // the Objective-C delegate object and the handler it calls
    std::unique_ptr<Delegate> m_delegate;
};

} // namespace macos
