#include "app/realtime/ConversationUsage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {
QVariantMap usage(QVariant input, QVariant output)
{
    return QVariantMap{{"input_tokens", input}, {"output_tokens", output}};
}
} // namespace

TEST(ConversationUsage, WorkedExampleAndPendingProvision)
{
    ConversationUsageMeter meter("gpt-realtime");
    meter.started("r1");
    meter.completed("r1", usage(10'000, 2'000));
    meter.addInput(120.0);
    EXPECT_EQ(meter.snapshot().estimatedUSD, 0.59);
    EXPECT_EQ(meter.snapshot().label(), QString("12000 tokens reçus d’OpenAI · budget prudent : 0.59 $ US"));

    meter.started("r2");
    const ConversationUsage pending = meter.snapshot();
    EXPECT_EQ(pending.estimatedUSD, 2.20);
    EXPECT_EQ(pending.pendingResponses, 1);
    EXPECT_EQ(
        pending.label(),
        QString("12000 tokens reçus d’OpenAI · budget prudent : 2.20 $ US · provision en cours incluse"));

    ConversationUsageMeter fresh("gpt-realtime-2025-08-28");
    EXPECT_EQ(fresh.snapshot().label(), QString("0 tokens reçus d’OpenAI · budget prudent : 0.00 $ US"));
    fresh.started("x");
    EXPECT_EQ(fresh.snapshot().estimatedUSD, 1.61);
}

TEST(ConversationUsage, CountsEachResponseOnceAndOnlyPlausibleFigures)
{
    ConversationUsageMeter meter("gpt-realtime");
    meter.completed("a", usage(100, 50)); // no preceding start
    meter.completed("a", usage(100, 50));
    meter.started("a"); // a late start of a counted response changes nothing
    EXPECT_EQ(meter.snapshot().inputTokens, 100);
    EXPECT_EQ(meter.snapshot().pendingResponses, 0);

    meter.completed("big", usage(1'000'001, 1));
    meter.completed("neg", usage(-5, 1));
    meter.completed("frac", usage(1.5, 1));
    meter.completed("text", usage("10", 1));
    meter.completed("none", std::nullopt);
    meter.completed("half", QVariantMap{{"input_tokens", 10}});
    const ConversationUsage snap = meter.snapshot();
    EXPECT_EQ(snap.inputTokens, 100) << "implausible figures are never added";
    EXPECT_EQ(snap.pendingResponses, 6) << "each keeps its provision";
    EXPECT_TRUE(snap.label().endsWith(" · provision en cours incluse"));

    meter.completed("big", usage(1'000'000, 0)); // a later valid completion counts it
    EXPECT_EQ(meter.snapshot().inputTokens, 1'000'100);
    EXPECT_EQ(meter.snapshot().pendingResponses, 5);

    ConversationUsageMeter other("gpt-4o");
    other.completed("a", usage(10, 10));
    EXPECT_FALSE(other.snapshot().estimatedUSD.has_value());
    EXPECT_EQ(other.snapshot().label(),
              QString("20 tokens reçus d’OpenAI · tarif non configuré pour ce modèle"));
}

TEST(ConversationUsage, JSONFormRequiresFourKeysAndOmitsAMissingEstimate)
{
    ConversationUsage priced{10, 20, 0.59, 1, "gpt-realtime"};
    EXPECT_EQ(ConversationUsage::fromJson(priced.toJson()), priced);

    ConversationUsage unpriced{10, 20, std::nullopt, 0, "other"};
    EXPECT_FALSE(unpriced.toJson().contains("estimatedUSD"));
    EXPECT_EQ(ConversationUsage::fromJson(unpriced.toJson()), unpriced);

    auto parse = [](const char* json) {
        return ConversationUsage::fromJson(QJsonDocument::fromJson(json).object());
    };
    EXPECT_TRUE(
        parse(R"({"inputTokens":1,"outputTokens":2,"pendingResponses":0,"model":"m","estimatedUSD":null})"));
    EXPECT_FALSE(parse(R"({"inputTokens":1,"outputTokens":2,"model":"m"})"))
        << "pendingResponses is required";
    EXPECT_FALSE(parse(R"({"inputTokens":"1","outputTokens":2,"pendingResponses":0,"model":"m"})"));
    EXPECT_FALSE(
        parse(R"({"inputTokens":1,"outputTokens":2,"pendingResponses":0,"model":"m","estimatedUSD":"1"})"));
}

TEST(ConversationUsage, ABoundedAnswerIsReservedAtItsBoundAndShownAsSuch)
{
    ConversationUsageMeter meter("gpt-realtime");
    meter.completed("r1", usage(10'000, 2'000));
    meter.addInput(30.0);
    // The conversation so far (12,000), 30 s of caller audio since (600), the prompt (900); 1,000 out.
    meter.started("draft");
    meter.bound("draft", 900, 1000);
    ConversationUsage waiting = meter.snapshot();
    EXPECT_EQ(waiting.estimatedUSD, 1.19) << "0.448 + 0.005 + 13,500 in and 1,000 out, with the margin";
    EXPECT_EQ(waiting.pendingSummaries, 1);
    EXPECT_EQ(
        waiting.label(),
        QString("12000 tokens reçus d’OpenAI · budget prudent : 1.19 $ US · provision du résumé incluse"));

    meter.started("answer");
    EXPECT_EQ(meter.snapshot().label(), QString("12000 tokens reçus d’OpenAI · budget prudent : 2.80 $ US · "
                                                "provision en cours incluse · provision du résumé incluse"));
    meter.completed("answer", usage(12'500, 300));
    meter.completed("draft", usage(12'900, 140));
    const ConversationUsage counted = meter.snapshot();
    EXPECT_EQ(counted.pendingResponses, 0);
    EXPECT_EQ(counted.pendingSummaries, 0);
    EXPECT_EQ(counted.inputTokens, 35'400) << "the draft's tokens count like any answer's";
    EXPECT_EQ(counted.outputTokens, 2'440);

    // Before anything was counted nothing tells the context's size: a full one is reserved, never more.
    ConversationUsageMeter early("gpt-realtime");
    early.bound("draft", 900, 1000);
    EXPECT_EQ(early.snapshot().estimatedUSD, 1.36) << "(32,000 in + 1,000 out) × 1.25";
    ConversationUsageMeter long_("gpt-realtime");
    long_.completed("r1", usage(30'500, 3'000));
    long_.addInput(6.0);
    long_.bound("draft", 900, 1000);
    EXPECT_EQ(long_.snapshot().estimatedUSD, 2.83)
        << "1.168 counted, 0.001 of transcription, 1.088 reserved at 32,000 in and 1,000 out, × 1.25";

    // The count is an optional key of the stored usage: older files read as none pending.
    EXPECT_EQ(waiting.toJson().value("pendingSummaries").toInt(), 1);
    EXPECT_FALSE(counted.toJson().contains("pendingSummaries"));
    EXPECT_EQ(ConversationUsage::fromJson(waiting.toJson()), waiting);
    QJsonObject wrong = waiting.toJson();
    wrong.insert("pendingSummaries", "un");
    EXPECT_FALSE(ConversationUsage::fromJson(wrong).has_value());
}
