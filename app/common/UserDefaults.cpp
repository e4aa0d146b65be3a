#include "app/common/UserDefaults.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Bytes have no JSON form of their own; they are kept as {"data": base64}.
const QString kDataKey = QStringLiteral("data");

QJsonValue toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QByteArray:
        return QJsonObject{{kDataKey, QString::fromLatin1(value.toByteArray().toBase64())}};
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    default:
        return value.toString();
    }
}

QVariant fromJson(const QJsonValue& value)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.size() == 1 && object.value(kDataKey).isString())
            return QByteArray::fromBase64(object.value(kDataKey).toString().toLatin1());
        return QVariant();
    }
    return value.toVariant();
}

bool readJson(QIODevice& device, QSettings::SettingsMap& map)
{
    const QByteArray bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QVariant value = fromJson(it.value());
        if (value.isValid())
            map.insert(it.key(), value);
    }
    return true;
}

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson);
    return format;
}

} // namespace

UserDefaults::UserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, jsonFormat()))
{
}

UserDefaults::~UserDefaults() = default;

std::optional<QString> UserDefaults::string(const char* key) const
{
    const QVariant value = m_settings->value(QLatin1String(key));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

QString UserDefaults::string(const char* key, const QString& fallback) const
{
    return string(key).value_or(fallback);
}

std::optional<bool> UserDefaults::boolean(const char* key) const
{
    const QVariant value = m_settings->value(QLatin1String(key));
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<QByteArray> UserDefaults::data(const char* key) const
{
    const QVariant value = m_settings->value(QLatin1String(key));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

bool UserDefaults::contains(const char* key) const
{
    return m_settings->contains(QLatin1String(key));
}

void UserDefaults::setString(const char* key, const QString& value)
{
    m_settings->setValue(QLatin1String(key), value);
}

void UserDefaults::setBool(const char* key, bool value)
{
    m_settings->setValue(QLatin1String(key), value);
}

void UserDefaults::setData(const char* key, const QByteArray& value)
{
    m_settings->setValue(QLatin1String(key), value);
}

void UserDefaults::remove(const char* key)
{
    m_settings->remove(QLatin1String(key));
}

void UserDefaults::sync()
{
    m_settings->sync();
}
