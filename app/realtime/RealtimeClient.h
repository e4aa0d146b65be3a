#pragma once

#include "app/realtime/ConversationUsage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QWebSocket;

// A failure the service reported or the connection met, as the owner needs it to decide what to do.
struct RealtimeError {
    // The service's category ("invalid_request_error", "server_error"…); "connection" for the socket
    // and "http" for a refused handshake.
    QString type;
    // Machine-readable: the service's code ("erreur" when it gave none), the HTTP status of a refused
    // handshake, or one of ours ("queue_full", "send_failed", "receive_failed").
    QString code;
    // The client event it concerns, when the service names one.
    QString eventID;
    // The service's own words, for the log; may be empty.
    QString message;
    // The French sentence for the user (for a recoverable error, the line for the session log).
    QString text;
    // It concerns one event only and the session stays healthy: log it and carry on.
    bool recoverable = false;
};

// The connection to the realtime speech-to-speech service. One instance serves conversation after
// conversation: `connect` tears down whatever existed and opens a new socket. Main thread only: the
// socket's signals, the send pump and every callback run there, so nothing here needs a lock.
//
// Every event sent gets an event_id of its own ("orlea_<connection>_<n>"), returned by the sending
// call: an "error" naming that id concerns that event. A caller that asks for a response of its own
// puts metadata in it (`createResponse`) and recognises its "response.created" / "response.done" in
// `onEvent`, which sees every event the service sends.
class RealtimeClient {
public:
    // `endpoint` replaces the service's URL (the "realtimeURL" setting); the environment variable
    // ORLEA_REALTIME_URL, when set, wins over both.
    explicit RealtimeClient(std::optional<QUrl> endpoint = std::nullopt);
    ~RealtimeClient();
    RealtimeClient(const RealtimeClient&) = delete;
    RealtimeClient& operator=(const RealtimeClient&) = delete;

    void setEndpoint(std::optional<QUrl> endpoint) { m_endpoint = std::move(endpoint); }
    // The URL `connect` opens for `model`: endpoint plus the query item "model".
    QUrl endpointURL(const QString& model) const;
    // Why the key may not be sent to `url`, in French; nullopt when it may. Only wss:// leaves the
    // machine: ws:// is allowed to the loopback alone (a stand-in, a local proxy).
    static std::optional<QString> endpointRefusal(const QUrl& url);

    void connect(const QString& key, const QString& model, const QString& voice, const QString& instructions);
    // Sends one chunk of PCM16 mono 24 kHz audio when the session is ready; drops it otherwise.
    void append(const QByteArray& pcm);
    // Asks the AI to speak first, with the session's instructions and the greeting text (a response's
    // instructions replace the session's). Returns the event_id.
    QString greet();
    bool updateInstructions(const QString& instructions);
    // Tells the service the caller heard only the first `audioEndMs` of an assistant item's audio, so
    // that it forgets the rest. Returns the event_id.
    QString truncate(const QString& itemID, qint64 audioEndMs);
    // "response.create" with `response` as its response object. Returns the event_id.
    QString createResponse(const QJsonObject& response);
    // Queues any client event under an event_id of ours (one it carries is replaced) and returns the
    // id; empty when nothing was queued (closed, or the queue was full).
    QString sendEvent(QJsonObject event);
    // "response.cancel" naming the response; the service ends it with a "response.done" whose status is
    // "cancelled". Returns the event_id.
    QString cancelResponse(const QString& responseID);
    // Tells the usage estimate that this response is bounded (see ConversationUsageMeter::bound) and
    // reports the new snapshot.
    void boundResponse(const QString& responseID, qint64 promptTokens, qint64 maxOutputTokens);
    void close();
    // One text frame for the current connection, as its socket would deliver it; nothing without a
    // connection. The fuzzer of the event handling feeds whole frames here.
    void receiveFrame(const QByteArray& frame) { frameArrived(m_generation, frame); }

