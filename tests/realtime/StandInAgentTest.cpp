#include "tools/realtime-standin/StandInAgent.h"
#include "app/realtime/RealtimeClient.h"
#include "tests/realtime/RealtimeTestSupport.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// 100 ms of a 440 Hz tone (speech for the detector) or of silence.
QByteArray chunk(bool loud)
{
    QByteArray pcm(StandInAgent::kChunkBytes, char(0));
    if (loud) {
        for (int i = 0; i < StandInAgent::kChunkBytes / 2; ++i)
            qToLittleEndian<qint16>(qint16(8000 * std::sin(2 * M_PI * 440 * i / 24000.0)),
                                    pcm.data() + 2 * i);
    }
    return pcm;
}

void speak(RealtimeClient& client, int loudChunks, int quietChunks)
{
    for (int i = 0; i < loudChunks; ++i)
        client.append(chunk(true));
    for (int i = 0; i < quietChunks; ++i)
        client.append(chunk(false));
}

QStringList transcripts(const CallbackLog& log)
{
    QStringList lines;
    for (const QString& event : log.events) {
        if (event.startsWith("Orlea: ") || event.startsWith("Interlocuteur: ") || event == "interruption")
            lines << event;
    }
    return lines;
}

TEST(StandInScript, BuiltInPromptsAreShortFrenchRecordings)
{
    const StandInScript script = StandInScript::builtIn();
    ASSERT_GE(script.prompts.size(), 3);
    ASSERT_GE(script.callerLines.size(), 2);
    qsizetype total = 0;
    for (const auto& prompt : script.prompts) {
        EXPECT_FALSE(prompt.text.isEmpty()) << prompt.name.toStdString();
        EXPECT_GT(prompt.pcm.size(), 48'000) << prompt.name.toStdString() << " is under a second";
        EXPECT_EQ(prompt.pcm.size() % 2, 0);
        total += prompt.pcm.size();
    }
    EXPECT_LT(total, 1024 * 1024);
    EXPECT_EQ(script.prompts[0].text, "Bonjour, service de gestion locative. Comment puis-je vous aider ?");

    EXPECT_FALSE(StandInScript::readWav("RIFF....WAVEdata"));
    EXPECT_FALSE(StandInScript::load("/nonexistent"));
}

TEST(StandInAgent, HoldsAConversation)
{
    RealtimeStandIn server;
    StandInAgent agent(server, StandInScript::builtIn());
    agent.setSpeed(0);
    ASSERT_TRUE(server.listen());
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);
    const StandInScript script = StandInScript::builtIn();

    client.connect("sk-demo", "gpt-realtime", "marin", "Tu es le standard.");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    EXPECT_EQ(server.session()["instructions"], "Tu es le standard.");
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 1; }));
    QByteArray voice;
    for (const QByteArray& bytes : std::as_const(log.audio))
        voice += bytes;
    EXPECT_EQ(voice, script.prompts[0].pcm) << "the greeting's audio arrived incomplete";
    ASSERT_TRUE(waitUntil([&] { return log.usages.back().inputTokens > 0; }));
    EXPECT_EQ(log.usages.back().pendingResponses, 0);
    EXPECT_GT(log.usages.back().outputTokens, 0);

    speak(client, 8, 8);
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 4; }));
    speak(client, 5, 2); // a pause too short to end the turn
    speak(client, 5, 8);
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 7; }));
    const QStringList expected{
        "Orlea: " + script.prompts[0].text, "interruption", "Interlocuteur: " + script.callerLines[0],
        "Orlea: " + script.prompts[1].text, "interruption", "Interlocuteur: " + script.callerLines[1],
        "Orlea: " + script.prompts[2].text,
    };
    EXPECT_EQ(transcripts(log), expected) << transcripts(log).join("\n").toStdString();

    ASSERT_TRUE(client.updateInstructions("Sois bref."));
    ASSERT_TRUE(waitUntil([&] { return log.applied == 1; }));
}

TEST(StandInAgent, CallerSpeechCutsAnAnswerShort)
{
    RealtimeStandIn server;
    StandInAgent agent(server, StandInScript::builtIn());
    agent.setSpeed(1);
    ASSERT_TRUE(server.listen());
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);
    client.connect("sk-demo", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return !log.audio.isEmpty(); }));
    speak(client, 2, 0);
    ASSERT_TRUE(waitUntil([&] { return log.interruptions == 1 && log.usages.back().pendingResponses == 0; }));
    // The text of a cut answer is what had arrived of it: the beginning, not the whole.
    const QString full = "Orlea: " + StandInScript::builtIn().prompts[0].text;
    const QStringList lines = transcripts(log);
    ASSERT_EQ(lines.size(), 2) << lines.join("\n").toStdString();
    EXPECT_TRUE(full.startsWith(lines[1]) && lines[1].size() < full.size()) << lines[1].toStdString();
}

