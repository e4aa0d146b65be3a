#include "app/model/FollowUpDrafter.h"

#include "app/common/Clock.h"
#include "app/realtime/RealtimeClient.h"
#include "tests/realtime/RealtimeTestSupport.h"
#include "tools/realtime-standin/RealtimeStandIn.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

const QUuid kCall = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));

// A client on a scripted service, wired to a drafter as the application model wires them.
class FollowUpDrafterTest : public ::testing::Test {
protected:
    RealtimeStandIn service;
    RealtimeClient client;
    ManualClock clock;
    ManualScheduler scheduler{clock};
    QList<FollowUpDrafter::Outcome> outcomes;
    FollowUpDrafter drafter{client, scheduler, [this](const FollowUpDrafter::Outcome& o) { outcomes << o; }};

    void SetUp() override
    {
        ASSERT_TRUE(service.listen());
        service.setConfirmsSessions(true);
        client.setEndpoint(service.url());
        client.onEvent = [this](const QString& type, const QJsonObject& event) {
            if (drafter.isActive())
                drafter.handle(type, event);
        };
        client.onError = [this](const RealtimeError& failure) { drafter.failed(failure); };
        client.onUsage = [this](const ConversationUsage& usage) { drafter.usageReported(usage); };
        client.connect("sk-demo", "gpt-realtime", "marin", "Tu es Orlea.");
        ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    }

    // Waits until the service has received `count` events of `type`.
    bool received(const QString& type, qsizetype count)
    {
        return waitUntil([&] { return service.received(type).size() >= count; });
    }

    void created(const QString& id, const QJsonObject& metadata = {})
    {
        QJsonObject response{{"id", id}, {"object", "realtime.response"}, {"status", "in_progress"}};
        if (!metadata.isEmpty())
            response.insert("metadata", metadata);
        service.send({{"type", "response.created"}, {"response", response}});
    }

    void done(const QString& id, const QString& status, const QJsonObject& usage = {},
              const QJsonArray& output = {})
    {
        service.send({{"type", "response.done"},
                      {"response",
                       QJsonObject{{"id", id}, {"status", status}, {"output", output}, {"usage", usage}}}});
    }
};

} // namespace

TEST_F(FollowUpDrafterTest, WaitsForTheRunningAnswerToEndThenReadsOnlyItsOwnResponse)
{
    created("resp_talk"); // the AI was answering when the caller hung up
    ASSERT_TRUE(waitUntil([&] { return client.activeResponses() == QStringList{"resp_talk"}; }));
    drafter.start(kCall, {"Lilas"});
    ASSERT_TRUE(received("response.cancel", 1));
    EXPECT_EQ(service.received("response.cancel")[0]["response_id"], "resp_talk");
    settle();
    EXPECT_TRUE(service.received("response.create").isEmpty()) << "nothing is asked while it runs";

    // Cancelled; the service's turn detection starts another answer just as the draft is asked for.
    done("resp_talk", "cancelled");
    ASSERT_TRUE(received("response.create", 1));
    created("resp_vad");
    service.sendError(QStringLiteral("conversation_already_has_active_response"),
                      service.received("response.create")[0]["event_id"].toString());
    ASSERT_TRUE(received("response.cancel", 2));
    EXPECT_EQ(service.received("response.cancel")[1]["response_id"], "resp_vad");
    done("resp_vad", "cancelled");
    ASSERT_TRUE(received("response.create", 2));
    const QJsonObject request = service.received("response.create")[1]["response"].toObject();
    EXPECT_EQ(request, FollowUpDrafter::request(kCall, {"Lilas"}));
    EXPECT_TRUE(request["instructions"].toString().contains("Dossiers existants : « Lilas »."));

    // Another out-of-band answer's text is not the draft; the draft is known by its metadata, then its id.
    created("resp_other", QJsonObject{{"orlea", "something_else"}});
    service.send({{"type", "response.output_text.done"}, {"response_id", "resp_other"}, {"text", "{}"}});
    done("resp_other", "completed", {}, QJsonArray{});
    created("resp_draft", FollowUpDrafter::metadata(kCall));
    ASSERT_TRUE(waitUntil([&] { return client.activeResponses().contains("resp_draft"); }));
    settle();
    ASSERT_TRUE(outcomes.isEmpty());
    const QString text = QStringLiteral(R"({"request":"Fuite d’eau","urgency":"urgent","dossier":"Lilas"})");
    service.send({{"type", "response.output_text.done"}, {"response_id", "resp_draft"}, {"text", text}});
    done("resp_draft", "completed", QJsonObject{{"input_tokens", 4000}, {"output_tokens", 60}});
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));

    const FollowUpDrafter::Outcome& outcome = outcomes[0];
    EXPECT_EQ(outcome.record, kCall);
    EXPECT_EQ(outcome.answer, std::optional<QString>(text));
    ASSERT_TRUE(outcome.usage.has_value());
    EXPECT_EQ(outcome.usage->outputTokens, 60) << "the draft's tokens are in the final usage";
    EXPECT_EQ(outcome.usage->pendingSummaries, 0);
    EXPECT_FALSE(drafter.isActive());
    ASSERT_TRUE(waitUntil([&] { return !service.hasClient(); })) << "the session is closed once read";
}

TEST_F(FollowUpDrafterTest, AnAnswerThatNeverEndsIsGivenUpAfterEightSecondsWithItsBoundedProvision)
{
    drafter.start(kCall, {});
    ASSERT_TRUE(received("response.create", 1));
    created("resp_draft", FollowUpDrafter::metadata(kCall));
    // A piece of its text arrives, never its end.
    service.send({{"type", "response.output_text.done"}, {"response_id", "resp_draft"}, {"text", "{\"requ"}});
    settle();
    scheduler.advance(FollowUpDrafter::kMaxSeconds - 0.1);
    EXPECT_TRUE(outcomes.isEmpty());
    scheduler.advance(0.1);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].answer, std::optional<QString>("{\"requ"))
        << "what arrived is handed over to be checked, and refused there";
    ASSERT_TRUE(outcomes[0].usage.has_value());
    EXPECT_EQ(outcomes[0].usage->pendingResponses, 1);
    EXPECT_EQ(outcomes[0].usage->pendingSummaries, 1) << "reserved at its bound, not at a full provision";
    EXPECT_TRUE(outcomes[0].usage->label().endsWith(" · provision du résumé incluse"));

    // Again, on a new session: a failed response gives no draft; abandoning one after its end does nothing.
    client.connect("sk-demo", "gpt-realtime", "marin", "Tu es Orlea.");
    ASSERT_TRUE(waitUntil([&] { return client.isReady(); }));
    service.clearReceived();
    drafter.start(kCall, {});
    ASSERT_TRUE(received("response.create", 1));
    created("resp_draft", FollowUpDrafter::metadata(kCall));
    service.send({{"type", "response.output_text.done"}, {"response_id", "resp_draft"}, {"text", "{}"}});
    service.send(
        {{"type", "response.done"},
         {"response", QJsonObject{{"id", "resp_draft"},
                                  {"status", "incomplete"},
                                  {"status_details", QJsonObject{{"reason", "max_output_tokens"}}}}}});
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 2; }));
    EXPECT_FALSE(outcomes[1].answer.has_value());
    EXPECT_EQ(outcomes[1].failure, "réponse incomplete (max_output_tokens)");
    drafter.abandon(QStringLiteral("trop tard"));
    EXPECT_EQ(outcomes.size(), 2);
}
