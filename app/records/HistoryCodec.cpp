#include "app/records/HistoryCodec.h"

#include "app/common/AppError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>
#include <cmath>

namespace HistoryCodec {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Grows `out` by `extra` bytes and returns where they start.
char* extend(QByteArray& out, qsizetype extra)
{
    const qsizetype start = out.size();
    if (out.capacity() < start + extra)
        out.reserve(std::max<qsizetype>(start + extra, out.capacity() * 2));
    out.resize(start + extra);
    return out.data() + start;
}

void appendUuid(QByteArray& out, const QUuid& id)
{
    static constexpr char kUpperHex[] = "0123456789ABCDEF";
    char* p = extend(out, 38);
    *p++ = '"';
    auto hex = [&p](quint64 value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            *p++ = kUpperHex[(value >> shift) & 0xF];
    };
    hex(id.data1, 8);
    *p++ = '-';
    hex(id.data2, 4);
    *p++ = '-';
    hex(id.data3, 4);
    *p++ = '-';
    hex(id.data4[0], 2);
    hex(id.data4[1], 2);
    *p++ = '-';
    for (int i = 2; i < 8; ++i)
        hex(id.data4[i], 2);
    *p++ = '"';
}

void appendInteger(QByteArray& out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendKey(QByteArray& out, const char* keyWithColon, bool first = false)
{
    if (!first)
        out += ',';
    out += keyWithColon;
}

void appendOptionalString(QByteArray& out, const char* keyWithColon, const std::optional<QString>& value)
{
    if (!value)
        return;
    appendKey(out, keyWithColon);
    appendString(out, *value);
}

void appendUsage(QByteArray& out, const ConversationUsage& usage)
{
    out += "{\"inputTokens\":";
    appendInteger(out, usage.inputTokens);
    out += ",\"outputTokens\":";
    appendInteger(out, usage.outputTokens);
    if (usage.estimatedUSD && std::isfinite(*usage.estimatedUSD)) {
        out += ",\"estimatedUSD\":";
        appendNumber(out, *usage.estimatedUSD);
    }
    out += ",\"pendingResponses\":";
    appendInteger(out, usage.pendingResponses);
    out += ",\"model\":";
    appendString(out, usage.model);
    if (usage.pendingSummaries > 0) {
        out += ",\"pendingSummaries\":";
        appendInteger(out, usage.pendingSummaries);
    }
    out += '}';
}

void appendResponseLatency(QByteArray& out, const ResponseLatency& latency)
{
    out += "{\"turns\":";
    appendInteger(out, latency.turns);
    out += ",\"medianMs\":";
    appendInteger(out, latency.medianMs);
    out += ",\"p90Ms\":";
    appendInteger(out, latency.p90Ms);
    out += '}';
}

void appendFollowUpDraft(QByteArray& out, const FollowUpDraft& draft)
{
    out += "{\"callerName\":";
    appendString(out, draft.callerName);
    out += ",\"callbackNumber\":";
    appendString(out, draft.callbackNumber);
    out += ",\"address\":";
    appendString(out, draft.address);
    out += ",\"request\":";
    appendString(out, draft.request);
    out += ",\"urgency\":";
    appendString(out, draft.urgencyWord());
    out += ",\"urgencyReason\":";
    appendString(out, draft.urgencyReason);
    out += ",\"dossier\":";
    appendString(out, draft.dossier);
    if (draft.decision)
        out += *draft.decision == FollowUpDraft::Decision::Applied ? ",\"decision\":\"applied\""
                                                                   : ",\"decision\":\"ignored\"";
    out += '}';
}

// Strict readers: a missing key or a wrong type fails the whole document.
std::optional<QUuid> readUuid(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    // Only the bare 8-4-4-4-12 form; braces or other spellings are not a UUID in this file.
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

bool readString(const QJsonObject& object, QLatin1String key, QString& target)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return false;
    target = value.toString();
    return true;
}

// Absent or null reads as absent; any other non-string value fails.
bool readOptionalString(const QJsonObject& object, QLatin1String key, std::optional<QString>& target)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        target.reset();
        return true;
    }
    if (!value.isString())
        return false;
    target = value.toString();
    return true;
}

std::optional<TranscriptLine> readLine(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    TranscriptLine line;
    const auto id = readUuid(object.value(QLatin1String("id")));
    if (!id || !readString(object, QLatin1String("speaker"), line.speaker) ||
        !readString(object, QLatin1String("text"), line.text))
        return std::nullopt;
    line.id = *id;
    // Written only when true; files from before it was kept have no such key.
    const QJsonValue interrupted = object.value(QLatin1String("interrupted"));
    if (interrupted.isBool())
        line.interrupted = interrupted.toBool();
    else if (!interrupted.isUndefined() && !interrupted.isNull())
        return std::nullopt;
    return line;
}

