#pragma once

#include "app/common/Scheduler.h"
#include "app/realtime/ConversationUsage.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <optional>

class RealtimeClient;
struct RealtimeError;

// Asks the AI that just held a call for the call's follow-up draft, in the same session, which stays open
// for at most kMaxSeconds after the call. It belongs to the record being finished, not to the next call:
// the owner abandons it at once when a new conversation starts or the program quits.
//
// First any answer still running is cancelled ("response.cancel") and its end awaited; then one
// out-of-band text response is requested (conversation "none", bounded output, metadata naming the
// record) with instructions of its own. Only that response is read: recognised by its metadata on
// "response.created", then by its id, its text taken from "response.output_text.done" or from the
// completed response's output. Whatever happens, the session is then closed (its final usage, the
// draft's tokens or their bounded provision included, is handed over) and `finished` runs once.
//
// Main thread only, like the client: the owner forwards the client's events, errors and usage snapshots
// while `isActive`, and the deadline runs on the scheduler.
class FollowUpDrafter {
public:
    struct Outcome {
        QUuid record;
        // The text of the draft response, when one came; still to be checked.
        std::optional<QString> answer;
        // Why there is none, in French for the session log.
        QString failure;
        // The conversation's usage as the session closed.
        std::optional<ConversationUsage> usage;
    };

    FollowUpDrafter(RealtimeClient& client, Scheduler& scheduler,
                    std::function<void(const Outcome&)> finished);
    ~FollowUpDrafter();
    FollowUpDrafter(const FollowUpDrafter&) = delete;
    FollowUpDrafter& operator=(const FollowUpDrafter&) = delete;

    // The session is still the draft's (closing included): the owner forwards what the client reports.
    bool isActive() const { return m_stage != Stage::Idle || m_closing; }
    std::optional<QUuid> record() const { return m_record; }

    // Starts on the client's ready session of the call `record`; `dossiers` are the names the AI may
    // suggest.
    void start(const QUuid& record, const QStringList& dossiers);
    // Ends now, closing the session; `reason` is the outcome's failure when no answer had come.
    void abandon(const QString& reason);

    void handle(const QString& type, const QJsonObject& event);
    void failed(const RealtimeError& failure);
    void usageReported(const ConversationUsage& usage);

    // The "response" object of the request.
    static QJsonObject request(const QUuid& record, const QStringList& dossiers);
    static QString instructions(const QStringList& dossiers);
    // The metadata that names the draft response of `record`.
    static QJsonObject metadata(const QUuid& record);

    static constexpr double kMaxSeconds = 8.0;
    static constexpr int kMaxOutputTokens = 1000;
    // Names given to the AI at most, and their length: the instructions stay small whatever the history.
    static constexpr int kMaxListedDossiers = 40;
    static constexpr int kMaxListedNameCharacters = 80;

private:
    enum class Stage { Idle, Cancelling, Asking };

    void cancelOthers();
    void ask();
    void responseDone(const QJsonObject& response);
    void end(const QString& failure);
    bool isOurs(const QJsonObject& response) const;

    RealtimeClient& m_client;
    Scheduler& m_scheduler;
    std::function<void(const Outcome&)> m_finished;

    Stage m_stage = Stage::Idle;
    bool m_closing = false;
    std::optional<QUuid> m_record;
    QJsonObject m_request;
    QString m_requestEvent;
    QStringList m_cancelEvents;
    QStringList m_cancelled; // responses asked to stop
    QString m_responseID;
    std::optional<QString> m_text;
    std::optional<ConversationUsage> m_usage;
    TaskHandle m_deadline;
};
