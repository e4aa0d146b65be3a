#include "tools/realtime-standin/RealtimeStandInThread.h"

#include "tools/realtime-standin/StandInAgent.h"

RealtimeStandInThread::RealtimeStandInThread()
{
    m_thread.setObjectName(QStringLiteral("realtime-standin"));
}

RealtimeStandInThread::~RealtimeStandInThread()
{
    stop();
}

bool RealtimeStandInThread::start(const Options& options)
{
    stop();
    m_anchor = new QObject;
    m_anchor->moveToThread(&m_thread);
    m_thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        m_anchor,
        [&] {
            std::optional<StandInScript> script = StandInScript::builtIn();
            if (!options.promptsFolder.isEmpty())
                script = StandInScript::load(options.promptsFolder);
            if (!script) {
                m_errorString = QStringLiteral("cannot load the prompts of ") + options.promptsFolder;
                return;
            }
            auto* server = new RealtimeStandIn(m_anchor);
            server->setKeepsReceived(false); // nobody reads it here; onEvent is the way in
            if (options.agent) {
                auto* agent = new StandInAgent(*server, *script, m_anchor);
                agent->setSpeed(options.speed);
                agent->setDraftFault(options.draftFault);
                m_agent = agent;
            } else {
                server->setConfirmsSessions(true);
            }
            if (options.onEvent)
                QObject::connect(server, &RealtimeStandIn::eventReceived, m_anchor, options.onEvent);
            listening = server->listen(options.tls, options.port);
            m_errorString = server->errorString();
            m_url = server->url();
        },
        Qt::BlockingQueuedConnection);
    if (!listening)
        stop();
    return listening;
}

void RealtimeStandInThread::stop()
{
    if (!m_anchor)
        return;
    QObject* anchor = m_anchor;
    m_anchor = nullptr;
    m_agent = nullptr;
    // The server's sockets must die on the thread that owns them.
    QMetaObject::invokeMethod(
        anchor, [anchor] { delete anchor; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void RealtimeStandInThread::setDraftFault(StandInAgent::DraftFault fault)
{
    if (!m_anchor || !m_agent)
        return;
    StandInAgent* agent = m_agent;
    QMetaObject::invokeMethod(
        m_anchor, [agent, fault] { agent->setDraftFault(fault); }, Qt::BlockingQueuedConnection);
}
