#include "app/realtime/ConversationUsage.h"

#include <QJsonDocument>
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
