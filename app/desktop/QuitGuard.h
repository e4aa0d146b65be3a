#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class AppModel;
class QSocketNotifier;

// Quits the program cleanly: on SIGTERM or SIGINT, on the platform's quit request, and when the guarded
// window is closed, a conversation in progress is ended and saved and its recording given a bounded
// time to be written before the event loop exits. By then it is too late to do this from
// QCoreApplication::aboutToQuit, since the recording finishes asynchronously.
class QuitGuard final : public QObject {
    Q_OBJECT
public:
    explicit QuitGuard(AppModel& model, double maxWaitSeconds = kDefaultMaxWaitSeconds,
                       QObject* parent = nullptr);
    ~QuitGuard() override;

    // Routes SIGTERM and SIGINT here; one guard per process may do so. False when the pipe failed.
    bool watchSignals();
    // The platform's quit request (QEvent::Quit on the application object).
    void watchApplicationQuit();
    // Closing `window` quits the whole program; other windows merely close.
    void guardWindow(QObject* window);

    // Starts the clean quit; later requests are ignored while it runs. `reason` is reported through
    // `quitRequested`.
    void requestQuit(const QString& reason, int exitCode = 0);
    bool quitting() const { return m_quitting; }

    // Runs instead of QCoreApplication::exit once the model is done; receives the exit code.
    std::function<void(int exitCode)> onFinished;

    static constexpr double kDefaultMaxWaitSeconds = 10.0;

signals:
    void quitRequested(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void signalArrived();
    void finished();

    AppModel& m_model;
    double m_maxWaitSeconds;
    bool m_quitting = false;
    bool m_finished = false;
    int m_exitCode = 0;
    QPointer<QObject> m_window;
    QSocketNotifier* m_notifier = nullptr;
};
