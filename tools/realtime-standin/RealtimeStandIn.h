#pragma once

#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebSocketProtocol>
#include <memory>
#include <optional>

class QTcpServer;
#include <QTcpSocket>
#include <QWebSocket>
class QWebSocketServer;

// The service side of the realtime protocol on a loopback WebSocket server. On its own it only records
// what the client sends and sends what it is told to: tests script every event, and StandInAgent
// drives it as the AI of the demo. It also injects the faults a real network and service produce.
class RealtimeStandIn : public QObject {
    Q_OBJECT
public:
    struct TlsFiles {
        QString certificatePath; // PEM, the server certificate (chain) presented to the client
        QString keyPath;         // PEM, its unencrypted private key
    };

    explicit RealtimeStandIn(QObject* parent = nullptr);
    ~RealtimeStandIn() override;

    // Listens on 127.0.0.1 (port 0 picks a free one). With `tls` the URL scheme is wss.
    bool listen(const std::optional<TlsFiles>& tls = std::nullopt, quint16 port = 0);
    QString errorString() const { return m_errorString; }
    // ws(s)://127.0.0.1:<port>/v1/realtime
    QUrl url() const;

    // Inspection: every JSON object received from any connection, in arrival order.
    const QList<QJsonObject>& received() const { return m_received; }
    QList<QJsonObject> received(const QString& type) const;
    void clearReceived() { m_received.clear(); }
    // Keeping every event is for tests that read `received`; a stand-in that serves a long call (the
    // demo's AI, the stand-alone server) would pile up every audio chunk of it.
    void setKeepsReceived(bool keeps) { m_keepsReceived = keeps; }
    // Frames that were not a JSON object with a string "type".
    int unreadableFrames() const { return m_unreadableFrames; }
    int connectionCount() const { return m_connectionCount; }
    bool hasClient() const;
    // The latest connection's socket, for tests that address it after a newer one arrived.
    QWebSocket* client() const { return m_client; }
    // The opening handshake of the latest connection: URL with its query, and headers.
    QNetworkRequest handshake() const { return m_handshake; }
    // Close codes of the connections that ended, in order; abnormal closures included.
    const QList<QWebSocketProtocol::CloseCode>& closeCodes() const { return m_closeCodes; }

    // Answers every "session.update" with "session.updated" carrying the resulting session.
    void setConfirmsSessions(bool confirms) { m_confirmsSessions = confirms; }
    // The session as the client configured it, updates merged in.
    QJsonObject session() const { return m_session; }

    // Scripting; all act on the latest connection and do nothing without one. Every event goes out
    // with an "event_id" of the server's, as the service's do.
    void send(QJsonObject event);
    void sendText(const QString& text);
    void sendBinary(const QByteArray& bytes);
    void confirmSession();
    void confirmSession(const QString& instructions);
    // An "error" event; without a code the error object has only a message. `eventID` names the client
    // event it concerns.
    void sendError(const std::optional<QString>& code, const QString& eventID = QString());
    void sendErrorValue(const QJsonValue& error);
    // The service's error object, as it sends them: type, code, message, param, event_id.
    static QJsonObject errorObject(const QString& type, const QString& code, const QString& message,
                                   const QString& param = QString(), const QString& eventID = QString());

    // Faults.
    void sendMalformedJSON() { sendText(QStringLiteral("{\"type\": \"response.done\", ")); }
    void sendNonObjectJSON()
    {
        sendText(QStringLiteral("[{\"type\": \"input_audio_buffer.speech_started\"}]"));
    }
    void closeNormally(QWebSocketProtocol::CloseCode code = QWebSocketProtocol::CloseCodeNormal);
    void closeAbruptly();
    // Stops reading the latest connection: its bytes pile up in the kernel until the client's
    // writes stall, as on a network that cannot keep up.
    void stopReading();
    // Answers the next handshakes with this HTTP status (401 or 403 for a bad key or access, 429 for a
    // quota) and a JSON error body instead of upgrading them; nothing: upgrade again.
    void refuseHandshakes(std::optional<int> status) { m_refusal = status; }
    int refusedHandshakes() const { return m_refusedHandshakes; }
    // Ends each session this long after its connection (nothing: never), as the service ends a session
    // at its maximum duration: a "session_expired" error, then a "going away" close.
    void setSessionLimit(std::optional<int> milliseconds) { m_sessionLimitMs = milliseconds; }
    void expireSession();

signals:
    void eventReceived(const QJsonObject& event);
    void clientConnected();
    void clientDisconnected();

private:
    void acceptTransport();
    void acceptWebSocket();
    void frameArrived(const QByteArray& bytes);
    void refuse(QTcpSocket* transport);

    std::unique_ptr<QTcpServer> m_listener;
    std::unique_ptr<QWebSocketServer> m_upgrader;
    bool m_secure = false;
    QString m_errorString;
    QList<QPointer<QTcpSocket>> m_transports;
    QPointer<QWebSocket> m_client;
    QPointer<QTcpSocket> m_clientTransport;

    QList<QJsonObject> m_received;
    bool m_keepsReceived = true;
    int m_unreadableFrames = 0;
    int m_connectionCount = 0;
    QNetworkRequest m_handshake;
    QList<QWebSocketProtocol::CloseCode> m_closeCodes;
    bool m_confirmsSessions = false;
    QJsonObject m_session;
    quint64 m_serverEvents = 0;
    std::optional<int> m_refusal;
    int m_refusedHandshakes = 0;
    std::optional<int> m_sessionLimitMs;
};
