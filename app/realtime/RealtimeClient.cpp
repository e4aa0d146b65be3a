#include "app/realtime/RealtimeClient.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

const QString RealtimeClient::kGreetingInstructions = QStringLiteral(
    "Commence par une courte salutation en français. Accueille au nom de l’entreprise indiquée dans tes "
    "consignes puis demande comment tu peux aider. N’ajoute pas d’annonce sur ta nature ou sur "
    "l’enregistrement.");
const QString RealtimeClient::kQueueFullMessage =
    QStringLiteral("Connexion trop lente pour maintenir la conversation audio.");
const QString RealtimeClient::kSendFailedMessage =
    QStringLiteral("Envoi audio interrompu. Vérifiez la connexion Internet.");
const QString RealtimeClient::kReceiveFailedMessage =
    QStringLiteral("Connexion à l’IA interrompue. Vérifiez la clé, le modèle et votre accès Internet.");
const QStringList RealtimeClient::kRecoverableCodes{
    QStringLiteral("conversation_already_has_active_response"),
    QStringLiteral("response_cancel_not_active"),
    QStringLiteral("input_audio_buffer_commit_empty"),
};

QString RealtimeClient::refusedHandshakeMessage(int status)
{
    return QStringLiteral("OpenAI a refusé la connexion (HTTP %1). Vérifiez la clé, l’accès de votre compte "
                          "à ce modèle et votre crédit API.")
        .arg(status);
}