// The service's own rules, which the client must live with.
TEST(StandInAgent, IsAsStrictAsTheService)
{
    RealtimeStandIn server;
    StandInAgent agent(server, StandInScript::builtIn());
    agent.setSpeed(0);
    ASSERT_TRUE(server.listen());
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);
    QList<QJsonObject> events;
    client.onEvent = [&](const QString&, const QJsonObject& event) { events << event; };
    auto ofType = [&](const char* type) {
        QList<QJsonObject> found;
        for (const QJsonObject& event : events)
            if (event["type"] == type)
                found << event;
        return found;
    };
    const QString greeting =
        "Bonjour, SCI Les Lilas, service de gestion locative. Comment puis-je vous aider ?";

    // The greeting names the business of the session's instructions, which it carries along.
    client.connect("sk-demo", "gpt-realtime", "marin",
                   "Tu es Orlea, assistante vocale virtuelle pour SCI Les Lilas. Sois brève.");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 1; }));
    EXPECT_EQ(transcripts(log)[0], "Orlea: " + greeting);
    // Items: announced, then named on every delta; the transcript arrives ahead in pieces.
    ASSERT_EQ(ofType("response.output_item.added").size(), 1);
    const QString item = ofType("response.output_item.added")[0]["item"].toObject()["id"].toString();
    EXPECT_FALSE(item.isEmpty());
    EXPECT_EQ(QSet<QString>(log.audioItems.begin(), log.audioItems.end()), QSet<QString>{item});
    EXPECT_GT(ofType("response.output_audio_transcript.delta").size(), 1);
    EXPECT_EQ(ofType("rate_limits.updated").size(), 1) << "after each response";

    // Truncation: a known assistant item, within the audio sent of it.
    const qint64 sentMs = StandInScript::builtIn().prompts[0].pcm.size() / 48;
    client.truncate(item, sentMs + 1);
    client.truncate("item_inconnu", 0);
    client.truncate(item, 1000);
    ASSERT_TRUE(waitUntil(
        [&] { return log.failures.size() == 2 && !ofType("conversation.item.truncated").isEmpty(); }));
    EXPECT_EQ(log.failures[0].code, "invalid_value");
    EXPECT_FALSE(log.failures[0].recoverable) << "a truncation beyond the audio is the client's fault";
    EXPECT_EQ(log.failures[1].code, "invalid_value");
    EXPECT_EQ(ofType("conversation.item.truncated")[0]["audio_end_ms"], 1000);

    // The caller's turns: positions in the audio received, item ids, and an answer after each.
    speak(client, 8, 8);
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 4; }));
    const QJsonObject started = ofType("input_audio_buffer.speech_started").value(0);
    const QJsonObject stopped = ofType("input_audio_buffer.speech_stopped").value(0);
    EXPECT_EQ(started["audio_start_ms"], 0) << "the padding cannot reach before the session";
    EXPECT_EQ(stopped["audio_end_ms"], 1500) << "0.8 s of speech, then the 0.7 s of silence that ended it";
    EXPECT_EQ(log.turnEnds, QList<qint64>{1500});
    EXPECT_EQ(started["item_id"], stopped["item_id"]);

    // A response is asked for while one runs: refused, naming the request.
    agent.setSpeed(1);
    const QString first = client.createResponse(QJsonObject{});
    const QString second = client.createResponse(QJsonObject{});
    ASSERT_TRUE(waitUntil([&] { return log.failures.size() == 3; }));
    EXPECT_EQ(log.failures[2].code, "conversation_already_has_active_response");
    EXPECT_EQ(log.failures[2].eventID, second);
    EXPECT_TRUE(log.failures[2].recoverable);
    client.sendEvent(QJsonObject{{"type", "response.cancel"}});
    client.sendEvent(QJsonObject{{"type", "response.cancel"}});
    ASSERT_TRUE(waitUntil([&] { return log.failures.size() == 4; }));
    EXPECT_EQ(log.failures[3].code, "response_cancel_not_active");

    // A response's instructions replace the session's: without the business, the greeting is generic.
    client.connect("sk-demo", "gpt-realtime", "marin",
                   "Tu es Orlea, assistante vocale virtuelle pour SCI Les Lilas.");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    agent.setSpeed(0);
    log.events.clear();
    client.createResponse(QJsonObject{{"instructions", RealtimeClient::kGreetingInstructions}});
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 1; }));
    EXPECT_EQ(transcripts(log)[0], "Orlea: " + StandInScript::builtIn().prompts[0].text);
    EXPECT_EQ(agent.lastResponseInstructions(), RealtimeClient::kGreetingInstructions);
    Q_UNUSED(first);
}

