#include "app/desktop/DemoEnvironment.h"

#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "app/desktop/DemoStandIn.h"
#include "app/model/AppModel.h"
#include "platform/sim/mac/Mac.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

DemoEnvironment::DemoEnvironment() = default;

DemoEnvironment::~DemoEnvironment()
{
    // The model talks to the AI and the Mac until its last moment; it goes first.
    m_model.reset();
    m_standIn.reset();
    m_mac.reset();
}

bool DemoEnvironment::start(QString* error)
{
    InstanceLock::Outcome outcome = InstanceLock::acquire(AppPaths::dataFolder());
    if (!outcome.lock) {
        if (error)
            *error = outcome.refusal;
        return false;
    }
    m_lock.emplace(std::move(*outcome.lock));
    PrivateFile::removeInterruptedSaves();

    m_mac = std::make_unique<sim::Mac>(sim::Mac::defaultStateFolder(), sim::MacClock::RealTime);
    const QString external = qEnvironmentVariable("ORLEA_REALTIME_URL");
    if (external.isEmpty()) {
        m_standIn = std::make_unique<DemoStandIn>();
        if (!m_standIn->start()) {
            if (error)
                *error =
                    QStringLiteral("L’IA de démonstration n’a pas pu démarrer : ") + m_standIn->errorString();
            return false;
        }
        m_aiURL = m_standIn->url();
        // The client has no demo case: only its endpoint differs.
        qputenv("ORLEA_REALTIME_URL", m_aiURL.toString().toUtf8());
    } else {
        m_aiURL = QUrl(external);
    }
    m_defaults = std::make_unique<UserDefaults>(AppPaths::preferencesFile());
    const QString package = packagePath();
    Platform platform{m_mac->hardware(),
                      m_mac->accessibility(),
                      m_mac->workspace(),
                      m_mac->microphone(),
                      m_mac->clock(),
                      m_mac->scheduler(),
                      *m_defaults,
                      m_clipboard,
                      m_savePanel,
                      m_revealer,
                      QFileInfo(package).isFile() ? std::optional<QString>(package) : std::nullopt,
                      &m_mac->notifications()};
    m_model = std::make_unique<AppModel>(platform);
    return true;
}

QString DemoEnvironment::demoKey() const
{
    const QString key = qEnvironmentVariable("ORLEA_DEMO_KEY");
    return m_standIn || key.isEmpty() ? QStringLiteral("demo") : key;
}

QString DemoEnvironment::packagePath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../lib/VelkaroAudio-0.2.0.pkg"));
}

void DemoEnvironment::locateSourceFolder()
{
    if (!qEnvironmentVariableIsEmpty("ORLEA_SOURCE_DIR"))
        return;
    // build/bin/orlea in a checkout: the tree is two levels up.
    const QString root = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
    if (QFileInfo::exists(root + QStringLiteral("/tools/realtime-standin/prompts/caller.txt")))
        qputenv("ORLEA_SOURCE_DIR", QFile::encodeName(root));
}
