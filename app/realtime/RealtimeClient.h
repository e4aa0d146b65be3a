#pragma once

#include "app/realtime/ConversationUsage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>

class QWebSocket;

// The connection to the realtime speech-to-speech service. One instance serves conversation after
// conversation: `connect` tears down whatever existed and opens a new socket. Main thread only: the
// socket's signals, the send pump and every callback run there, so nothing here needs a lock.
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
    void greet();
    bool updateInstructions(const QString& instructions);
    void close();

    std::function<void()> onReady;
    std::function<void(const QByteArray&)> onAudio;
    std::function<void(const QString& speaker, const QString& text)> onTranscript;
    std::function<void()> onInterruption;
    std::function<void(const QString&)> onError;
    std::function<void(const ConversationUsage&)> onUsage;
    std::function<void()> onInstructionsApplied;

    bool isReady() const { return m_ready; }
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

    // The "session.update" event that opens a conversation.
    static QJsonObject sessionConfiguration(const QString& model, const QString& voice,
                                            const QString& instructions);

private:
    void send(const QJsonObject& event);
    void schedulePump();
    void pump();
    void messageLeft(quint64 generation);
    qint64 unwrittenBytes() const;
    void frameArrived(quint64 generation, const QByteArray& bytes);
    void handle(const QString& type, const QJsonObject& event);
    void receiveFailed();
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
};
