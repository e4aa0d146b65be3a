#include "app/realtime/RealtimeClient.h"
#include "tests/realtime/RealtimeTestSupport.h"
#include "tests/realtime/TestCertificates.h"
#include "tools/realtime-standin/RealtimeStandIn.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QUrlQuery>
#include <QWebSocket>
#include <gtest/gtest.h>

namespace {

const QString kQueueFull = QStringLiteral("Connexion trop lente pour maintenir la conversation audio.");
const QString kSendFailed = QStringLiteral("Envoi audio interrompu. Vérifiez la connexion Internet.");
const QString kReceiveFailed =
    QStringLiteral("Connexion à l’IA interrompue. Vérifiez la clé, le modèle et votre accès Internet.");

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

// A chunk whose samples carry `tag`, so the server side can tell chunks apart.
QByteArray taggedChunk(int tag, int bytes = 4800)
{
    QByteArray chunk(bytes, char(0));
    for (int i = 0; i + 1 < bytes; i += 2) {
        chunk[i] = char(tag & 0xff);
        chunk[i + 1] = char((tag >> 8) & 0xff);
    }
    return chunk;
}

QByteArray appendedAudio(const QJsonObject& event)
{
    return QByteArray::fromBase64(event.value("audio").toString().toLatin1());
}

// The event as the client built it, without the event_id it gives every event.
QJsonObject withoutID(QJsonObject event)
{
    event.remove("event_id");
    return event;
}

enum class Transport { Plain, Tls };

// Made on first use, once per test process.
const TestCertificates& certificates()
{
    static const TestCertificates made;
    return made;
}

class RealtimeClientTest : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override
    {
        if (GetParam() == Transport::Tls) {
            ASSERT_TRUE(certificates().valid()) << certificates().error.toStdString();
            ASSERT_TRUE(server.listen(certificates().serverFiles())) << server.errorString().toStdString();
            qputenv("ORLEA_REALTIME_CA", certificates().caPath().toUtf8());
        } else {
            ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
        }
        client.setEndpoint(server.url());
        log.attach(client);
    }

    void TearDown() override { qunsetenv("ORLEA_REALTIME_CA"); }

    // Connects and lets the server confirm the session.
    void connectReady(const QString& model = QStringLiteral("gpt-realtime"))
    {
        const int connections = server.connectionCount();
        client.connect("sk-test", model, "marin", "Consignes initiales");
        ASSERT_TRUE(waitUntil([&] {
            return server.connectionCount() > connections && server.received().size() > 0 &&
                   server.received().back()["type"] == "session.update";
        })) << "the session configuration never reached the server";
        server.confirmSession();
        ASSERT_TRUE(waitUntil([&] { return client.isReady(); })) << "the client never became ready";
    }

    int appendsReceived() const { return int(server.received("input_audio_buffer.append").size()); }

    RealtimeStandIn server;
    RealtimeClient client;
    CallbackLog log;
};

TEST_P(RealtimeClientTest, OpensTheEndpointWithTheExactSessionConfiguration)
{
    client.connect("sk-test", "gpt-realtime", "marin", "Tu es le standard de l’agence.");
    ASSERT_EQ(log.usages.size(), 1) << "connect reports the zero usage of the new conversation";
    EXPECT_EQ(log.usages[0], ConversationUsageMeter("gpt-realtime").snapshot());
    ASSERT_TRUE(waitUntil([&] { return !server.received().isEmpty(); }));

    const QUrl url = server.handshake().url();
    EXPECT_EQ(url.path(), "/v1/realtime");
    EXPECT_EQ(QUrlQuery(url).queryItemValue("model"), "gpt-realtime");
    EXPECT_EQ(server.handshake().rawHeader("Authorization"), "Bearer sk-test");

    const QJsonObject expected = parse(R"({
        "type": "session.update",
        "session": {
            "type": "realtime",
            "model": "gpt-realtime",
            "output_modalities": ["audio"],
            "instructions": "INSTRUCTIONS",
            "audio": {
                "input": {
                    "format": {"type": "audio/pcm", "rate": 24000},
                    "transcription": {"model": "gpt-4o-mini-transcribe", "language": "fr"},
                    "turn_detection": {"type": "server_vad", "silence_duration_ms": 650,
                                       "prefix_padding_ms": 300, "interrupt_response": true,
                                       "create_response": true}
                },
                "output": {"format": {"type": "audio/pcm", "rate": 24000}, "voice": "marin"}
            }
        }})");
    QJsonObject expectedWithText = expected;
    QJsonObject session = expected["session"].toObject();
    session["instructions"] = "Tu es le standard de l’agence.";
    expectedWithText["session"] = session;
    ASSERT_EQ(server.received().size(), 1);
    EXPECT_EQ(withoutID(server.received()[0]), expectedWithText)
        << QJsonDocument(server.received()[0]).toJson().toStdString();
    // Integers stay integers on the wire.
    EXPECT_TRUE(server.received()[0]["session"]["audio"]["input"]["format"]["rate"].toVariant().typeId() ==
                QMetaType::LongLong);
}

