#pragma once

#include "platform/notifications/UserNotifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

class QDBusPendingCallWatcher;

namespace linuxdesktop {

// The notification seam on the desktop's notification service (org.freedesktop.Notifications on the
// session bus: GNOME Shell, KDE Plasma, dunst…), over Qt's D-Bus module. There is no permission to ask
// on Linux: authorisation is granted when the service answers, refused with its error when none does.
// A notification carries a default action, which the service invokes when the user clicks it. Main
// thread only: replies and signals arrive through the connection on the main thread's event loop.
class FreedesktopNotifications final : public QObject, public notifications::UserNotificationCenter {
    Q_OBJECT
public:
    explicit FreedesktopNotifications(QDBusConnection connection = QDBusConnection::sessionBus(),
                                      QObject* parent = nullptr);
    ~FreedesktopNotifications() override;

    void requestAuthorization(
        std::function<void(bool granted, std::optional<notifications::Error> error)> completion) override;
    void add(const notifications::NotificationRequest& request,
             std::function<void(std::optional<notifications::Error> error)> completion) override;
    void setActivationHandler(std::function<void(const QString& identifier)> handler) override;

    static constexpr char kService[] = "org.freedesktop.Notifications";
    static constexpr char kPath[] = "/org/freedesktop/Notifications";
    static constexpr char kInterface[] = "org.freedesktop.Notifications";
    // The application name the service shows beside each notification.
    static constexpr char kApplicationName[] = "Orlea";

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_connection;
    // The service's numbers of the notifications shown, to our identifiers.
    QHash<uint, QString> m_shown;
    std::function<void(const QString&)> m_activation;
};

} // namespace linuxdesktop
