#include "app/desktop/DesktopApp.h"

#include <algorithm>

#include "app/desktop/DemoEnvironment.h"
#include "app/desktop/HeadlessDemo.h"
#include "app/desktop/QuitGuard.h"
#include "app/model/AppModel.h"
#include "app/windows/MainWindow.h"
#include "app/windows/Theme.h"
#include "platform/sim/mac/Mac.h"
#include "platform/sim/window/SimulatorWindow.h"

#if ORLEA_LINUX_NOTIFICATIONS
#include "platform/linux/FreedesktopNotifications.h"
#endif

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

namespace {

void setDefault(const char* name, const QByteArray& value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

void printError(const QString& message)
{
    std::fputs(("Échec : " + message + QLatin1Char('\n')).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

// The headless demonstration works on a fresh Mac of its own unless told where to keep its data: a
// user's real data is never touched.
bool chooseDemoDataHome()
{
    if (!qEnvironmentVariableIsEmpty("ORLEA_DATA_HOME"))
        return true;
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/orlea-demo-XXXXXX"));
    if (!::mkdtemp(folder.data()))
        return false;
    qputenv("ORLEA_DATA_HOME", folder);
    return true;
}

} // namespace

int runDesktop(int argc, char** argv)
{
    // The recording player needs the FFmpeg media backend; it must be chosen before any media object.
    setDefault("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orlea"));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    // Only the guard ends the program: closing the Simulateur merely hides it.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::apply(application);
    DemoEnvironment::locateSourceFolder();

#if ORLEA_LINUX_NOTIFICATIONS
    // Declared first, so it outlives the simulated Mac that shows its notifications through it.
    linuxdesktop::FreedesktopNotifications desktopNotifications;
#endif
    DemoEnvironment environment;
    QString error;
    if (!environment.start(&error)) {
        printError(error);
        return 1;
    }
    // The person at the Simulateur plays the Installer.
    environment.mac().setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    // The Simulateur's user lets Orlea notify; what is shown goes to the desktop as well.
    environment.mac().notificationCenter().setPromptAnswer(sim::UserAnswer::Grant);
#if ORLEA_LINUX_NOTIFICATIONS
    environment.mac().notificationCenter().setHost(&desktopNotifications);
#endif

    MainWindow window(environment.model(), nullptr);
    sim::SimulatorWindow simulator(environment.mac(), nullptr);
    QuitGuard guard(environment.model());
    guard.watchSignals();
    guard.watchApplicationQuit();
    guard.guardWindow(&window);

    window.show();
    // The Simulateur stands beside the window, or as far right as the screen allows, so that it covers
    // as little of the window as possible.
    const QRect available = window.screen() ? window.screen()->availableGeometry() : QRect();
    const QRect frame = window.frameGeometry();
    if (available.isValid()) {
        const int width = simulator.sizeHint().width();
        const int left = std::max(available.left(), std::min(frame.right() + 16, available.right() - width));
        simulator.move(left, frame.top());
    }
    simulator.show();
    return application.exec();
}

int runHeadlessDemo(int argc, char** argv)
{
    setDefault("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orlea"));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QApplication::setQuitOnLastWindowClosed(false);
    DemoEnvironment::locateSourceFolder();
    if (!chooseDemoDataHome()) {
        printError(QStringLiteral("Impossible de créer le dossier de la démonstration dans ") +
                   QDir::tempPath() + QStringLiteral("."));
        return 1;
    }

    DemoEnvironment environment;
    QString error;
    if (!environment.start(&error)) {
        printError(error);
        return 1;
    }
    QuitGuard guard(environment.model());
    guard.watchSignals();
    guard.watchApplicationQuit();
    HeadlessDemo demo(environment, guard);
    QString reason;
    QObject::connect(&guard, &QuitGuard::quitRequested, [&reason](const QString& why) { reason = why; });
    guard.onFinished = [&](int exitCode) {
        if (exitCode == 0)
            exitCode = demo.interrupted(reason);
        QCoreApplication::exit(exitCode);
    };
    QObject::connect(&demo, &HeadlessDemo::finished, &application,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    demo.start();
    return application.exec();
}
