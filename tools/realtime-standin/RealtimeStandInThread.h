#pragma once

#include "tools/realtime-standin/RealtimeStandIn.h"
#include "tools/realtime-standin/StandInAgent.h"

#include <QJsonObject>
#include <QThread>
#include <QUrl>
#include <functional>
#include <optional>

// The demo AI inside the application's own process: a RealtimeStandIn driven by a StandInAgent on a
// thread of its own, so the client under the main thread talks to it over a real loopback socket.
class RealtimeStandInThread {
public:
    struct Options {
        double speed = 1.0;                           // see StandInAgent::setSpeed
        QString promptsFolder;                        // empty: the built-in prompts
        std::optional<RealtimeStandIn::TlsFiles> tls; // wss when set
        quint16 port = 0;                             // 0 picks a free port
        bool agent = true;                            // false: only confirms sessions
        StandInAgent::DraftFault draftFault = StandInAgent::DraftFault::None;
        // Called on the stand-in's thread with every client event it receives (for measurements).
        std::function<void(const QJsonObject&)> onEvent;
    };

    RealtimeStandInThread();
    ~RealtimeStandInThread();
    RealtimeStandInThread(const RealtimeStandInThread&) = delete;
    RealtimeStandInThread& operator=(const RealtimeStandInThread&) = delete;

    // Blocks until the server listens (true) or failed (false, see errorString).
    bool start(const Options& options);
    void stop();
    // Changes the agent's answer to the next draft requests; waits until the agent has it.
    void setDraftFault(StandInAgent::DraftFault fault);
    QUrl url() const { return m_url; }
    QString errorString() const { return m_errorString; }

private:
    QThread m_thread;
    QObject* m_anchor = nullptr; // lives on m_thread; owns the server and the agent
    StandInAgent* m_agent = nullptr;
    QUrl m_url;
    QString m_errorString;
};
