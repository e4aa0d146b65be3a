#include "tests/support/PrivateSoundServer.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <csignal>

namespace {

const char* const kScript = R"(load-module module-native-protocol-unix socket=%1 auth-anonymous=1
load-module module-null-sink sink_name=speakers rate=48000 channels=2 sink_properties=device.description=Haut-parleurs
load-module module-null-sink sink_name=micfeed rate=48000 channels=1 sink_properties=device.description=Alimentation
load-module module-remap-source master=micfeed.monitor source_name=microphone rate=48000 channels=1 source_properties=device.description=Micro
set-default-sink speakers
set-default-source microphone
)";

QProcessEnvironment daemonEnvironment(const QString& folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), folder);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder + QStringLiteral("/pulse"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    return environment;
}

} // namespace

PrivateSoundServer::PrivateSoundServer()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty()) {
        m_why = QStringLiteral("the pulseaudio program is not installed");
        return;
    }
    const QString folder = m_folder.path();
    const QString socket = folder + QStringLiteral("/native");
    QFile script(folder + QStringLiteral("/test.pa"));
    if (!script.open(QIODevice::WriteOnly) ||
        script.write(QString::fromUtf8(kScript).arg(socket).toUtf8()) < 0) {
        m_why = QStringLiteral("cannot write the daemon's script");
        return;
    }
    script.close();
    // Root (a CI container) is warned, not refused, as long as it asks for no system instance.
    m_daemon.setProcessEnvironment(daemonEnvironment(folder));
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setStandardOutputFile(folder + QStringLiteral("/daemon.log"));
    m_daemon.start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                             QStringLiteral("--system=no"), QStringLiteral("--disallow-module-loading=no"),
                             QStringLiteral("--log-target=stderr"), QStringLiteral("-F"), script.fileName()});
    if (!m_daemon.waitForStarted(10000)) {
        m_why = QStringLiteral("pulseaudio did not start: ") + m_daemon.errorString();
        return;
    }
    // Ready once its socket accepts and the script has run (the last device exists).
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (m_daemon.state() != QProcess::Running)
            break;
        if (QFile::exists(socket) &&
            pactl({QStringLiteral("get-default-source")}) == QStringLiteral("microphone")) {
            m_running = true;
            return;
        }
        QThread::msleep(50);
    }
    QFile log(folder + QStringLiteral("/daemon.log"));
    log.open(QIODevice::ReadOnly);
    m_why = QStringLiteral("pulseaudio did not get ready: ") + QString::fromUtf8(log.readAll().right(600));
    kill();
}

PrivateSoundServer::~PrivateSoundServer()
{
    kill();
}

bool PrivateSoundServer::required()
{
    return qEnvironmentVariable("ORLEA_REQUIRE_SOUND_SERVER") == u"1";
}

QString PrivateSoundServer::serverString() const
{
    return QStringLiteral("unix:") + m_folder.path() + QStringLiteral("/native");
}

QString PrivateSoundServer::pactl(const QStringList& arguments) const
{
    QProcess process;
    QProcessEnvironment environment = daemonEnvironment(m_folder.path());
    environment.insert(QStringLiteral("PULSE_SERVER"), serverString());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool PrivateSoundServer::play(const QString& sink, const QString& wavFile) const
{
    QProcess process;
    QProcessEnvironment environment = daemonEnvironment(m_folder.path());
    environment.insert(QStringLiteral("PULSE_SERVER"), serverString());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, wavFile});
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

void PrivateSoundServer::kill()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_daemon.processId()), SIGTERM);
    if (!m_daemon.waitForFinished(5000)) {
        ::kill(pid_t(m_daemon.processId()), SIGKILL);
        m_daemon.waitForFinished(5000);
    }
    m_running = false;
}
