#include "app/desktop/QuitGuard.h"

#include "app/model/AppModel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The self-pipe: the handler may only write a byte; the main thread reads it through a notifier.
int s_pipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    const ssize_t written = ::write(s_pipe[1], &byte, 1);
    (void)written; // a full pipe already holds a pending request
}

QString signalName(int number)
{
    return number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
}

} // namespace

QuitGuard::QuitGuard(AppModel& model, double maxWaitSeconds, QObject* parent)
    : QObject(parent), m_model(model), m_maxWaitSeconds(maxWaitSeconds)
{
}

QuitGuard::~QuitGuard()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (m_notifier) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        delete m_notifier;
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }
}

bool QuitGuard::watchSignals()
{
    if (m_notifier)
        return true;
    if (s_pipe[0] >= 0 || ::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitGuard::signalArrived);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return true;
}

void QuitGuard::watchApplicationQuit()
{
    // A filter on the application object sees every event; eventFilter returns early for the rest.
    QCoreApplication::instance()->installEventFilter(this);
}

void QuitGuard::guardWindow(QObject* window)
{
    m_window = window;
    window->installEventFilter(this);
}

void QuitGuard::signalArrived()
{
    char bytes[16];
    ssize_t count = 0;
    int last = SIGTERM;
    while ((count = ::read(s_pipe[0], bytes, sizeof bytes)) > 0)
        last = bytes[count - 1];
    requestQuit(QStringLiteral("Signal %1 reçu").arg(signalName(last)));
}

bool QuitGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (m_finished)
        return false;
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        requestQuit(QStringLiteral("Fermeture demandée par le système"));
        return true;
    }
    if (event->type() == QEvent::Close && watched == m_window) {
        // The window stays until the conversation is saved; the program then ends as a whole.
        event->ignore();
        requestQuit(QStringLiteral("Fenêtre fermée"));
        return true;
    }
    return false;
}

void QuitGuard::requestQuit(const QString& reason, int exitCode)
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_exitCode = exitCode;
    emit quitRequested(reason);
    QPointer<QuitGuard> self(this);
    m_model.finishBeforeQuit(m_maxWaitSeconds, [self] {
        if (self)
            self->finished();
    });
}

void QuitGuard::finished()
{
    m_finished = true;
    if (onFinished)
        onFinished(m_exitCode);
    else
        QCoreApplication::exit(m_exitCode); // exit, not quit: quit would ask the windows again
}