TEST_P(RealtimeClientTest, SettingAndEnvironmentReplaceTheEndpoint)
{
    RealtimeClient production;
    const QUrl standard = production.endpointURL("gpt-realtime");
    EXPECT_EQ(standard.toString(), "wss://api.openai.com/v1/realtime?model=gpt-realtime");

    RealtimeClient configured(QUrl("ws://127.0.0.1:9/v1/realtime?model=old"));
    EXPECT_EQ(configured.endpointURL("gpt-realtime-2025-08-28").toString(),
              "ws://127.0.0.1:9/v1/realtime?model=gpt-realtime-2025-08-28");

    qputenv("ORLEA_REALTIME_URL", "ws://127.0.0.1:10/v1/realtime");
    EXPECT_EQ(configured.endpointURL("m").toString(), "ws://127.0.0.1:10/v1/realtime?model=m");
    qunsetenv("ORLEA_REALTIME_URL");
}

TEST(RealtimeClientEndpoint, TheKeyLeavesOnlyOverTlsOrForThisMachine)
{
    struct Case {
        const char* url;
        bool allowed;
    };
    const Case cases[] = {
        {"wss://api.openai.com/v1/realtime", true},
        {"wss://proxy.example.com:8443/v1/realtime", true},
        {"ws://127.0.0.1:43085/v1/realtime", true},
        {"ws://127.8.9.10/v1/realtime", true},
        {"ws://[::1]:80/v1/realtime", true},
        {"ws://LocalHost:9/v1/realtime", true},
        {"ws://api.openai.com/v1/realtime", false},
        {"ws://192.168.1.20:8080/v1/realtime", false},
        {"ws://127.0.0.1.example.com/v1/realtime", false},
        {"http://127.0.0.1/v1/realtime", false},
        {"https://api.openai.com/v1/realtime", false},
        {"api.openai.com/v1/realtime", false},
        {"wss:///v1/realtime", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(!RealtimeClient::endpointRefusal(QUrl(c.url)).has_value(), c.allowed) << c.url;

    // Plain ws:// to another machine: refused before any connection, the key never sent.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::AnyIPv4));
    QString host = QStringLiteral("192.0.2.1"); // no such machine: nothing could answer anyway
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            host = address.toString();
    const QUrl remote(QStringLiteral("ws://%1:%2/v1/realtime").arg(host).arg(listener.serverPort()));
    RealtimeClient client(remote);
    CallbackLog log;
    log.attach(client);
    client.connect("sk-secret", "gpt-realtime", "marin", "Consignes");
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    EXPECT_EQ(log.errors,
              QStringList{"L’adresse du service IA « " + remote.toString() +
                          " » est refusée : la clé n’est envoyée qu’en wss://, ou en ws:// vers ce "
                          "Mac (127.0.0.1, localhost). Corrigez le réglage « realtimeURL » ou "
                          "ORLEA_REALTIME_URL."});
    settle();
    EXPECT_FALSE(listener.hasPendingConnections()) << "a connection was opened to " << host.toStdString();
}

TEST_P(RealtimeClientTest, ReadinessGatesAudioAndInstructions)
{
    client.connect("sk-test", "gpt-realtime", "marin", "Consignes initiales");
    // A whole minute of audio before the session is ready must neither be sent nor priced.
    client.append(QByteArray(60 * 48'000, char(1)));
    EXPECT_FALSE(client.updateInstructions("Trop tôt"));
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return server.received().size() >= 2; }));
    EXPECT_EQ(server.received()[0]["type"], "session.update");
    EXPECT_EQ(server.received()[1]["type"], "response.create") << "greet is queued in any connected state";
    // A response's instructions replace the session's: the greeting carries them, then its own text.
    const QJsonObject greeting{
        {"instructions", "Consignes initiales\n\n" + RealtimeClient::kGreetingInstructions}};
    EXPECT_EQ(server.received()[1]["response"].toObject(), greeting);
    EXPECT_EQ(log.usages.size(), 1) << "no audio snapshot before ready";

    server.confirmSession();
    server.confirmSession();
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    settle();
    EXPECT_EQ(log.ready, 1) << "two session.updated events fire onReady once";

    client.close();
    ASSERT_EQ(log.usages.size(), 2) << "close after ready reports one final snapshot";
    EXPECT_EQ(log.usages.back().estimatedUSD, 0.0) << "audio dropped before ready was priced";
    EXPECT_EQ(appendsReceived(), 0);
    EXPECT_EQ(server.received("session.update").size(), 1) << "instructions before ready sent something";

    client.close();
    EXPECT_EQ(log.usages.size(), 2) << "close on an idle client reports nothing";
    client.connect("sk-test", "gpt-realtime", "marin", "x");
    client.close();
    EXPECT_EQ(log.usages.size(), 3) << "close before ready reports no final snapshot";
}

TEST_P(RealtimeClientTest, InstructionsAreConfirmedOnlyByTheSameText)
{
    connectReady();
    ASSERT_TRUE(client.updateInstructions("Parle plus lentement."));
    ASSERT_TRUE(waitUntil([&] { return server.received("session.update").size() == 2; }));
    EXPECT_EQ(
        withoutID(server.received("session.update")[1]),
        parse(
            R"({"type":"session.update","session":{"type":"realtime","instructions":"Parle plus lentement."}})"));
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return !server.received("response.create").isEmpty(); }));
    EXPECT_EQ(server.received("response.create")[0]["response"].toObject()["instructions"],
              "Parle plus lentement.\n\n" + RealtimeClient::kGreetingInstructions)
        << "the greeting follows the instructions the session was last given";

    server.confirmSession("Parle vite.");
    server.send(parse(R"({"type":"session.updated","session":{"instructions":42}})"));
    server.send(parse(R"({"type":"session.updated"})"));
    settle();
    EXPECT_EQ(log.applied, 0) << "a different or missing text confirmed the instructions";

    server.confirmSession("Parle plus lentement.");
    ASSERT_TRUE(waitUntil([&] { return log.applied == 1; }));
    server.confirmSession("Parle plus lentement.");
    settle();
    EXPECT_EQ(log.applied, 1) << "a confirmation is consumed once";

    // Only the latest text can be confirmed.
    client.updateInstructions("Premier texte");
    client.updateInstructions("Second texte");
    server.confirmSession("Premier texte");
    settle();
    EXPECT_EQ(log.applied, 1);
    server.confirmSession("Second texte");
    ASSERT_TRUE(waitUntil([&] { return log.applied == 2; }));
    EXPECT_EQ(log.ready, 1);
}

