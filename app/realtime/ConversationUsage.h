#pragma once

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

    ConversationUsage snapshot() const;
    const QString& model() const { return m_model; }

    static constexpr qint64 kMaxTokensPerResponse = 1'000'000;

private:
    QString m_model;
    QSet<QString> m_seen;
    QSet<QString> m_pending;
    qint64 m_input = 0;
    qint64 m_output = 0;
    double m_inputSeconds = 0;
};
