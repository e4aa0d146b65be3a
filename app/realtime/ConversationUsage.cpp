#include "app/realtime/ConversationUsage.h"

#include <QJsonValue>
#include <algorithm>
#include <cmath>

namespace {

struct Price {
    double inputPerMillion;
    double outputPerMillion;
};

std::optional<Price> priceOf(const QString& model)
{
    if (model == QLatin1String("gpt-realtime") || model == QLatin1String("gpt-realtime-2025-08-28"))
        return Price{32.0, 64.0};
    return std::nullopt;
}

// A response whose final figures are unknown is reserved at a full context plus a maximal answer:
// 32,000 input and 4,096 output tokens at the rates above.
constexpr double kPendingProvisionUSD = 1'286'144.0 / 1'000'000.0;
// Caller audio as the service counts it, ten tokens a second, doubled to stay on the high side.
constexpr double kPrudentAudioTokensPerSecond = 20.0;
constexpr double kTranscriptionUSDPerMinute = 0.01;
constexpr double kMargin = 1.25;

// A token count as the service sends it: a JSON integer within the plausible range.
std::optional<qint64> tokenCount(const QVariant& value)
{
    bool ok = false;
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        number = value.toDouble(&ok);
        break;
    case QMetaType::Double:
        number = value.toDouble(&ok);
        ok = ok && std::floor(number) == number;
        break;
    default:
        return std::nullopt;
    }
    // Negative counts would lower a figure meant to err on the high side: treat them as implausible.
    if (!ok || number < 0 || number > double(ConversationUsageMeter::kMaxTokensPerResponse))
        return std::nullopt;
    return qint64(number);
}

bool isJSONInteger(const QJsonValue& value)
{
    return value.isDouble() && std::floor(value.toDouble()) == value.toDouble() &&
           std::abs(value.toDouble()) < 9.0e15;
}

} // namespace

QString ConversationUsage::label() const
{
    QString text = QString::number(inputTokens + outputTokens) + QStringLiteral(" tokens reçus d’OpenAI");
    if (estimatedUSD) {
        text += QStringLiteral(" · budget prudent : %1 $ US").arg(*estimatedUSD, 0, 'f', 2);
        if (pendingResponses - pendingSummaries >= 1)
            text += QStringLiteral(" · provision en cours incluse");
        if (pendingSummaries >= 1)
            text += QStringLiteral(" · provision du résumé incluse");
    } else {
        text += QStringLiteral(" · tarif non configuré pour ce modèle");
    }
    return text;
}

QJsonObject ConversationUsage::toJson() const
{
    QJsonObject object{{"inputTokens", double(inputTokens)},
                       {"outputTokens", double(outputTokens)},
                       {"pendingResponses", double(pendingResponses)},
                       {"model", model}};
    if (estimatedUSD)
        object.insert("estimatedUSD", *estimatedUSD);
    if (pendingSummaries > 0)
        object.insert("pendingSummaries", double(pendingSummaries));
    return object;
}

std::optional<ConversationUsage> ConversationUsage::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue input = object.value("inputTokens");
    const QJsonValue output = object.value("outputTokens");
    const QJsonValue pending = object.value("pendingResponses");
    const QJsonValue model = object.value("model");
    const QJsonValue estimate = object.value("estimatedUSD");
    if (!isJSONInteger(input) || !isJSONInteger(output) || !isJSONInteger(pending) || !model.isString())
        return std::nullopt;
    if (!estimate.isUndefined() && !estimate.isNull() && !estimate.isDouble())
        return std::nullopt;
    const QJsonValue summaries = object.value("pendingSummaries");
    if (!summaries.isUndefined() && !summaries.isNull() && !isJSONInteger(summaries))
        return std::nullopt;
    ConversationUsage usage;
    usage.inputTokens = qint64(input.toDouble());
    usage.outputTokens = qint64(output.toDouble());
    usage.pendingResponses = qint64(pending.toDouble());
    usage.model = model.toString();
    if (estimate.isDouble())
        usage.estimatedUSD = estimate.toDouble();
    if (summaries.isDouble())
        usage.pendingSummaries = qint64(summaries.toDouble());
    return usage;
}

ConversationUsageMeter::ConversationUsageMeter(QString model) : m_model(std::move(model)) {}

void ConversationUsageMeter::started(const QString& responseID)
{
    if (!m_seen.contains(responseID))
        m_pending.insert(responseID);
}

void ConversationUsageMeter::completed(const QString& responseID, const std::optional<QVariantMap>& usage)
{
    if (m_seen.contains(responseID))
        return;
    std::optional<qint64> input;
    std::optional<qint64> output;
    if (usage) {
        input = tokenCount(usage->value(QStringLiteral("input_tokens")));
        output = tokenCount(usage->value(QStringLiteral("output_tokens")));
    }
    if (input && output) {
        m_seen.insert(responseID);
        m_pending.remove(responseID);
        m_bounds.remove(responseID);
        m_input += *input;
        m_output += *output;
        m_context = std::max(m_context.value_or(0), *input + *output);
        m_secondsSinceCounted = 0;
    } else {
        // Unknown figures keep the response's provision in the estimate.
        m_pending.insert(responseID);
    }
}

void ConversationUsageMeter::addInput(double seconds)
{
    m_inputSeconds += seconds;
    m_secondsSinceCounted += seconds;
}

void ConversationUsageMeter::bound(const QString& responseID, qint64 promptTokens, qint64 maxOutputTokens)
{
    if (m_seen.contains(responseID))
        return;
    // Nothing counted yet: nothing tells how large the context is.
    qint64 input = kFullContextInputTokens;
    if (m_context)
        input =
            std::min(kFullContextInputTokens,
                     *m_context + qint64(std::ceil(m_secondsSinceCounted * kPrudentAudioTokensPerSecond)) +
                         std::max<qint64>(0, promptTokens));
    m_bounds.insert(responseID,
                    Bound{input, std::clamp<qint64>(maxOutputTokens, 0, kFullResponseOutputTokens)});
    m_pending.insert(responseID);
}

ConversationUsage ConversationUsageMeter::snapshot() const
{
    ConversationUsage usage;
    usage.inputTokens = m_input;
    usage.outputTokens = m_output;
    usage.pendingResponses = m_pending.size();
    usage.model = m_model;
    for (const QString& id : m_pending)
        usage.pendingSummaries += m_bounds.contains(id);
    if (const auto price = priceOf(m_model)) {
        auto cost = [&price](qint64 input, qint64 output) {
            return double(input) * price->inputPerMillion / 1'000'000.0 +
                   double(output) * price->outputPerMillion / 1'000'000.0;
        };
        const double tokens = cost(m_input, m_output);
        double provision = 0;
        for (const QString& id : m_pending) {
            const auto bounded = m_bounds.constFind(id);
            provision += bounded == m_bounds.constEnd() ? kPendingProvisionUSD
                                                        : cost(bounded->inputTokens, bounded->outputTokens);
        }
        const double subtotal = provision + tokens + (m_inputSeconds / 60.0 * kTranscriptionUSDPerMinute);
        usage.estimatedUSD = std::ceil(subtotal * kMargin * 100.0) / 100.0;
    }
    return usage;
}