std::optional<ResponseLatency> readResponseLatency(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    ResponseLatency latency;
    const std::pair<const char*, int*> fields[] = {
        {"turns", &latency.turns}, {"medianMs", &latency.medianMs}, {"p90Ms", &latency.p90Ms}};
    for (const auto& [key, target] : fields) {
        const QJsonValue number = object.value(QLatin1String(key));
        if (!number.isDouble() || number.toDouble() != double(number.toInt()))
            return std::nullopt;
        *target = number.toInt();
    }
    return latency;
}

std::optional<FollowUpDraft> readFollowUpDraft(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    FollowUpDraft draft;
    QString urgency;
    const std::pair<const char*, QString*> fields[] = {
        {"callerName", &draft.callerName},
        {"callbackNumber", &draft.callbackNumber},
        {"address", &draft.address},
        {"request", &draft.request},
        {"urgency", &urgency},
        {"urgencyReason", &draft.urgencyReason},
        {"dossier", &draft.dossier},
    };
    for (const auto& [key, target] : fields) {
        if (!readString(object, QLatin1String(key), *target))
            return std::nullopt;
    }
    if (urgency != QLatin1String("urgent") && urgency != QLatin1String("normal"))
        return std::nullopt;
    draft.urgent = urgency == QLatin1String("urgent");
    std::optional<QString> decision;
    if (!readOptionalString(object, QLatin1String("decision"), decision))
        return std::nullopt;
    if (decision == QLatin1String("applied"))
        draft.decision = FollowUpDraft::Decision::Applied;
    else if (decision == QLatin1String("ignored"))
        draft.decision = FollowUpDraft::Decision::Ignored;
    else if (decision)
        return std::nullopt;
    return draft;
}

std::optional<CallRecord> readRecord(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    CallRecord record;
    const auto id = readUuid(object.value(QLatin1String("id")));
    if (!id)
        return std::nullopt;
    record.id = *id;
    const QJsonValue date = object.value(QLatin1String("date"));
    if (!date.isDouble())
        return std::nullopt;
    record.date = date.toDouble();
    if (!readString(object, QLatin1String("caller"), record.caller) ||
        !readString(object, QLatin1String("kind"), record.kind))
        return std::nullopt;
    const QJsonValue transcript = object.value(QLatin1String("transcript"));
    if (!transcript.isArray())
        return std::nullopt;
    const QJsonArray lines = transcript.toArray();
    record.transcript.reserve(lines.size());
    for (const QJsonValue& entry : lines) {
        auto line = readLine(entry);
        if (!line)
            return std::nullopt;
        record.transcript.append(std::move(*line));
    }
    if (!readString(object, QLatin1String("note"), record.note) ||
        !readOptionalString(object, QLatin1String("dossier"), record.dossier) ||
        !readOptionalString(object, QLatin1String("recordingFile"), record.recordingFile) ||
        !readOptionalString(object, QLatin1String("recordingError"), record.recordingError) ||
        !readOptionalString(object, QLatin1String("followUpStatus"), record.followUpStatus))
        return std::nullopt;
    const QJsonValue usage = object.value(QLatin1String("usage"));
    if (!usage.isUndefined() && !usage.isNull()) {
        record.usage = ConversationUsage::fromJson(usage);
        if (!record.usage)
            return std::nullopt;
    }
    const QJsonValue latency = object.value(QLatin1String("responseLatency"));
    if (!latency.isUndefined() && !latency.isNull()) {
        record.responseLatency = readResponseLatency(latency);
        if (!record.responseLatency)
            return std::nullopt;
    }
    const QJsonValue draft = object.value(QLatin1String("followUpDraft"));
    if (!draft.isUndefined() && !draft.isNull()) {
        record.followUpDraft = readFollowUpDraft(draft);
        if (!record.followUpDraft)
            return std::nullopt;
    }
    return record;
}

} // namespace

