#include "platform/linux/FreedesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace linuxdesktop {

namespace {

notifications::Error errorOf(const QDBusError& error)
{
    return {QStringLiteral("org.freedesktop.DBus"), int(error.type()), error.message()};
}

// Runs `done` with the reply once the call ends; the watcher goes with it.
void whenAnswered(const QDBusPendingCall& call, QObject* context,
                  std::function<void(const QDBusPendingCall&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         done(*finished);
                         finished->deleteLater();
                     });
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection connection, QObject* parent)
    : QObject(parent), m_connection(std::move(connection))
{
    const QString service = QLatin1String(kService);
    const QString path = QLatin1String(kPath);
    const QString interface = QLatin1String(kInterface);
    m_connection.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                         SLOT(actionInvoked(uint, QString)));
    m_connection.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                         SLOT(notificationClosed(uint, uint)));
}

FreedesktopNotifications::~FreedesktopNotifications()
{
    const QString service = QLatin1String(kService);
    const QString path = QLatin1String(kPath);
    const QString interface = QLatin1String(kInterface);
    m_connection.disconnect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                            SLOT(actionInvoked(uint, QString)));
    m_connection.disconnect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                            SLOT(notificationClosed(uint, uint)));
}

void FreedesktopNotifications::requestAuthorization(
    std::function<void(bool granted, std::optional<notifications::Error> error)> completion)
{
    const QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("GetServerInformation"));
    whenAnswered(m_connection.asyncCall(message), this,
                 [completion = std::move(completion)](const QDBusPendingCall& call) {
                     if (!completion)
                         return;
                     if (call.isError())
                         completion(false, errorOf(call.error()));
                     else
                         completion(true, std::nullopt);
                 });
}

void FreedesktopNotifications::add(const notifications::NotificationRequest& request,
                                   std::function<void(std::optional<notifications::Error> error)> completion)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface), QStringLiteral("Notify"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout): the
    // "default" action is what a click on the notification invokes; -1 lets the service choose how
    // long it stays.
    message << QString::fromLatin1(kApplicationName) << uint(0) << QString() << request.title << request.body
            << QStringList{QStringLiteral("default"), QStringLiteral("Ouvrir l’appel")} << QVariantMap()
            << int(-1);
    const QString identifier = request.identifier;
    whenAnswered(m_connection.asyncCall(message), this,
                 [this, identifier, completion = std::move(completion)](const QDBusPendingCall& call) {
                     const QDBusPendingReply<uint> reply = call;
                     if (reply.isError()) {
                         if (completion)
                             completion(errorOf(reply.error()));
                         return;
                     }
                     m_shown.insert(reply.value(), identifier);
                     if (completion)
                         completion(std::nullopt);
                 });
}

void FreedesktopNotifications::setActivationHandler(std::function<void(const QString& identifier)> handler)
{
    m_activation = std::move(handler);
}

void FreedesktopNotifications::actionInvoked(uint id, const QString& actionKey)
{
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.constEnd() || actionKey != QLatin1String("default"))
        return;
    const QString identifier = *shown;
    if (m_activation)
        m_activation(identifier);
}

void FreedesktopNotifications::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}

} // namespace linuxdesktop
