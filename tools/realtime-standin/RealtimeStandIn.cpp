#include "tools/realtime-standin/RealtimeStandIn.h"

#include <QFile>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <memory>

namespace {

// Small buffers make a stalled reader back up into the client quickly.
constexpr int kStalledBufferBytes = 4096;
constexpr quint64 kOutgoingFrameBytes = 64ull * 1024 * 1024;

void mergeInto(QJsonObject& target, const QJsonObject& update)
{
    for (auto it = update.begin(); it != update.end(); ++it) {
        if (it->isObject() && target.value(it.key()).isObject()) {
            QJsonObject nested = target.value(it.key()).toObject();
            mergeInto(nested, it->toObject());
            target.insert(it.key(), nested);
        } else {
            target.insert(it.key(), *it);
        }
    }
}

} // namespace

RealtimeStandIn::RealtimeStandIn(QObject* parent) : QObject(parent) {}

RealtimeStandIn::~RealtimeStandIn()
{
    // WebSockets first: they still use the transports that the listener owns.
    for (QWebSocket* socket : findChildren<QWebSocket*>(QString(), Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        delete socket;
    }
    for (const auto& transport : std::as_const(m_transports)) {
        if (transport)
            transport->abort();
    }
}

bool RealtimeStandIn::listen(const std::optional<TlsFiles>& tls, quint16 port)
{
    m_secure = tls.has_value();
    if (tls) {
        QFile certificateFile(tls->certificatePath);
        QFile keyFile(tls->keyPath);
        if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            m_errorString = QStringLiteral("cannot read the TLS certificate or key");
            return false;
        }
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateFile.readAll(), QSsl::Pem);
        const QSslKey key(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
        if (chain.isEmpty() || key.isNull()) {
            m_errorString = QStringLiteral("the TLS certificate or key is not valid PEM");
            return false;
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(chain);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto* server = new QSslServer;
        server->setSslConfiguration(configuration);
        m_listener.reset(server);
    } else {
        m_listener = std::make_unique<QTcpServer>();
    }
    // The upgrader only performs WebSocket handshakes on transports we accepted ourselves, so that a
    // fault can reach below the WebSocket layer.
    m_upgrader = std::make_unique<QWebSocketServer>(QStringLiteral("orlea-realtime-standin"),
                                                    QWebSocketServer::NonSecureMode);
    connect(m_upgrader.get(), &QWebSocketServer::newConnection, this, &RealtimeStandIn::acceptWebSocket);
    connect(m_listener.get(), &QTcpServer::pendingConnectionAvailable, this,
            &RealtimeStandIn::acceptTransport);
    if (!m_listener->listen(QHostAddress::LocalHost, port)) {
        m_errorString = m_listener->errorString();
        return false;
    }
    return true;
}

QUrl RealtimeStandIn::url() const
{
    QUrl url;
    url.setScheme(m_secure ? QStringLiteral("wss") : QStringLiteral("ws"));
    // The certificate names "localhost"; the listener is bound to 127.0.0.1 either way.
    url.setHost(m_secure ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"));
    url.setPort(m_listener ? m_listener->serverPort() : 0);
    url.setPath(QStringLiteral("/v1/realtime"));
    return url;
}

QList<QJsonObject> RealtimeStandIn::received(const QString& type) const
{
    QList<QJsonObject> events;
    for (const QJsonObject& event : m_received) {
        if (event.value(QLatin1String("type")).toString() == type)
            events.append(event);
    }
    return events;
}

bool RealtimeStandIn::hasClient() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

void RealtimeStandIn::acceptTransport()
{
    while (QTcpSocket* transport = m_listener->nextPendingConnection()) {
        m_transports.append(transport);
        if (m_refusal)
            refuse(transport);
        else
            m_upgrader->handleConnection(transport);
    }
}

// Reads the client's opening request and answers it with an HTTP error, as the service does for a key
// it refuses.
void RealtimeStandIn::refuse(QTcpSocket* transport)
{
    const int status = *m_refusal;
    ++m_refusedHandshakes;
    auto request = std::make_shared<QByteArray>();
    connect(transport, &QTcpSocket::readyRead, transport, [transport, status, request] {
        *request += transport->readAll();
        if (!request->contains("\r\n\r\n"))
            return;
        const char* reason = status == 401   ? "Unauthorized"
                             : status == 403 ? "Forbidden"
                             : status == 429 ? "Too Many Requests"
                                             : "Error";
        const QByteArray body =
            QJsonDocument(QJsonObject{{"error", errorObject(status == 429 ? "rate_limit_exceeded"
                                                                          : "invalid_request_error",
                                                            status == 401 ? "invalid_api_key" : QString(),
                                                            QStringLiteral("Refused by the stand-in."))}})
                .toJson(QJsonDocument::Compact);
        transport->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                         "\r\nContent-Type: application/json\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        transport->disconnectFromHost();
    });
}

void RealtimeStandIn::acceptWebSocket()
{
    while (QWebSocket* socket = m_upgrader->nextPendingConnection()) {
        socket->setParent(this);
        // Whole messages in single frames, however large, like the service's audio deltas.
        socket->setOutgoingFrameSize(kOutgoingFrameBytes);
        ++m_connectionCount;
        m_client = socket;
        m_handshake = socket->request();
        m_clientTransport = nullptr;
        for (const auto& transport : std::as_const(m_transports)) {
            if (transport && transport->peerPort() == socket->peerPort())
                m_clientTransport = transport;
        }
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this](const QString& text) { frameArrived(text.toUtf8()); });
        connect(socket, &QWebSocket::binaryMessageReceived, this, &RealtimeStandIn::frameArrived);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            const auto code = socket->closeCode();
            m_closeCodes.append(code);
            socket->deleteLater();
            if (socket == m_client)
                emit clientDisconnected();
        });
        if (m_sessionLimitMs) {
            QPointer<QWebSocket> session(socket);
            QTimer::singleShot(*m_sessionLimitMs, socket, [this, session] {
                if (session && session == m_client)
                    expireSession();
            });
        }
        emit clientConnected();
    }
}

