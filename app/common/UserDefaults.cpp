#include "app/common/UserDefaults.h"

#include "app/common/AppError.h"
#include "app/common/PrivateFile.h"

#include <QFileInfo>
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
    case QMetaType::QVariantList:
        return QJsonArray::fromVariantList(value.toList());
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

QVariantMap readJson(const QByteArray& bytes)
{
    QVariantMap map;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return map;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QVariant value = fromJson(it.value());
        if (value.isValid())
            map.insert(it.key(), value);
    }
    return map;
}

QByteArray writeJson(const QVariantMap& map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace

UserDefaults::UserDefaults(const QString& filePath) : m_path(filePath)
{
    try {
        if (const auto bytes = PrivateFile::read(m_path))
            m_values = readJson(*bytes);
    } catch (const AppError& error) {
        qWarning("%s", qUtf8Printable(error.message()));
    }
}

UserDefaults::~UserDefaults()
{
    sync();
}

std::optional<QString> UserDefaults::string(const char* key) const
{
    const QVariant value = m_values.value(QLatin1String(key));
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
    const QVariant value = m_values.value(QLatin1String(key));
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<QByteArray> UserDefaults::data(const char* key) const
{
    const QVariant value = m_values.value(QLatin1String(key));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

bool UserDefaults::contains(const char* key) const
{
    return m_values.contains(QLatin1String(key));
}

void UserDefaults::setString(const char* key, const QString& value)
{
    set(key, value);
}

void UserDefaults::setBool(const char* key, bool value)
{
    set(key, value);
}

void UserDefaults::setData(const char* key, const QByteArray& value)
{
    set(key, value);
}

void UserDefaults::remove(const char* key)
{
    if (m_values.remove(QLatin1String(key)) > 0)
        scheduleWrite();
}

void UserDefaults::set(const char* key, const QVariant& value)
{
    QVariant& slot = m_values[QLatin1String(key)];
    if (slot.typeId() == value.typeId() && slot == value)
        return;
    slot = value;
    scheduleWrite();
}

void UserDefaults::scheduleWrite()
{
    m_dirty = true;
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    // Six settings saved together make one write, not six.
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            m_writeScheduled = false;
            sync();
        },
        Qt::QueuedConnection);
}

void UserDefaults::sync()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    // User defaults fail quietly on the Mac too; the values stay in memory for this run.
    try {
        PrivateFile::ensureFolder(QFileInfo(m_path).absolutePath());
        PrivateFile::write(m_path, writeJson(m_values));
    } catch (const AppError& error) {
        qWarning("%s", qUtf8Printable(error.message()));
    }
}