namespace {

const QString kSpeakerAssistant = QStringLiteral("Orlea");
const QString kSpeakerCaller = QStringLiteral("Interlocuteur");
// How long a closing socket may take to finish its close handshake before it is cut.
constexpr int kCloseGraceMs = 5'000;
QString stringMember(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

QString serviceErrorText(const QString& code)
{
    return QStringLiteral("L’IA signale une erreur (") + code +
           QStringLiteral("). Vérifiez votre configuration.");
}

// A handshake the service refused: Qt 6.4 only says so in its error text ("… Unhandled http status
// code: 401 (Unauthorized).").
std::optional<int> refusedStatus(const QString& errorText)
{
    static const QRegularExpression pattern(QStringLiteral("status code: (\\d{3})\\b"));
    const QRegularExpressionMatch match = pattern.match(errorText);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

QSslConfiguration sslConfigurationWithExtraCA()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // Tests point this at the CA of their loopback server; verification itself stays on.
    const QString caPath = qEnvironmentVariable("ORLEA_REALTIME_CA");
    if (!caPath.isEmpty()) {
        QList<QSslCertificate> authorities = configuration.caCertificates();
        authorities += QSslCertificate::fromPath(caPath, QSsl::Pem);
        configuration.setCaCertificates(authorities);
    }
    return configuration;
}

} // namespace

RealtimeClient::RealtimeClient(std::optional<QUrl> endpoint) : m_endpoint(std::move(endpoint)) {}

RealtimeClient::~RealtimeClient()
{
    tearDown();
}

QUrl RealtimeClient::endpointURL(const QString& model) const
{
    QUrl url;
    const QString override = qEnvironmentVariable("ORLEA_REALTIME_URL");
    if (!override.isEmpty()) {
        url = QUrl(override);
    } else if (m_endpoint && m_endpoint->isValid()) {
        url = *m_endpoint;
    } else {
        url.setScheme(QStringLiteral("wss"));
        url.setHost(QString::fromLatin1(kServiceHost));
        url.setPath(QString::fromLatin1(kServicePath));
    }
    QUrlQuery query(url);
    query.removeAllQueryItems(QStringLiteral("model"));
    query.addQueryItem(QStringLiteral("model"), model);
    url.setQuery(query);
    return url;
}

std::optional<QString> RealtimeClient::endpointRefusal(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    const QString host = url.host();
    if (url.isValid() && !host.isEmpty()) {
        if (scheme == QLatin1String("wss"))
            return std::nullopt;
        const QHostAddress address(host);
        if (scheme == QLatin1String("ws") &&
            (address.isLoopback() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0))
            return std::nullopt;
    }
    return QStringLiteral("L’adresse du service IA « %1 » est refusée : la clé n’est envoyée qu’en wss://, "
                          "ou en ws:// vers ce Mac (127.0.0.1, localhost). Corrigez le réglage "
                          "« realtimeURL » ou ORLEA_REALTIME_URL.")
        .arg(url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
}

QJsonObject RealtimeClient::sessionConfiguration(const QString& model, const QString& voice,
                                                 const QString& instructions)
{
    const QJsonObject pcm24k{{"type", "audio/pcm"}, {"rate", 24000}};
    const QJsonObject input{
        {"format", pcm24k},
        {"transcription", QJsonObject{{"model", "gpt-4o-mini-transcribe"}, {"language", "fr"}}},
        {"turn_detection", QJsonObject{{"type", "server_vad"},
                                       {"silence_duration_ms", 650},
                                       {"prefix_padding_ms", 300},
                                       {"interrupt_response", true},
                                       {"create_response", true}}}};
    const QJsonObject output{{"format", pcm24k}, {"voice", voice}};
    const QJsonObject session{{"type", "realtime"},
                              {"model", model},
                              {"output_modalities", QJsonArray{"audio"}},
                              {"instructions", instructions},
                              {"audio", QJsonObject{{"input", input}, {"output", output}}}};
    return QJsonObject{{"type", "session.update"}, {"session", session}};
}

void RealtimeClient::connect(const QString& key, const QString& model, const QString& voice,
                             const QString& instructions)
{
    Q_ASSERT_X(QThread::currentThread() == m_context.thread(), "RealtimeClient::connect", "main thread only");
    close();

    m_usageMeter = ConversationUsageMeter(model);
    m_audioBytesSinceUsage = 0;
    if (onUsage)
        onUsage(m_usageMeter.snapshot());
    if (m_socket) // the usage callback opened a connection of its own
        return;

    const QUrl url = endpointURL(model);
    if (const std::optional<QString> refusal = endpointRefusal(url)) {
        // Nothing is opened; the refusal arrives like any connection failure, on a later turn.
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            &m_context,
            [this, generation, message = *refusal] {
                if (generation == m_generation)
                    report({QStringLiteral("connection"), QStringLiteral("endpoint_refused"), QString(),
                            QString(), message});
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(kConnectTimeoutMs);
    request.setRawHeader("Authorization", "Bearer " + key.toUtf8());

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest);
    // Qt's defaults would take frames up to 2 GiB; see kMaxIncomingBytes.
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingBytes);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingBytes);
    if (url.scheme() == QLatin1String("wss"))
        socket->setSslConfiguration(sslConfigurationWithExtraCA());

    m_socket = socket;
    const quint64 generation = m_generation;
    ++m_connections;
    m_sentEvents = 0;
    m_sessionInstructions = instructions;
    m_sentAudioBytes = 0;
    m_handshakeDone = false;
    m_assistantItem.clear();
    m_activeResponses.clear();
    m_partialTranscripts.clear();
    m_streamOpen = true;
    m_waiting.clear();
    m_writing = false;
    m_sending = true;
    m_receiving = true;

    QObject::connect(socket, &QWebSocket::connected, &m_context, [this, generation] {
        if (!isCurrent(generation))
            return;
        m_handshakeDone = true;
        pump();
    });
    QObject::connect(socket, &QWebSocket::bytesWritten, &m_context,
                     [this, generation](qint64) { messageLeft(generation); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, &m_context,
                     [this, generation](const QString& text) { frameArrived(generation, text.toUtf8()); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, &m_context,
                     [this, generation](const QByteArray& bytes) { frameArrived(generation, bytes); });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), &m_context,
                     [this, generation](QAbstractSocket::SocketError) { connectionLost(generation); });
    QObject::connect(socket, &QWebSocket::disconnected, &m_context,
                     [this, generation] { connectionLost(generation); });
    // A handshake that never completes counts as a failed reception.
    QTimer::singleShot(kConnectTimeoutMs, socket, [socket] {
        if (socket->state() != QAbstractSocket::ConnectedState)
            socket->abort();
    });

    socket->open(request);
    if (!isCurrent(generation))
        return;
    send(sessionConfiguration(model, voice, instructions));
}

void RealtimeClient::append(const QByteArray& pcm)
{
    // The bridge captures on an audio thread; its chunks must hop to the main thread first.
    Q_ASSERT_X(QThread::currentThread() == m_context.thread(), "RealtimeClient::append", "main thread only");
    if (!m_ready)
        return;
    m_usageMeter.addInput(double(pcm.size()) / double(kBytesPerSecond));
    m_audioBytesSinceUsage += pcm.size();
    if (m_audioBytesSinceUsage >= kBytesPerSecond) {
        // Reset to zero, not to the remainder: at most one snapshot per second of audio.
        m_audioBytesSinceUsage = 0;
        if (onUsage)
            onUsage(m_usageMeter.snapshot());
    }
    if (!send(QJsonObject{{"type", "input_audio_buffer.append"},
                          {"audio", QString::fromLatin1(pcm.toBase64())}})
             .isEmpty())
        m_sentAudioBytes += pcm.size();
}

QString RealtimeClient::greet()
{
    const QString instructions = m_sessionInstructions.isEmpty()
                                     ? kGreetingInstructions
                                     : m_sessionInstructions + QStringLiteral("\n\n") + kGreetingInstructions;
    return createResponse(QJsonObject{{"instructions", instructions}});
}

QString RealtimeClient::createResponse(const QJsonObject& response)
{
    return send(QJsonObject{{"type", "response.create"}, {"response", response}});
}

QString RealtimeClient::truncate(const QString& itemID, qint64 audioEndMs)
{
    return send(QJsonObject{{"type", "conversation.item.truncate"},
                            {"item_id", itemID},
                            {"content_index", 0},
                            {"audio_end_ms", audioEndMs}});
}

QString RealtimeClient::sendEvent(QJsonObject event)
{
    return send(std::move(event));
}

QString RealtimeClient::cancelResponse(const QString& responseID)
{
    return send(QJsonObject{{"type", "response.cancel"}, {"response_id", responseID}});
}

void RealtimeClient::boundResponse(const QString& responseID, qint64 promptTokens, qint64 maxOutputTokens)
{
    m_usageMeter.bound(responseID, promptTokens, maxOutputTokens);
    if (onUsage)
        onUsage(m_usageMeter.snapshot());
}

bool RealtimeClient::updateInstructions(const QString& instructions)
{
    if (!m_ready)
        return false;
    m_pendingInstructions = instructions;
    m_sessionInstructions = instructions;
    send(QJsonObject{{"type", "session.update"},
                     {"session", QJsonObject{{"type", "realtime"}, {"instructions", instructions}}}});
    return true;
}

void RealtimeClient::close()
{
    const bool wasReady = m_ready;
    const ConversationUsage finalUsage = m_usageMeter.snapshot();
    m_ready = false;
    m_pendingInstructions.reset();
    m_partialTranscripts.clear();
    m_activeResponses.clear();
    tearDown();
    if (wasReady && onUsage)
        onUsage(finalUsage);
}

void RealtimeClient::tearDown()
{
    m_streamOpen = false;
    m_waiting.clear();
    m_writing = false;
    m_pumpScheduled = false; // a pump queued for this connection finds a stale generation
    m_sending = false;
    m_receiving = false;
    ++m_generation;
    QWebSocket* socket = m_socket;
    m_socket = nullptr;
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, &m_context, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Let the close handshake finish on its own; cut it if the peer does not answer.
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kCloseGraceMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->close(QWebSocketProtocol::CloseCodeNormal);
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

QString RealtimeClient::send(QJsonObject event)
{
    if (!m_streamOpen)
        return QString();
    const QString eventID = QStringLiteral("orlea_%1_%2").arg(m_connections).arg(++m_sentEvents);
    event.insert(QStringLiteral("event_id"), eventID);
    const QByteArray json = QJsonDocument(event).toJson(QJsonDocument::Compact);
    if (json.isEmpty())
        return QString();
    if (m_waiting.size() >= size_t(kMaxWaitingMessages)) {
        report({QStringLiteral("connection"), QStringLiteral("queue_full"), eventID, QString(),
                kQueueFullMessage});
        return QString();
    }
    m_waiting.push_back(json);
    schedulePump();
    return eventID;
}

void RealtimeClient::report(RealtimeError error)
{
    if (onError)
        onError(error);
}

void RealtimeClient::schedulePump()
{
    if (m_pumpScheduled || !m_sending)
        return;
    m_pumpScheduled = true;
    // The pump runs from the event loop, like a task taking from its stream: messages queued in one
    // go all wait, which is what the 300-message bound counts.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        &m_context,
        [this, generation] {
            if (generation != m_generation)
                return; // a later connection schedules its own pump
            m_pumpScheduled = false;
            if (isCurrent(generation))
                pump();
        },
        Qt::QueuedConnection);
}

// Hands the next waiting message to the socket once the previous one has left it: one send at a time,
// in order, and the queue bound measures how far the network lags behind.
void RealtimeClient::pump()
{
    if (!m_sending || m_writing || m_waiting.empty() || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray message = std::move(m_waiting.front());
    m_waiting.pop_front();
    const quint64 generation = m_generation;
    const qint64 written = m_socket->sendTextMessage(QString::fromUtf8(message));
    if (!isCurrent(generation))
        return;
    if (written != message.size()) {
        sendFailed();
        return;
    }
    m_writing = true;
    messageLeft(generation);
}

void RealtimeClient::messageLeft(quint64 generation)
{
    if (!isCurrent(generation) || !m_writing || unwrittenBytes() > 0)
        return;
    m_writing = false;
    if (!m_waiting.empty())
        schedulePump();
}

qint64 RealtimeClient::unwrittenBytes() const
{
    // QWebSocket hides its transport but owns it as a child; its write buffer tells whether the last
    // message has reached the operating system. A TLS socket also holds already encrypted bytes.
    const auto* transport = m_socket->findChild<QAbstractSocket*>(QString(), Qt::FindDirectChildrenOnly);
    if (!transport)
        return 0;
    qint64 bytes = transport->bytesToWrite();
    if (const auto* tls = qobject_cast<const QSslSocket*>(transport))
        bytes += tls->encryptedBytesToWrite();
    return bytes;
}

void RealtimeClient::frameArrived(quint64 generation, const QByteArray& bytes)
{
    if (!isCurrent(generation) || !m_receiving)
        return;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        receiveFailed();
        return;
    }
    if (!document.isObject())
        return;
    const QJsonObject event = document.object();
    const QJsonValue type = event.value(QLatin1String("type"));
    if (!type.isString())
        return;
    handle(type.toString(), event);
}

void RealtimeClient::handle(const QString& type, const QJsonObject& event)
{
    // A callback may close or reopen the connection; what follows it then belongs to nobody.
    const quint64 generation = m_generation;
    if (type == QLatin1String("session.updated")) {
        if (!m_ready) {
            m_ready = true;
            if (onReady)
                onReady();
            if (!isCurrent(generation))
                return;
        }
        const QJsonValue instructions =
            event.value(QLatin1String("session")).toObject().value(QLatin1String("instructions"));
        if (m_pendingInstructions && instructions.isString() &&
            instructions.toString() == *m_pendingInstructions) {
            m_pendingInstructions.reset();
            if (onInstructionsApplied)
                onInstructionsApplied();
        }
    } else if (type == QLatin1String("response.created")) {
        const QJsonValue response = event.value(QLatin1String("response"));
        const QJsonValue id = response.toObject().value(QLatin1String("id"));
        if (response.isObject() && id.isString()) {
            if (!m_activeResponses.contains(id.toString()))
                m_activeResponses.append(id.toString());
            m_usageMeter.started(id.toString());
            if (onUsage)
                onUsage(m_usageMeter.snapshot());
        }
    } else if (type == QLatin1String("response.output_item.added")) {
        const QJsonObject item = event.value(QLatin1String("item")).toObject();
        if (stringMember(item, "role") == QLatin1String("assistant") && !stringMember(item, "id").isEmpty())
            m_assistantItem = stringMember(item, "id");
    } else if (type == QLatin1String("response.done")) {
        const QJsonValue response = event.value(QLatin1String("response"));
        if (response.isObject())
            responseDone(response.toObject());
    } else if (type == QLatin1String("response.output_audio.delta")) {
        const QJsonValue delta = event.value(QLatin1String("delta"));
        if (delta.isString()) {
            const auto decoded = QByteArray::fromBase64Encoding(delta.toString().toLatin1(),
                                                                QByteArray::AbortOnBase64DecodingErrors);
            // toLatin1 turns characters outside Latin-1 into '?', which the strict decoder rejects.
            if (decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok && onAudio) {
                const QString item = stringMember(event, "item_id");
                onAudio(decoded.decoded, item.isEmpty() ? m_assistantItem : item);
            }
        }
    } else if (type == QLatin1String("response.output_audio_transcript.delta")) {
        const QJsonValue delta = event.value(QLatin1String("delta"));
        if (delta.isString()) {
            QString item = stringMember(event, "item_id");
            if (item.isEmpty())
                item = m_assistantItem;
            auto partial = std::find_if(m_partialTranscripts.begin(), m_partialTranscripts.end(),
                                        [&](const auto& entry) { return entry.first == item; });
            if (partial == m_partialTranscripts.end())
                m_partialTranscripts.emplace_back(item, delta.toString());
            else
                partial->second += delta.toString();
        }
    } else if (type == QLatin1String("response.output_audio_transcript.done")) {
        const QJsonValue transcript = event.value(QLatin1String("transcript"));
        QString item = stringMember(event, "item_id");
        if (item.isEmpty())
            item = m_assistantItem;
        std::erase_if(m_partialTranscripts, [&](const auto& entry) { return entry.first == item; });
        if (transcript.isString() && onTranscript)
            onTranscript(kSpeakerAssistant, transcript.toString(), item);
    } else if (type == QLatin1String("conversation.item.input_audio_transcription.completed")) {
        const QJsonValue transcript = event.value(QLatin1String("transcript"));
        if (transcript.isString() && onTranscript)
            onTranscript(kSpeakerCaller, transcript.toString(), stringMember(event, "item_id"));
    } else if (type == QLatin1String("input_audio_buffer.speech_started")) {
        if (onInterruption)
            onInterruption();
    } else if (type == QLatin1String("input_audio_buffer.speech_stopped")) {
        const QJsonValue end = event.value(QLatin1String("audio_end_ms"));
        if (end.isDouble() && onSpeechStopped)
            onSpeechStopped(qint64(end.toDouble()));
    } else if (type == QLatin1String("error")) {
        const QJsonValue error = event.value(QLatin1String("error"));
        serviceError(error.isObject() ? error.toObject() : QJsonObject());
    }
    if (isCurrent(generation) && onEvent)
        onEvent(type, event);
}

// A response's end: its usage is counted, the text of answers cut short is handed on, and a failed
// response is as fatal as an "error" event with its code.
void RealtimeClient::responseDone(const QJsonObject& response)
{
    const quint64 generation = m_generation;
    const QJsonValue id = response.value(QLatin1String("id"));
    if (id.isString()) {
        m_activeResponses.removeAll(id.toString());
        const QJsonValue usage = response.value(QLatin1String("usage"));
        std::optional<QVariantMap> usageMap;
        if (usage.isObject())
            usageMap = usage.toObject().toVariantMap();
        m_usageMeter.completed(id.toString(), usageMap);
        if (onUsage)
            onUsage(m_usageMeter.snapshot());
        if (!isCurrent(generation))
            return;
    }
    flushPartialTranscripts();
    if (!isCurrent(generation) || stringMember(response, "status") != QLatin1String("failed"))
        return;
    serviceError(
        response.value(QLatin1String("status_details")).toObject().value(QLatin1String("error")).toObject());
}

// The service does not always finish the transcript of an answer it cancelled: what arrived of it
// becomes the line.
void RealtimeClient::flushPartialTranscripts()
{
    const quint64 generation = m_generation;
    const auto partials = std::exchange(m_partialTranscripts, {});
    for (const auto& [item, text] : partials) {
        if (!isCurrent(generation) || !onTranscript)
            return;
        onTranscript(kSpeakerAssistant, text, item);
    }
}

void RealtimeClient::serviceError(const QJsonObject& error)
{
    RealtimeError failure;
    failure.type = stringMember(error, "type");
    failure.code = stringMember(error, "code");
    failure.eventID = stringMember(error, "event_id");
    failure.message = stringMember(error, "message");
    if (failure.code.isEmpty())
        failure.code = QStringLiteral("erreur");
    failure.recoverable = kRecoverableCodes.contains(failure.code);
    failure.text = failure.recoverable ? QStringLiteral("L’IA a refusé une demande (") + failure.code +
                                             QStringLiteral(") · la conversation continue")
                                       : serviceErrorText(failure.code);
    report(failure);
}

void RealtimeClient::connectionLost(quint64 generation)
{
    if (!isCurrent(generation))
        return;
    // A message handed to the socket and not yet written is lost with it; messages still waiting
    // simply stay unsent.
    const bool wasWriting = m_writing;
    if (m_receiving)
        receiveFailed(m_handshakeDone ? std::nullopt : refusedStatus(m_socket->errorString()));
    if (wasWriting && isCurrent(generation) && m_sending)
        sendFailed();
}

void RealtimeClient::receiveFailed(std::optional<int> refusedStatus)
{
    // One failure ends this connection's reception; later frames of the same socket are ignored.
    m_receiving = false;
    // A refused key or access (401, 403) and a quota or rate limit (429) are told apart from a network
    // that failed: the user has something precise to check.
    if (refusedStatus && (*refusedStatus == 401 || *refusedStatus == 403 || *refusedStatus == 429)) {
        report({QStringLiteral("http"), QString::number(*refusedStatus), QString(), QString(),
                refusedHandshakeMessage(*refusedStatus)});
        return;
    }
    report({QStringLiteral("connection"), QStringLiteral("receive_failed"), QString(), QString(),
            kReceiveFailedMessage});
}

void RealtimeClient::sendFailed()
{
    // Nothing more is sent on this connection; later messages are dropped quietly rather than
    // piling up into a stream of "too slow" reports for a connection that is already dead.
    m_sending = false;
    m_writing = false;
    m_streamOpen = false;
    m_waiting.clear();
    report({QStringLiteral("connection"), QStringLiteral("send_failed"), QString(), QString(),
            kSendFailedMessage});
}
