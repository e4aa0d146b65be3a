#include "tools/realtime-standin/StandInAgent.h"
#include "app/realtime/RealtimeClient.h"
#include "tests/realtime/RealtimeTestSupport.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtEndian>
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
    EXPECT_FALSE(transcripts(log).contains("Orlea: " + StandInScript::builtIn().prompts[0].text))
        << "an interrupted answer still reported its full transcript";
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
