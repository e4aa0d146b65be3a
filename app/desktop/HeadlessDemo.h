#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <memory>
#include <optional>

struct CallRecord;
class DemoCaller;
class DemoEnvironment;
class QuitGuard;

// One complete call as a new user meets it, without a window: the setup on a fresh simulated Mac (the
// user grants what macOS asks, the driver package is opened, the key typed when asked), arming, a
// French caller, the conversation with the AI in real time, the caller hanging up. Prints the status
// lines as they change, the transcript, the files written, the latencies and the AI's draft of the call
// (with the notification it raised when urgent); ends through `finished`.
class HeadlessDemo final : public QObject {
    Q_OBJECT
public:
    HeadlessDemo(DemoEnvironment& environment, QuitGuard& guard, QObject* parent = nullptr);
    ~HeadlessDemo() override;

    // The caller is the person at the computer (its sound server connected, the caller set): their
    // voice, heard on the computer; the call ends after kLongestCallSeconds or the AI's goodbye.
    void setHostSound(bool hostSound) { m_hostSound = hostSound; }
    void start();
    // The guard has ended and saved what was running; reports it. Returns the exit code.
    int interrupted(const QString& reason);

    static constexpr double kWatchdogSeconds = 110;
    // The caller hangs up this long after the AI's last answer, or at the latest this long after the answer.
    static constexpr double kHangUpGraceSeconds = 1.5;
    static constexpr double kLongestCallSeconds = 60;
    static const QString kCallerText;

signals:
    void finished(int exitCode);

private:
    enum class Stage { Configuring, Arming, Ringing, Talking, HangingUp, Ending, Done };

    void say(const QString& line);
    void sayTimed(const QString& line);
    void modelChanged();
    void step();
    void configure();
    void talk();
    void conclude();
    void fail(const QString& message);
    void printTranscript();
    void printFiles();
    void printLatencies();
    void printFollowUp(const CallRecord& record);
    void printLine(const QString& speaker, const QString& text);

    DemoEnvironment& m_environment;
    QuitGuard& m_guard;
    std::shared_ptr<DemoCaller> m_caller;
    Stage m_stage = Stage::Configuring;
    QElapsedTimer m_elapsed;
    QTimer m_poll;
    QTimer m_watchdog;
    bool m_keySaved = false;
    bool m_hostSound = false;

    QString m_shownStatus;
    QString m_shownDetail;
    QString m_shownConfiguration;
    std::optional<QString> m_shownError;
    std::optional<QUuid> m_session;
    qsizetype m_shownLines = 0;
    QString m_shownDraftStatus;
    bool m_draftShown = false;
    double m_connectedAt = 0;
    std::optional<double> m_answeredAt;
};
