#pragma once

#include "app/common/InstanceLock.h"
#include "app/common/UserDefaults.h"
#include "app/ui/DesktopServices.h"

#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

class AppModel;
class DemoStandIn;
namespace sim {
class Mac;
}

// Everything the program runs on in the demo: the simulated Mac in real time (its state under the data
// folder), the AI stand-in inside the process unless ORLEA_REALTIME_URL names another service, the
// desktop services and the one application model. Main thread only; needs a QApplication.
class DemoEnvironment {
public:
    DemoEnvironment();
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    // Takes the data folder for this process (another Orlea on it is a refusal), clears what a crash
    // left of an interrupted save, then builds the Mac, the AI and the model; false with the French
    // reason in `error`.
    bool start(QString* error);

    sim::Mac& mac() { return *m_mac; }
    AppModel& model() { return *m_model; }
    // The stand-in, or null when another service was named.
    DemoStandIn* standIn() { return m_standIn.get(); }
    // The URL the realtime client talks to.
    QUrl aiURL() const { return m_aiURL; }
    // The key a demo user types: $ORLEA_DEMO_KEY for another service, "demo" otherwise.
    QString demoKey() const;

    // The driver's installer package next to the program (build/lib beside build/bin).
    static QString packagePath();
    // Points the caller phrases at the source tree when the environment does not.
    static void locateSourceFolder();

private:
    std::optional<InstanceLock> m_lock; // first in, last out: held until the model has saved
    std::unique_ptr<sim::Mac> m_mac;
    std::unique_ptr<DemoStandIn> m_standIn;
    std::unique_ptr<UserDefaults> m_defaults;
    QtClipboard m_clipboard;
    QtSavePanel m_savePanel;
    QtFileRevealer m_revealer;
    std::unique_ptr<AppModel> m_model;
    QUrl m_aiURL;
};