// The after-call draft: an out-of-band text answer, from what the caller said, under the service's rules.
TEST(StandInAgent, AnswersTheAfterCallDraftAsStrictlyAsTheService)
{
    RealtimeStandIn server;
    StandInAgent agent(server, StandInScript::builtIn());
    agent.setSpeed(0);
    ASSERT_TRUE(server.listen());
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);
    QList<QJsonObject> events;
    client.onEvent = [&](const QString&, const QJsonObject& event) { events << event; };
    auto last = [&](const char* type) {
        for (qsizetype i = events.size() - 1; i >= 0; --i)
            if (events[i]["type"] == type)
                return events[i];
        return QJsonObject();
    };
    auto count = [&](const char* type) {
        return std::count_if(events.begin(), events.end(),
                             [&](const QJsonObject& e) { return e["type"] == type; });
    };
    const QJsonObject draft{{"conversation", "none"},
                            {"output_modalities", QJsonArray{"text"}},
                            {"max_output_tokens", 1000},
                            {"metadata", QJsonObject{{"orlea", "follow_up_draft"}}},
                            {"instructions", "Rédige la fiche de suivi en JSON."}};

    client.connect("sk-demo", "gpt-realtime", "marin",
                   "Tu es Orlea, assistante vocale virtuelle pour SCI Lilas.");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    // Only the first caller line heard (and answered): the draft knows the leak, not who called.
    speak(client, 8, 8);
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 3; }));

    // Parameters the service refuses, each naming itself.
    const std::pair<const char*, QJsonValue> refused[] = {
        {"conversation", "sideways"},
        {"output_modalities", QJsonArray{"text", "audio"}},
        {"max_output_tokens", 0},
        {"max_output_tokens", 1.5},
        {"metadata", QJsonObject{{"orlea", 3}}},
    };
    for (const auto& [key, value] : refused) {
        QJsonObject wrong = draft;
        wrong.insert(QLatin1String(key), value);
        const QString id = client.createResponse(wrong);
        ASSERT_TRUE(waitUntil([&] { return !log.failures.isEmpty() && log.failures.last().eventID == id; }))
            << key;
        EXPECT_EQ(log.failures.last().code, "invalid_value") << key;
        EXPECT_FALSE(log.failures.last().recoverable) << key;
    }
    EXPECT_EQ(agent.draftsStarted(), 0);

    // Counted from here: the caller's turn had an answer of its own.
    const auto created0 = count("response.created");
    const auto done0 = count("response.done");
    client.createResponse(draft);
    ASSERT_TRUE(waitUntil([&] { return count("response.done") == done0 + 1; }));
    const QJsonObject created = last("response.created")["response"].toObject();
    EXPECT_EQ(created["metadata"].toObject(), draft["metadata"].toObject()) << "metadata echoed";
    EXPECT_TRUE(created["conversation_id"].isNull()) << "out of band";
    const QJsonObject done = last("response.done")["response"].toObject();
    EXPECT_EQ(done["status"], "completed");
    EXPECT_EQ(done["id"], created["id"]);
    EXPECT_GT(done["usage"].toObject()["output_tokens"].toInt(), 0);
    const QJsonObject textDone = last("response.output_text.done");
    EXPECT_EQ(textDone["response_id"], created["id"]);
    const QJsonObject written = QJsonDocument::fromJson(textDone["text"].toString().toUtf8()).object();
    EXPECT_EQ(written["request"], "Fuite d’eau sous l’évier de la cuisine, à faire constater et réparer.");
    EXPECT_EQ(written["urgency"], "urgent");
    EXPECT_EQ(written["caller_name"], "") << "the caller's name was never heard";
    EXPECT_EQ(done["output"].toArray()[0].toObject()["content"].toArray()[0].toObject()["text"],
              textDone["text"]);
    EXPECT_EQ(transcripts(log).size(), 3) << "a text answer says nothing to the caller";

    // Cut at its bound, and said so.
    QJsonObject tight = draft;
    tight.insert("max_output_tokens", 10);
    client.createResponse(tight);
    ASSERT_TRUE(waitUntil([&] { return count("response.done") == done0 + 2; }));
    EXPECT_EQ(last("response.done")["response"].toObject()["status"], "incomplete");
    EXPECT_EQ(last("response.done")["response"].toObject()["status_details"].toObject()["reason"],
              "max_output_tokens");
    EXPECT_EQ(last("response.output_text.done")["text"].toString().size(), 40);

    // One that never ends: nothing else may start, and only a cancellation naming it stops it.
    agent.setDraftFault(StandInAgent::DraftFault::Silent);
    client.createResponse(draft);
    ASSERT_TRUE(waitUntil([&] { return count("response.created") == created0 + 3; }));
    const QString silent = last("response.created")["response"].toObject()["id"].toString();
    const int failures = int(log.failures.size());
    client.createResponse(QJsonObject{});
    client.sendEvent(QJsonObject{{"type", "response.cancel"}});
    ASSERT_TRUE(waitUntil([&] { return log.failures.size() == failures + 2; }));
    EXPECT_EQ(log.failures[failures].code, "conversation_already_has_active_response");
    EXPECT_EQ(log.failures[failures + 1].code, "response_cancel_not_active") << "an id-less cancel means the "
                                                                                "conversation's own answer";
    EXPECT_EQ(client.activeResponses(), QStringList{silent});
    client.cancelResponse(silent);
    ASSERT_TRUE(waitUntil([&] { return count("response.done") == done0 + 3; }));
    EXPECT_EQ(last("response.done")["response"].toObject()["status"], "cancelled");
    EXPECT_EQ(last("response.done")["response"].toObject()["status_details"].toObject()["reason"],
              "client_cancelled");
    EXPECT_TRUE(client.activeResponses().isEmpty());

    // The faults asked for: not JSON, a field far too long, nothing before ten seconds.
    agent.setDraftFault(StandInAgent::DraftFault::Malformed);
    client.createResponse(draft);
    ASSERT_TRUE(waitUntil([&] { return count("response.done") == done0 + 4; }));
    QJsonParseError error{};
    QJsonDocument::fromJson(last("response.output_text.done")["text"].toString().toUtf8(), &error);
    EXPECT_NE(error.error, QJsonParseError::NoError);
    agent.setDraftFault(StandInAgent::DraftFault::Oversized);
    client.createResponse(draft);
    ASSERT_TRUE(waitUntil([&] { return count("response.done") == done0 + 5; }));
    EXPECT_EQ(last("response.done")["response"].toObject()["status"], "completed");
    EXPECT_GT(QJsonDocument::fromJson(last("response.output_text.done")["text"].toString().toUtf8())
                  .object()["request"]
                  .toString()
                  .size(),
              500);
    agent.setDraftFault(StandInAgent::DraftFault::Late);
    client.createResponse(draft);
    ASSERT_TRUE(waitUntil([&] { return count("response.created") == created0 + 6; }));
    settle();
    EXPECT_EQ(count("response.done"), done0 + 5) << "a late draft keeps the caller's client waiting";
    client.close();
}

