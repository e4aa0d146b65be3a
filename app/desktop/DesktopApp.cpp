#include "app/desktop/DesktopApp.h"

#include <algorithm>

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/desktop/DemoEnvironment.h"
#include "app/desktop/HeadlessDemo.h"
#include "app/desktop/QuitGuard.h"
#include "app/model/AppModel.h"
#include "app/records/HistoryFixture.h"
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
#include <QMessageBox>
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

// The window is often started from a desktop launcher, where nobody reads the terminal: the reason it
// cannot start is also shown in a small dialog. Without a screen (offscreen, minimal) nobody could close
// it, so only the terminal hears of it there.
void reportStartFailure(const QString& message)
{
    printError(message);
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Orlea"), message, QMessageBox::NoButton);
    box.addButton(QStringLiteral("Quitter"), QMessageBox::AcceptRole);
    box.exec();
}

// The Simulateur beside the window when the screen allows, narrowed down to its smallest size if need be
// and with the window moved to the screen's left edge; otherwise as far right as the screen allows, so
// that it covers as little of the window as possible.
void placeSimulator(QWidget& window, QWidget& simulator)
{
    const QRect available = window.screen() ? window.screen()->availableGeometry() : QRect();
    if (!available.isValid())
        return;
    constexpr int kGapPx = 16;
    const QRect frame = window.frameGeometry();
    const int smallest = std::max(simulator.minimumSizeHint().width(), simulator.minimumWidth());
    const int roomBeside = available.right() - frame.right() - kGapPx;
    const int roomFromLeftEdge = available.width() - frame.width() - kGapPx;
    if (roomBeside >= smallest || roomFromLeftEdge >= smallest) {
        int windowRight = frame.right();
        if (roomBeside < smallest) {
            window.move(available.left(), window.y()); // a top level moves by its frame
            windowRight = available.left() + frame.width() - 1;
        }
        const int width = std::min(simulator.width(), available.right() - windowRight - kGapPx);
        simulator.resize(std::max(width, smallest), simulator.height());
        simulator.move(windowRight + 1 + kGapPx, frame.top());
        return;
    }
    simulator.move(std::max(available.left(), available.right() + 1 - simulator.frameGeometry().width()),
                   frame.top());
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

// A fresh data folder of its own holding `count` generated calls, so that a history of years can be
// tried without touching anyone's data; false with the French reason.
bool prepareHistoryFixture(int count, QString* error)
{
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/orlea-historique-XXXXXX"));
    if (!::mkdtemp(folder.data())) {
        *error = QStringLiteral("Impossible de créer le dossier de l’historique d’exemple dans ") +
                 QDir::tempPath() + QStringLiteral(".");
        return false;
    }
    qputenv("ORLEA_DATA_HOME", folder);
    const QLocale locale;
    std::printf("%s\n", (QStringLiteral("Historique d’exemple : %1 %2 dans ")
                             .arg(locale.toString(count),
                                  count < 2 ? QStringLiteral("appel") : QStringLiteral("appels")) +
                         AppPaths::applicationSupport())
                            .toUtf8()
                            .constData());
    std::fflush(stdout);
    try {
        HistoryFixture::write(HistoryFixture::generate(
            count, secondsSinceReferenceDate(QDateTime::currentDateTimeUtc()) - 3600, 1));
    } catch (const AppError& failure) {
        *error = QStringLiteral("L’historique d’exemple n’a pas pu être écrit : ") +
                 failure.localizedDescription();
        return false;
    }
    return true;
}

} // namespace

int runDesktop(int argc, char** argv, const DesktopOptions& options)
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
    if (options.historyFixture) {
        QString error;
        if (!prepareHistoryFixture(*options.historyFixture, &error)) {
            reportStartFailure(error);
            return 1;
        }
    }

#if ORLEA_LINUX_NOTIFICATIONS
    // Declared first, so it outlives the simulated Mac that shows its notifications through it.
    linuxdesktop::FreedesktopNotifications desktopNotifications;
#endif
    DemoEnvironment environment;
    QString error;
    if (!environment.start(&error)) {
        reportStartFailure(error);
        return 1;
    }
    // The person at the Simulateur plays the Installer.
    environment.mac().setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    // The Simulateur's user lets Orlea notify; what is shown goes to the desktop as well.
    environment.mac().notificationCenter().setPromptAnswer(sim::UserAnswer::Grant);
#if ORLEA_LINUX_NOTIFICATIONS
    environment.mac().notificationCenter().setHost(&desktopNotifications);
#endif

    // With a sound server, a new Mac's microphone and speakers are the computer's defaults and the call
    // is heard on its default output; without one the Simulateur says so and keeps the simulated sounds.
    sim::ComputerSound& sound = environment.mac().computerSound();
    if (sound.connect()) {
        if (!sound.hasSavedChoices()) {
            sound.setBacking(hostsound::Direction::Input, sound.defaultDevice(hostsound::Direction::Input));
            sound.setBacking(hostsound::Direction::Output, sound.defaultDevice(hostsound::Direction::Output));
        }
        sound.setCaller({}, sound.defaultDevice(hostsound::Direction::Output));
    }

    MainWindow window(environment.model(), nullptr);
    sim::SimulatorWindow simulator(environment.mac(), nullptr);
    QuitGuard guard(environment.model());
    guard.watchSignals();
    guard.watchApplicationQuit();
    guard.guardWindow(&window);

    window.show();
    placeSimulator(window, simulator);
    simulator.show();
    return application.exec();
}

int runHeadlessDemo(int argc, char** argv, const DesktopOptions& options)
{
    setDefault("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orlea"));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QApplication::setQuitOnLastWindowClosed(false);
    DemoEnvironment::locateSourceFolder();
    if (options.historyFixture) {
        QString error;
        if (!prepareHistoryFixture(*options.historyFixture, &error)) {
            printError(error);
            return 1;
        }
    } else if (!chooseDemoDataHome()) {
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
    if (options.hostSound) {
        // The caller's voice and ear on the computer's defaults; nothing else of the demo changes.
        sim::ComputerSound& sound = environment.mac().computerSound();
        if (!sound.connect() ||
            !sound.setCaller(sound.defaultDevice(hostsound::Direction::Input),
                             sound.defaultDevice(hostsound::Direction::Output)) ||
            sound.callerInput().isEmpty() || sound.callerOutput().isEmpty()) {
            printError(
                QStringLiteral("--host-sound : aucun serveur de son (PulseAudio ou PipeWire) ne répond "
                               "avec un micro et une sortie par défaut sur cet ordinateur."));
            return 1;
        }
    }
    HeadlessDemo demo(environment, guard);
    demo.setHostSound(options.hostSound);
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
