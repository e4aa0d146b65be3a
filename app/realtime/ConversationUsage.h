#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <optional>

// A snapshot of one conversation's token counts and its prudent cost estimate.
struct ConversationUsage {
    qint64 inputTokens = 0;
    qint64 outputTokens = 0;
    std::optional<double> estimatedUSD;
    qint64 pendingResponses = 0;
    QString model;
    // Of `pendingResponses`, the bounded text answers (the after-call summary) reserved at their own
    // bound rather than at a full context; absent from older files.
    qint64 pendingSummaries = 0;

    // The one-line French text of the usage counter and of a stored call.
    QString label() const;

    QJsonObject toJson() const;
    // nullopt when a required key is missing or has the wrong type.
    static std::optional<ConversationUsage> fromJson(const QJsonValue& value);

    bool operator==(const ConversationUsage&) const = default;
};

// Running counters of one conversation, fed by the realtime client.
class ConversationUsageMeter {
public:
    explicit ConversationUsageMeter(QString model = QString());

    void started(const QString& responseID);
    // `usage` is the response's "usage" object, absent when the event carried none.
    void completed(const QString& responseID, const std::optional<QVariantMap>& usage);
    void addInput(double seconds);
    // The response is a bounded one: until its figures are counted it is reserved at the conversation's
    // context so far (the largest counted, plus twenty tokens a second of caller audio sent since, twice
    // what the service counts, plus `promptTokens`), never above a full context, and at `maxOutputTokens`
    // of output, instead of at the full provision.
    void bound(const QString& responseID, qint64 promptTokens, qint64 maxOutputTokens);

    ConversationUsage snapshot() const;
    const QString& model() const { return m_model; }

    static constexpr qint64 kMaxTokensPerResponse = 1'000'000;
    // The full provision's context: what a response whose figures are unknown may read at most.
    static constexpr qint64 kFullContextInputTokens = 32'000;
    static constexpr qint64 kFullResponseOutputTokens = 4'096;

private:
    struct Bound {
        qint64 inputTokens;
        qint64 outputTokens;
    };
    QString m_model;
    QSet<QString> m_seen;
    QSet<QString> m_pending;
    qint64 m_input = 0;
    qint64 m_output = 0;
    double m_inputSeconds = 0;
    QHash<QString, Bound> m_bounds;
    // The largest context a counted response read and wrote, and the caller audio sent since one was.
    std::optional<qint64> m_context;
    double m_secondsSinceCounted = 0;
};