    std::function<void()> onReady;
    // One chunk of AI voice and the assistant item it belongs to (empty when the service did not say).
    std::function<void(const QByteArray& pcm, const QString& itemID)> onAudio;
    // A finished line; for Orlea, also the text received of an answer cut short.
    std::function<void(const QString& speaker, const QString& text, const QString& itemID)> onTranscript;
    std::function<void()> onInterruption;
    // The service's voice detection ended the caller's turn at this point of the audio appended on this
    // connection (it includes the silence that ended the turn).
    std::function<void(qint64 audioEndMs)> onSpeechStopped;
    std::function<void(const RealtimeError&)> onError;
    std::function<void(const ConversationUsage&)> onUsage;
    std::function<void()> onInstructionsApplied;
    // Every event of the service, after the client's own handling.
    std::function<void(const QString& type, const QJsonObject& event)> onEvent;

    bool isReady() const { return m_ready; }
    // Responses of this connection the service created and has not ended, oldest first.
    const QStringList& activeResponses() const { return m_activeResponses; }
    // The instructions the session was last given (connect, then updateInstructions).
    const QString& sessionInstructions() const { return m_sessionInstructions; }
    // Caller audio appended on this connection: the axis of the service's audio_start_ms and
    // audio_end_ms (48 bytes a millisecond).
    qint64 sentAudioBytes() const { return m_sentAudioBytes; }
    // Serialised messages waiting for the socket, not counting the one being written.
    int waitingMessages() const { return int(m_waiting.size()); }
    // True while a message waits or is being written.
    bool isSending() const { return m_writing || !m_waiting.empty(); }

    static constexpr char kServiceHost[] = "api.openai.com";
    static constexpr char kServicePath[] = "/v1/realtime";
    static constexpr int kMaxWaitingMessages = 300;
    // Audio deltas arrive as large Base64 texts; 16 MiB keeps a hostile peer from making us buffer
    // gigabytes while leaving room for far more than any delta the service sends.
    static constexpr quint64 kMaxIncomingBytes = 16ull * 1024 * 1024;
    static constexpr int kConnectTimeoutMs = 60'000;
    static constexpr int kBytesPerSecond = 48'000;

    static const QString kGreetingInstructions;
    static const QString kQueueFullMessage;
    static const QString kSendFailedMessage;
    static const QString kReceiveFailedMessage;
    // The codes of errors that concern one event and leave the session healthy.
    static const QStringList kRecoverableCodes;
    // The French sentence for a handshake the service refused with this HTTP status.
    static QString refusedHandshakeMessage(int status);

    // The "session.update" event that opens a conversation.
    static QJsonObject sessionConfiguration(const QString& model, const QString& voice,
                                            const QString& instructions);

private:
    QString send(QJsonObject event);
    void report(RealtimeError error);
    void serviceError(const QJsonObject& error);
    void responseDone(const QJsonObject& response);
    void flushPartialTranscripts();
    void schedulePump();
    void pump();
    void messageLeft(quint64 generation);
    qint64 unwrittenBytes() const;
    void frameArrived(quint64 generation, const QByteArray& bytes);
    void handle(const QString& type, const QJsonObject& event);
    void receiveFailed(std::optional<int> refusedStatus = std::nullopt);
    void sendFailed();
    void connectionLost(quint64 generation);
    bool isCurrent(quint64 generation) const { return generation == m_generation && m_socket; }
    void tearDown();

    std::optional<QUrl> m_endpoint;
    QObject m_context; // receiver of socket signals; its lifetime bounds every connection

    QWebSocket* m_socket = nullptr;
    // Bumped by every teardown: signals of an old socket carry a stale number and are ignored.
    quint64 m_generation = 0;
    bool m_receiving = false;
    bool m_sending = false;
    bool m_streamOpen = false;
    std::deque<QByteArray> m_waiting; // UTF-8 JSON texts
    bool m_writing = false;
    bool m_pumpScheduled = false;

    ConversationUsageMeter m_usageMeter{QString()};
    qint64 m_audioBytesSinceUsage = 0;
    bool m_ready = false;
    std::optional<QString> m_pendingInstructions;

    quint64 m_connections = 0; // numbers the connections in event ids
    quint64 m_sentEvents = 0;
    QString m_sessionInstructions;
    qint64 m_sentAudioBytes = 0;
    bool m_handshakeDone = false;
    QString m_assistantItem; // from "response.output_item.added"
    QStringList m_activeResponses;
    // Transcript deltas of assistant items not finished yet, in arrival order.
    std::vector<std::pair<QString, QString>> m_partialTranscripts;
};
