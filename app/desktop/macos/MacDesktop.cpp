// The application on a real Mac: the window over the macOS backends of the platform seams, the real AI
// service, the driver's installer package from the application bundle. Built only on Apple systems.

#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/InstanceLock.h"
#include "app/common/PrivateFile.h"
#include "app/common/Scheduler.h"
#include "app/common/UserDefaults.h"
#include "app/desktop/DesktopApp.h"
#include "app/desktop/QuitGuard.h"
#include "app/model/AppModel.h"
#include "app/ui/DesktopServices.h"
#include "app/windows/MainWindow.h"
#include "app/windows/Theme.h"
#include "platform/macos/MacServices.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QUrl>

namespace {

// Finder shows the file selected, through the workspace.
class WorkspaceFileRevealer final : public FileRevealer {
public:
    explicit WorkspaceFileRevealer(workspace::Workspace& workspace) : m_workspace(workspace) {}
    void reveal(const QString& path) override
    {
        m_workspace.activateFileViewerSelecting({QUrl::fromLocalFile(path)});
    }

private:
    workspace::Workspace& m_workspace;
};

// Orlea.app/Contents/Resources/VelkaroAudio-0.2.0.pkg, beside Contents/MacOS/Orlea.
std::optional<QString> bundledDriverPackage()
{
    const QString package =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/VelkaroAudio-0.2.0.pkg");
    if (!QFileInfo(package).isFile())
        return std::nullopt;
    return QFileInfo(package).canonicalFilePath();
}

} // namespace

int runMacDesktop(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orlea"));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::apply(application);

    // One Orlea per data folder, as elsewhere; a copy started from the Dock says why it cannot run.
    InstanceLock::Outcome instance = InstanceLock::acquire(AppPaths::dataFolder());
    if (!instance.lock) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Orlea"), instance.refusal,
                        QMessageBox::NoButton);
        box.addButton(QStringLiteral("Quitter"), QMessageBox::AcceptRole);
        box.exec();
        return 1;
    }
    PrivateFile::removeInterruptedSaves();

    macos::MacServices services;
    SystemClock clock;
    QtScheduler scheduler;
    UserDefaults defaults(AppPaths::preferencesFile());
    QtClipboard clipboard;
    QtSavePanel savePanel;
    WorkspaceFileRevealer revealer(services.workspace());
    const Platform platform{services.hardware(),
                            services.accessibility(),
                            services.workspace(),
                            services.microphone(),
                            clock,
                            scheduler,
                            defaults,
                            clipboard,
                            savePanel,
                            revealer,
                            bundledDriverPackage(),
                            &services.notifications()};
    AppModel model(platform);

    MainWindow window(model, nullptr);
    QuitGuard guard(model);
    guard.watchSignals();
    guard.watchApplicationQuit();
    guard.guardWindow(&window);
    window.show();
    return application.exec();
}