TEST(StandInAgent, EndsASessionAtItsLimitAsTheServiceDoes)
{
    RealtimeStandIn server;
    server.setConfirmsSessions(true);
    server.setSessionLimit(200);
    ASSERT_TRUE(server.listen());
    RealtimeClient client(server.url());
    CallbackLog log;
    log.attach(client);
    client.connect("sk-demo", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    ASSERT_TRUE(waitUntil([&] { return !log.failures.isEmpty(); }));
    EXPECT_EQ(log.failures[0].code, "session_expired");
    EXPECT_FALSE(log.failures[0].recoverable);
    ASSERT_TRUE(waitUntil([&] { return !server.closeCodes().isEmpty(); }));
    EXPECT_EQ(server.closeCodes()[0], QWebSocketProtocol::CloseCodeGoingAway);
}

TEST(StandInAgent, RunsOnItsOwnThreadAndAsACommand)
{
    RealtimeStandInThread thread;
    RealtimeStandInThread::Options options;
    options.speed = 0;
    ASSERT_TRUE(thread.start(options)) << thread.errorString().toStdString();
    RealtimeClient client(thread.url());
    CallbackLog log;
    log.attach(client);
    client.connect("sk-demo", "gpt-realtime", "marin", "x");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    client.greet();
    ASSERT_TRUE(waitUntil([&] { return transcripts(log).size() == 1; }));
    client.close();
    thread.stop();

    QProcess command;
    // Test executables live in build/tests, programs in build/bin.
    command.start(QCoreApplication::applicationDirPath() + "/../bin/orlea-realtime-standin",
                  {"--speed", "0"});
    ASSERT_TRUE(command.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return command.canReadLine(); }))
        << command.readAllStandardError().toStdString();
    const QUrl url(QString::fromUtf8(command.readLine()).trimmed());
    EXPECT_EQ(url.path(), "/v1/realtime");
    RealtimeClient viaEnvironment;
    CallbackLog commandLog;
    commandLog.attach(viaEnvironment);
    qputenv("ORLEA_REALTIME_URL", url.toEncoded());
    viaEnvironment.connect("sk-demo", "gpt-realtime", "marin", "x");
    qunsetenv("ORLEA_REALTIME_URL");
    ASSERT_TRUE(waitUntil([&] { return viaEnvironment.isReady(); }));
    viaEnvironment.greet();
    ASSERT_TRUE(waitUntil([&] { return transcripts(commandLog).size() == 1; }));
    viaEnvironment.close();
    command.kill();
    command.waitForFinished();
}

} // namespace
