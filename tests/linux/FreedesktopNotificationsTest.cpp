#include "platform/linux/FreedesktopNotifications.h"

#include "tests/realtime/RealtimeTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

// What a desktop's notification service does, as far as we use it: shows what Notify is given, numbers
// it, and says when the user clicked one.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString application;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString& application, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown << Shown{application, summary, body, actions};
        return uint(41 + shown.size());
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion)
    {
        vendor = QStringLiteral("Orlea tests");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }
};

// A session bus of our own, so the test never shows anything on a real desktop.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_daemon.start(daemon, {"--session", "--nofork", "--print-address=1"});
        if (!m_daemon.waitForStarted() || !waitUntil([&] { return m_daemon.canReadLine(); }, 5000))
            return;
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    QDBusConnection connect(const QString& name)
    {
        m_names << name;
        return QDBusConnection::connectToBus(address, name);
    }
    QString address;

private:
    QProcess m_daemon;
    QStringList m_names;
};

void invokeAction(QDBusConnection& bus, uint id, const QString& key)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"),
                                                     QStringLiteral("ActionInvoked"));
    signal << id << key;
    bus.send(signal);
}

} // namespace

TEST(FreedesktopNotifications, ShowsThroughTheDesktopServiceAndReportsItsClicks)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon is needed (package dbus-daemon)";
    QDBusConnection desktop = bus.connect(QStringLiteral("desktop"));
    QDBusConnection orlea = bus.connect(QStringLiteral("orlea"));
    ASSERT_TRUE(desktop.isConnected() && orlea.isConnected());
    linuxdesktop::FreedesktopNotifications notifications(orlea);
    QStringList clicked;
    notifications.setActivationHandler([&](const QString& identifier) { clicked << identifier; });

    // No service on the bus: authorisation and delivery are refused with the bus's reason.
    std::optional<std::pair<bool, std::optional<notifications::Error>>> answer;
    notifications.requestAuthorization([&](bool granted, std::optional<notifications::Error> error) {
        answer = std::make_pair(granted, error);
    });
    EXPECT_FALSE(answer.has_value()) << "the answer comes later, never inside the call";
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }));
    EXPECT_FALSE(answer->first);
    ASSERT_TRUE(answer->second.has_value());
    EXPECT_FALSE(answer->second->localizedDescription.isEmpty());
    std::optional<std::optional<notifications::Error>> delivery;
    notifications.add({"A", "Appel urgent · Claire Martin", "Fuite d’eau"},
                      [&](std::optional<notifications::Error> error) { delivery = error; });
    ASSERT_TRUE(waitUntil([&] { return delivery.has_value(); }));
    EXPECT_TRUE(delivery->has_value());

    // The desktop's service appears.
    FakeNotificationService service;
    ASSERT_TRUE(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
    answer.reset();
    notifications.requestAuthorization([&](bool granted, std::optional<notifications::Error> error) {
        answer = std::make_pair(granted, error);
    });
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }));
    EXPECT_TRUE(answer->first);
    EXPECT_FALSE(answer->second.has_value());

    for (const char* identifier : {"0A1B2C3D", "5E6F7A8B"}) {
        delivery.reset();
        notifications.add({identifier, "Appel urgent · Claire Martin", "Fuite d’eau sous l’évier."},
                          [&](std::optional<notifications::Error> error) { delivery = error; });
        ASSERT_TRUE(waitUntil([&] { return delivery.has_value(); }));
        EXPECT_FALSE(delivery->has_value()) << delivery->value().localizedDescription.toStdString();
    }
    ASSERT_EQ(service.shown.size(), 2);
    EXPECT_EQ(service.shown[0].application, "Orlea");
    EXPECT_EQ(service.shown[0].summary, "Appel urgent · Claire Martin");
    EXPECT_EQ(service.shown[0].body, "Fuite d’eau sous l’évier.");
    EXPECT_EQ(service.shown[0].actions, (QStringList{"default", "Ouvrir l’appel"}))
        << "a click on the notification is its default action";

    // The user clicks the second one; another action or an unknown number is nobody's click.
    invokeAction(desktop, 43, QStringLiteral("default"));
    invokeAction(desktop, 42, QStringLiteral("autre"));
    invokeAction(desktop, 7, QStringLiteral("default"));
    ASSERT_TRUE(waitUntil([&] { return !clicked.isEmpty(); }));
    settle();
    EXPECT_EQ(clicked, QStringList{"5E6F7A8B"});
}

#include "FreedesktopNotificationsTest.moc"