void RealtimeStandIn::frameArrived(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject() || !document.object().value(QLatin1String("type")).isString()) {
        ++m_unreadableFrames;
        return;
    }
    const QJsonObject event = document.object();
    if (m_keepsReceived)
        m_received.append(event);
    if (event.value(QLatin1String("type")).toString() == QLatin1String("session.update")) {
        mergeInto(m_session, event.value(QLatin1String("session")).toObject());
        if (m_confirmsSessions)
            confirmSession();
    }
    emit eventReceived(event);
}

void RealtimeStandIn::send(QJsonObject event)
{
    if (!event.contains(QLatin1String("event_id")))
        event.insert(QStringLiteral("event_id"), QStringLiteral("event_standin_%1").arg(++m_serverEvents));
    sendText(QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
}

void RealtimeStandIn::sendText(const QString& text)
{
    if (m_client)
        m_client->sendTextMessage(text);
}

void RealtimeStandIn::sendBinary(const QByteArray& bytes)
{
    if (m_client)
        m_client->sendBinaryMessage(bytes);
}

void RealtimeStandIn::confirmSession()
{
    send(QJsonObject{{"type", "session.updated"}, {"session", m_session}});
}

void RealtimeStandIn::confirmSession(const QString& instructions)
{
    QJsonObject session = m_session;
    session.insert(QStringLiteral("instructions"), instructions);
    send(QJsonObject{{"type", "session.updated"}, {"session", session}});
}

void RealtimeStandIn::sendError(const std::optional<QString>& code, const QString& eventID)
{
    QJsonObject error{{"type", "invalid_request_error"},
                      {"message", "Erreur simulée par le serveur de test."}};
    if (code)
        error.insert(QStringLiteral("code"), *code);
    if (!eventID.isEmpty())
        error.insert(QStringLiteral("event_id"), eventID);
    sendErrorValue(error);
}

QJsonObject RealtimeStandIn::errorObject(const QString& type, const QString& code, const QString& message,
                                         const QString& param, const QString& eventID)
{
    const auto orNull = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    return QJsonObject{{"type", type},
                       {"code", orNull(code)},
                       {"message", message},
                       {"param", orNull(param)},
                       {"event_id", orNull(eventID)}};
}

void RealtimeStandIn::expireSession()
{
    if (!m_client)
        return;
    const QString reason = QStringLiteral("Your session hit the maximum duration of 60 minutes.");
    send(QJsonObject{{"type", "error"},
                     {"error", errorObject(QStringLiteral("invalid_request_error"),
                                           QStringLiteral("session_expired"), reason)}});
    m_client->close(QWebSocketProtocol::CloseCodeGoingAway, reason);
}

void RealtimeStandIn::sendErrorValue(const QJsonValue& error)
{
    send(QJsonObject{{"type", "error"}, {"error", error}});
}

void RealtimeStandIn::closeNormally(QWebSocketProtocol::CloseCode code)
{
    if (m_client)
        m_client->close(code);
}

void RealtimeStandIn::closeAbruptly()
{
    if (m_clientTransport)
        m_clientTransport->abort();
    else if (m_client)
        m_client->abort();
}

void RealtimeStandIn::stopReading()
{
    if (!m_clientTransport)
        return;
    m_clientTransport->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kStalledBufferBytes);
    m_clientTransport->setReadBufferSize(kStalledBufferBytes);
    // Without readyRead the WebSocket layer never drains the transport, which then stops taking
    // bytes from the kernel once its small buffer is full.
    m_clientTransport->blockSignals(true);
}
