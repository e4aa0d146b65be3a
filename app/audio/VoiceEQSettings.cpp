#include "app/audio/VoiceEQSettings.h"

#include "app/common/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

std::vector<float> VoiceEQSettings::safeGains() const
{
    std::vector<float> safe(kBandCount, 0.0f);
    for (size_t i = 0; i < safe.size() && i < gains.size(); ++i)
        if (std::isfinite(gains[i]))
            safe[i] = std::clamp(gains[i], -kMaxGainDb, kMaxGainDb);
    return safe;
}

std::optional<QByteArray> VoiceEQSettings::encoded() const
{
    QJsonArray array;
    for (float gain : gains) {
        if (!std::isfinite(gain))
            return std::nullopt;
        array.append(double(gain));
    }
    const QJsonObject object{{QStringLiteral("enabled"), enabled}, {QStringLiteral("gains"), array}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<VoiceEQSettings> VoiceEQSettings::decoded(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue enabled = object.value(QStringLiteral("enabled"));
    const QJsonValue gains = object.value(QStringLiteral("gains"));
    if (!enabled.isBool() || !gains.isArray())
        return std::nullopt;
    VoiceEQSettings settings;
    settings.enabled = enabled.toBool();
    settings.gains.clear();
    for (const QJsonValue& gain : gains.toArray()) {
        if (!gain.isDouble())
            return std::nullopt;
        settings.gains.push_back(float(gain.toDouble()));
    }
    return settings;
}

VoiceEQSettings VoiceEQSettings::load(const UserDefaults& defaults)
{
    const std::optional<QByteArray> stored = defaults.data(SettingsKey::voiceEQ);
    if (!stored)
        return VoiceEQSettings{};
    std::optional<VoiceEQSettings> settings = decoded(*stored);
    if (!settings)
        return VoiceEQSettings{};
    settings->gains = settings->safeGains();
    return *settings;
}

void VoiceEQSettings::save(UserDefaults& defaults) const
{
    if (const std::optional<QByteArray> json = encoded())
        defaults.setData(SettingsKey::voiceEQ, *json);
}