TEST_P(RealtimeClientTest, AudioSnapshotsFollowEachSecondOfSentAudio)
{
    connectReady();
    const int before = int(log.usages.size());
    client.append(taggedChunk(1, 47'999));
    EXPECT_EQ(log.usages.size(), before) << "47,999 bytes are less than a second";
    client.append(taggedChunk(2, 2));
    EXPECT_EQ(log.usages.size(), before + 1) << "48,001 bytes make one snapshot";
    // The counter restarts at zero, not at the one-byte remainder.
    client.append(taggedChunk(3, 47'999));
    EXPECT_EQ(log.usages.size(), before + 1);
    client.append(taggedChunk(4, 1));
    EXPECT_EQ(log.usages.size(), before + 2);

    ASSERT_TRUE(waitUntil([&] { return appendsReceived() == 4; }));
    const auto appends = server.received("input_audio_buffer.append");
    EXPECT_EQ(appendedAudio(appends[0]), taggedChunk(1, 47'999));
    EXPECT_EQ(appendedAudio(appends[3]), taggedChunk(4, 1));
    EXPECT_EQ(appends[0].keys(), (QStringList{"audio", "event_id", "type"}));
    EXPECT_EQ(client.sentAudioBytes(), 2 * 47'999 + 3) << "the audio axis of the service's positions";
    EXPECT_FALSE(appends[0]["audio"].toString().contains('\n'));
}

TEST_P(RealtimeClientTest, TheThreeHundredAndFirstWaitingMessageIsRefused)
{
    connectReady();
    // Queued in one go, none has been handed to the socket yet: 300 wait, the next is refused.
    for (int i = 0; i < 301; ++i)
        client.append(taggedChunk(i, 480));
    EXPECT_EQ(client.waitingMessages(), 300);
    ASSERT_EQ(log.errors, QStringList{kQueueFull});

    ASSERT_TRUE(waitUntil([&] { return appendsReceived() == 300; }));
    const auto appends = server.received("input_audio_buffer.append");
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(appendedAudio(appends[i]), taggedChunk(i, 480)) << "message " << i << " out of order";
    settle();
    EXPECT_EQ(appendsReceived(), 300) << "the refused message was sent after all";
    EXPECT_EQ(client.waitingMessages(), 0);
}

TEST_P(RealtimeClientTest, AStalledNetworkFillsTheQueue)
{
    connectReady();
    server.stopReading();
    int sent = 0;
    // One second of audio per message; the kernel buffers take a few megabytes before writes stall.
    const bool refused = waitUntil(
        [&] {
            client.append(taggedChunk(sent++, 48'000));
            return !log.errors.isEmpty();
        },
        60'000);
    ASSERT_TRUE(refused) << "no refusal after " << sent << " messages";
    EXPECT_EQ(log.errors.front(), kQueueFull);
    EXPECT_EQ(client.waitingMessages(), 300);
    EXPECT_GT(sent, 300);

    // The connection dies with a message half written: both directions report, then the rest of
    // the conversation is dropped quietly instead of refusing message after message.
    log.errors.clear();
    server.closeAbruptly();
    ASSERT_TRUE(waitUntil([&] { return log.errors.size() == 2; }));
    EXPECT_EQ(log.errors, (QStringList{kReceiveFailed, kSendFailed}));
    for (int i = 0; i < 400; ++i)
        client.append(taggedChunk(i, 480));
    settle();
    EXPECT_EQ(log.errors.size(), 2);
    EXPECT_EQ(client.waitingMessages(), 0);
}

TEST_P(RealtimeClientTest, ServiceEventsBecomeCallbacks)
{
    connectReady();
    const QByteArray voice = taggedChunk(7, 960);
    server.send({{"type", "response.created"}, {"response", QJsonObject{{"id", "resp_1"}}}});
    server.send({{"type", "response.output_audio.delta"}, {"delta", QString::fromLatin1(voice.toBase64())}});
    server.send(parse(R"({"type":"response.output_audio.delta","delta":"pas du base64 !"})"));
    server.send(parse(R"({"type":"response.output_audio.delta","delta":12})"));
    server.sendBinary(R"({"type":"response.output_audio_transcript.done","transcript":"Bonjour !"})");
    server.send(
        parse(R"({"type":"conversation.item.input_audio_transcription.completed","transcript":"Allô ?"})"));
    server.send(parse(R"({"type":"conversation.item.input_audio_transcription.completed","transcript":3})"));
    server.send(parse(R"({"type":"input_audio_buffer.speech_started"})"));
    server.sendNonObjectJSON();
    server.sendText(R"({"no_type":true})");
    server.sendText(R"({"type":"rate_limits.updated"})");
    server.sendError(QString("invalid_api_key"));
    server.sendError(std::nullopt);
    server.sendErrorValue(QJsonObject{{"code", 401}});
    server.sendErrorValue("texte");
    server.send(
        {{"type", "response.done"},
         {"response", QJsonObject{{"id", "resp_1"},
                                  {"usage", QJsonObject{{"input_tokens", 1000}, {"output_tokens", 500}}}}}});
    server.send(parse(R"({"type":"response.created","response":{"id":7}})"));
    server.send(parse(R"({"type":"response.created","response":"resp_2"})"));
    server.send(parse(R"({"type":"input_audio_buffer.speech_started"})"));

    ASSERT_TRUE(waitUntil([&] { return log.interruptions == 2; }));
    const QString prefix = QStringLiteral("L’IA signale une erreur (");
    const QString suffix = QStringLiteral("). Vérifiez votre configuration.");
    const QStringList expected{
        "usage gpt-realtime",
        "audio 960",
        "Orlea: Bonjour !",
        "Interlocuteur: Allô ?",
        "interruption",
        "error " + prefix + "invalid_api_key" + suffix,
        "error " + prefix + "erreur" + suffix,
        "error " + prefix + "erreur" + suffix,
        "error " + prefix + "erreur" + suffix,
        "usage gpt-realtime",
        "interruption",
    };
    QStringList events = log.events;
    events.removeFirst(); // the zero snapshot of connect
    events.removeFirst(); // ready
    EXPECT_EQ(events, expected) << events.join("\n").toStdString();
    EXPECT_EQ(log.audio.value(0), voice);
    EXPECT_EQ(log.usages[1].pendingResponses, 1);
    EXPECT_EQ(log.usages[2].inputTokens, 1000);
    EXPECT_EQ(log.usages[2].pendingResponses, 0);
    EXPECT_TRUE(server.hasClient()) << "an error event does not close the connection";
}

TEST_P(RealtimeClientTest, EveryEventHasItsOwnIdAndAnErrorSaysWhichItConcerns)
{
    connectReady();
    const QString greeting = client.greet();
    client.append(taggedChunk(1));
    const QString cut = client.truncate("item_1", 480);
    const QString own = client.sendEvent(QJsonObject{{"type", "response.cancel"}, {"event_id", "mine"}});
    ASSERT_TRUE(waitUntil([&] { return server.received().size() == 5; }));
    QStringList ids;
    for (const QJsonObject& event : server.received())
        ids << event["event_id"].toString();
    EXPECT_EQ(ids.removeDuplicates(), 0) << ids.join(", ").toStdString();
    EXPECT_TRUE(ids[0].startsWith("orlea_")) << ids[0].toStdString();
    EXPECT_EQ(ids[1], greeting);
    EXPECT_EQ(ids[3], cut);
    EXPECT_EQ(ids[4], own) << "an id of the caller's is replaced by ours";
    EXPECT_EQ(
        withoutID(server.received()[3]),
        parse(
            R"({"type":"conversation.item.truncate","item_id":"item_1","content_index":0,"audio_end_ms":480})"));

    // Errors about one event leave the session healthy; every other ends it, as before.
    struct Case {
        QString code;
        bool recoverable;
    };
    const std::vector<Case> cases{{"conversation_already_has_active_response", true},
                                  {"response_cancel_not_active", true},
                                  {"input_audio_buffer_commit_empty", true},
                                  {"session_expired", false},
                                  {"server_error", false},
                                  {"invalid_value", false}};
    for (const Case& c : cases)
        server.sendError(c.code, greeting);
    ASSERT_TRUE(waitUntil([&] { return log.failures.size() == int(cases.size()); }));
    for (size_t i = 0; i < cases.size(); ++i) {
        const RealtimeError& failure = log.failures[qsizetype(i)];
        EXPECT_EQ(failure.code, cases[i].code) << i;
        EXPECT_EQ(failure.recoverable, cases[i].recoverable) << cases[i].code.toStdString();
        EXPECT_EQ(failure.eventID, greeting);
        EXPECT_EQ(failure.type, "invalid_request_error");
        EXPECT_EQ(failure.message, "Erreur simulée par le serveur de test.");
    }
    EXPECT_EQ(log.failures[3].text,
              "L’IA signale une erreur (session_expired). Vérifiez votre configuration.");
    EXPECT_EQ(
        log.failures[0].text,
        "L’IA a refusé une demande (conversation_already_has_active_response) · la conversation continue");
    EXPECT_TRUE(server.hasClient()) << "an error event does not close the connection";
}

TEST_P(RealtimeClientTest, ItemsTurnEndsAndTheEndsOfResponses)
{
    connectReady();
    QStringList seen;
    client.onEvent = [&](const QString& type, const QJsonObject& event) {
        if (type == "response.created")
            seen << event["response"]["metadata"]["purpose"].toString();
    };
    const QByteArray voice = taggedChunk(5, 480);
    const QString delta = QString::fromLatin1(voice.toBase64());
    server.send(
        parse(R"({"type":"response.created","response":{"id":"resp_1","metadata":{"purpose":"suivi"}}})"));
    server.send(parse(R"({"type":"response.output_item.added","response_id":"resp_1","output_index":0,
                         "item":{"id":"item_1","type":"message","role":"assistant","content":[]}})"));
    server.send({{"type", "response.output_audio.delta"}, {"delta", delta}});
    server.send({{"type", "response.output_audio.delta"}, {"item_id", "item_2"}, {"delta", delta}});
    server.send(
        parse(R"({"type":"response.output_audio_transcript.delta","item_id":"item_1","delta":"Je note"})"));
    server.send(parse(
        R"({"type":"response.output_audio_transcript.delta","item_id":"item_1","delta":" votre nom"})"));
    server.send(
        parse(R"({"type":"input_audio_buffer.speech_stopped","audio_end_ms":1234,"item_id":"item_c"})"));
    // Cancelled without the transcript's end: what arrived of it is the line.
    server.send(parse(R"({"type":"response.done","response":{"id":"resp_1","status":"cancelled",
                         "usage":{"input_tokens":10,"output_tokens":5}}})"));
    // A failed response is an error with the code of its status details.
    server.send(parse(R"({"type":"response.done","response":{"id":"resp_2","status":"failed",
                         "status_details":{"type":"failed","error":{"type":"server_error","code":"insufficient_quota",
                         "message":"Quota dépassé."}}}})"));
    ASSERT_TRUE(waitUntil([&] { return !log.failures.isEmpty(); }));
    EXPECT_EQ(log.audioItems, (QStringList{"item_1", "item_2"}))
        << "a delta without item_id belongs to the item last added";
    EXPECT_EQ(log.turnEnds, QList<qint64>{1234});
    EXPECT_TRUE(log.events.contains("Orlea: Je note votre nom")) << log.events.join("\n").toStdString();
    const RealtimeError& failed = log.failures.front();
    EXPECT_EQ(failed.code, "insufficient_quota");
    EXPECT_EQ(failed.type, "server_error");
    EXPECT_EQ(failed.message, "Quota dépassé.");
    EXPECT_FALSE(failed.recoverable);
    EXPECT_EQ(failed.text, "L’IA signale une erreur (insufficient_quota). Vérifiez votre configuration.");
    EXPECT_EQ(log.usages.back().inputTokens, 10) << "the failed response's usage is still counted";
    EXPECT_EQ(seen, QStringList{"suivi"}) << "a caller recognises its response by its metadata";
}

TEST_P(RealtimeClientTest, ARefusedHandshakeNamesTheKeyOrTheAccess)
{
    for (const int status : {401, 403, 429}) {
        log = CallbackLog();
        log.attach(client);
        server.refuseHandshakes(status);
        client.connect("sk-refusée", "gpt-realtime", "marin", "x");
        ASSERT_TRUE(waitUntil([&] { return !log.failures.isEmpty(); })) << status;
        settle();
        ASSERT_EQ(log.failures.size(), 1) << status;
        EXPECT_EQ(log.failures[0].text, RealtimeClient::refusedHandshakeMessage(status));
        EXPECT_EQ(log.failures[0].code, QString::number(status));
        EXPECT_EQ(log.failures[0].type, "http");
        EXPECT_FALSE(client.isReady());
    }
    EXPECT_EQ(
        RealtimeClient::refusedHandshakeMessage(401),
        "OpenAI a refusé la connexion (HTTP 401). Vérifiez la clé, l’accès de votre compte à ce modèle et "
        "votre crédit API.");
    // Any other refusal is a connection that failed.
    log = CallbackLog();
    log.attach(client);
    server.refuseHandshakes(500);
    client.connect("sk-test", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return !log.failures.isEmpty(); }));
    EXPECT_EQ(log.failures[0].text, kReceiveFailed);
    EXPECT_EQ(server.refusedHandshakes(), 4);
    server.refuseHandshakes(std::nullopt);
    connectReady();
}

TEST_P(RealtimeClientTest, LargeDeltasArriveWholeWithinTheSizeLimit)
{
    connectReady();
    const QByteArray voice = taggedChunk(3, 786'432); // a single 1 MiB frame of Base64
    server.send({{"type", "response.output_audio.delta"}, {"delta", QString::fromLatin1(voice.toBase64())}});
    ASSERT_TRUE(waitUntil([&] { return !log.audio.isEmpty() || !log.errors.isEmpty(); }));
    EXPECT_EQ(log.errors, QStringList{});
    EXPECT_EQ(log.audio.value(0), voice);

    // Beyond the limit the socket refuses the frame and the connection ends.
    const QByteArray huge(RealtimeClient::kMaxIncomingBytes, 'A');
    server.sendText(R"({"type":"response.output_audio.delta","delta":")" + QString::fromLatin1(huge) +
                    R"("})");
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    EXPECT_EQ(log.errors, QStringList{kReceiveFailed});
    EXPECT_EQ(log.audio.size(), 1);
}

TEST_P(RealtimeClientTest, AMalformedFrameEndsReception)
{
    connectReady();
    server.sendMalformedJSON();
    server.send(parse(R"({"type":"input_audio_buffer.speech_started"})"));
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    settle();
    EXPECT_EQ(log.errors, QStringList{kReceiveFailed});
    EXPECT_EQ(log.interruptions, 0) << "a frame after the malformed one was still handled";
    EXPECT_TRUE(client.isReady()) << "a loop failure leaves the state to the owner";

    // Binary frames that are not JSON count the same.
    connectReady();
    log.errors.clear();
    server.sendBinary(QByteArray("\xff\xfe\x00", 3));
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    EXPECT_EQ(log.errors, QStringList{kReceiveFailed});
}

TEST_P(RealtimeClientTest, ConnectionLossIsReportedUnlessClosed)
{
    connectReady();
    server.closeAbruptly();
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    settle();
    EXPECT_EQ(log.errors, QStringList{kReceiveFailed});

    log.errors.clear();
    connectReady();
    client.close();
    server.closeAbruptly();
    server.sendText("not json");
    settle();
    EXPECT_EQ(log.errors, QStringList{}) << "a failure after close was reported";
    ASSERT_TRUE(waitUntil([&] { return server.closeCodes().size() == 2; }));
    EXPECT_EQ(server.closeCodes()[1], QWebSocketProtocol::CloseCodeNormal) << "close uses code 1000";

    // A refused handshake (nothing listens any more) is a reception failure too.
    RealtimeClient orphan(QUrl("ws://127.0.0.1:1/v1/realtime"));
    QStringList orphanErrors;
    orphan.onError = [&](const RealtimeError& failure) { orphanErrors << failure.text; };
    orphan.connect("k", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return !orphanErrors.isEmpty(); }));
    EXPECT_EQ(orphanErrors.front(), kReceiveFailed);
}

TEST_P(RealtimeClientTest, ReconnectingEndsTheOldConversationFirst)
{
    connectReady("gpt-realtime");
    server.send(
        {{"type", "response.done"},
         {"response",
          QJsonObject{{"id", "r"}, {"usage", QJsonObject{{"input_tokens", 10}, {"output_tokens", 20}}}}}});
    ASSERT_TRUE(waitUntil([&] { return log.usages.size() == 2; }));
    QPointer<QWebSocket> old = server.client();
    log.usages.clear();

    client.connect("sk-test", "gpt-realtime-2025-08-28", "cedar", "Nouvelles consignes");
    ASSERT_EQ(log.usages.size(), 2);
    EXPECT_EQ(log.usages[0].model, "gpt-realtime") << "final snapshot of the old conversation first";
    EXPECT_EQ(log.usages[0].inputTokens, 10);
    EXPECT_EQ(log.usages[1], ConversationUsageMeter("gpt-realtime-2025-08-28").snapshot());

    // A frame the old connection still delivers must not reach the new conversation.
    ASSERT_TRUE(old);
    old->sendTextMessage(R"({"type":"response.output_audio_transcript.done","transcript":"ancien"})");
    old->sendTextMessage(R"({"type":"session.updated"})");
    ASSERT_TRUE(waitUntil(
        [&] { return server.connectionCount() == 2 && server.received("session.update").size() == 2; }));
    settle();
    EXPECT_FALSE(log.events.contains(QStringLiteral("Orlea: ancien")));
    EXPECT_FALSE(client.isReady()) << "the old connection's confirmation made the new one ready";
    EXPECT_EQ(server.received("session.update")[1]["session"].toObject()["model"], "gpt-realtime-2025-08-28");
    ASSERT_TRUE(waitUntil([&] { return !server.closeCodes().isEmpty(); }));
    EXPECT_EQ(server.closeCodes()[0], QWebSocketProtocol::CloseCodeNormal);
    EXPECT_EQ(log.errors, QStringList{});

    // Back-to-back connects: only the last connection lives, and it still configures its session.
    client.connect("sk-test", "gpt-realtime", "marin", "premier");
    client.connect("sk-test", "gpt-realtime", "marin", "second");
    ASSERT_TRUE(waitUntil([&] {
        return !server.received().isEmpty() &&
               server.received().back()["session"]["instructions"] == "second";
    })) << "the last connection never sent its configuration";
    server.confirmSession();
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    client.append(taggedChunk(1));
    ASSERT_TRUE(waitUntil([&] { return appendsReceived() == 1; }))
        << "sending stalled after the reconnection";
}

INSTANTIATE_TEST_SUITE_P(Transports, RealtimeClientTest, ::testing::Values(Transport::Plain, Transport::Tls),
                         [](const auto& info) { return info.param == Transport::Tls ? "wss" : "ws"; });

TEST(RealtimeClientTls, TrustsOnlyTheGivenAuthority)
{
    ASSERT_TRUE(certificates().valid()) << certificates().error.toStdString();
    RealtimeStandIn server;
    server.setConfirmsSessions(true);
    ASSERT_TRUE(server.listen(certificates().serverFiles()));
    EXPECT_EQ(server.url().scheme(), "wss");
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);

    qputenv("ORLEA_REALTIME_CA", certificates().caPath().toUtf8());
    client.connect("sk-test", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    client.close();

    // Without the test authority the certificate is refused: verification is never switched off.
    qunsetenv("ORLEA_REALTIME_CA");
    client.connect("sk-test", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return !log.errors.isEmpty(); }));
    EXPECT_EQ(log.errors, QStringList{kReceiveFailed});
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_FALSE(client.isReady());
}

} // namespace