void appendString(QByteArray& out, const QString& text)
{
    const qsizetype length = text.size();
    // Worst case: every unit becomes a six-byte \u escape; trimmed back below.
    const qsizetype start = out.size();
    char* p = extend(out, length * 6 + 2);
    char* const begin = p;
    const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = s + length;
    *p++ = '"';
    while (s < end) {
        const char16_t c = *s++;
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\') {
                *p++ = char(c);
                continue;
            }
            *p++ = '\\';
            switch (c) {
            case '"':
                *p++ = '"';
                break;
            case '\\':
                *p++ = '\\';
                break;
            case '\n':
                *p++ = 'n';
                break;
            case '\r':
                *p++ = 'r';
                break;
            case '\t':
                *p++ = 't';
                break;
            case '\b':
                *p++ = 'b';
                break;
            case '\f':
                *p++ = 'f';
                break;
            default:
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 0xF];
                break;
            }
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            char32_t code = 0xFFFD;
            if (c <= 0xDBFF && s < end && *s >= 0xDC00 && *s <= 0xDFFF)
                code = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(*s++) - 0xDC00);
            if (code >= 0x10000) {
                *p++ = char(0xF0 | (code >> 18));
                *p++ = char(0x80 | ((code >> 12) & 0x3F));
                *p++ = char(0x80 | ((code >> 6) & 0x3F));
                *p++ = char(0x80 | (code & 0x3F));
            } else {
                *p++ = char(0xE0 | (code >> 12));
                *p++ = char(0x80 | ((code >> 6) & 0x3F));
                *p++ = char(0x80 | (code & 0x3F));
            }
        } else {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    *p++ = '"';
    out.resize(start + (p - begin));
}

void appendNumber(QByteArray& out, double value)
{
    if (!std::isfinite(value))
        throw AppError(QStringLiteral("Une date de l’historique n’est pas un nombre valide."));
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendRecord(QByteArray& out, const CallRecord& record)
{
    appendKey(out, "{\"id\":", true);
    appendUuid(out, record.id);
    appendKey(out, "\"date\":");
    appendNumber(out, record.date);
    appendKey(out, "\"caller\":");
    appendString(out, record.caller);
    appendKey(out, "\"kind\":");
    appendString(out, record.kind);
    appendKey(out, "\"transcript\":[");
    for (qsizetype i = 0; i < record.transcript.size(); ++i) {
        const TranscriptLine& line = record.transcript[i];
        out += i == 0 ? "{\"id\":" : ",{\"id\":";
        appendUuid(out, line.id);
        out += ",\"speaker\":";
        appendString(out, line.speaker);
        out += ",\"text\":";
        appendString(out, line.text);
        if (line.interrupted)
            out += ",\"interrupted\":true";
        out += '}';
    }
    out += ']';
    appendKey(out, "\"note\":");
    appendString(out, record.note);
    appendOptionalString(out, "\"dossier\":", record.dossier);
    appendOptionalString(out, "\"recordingFile\":", record.recordingFile);
    appendOptionalString(out, "\"recordingError\":", record.recordingError);
    if (record.usage) {
        appendKey(out, "\"usage\":");
        appendUsage(out, *record.usage);
    }
    appendOptionalString(out, "\"followUpStatus\":", record.followUpStatus);
    if (record.responseLatency) {
        appendKey(out, "\"responseLatency\":");
        appendResponseLatency(out, *record.responseLatency);
    }
    if (record.followUpDraft) {
        appendKey(out, "\"followUpDraft\":");
        appendFollowUpDraft(out, *record.followUpDraft);
    }
    out += '}';
}

QByteArray encodeRecord(const CallRecord& record)
{
    QByteArray out;
    qsizetype estimate = 400 + 3 * (record.caller.size() + record.kind.size() + record.note.size());
    for (const TranscriptLine& line : record.transcript)
        estimate += 80 + 3 * (line.speaker.size() + line.text.size());
    out.reserve(estimate);
    appendRecord(out, record);
    return out;
}

QByteArray encode(const QList<CallRecord>& records)
{
    // Room for the usual case (three UTF-8 bytes per UTF-16 unit at most, outside escapes), so the
    // buffer is not copied as it grows; untouched pages of the reservation cost nothing.
    qsizetype estimate = 2;
    for (const CallRecord& record : records) {
        estimate += 400 + 3 * (record.caller.size() + record.kind.size() + record.note.size());
        for (const TranscriptLine& line : record.transcript)
            estimate += 80 + 3 * (line.speaker.size() + line.text.size());
    }
    QByteArray out;
    out.reserve(estimate);
    out += '[';
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i > 0)
            out += ',';
        appendRecord(out, records[i]);
    }
    out += ']';
    return out;
}

std::optional<CallRecord> decodeRecord(const QByteArray& object)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(object, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return readRecord(document.object());
}

std::optional<QList<CallRecord>> decode(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    QList<CallRecord> records;
    records.reserve(array.size());
    for (const QJsonValue& value : array) {
        auto record = readRecord(value);
        if (!record)
            return std::nullopt;
        records.append(std::move(*record));
    }
    return records;
}

} // namespace HistoryCodec
