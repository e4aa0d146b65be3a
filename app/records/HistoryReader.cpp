// The fast way through a history file this program wrote: each record object is read straight from the
// bytes in exactly the form `appendRecord` writes, and those bytes are kept to be written again as they
// are. A record in any other form (written by hand, by an older version, or with keys this reader does
// not know) is read by the plain reader and encoded afresh on the next save; a file that is not one
// array of objects is read by the plain reader as a whole. Either way the records are those `decode`
// gives.
#include "app/records/HistoryCodec.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace HistoryCodec {

namespace {

// The few texts repeated on every line or record (the speakers, the kind of call) are read once and
// shared, rather than allocated again hundreds of thousands of times in a long history.
class Repeats {
public:
    // The text of the plain (escape-free) UTF-8 bytes, shared with earlier identical bytes.
    const QString& text(const char* bytes, qsizetype size)
    {
        for (Entry& entry : m_entries)
            if (entry.bytes.size() == size && std::memcmp(entry.bytes.constData(), bytes, size_t(size)) == 0)
                return entry.text;
        Entry& entry = m_entries[m_next++ % kEntries];
        entry.bytes = QByteArray(bytes, size);
        entry.text = QString::fromUtf8(entry.bytes);
        return entry.text;
    }

private:
    static constexpr int kEntries = 8;
    struct Entry {
        QByteArray bytes;
        QString text;
    };
    Entry m_entries[kEntries];
    int m_next = 0;
};

class RecordReader {
public:
    RecordReader(const char* begin, const char* end, Repeats& repeats)
        : m_p(begin), m_end(end), m_repeats(repeats)
    {
    }

    const char* position() const { return m_p; }

    // One record object in the encoder's form; false at the first byte that differs from it.
    bool record(CallRecord& record)
    {
        if (!literal("{\"id\":") || !uuid(record.id) || !literal(",\"date\":") || !number(record.date) ||
            !literal(",\"caller\":") || !string(record.caller) || !literal(",\"kind\":") ||
            !string(record.kind, Share::Yes) || !literal(",\"transcript\":["))
            return false;
        if (!peek(']')) {
            do {
                TranscriptLine line;
                if (!literal("{\"id\":") || !uuid(line.id) || !literal(",\"speaker\":") ||
                    !string(line.speaker, Share::Yes) || !literal(",\"text\":") || !string(line.text))
                    return false;
                line.interrupted = literal(",\"interrupted\":true");
                if (!literal("}"))
                    return false;
                record.transcript.append(std::move(line));
            } while (literal(","));
        }
        if (!literal("],\"note\":") || !string(record.note))
            return false;
        if (literal(",\"dossier\":") && !optionalString(record.dossier))
            return false;
        if (literal(",\"recordingFile\":") && !optionalString(record.recordingFile))
            return false;
        if (literal(",\"recordingError\":") && !optionalString(record.recordingError))
            return false;
        if (literal(",\"usage\":") && !usage(record.usage))
            return false;
        if (literal(",\"followUpStatus\":") && !optionalString(record.followUpStatus))
            return false;
        if (literal(",\"responseLatency\":") && !responseLatency(record.responseLatency))
            return false;
        if (literal(",\"followUpDraft\":") && !followUpDraft(record.followUpDraft))
            return false;
        return literal("}");
    }

private:
    bool peek(char c) const { return m_p < m_end && *m_p == c; }

    bool literal(const char* text)
    {
        const size_t length = std::strlen(text);
        if (size_t(m_end - m_p) < length || std::memcmp(m_p, text, length) != 0)
            return false;
        m_p += length;
        return true;
    }

    // The 36 upper-case characters between quotes.
    bool uuid(QUuid& id)
    {
        if (m_end - m_p < 38 || m_p[0] != '"' || m_p[37] != '"')
            return false;
        uchar bytes[16];
        int count = 0;
        for (int i = 1; i <= 36; i += 2) {
            if (i == 9 || i == 14 || i == 19 || i == 24) {
                if (m_p[i] != '-')
                    return false;
                ++i;
            }
            const int high = hexDigit(m_p[i]);
            const int low = hexDigit(m_p[i + 1]);
            if (high < 0 || low < 0)
                return false;
            bytes[count++] = uchar(high << 4 | low);
        }
        id = QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(bytes), 16));
        m_p += 38;
        return true;
    }

    // 0..15 for the upper-case hex digits the encoder writes, -1 for any other byte.
    static int hexDigit(char c) { return kHexDigits[uchar(c)]; }

    static constexpr std::array<qint8, 256> kHexDigits = [] {
        std::array<qint8, 256> table{};
        for (int c = 0; c < 256; ++c)
            table[size_t(c)] = c >= '0' && c <= '9'   ? qint8(c - '0')
                               : c >= 'A' && c <= 'F' ? qint8(c - 'A' + 10)
                                                      : -1;
        return table;
    }();

    // Steps over plain ASCII eight bytes at a time: text without quotes, backslashes, controls or
    // multi-byte characters, which is most of what a transcript holds.
    void skipPlainRun()
    {
        constexpr quint64 kOnes = 0x0101010101010101ULL;
        constexpr quint64 kHighs = 0x8080808080808080ULL;
        auto hasZero = [](quint64 v) { return (v - kOnes) & ~v & kHighs; };
        while (m_end - m_p >= 8) {
            quint64 word;
            std::memcpy(&word, m_p, 8);
            const quint64 special = (word & kHighs) | ((word - 0x20 * kOnes) & ~word & kHighs) |
                                    hasZero(word ^ ('"' * kOnes)) | hasZero(word ^ ('\\' * kOnes));
            if (special)
                return;
            m_p += 8;
        }
    }

    // A number as the encoder writes it: the shortest text that reads back as the same double.
    bool number(double& value)
    {
        const char* start = m_p;
        while (m_p < m_end && (std::isdigit(uchar(*m_p)) || *m_p == '-' || *m_p == '+' || *m_p == '.' ||
                               *m_p == 'e' || *m_p == 'E'))
            ++m_p;
        if (m_p == start || *start == '+')
            return false;
        const auto parsed = std::from_chars(start, m_p, value);
        if (parsed.ec != std::errc() || parsed.ptr != m_p || !std::isfinite(value))
            return false;
        // A negative zero reads back as zero elsewhere.
        if (value == 0 && std::signbit(value))
            return false;
        char buffer[32];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
        return written.ptr - buffer == m_p - start && std::memcmp(buffer, start, size_t(m_p - start)) == 0;
    }

    // A whole number as the encoder writes token counts, small enough to be exact as a double.
    bool integer(qint64& value)
    {
        const char* start = m_p;
        if (peek('-'))
            ++m_p;
        const char* digits = m_p;
        while (m_p < m_end && std::isdigit(uchar(*m_p)))
            ++m_p;
        const qsizetype count = m_p - digits;
        if (count == 0 || count > 15 || (count > 1 && *digits == '0'))
            return false;
        const auto parsed = std::from_chars(start, m_p, value);
        // "-0" reads back as 0 and is written so.
        return parsed.ec == std::errc() && parsed.ptr == m_p && !(value == 0 && *start == '-');
    }

    enum class Share { No, Yes };

    // A string as the encoder writes it: UTF-8 as is, the short escapes, \u00xx for other controls.
    bool string(QString& text, Share share = Share::No)
    {
        if (!peek('"'))
            return false;
        const char* start = ++m_p;
        bool escaped = false;
        while (m_p < m_end) {
            skipPlainRun();
            if (m_p >= m_end)
                break;
            const uchar c = uchar(*m_p);
            if (c == '"')
                break;
            if (c == '\\') {
                escaped = true;
                if (m_end - m_p < 2)
                    return false;
                const char e = m_p[1];
                if (e == '"' || e == '\\' || e == 'n' || e == 'r' || e == 't' || e == 'b' || e == 'f') {
                    m_p += 2;
                } else if (e == 'u') {
                    // Only controls without a short form come as \u00xx, in lower-case hex.
                    if (m_end - m_p < 6 || m_p[2] != '0' || m_p[3] != '0' || (m_p[4] != '0' && m_p[4] != '1'))
                        return false;
                    const char h = m_p[5];
                    if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f')))
                        return false;
                    const int code = (m_p[4] - '0') * 16 + (h <= '9' ? h - '0' : h - 'a' + 10);
                    if (code == '\b' || code == '\f' || code == '\n' || code == '\r' || code == '\t')
                        return false;
                    m_p += 6;
                } else {
                    return false;
                }
            } else if (c < 0x20) {
                return false;
            } else if (c < 0x80) {
                ++m_p;
            } else if (!utf8Character()) {
                return false;
            }
        }
        if (m_p >= m_end)
            return false;
        const char* end = m_p++;
        if (!escaped) {
            text = share == Share::Yes ? m_repeats.text(start, end - start)
                                       : QString::fromUtf8(start, end - start);
            return true;
        }
        QByteArray plain;
        plain.reserve(end - start);
        for (const char* s = start; s < end;) {
            if (*s != '\\') {
                plain += *s++;
                continue;
            }
            switch (s[1]) {
            case 'n':
                plain += '\n';
                break;
            case 'r':
                plain += '\r';
                break;
            case 't':
                plain += '\t';
                break;
            case 'b':
                plain += '\b';
                break;
            case 'f':
                plain += '\f';
                break;
            case 'u':
                plain += char((s[4] - '0') * 16 + (s[5] <= '9' ? s[5] - '0' : s[5] - 'a' + 10));
                s += 6;
                continue;
            default: // '"' and '\\'
                plain += s[1];
                break;
            }
            s += 2;
        }
        text = QString::fromUtf8(plain);
        return true;
    }

    // One well-formed multi-byte UTF-8 character: no overlong form, no surrogate, nothing past U+10FFFF.
    bool utf8Character()
    {
        const uchar c = uchar(*m_p);
        int extra;
        char32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (m_end - m_p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            const uchar next = uchar(m_p[i]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        m_p += extra + 1;
        return true;
    }

    bool optionalString(std::optional<QString>& target)
    {
        QString text;
        if (!string(text))
            return false;
        target = std::move(text);
        return true;
    }

    bool usage(std::optional<ConversationUsage>& target)
    {
        ConversationUsage usage;
        if (!literal("{\"inputTokens\":") || !integer(usage.inputTokens) || !literal(",\"outputTokens\":") ||
            !integer(usage.outputTokens))
            return false;
        if (literal(",\"estimatedUSD\":")) {
            double estimate = 0;
            if (!number(estimate))
                return false;
            usage.estimatedUSD = estimate;
        }
        if (!literal(",\"pendingResponses\":") || !integer(usage.pendingResponses) ||
            !literal(",\"model\":") || !string(usage.model))
            return false;
        // Written only when some are pending: a zero or a negative count is not the encoder's form.
        if (literal(",\"pendingSummaries\":") &&
            (!integer(usage.pendingSummaries) || usage.pendingSummaries <= 0))
            return false;
        if (!literal("}"))
            return false;
        target = std::move(usage);
        return true;
    }

    bool followUpDraft(std::optional<FollowUpDraft>& target)
    {
        FollowUpDraft draft;
        if (!literal("{\"callerName\":") || !string(draft.callerName) || !literal(",\"callbackNumber\":") ||
            !string(draft.callbackNumber) || !literal(",\"address\":") || !string(draft.address) ||
            !literal(",\"request\":") || !string(draft.request))
            return false;
        if (literal(",\"urgency\":\"urgent\""))
            draft.urgent = true;
        else if (!literal(",\"urgency\":\"normal\""))
            return false;
        if (!literal(",\"urgencyReason\":") || !string(draft.urgencyReason) || !literal(",\"dossier\":") ||
            !string(draft.dossier))
            return false;
        if (literal(",\"decision\":\"applied\""))
            draft.decision = FollowUpDraft::Decision::Applied;
        else if (literal(",\"decision\":\"ignored\""))
            draft.decision = FollowUpDraft::Decision::Ignored;
        if (!literal("}"))
            return false;
        target = std::move(draft);
        return true;
    }

    bool responseLatency(std::optional<ResponseLatency>& target)
    {
        // The plain reader takes only values that fit an int; anything else goes to it.
        auto count = [this](int& value) {
            qint64 read = 0;
            if (!integer(read) || read < std::numeric_limits<int>::min() ||
                read > std::numeric_limits<int>::max())
                return false;
            value = int(read);
            return true;
        };
        ResponseLatency latency;
        if (!literal("{\"turns\":") || !count(latency.turns) || !literal(",\"medianMs\":") ||
            !count(latency.medianMs) || !literal(",\"p90Ms\":") || !count(latency.p90Ms) || !literal("}"))
            return false;
        target = latency;
        return true;
    }

    const char* m_p;
    const char* m_end;
    Repeats& m_repeats;
};

// The end of the JSON value starting at `p` (an object or an array), found by its brackets outside
// strings; nullptr when there is none or it nests deeper than any record could.
const char* endOfValue(const char* p, const char* end)
{
    int depth = 0;
    bool inString = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (inString) {
            if (c == '\\')
                ++p;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > 64)
                return nullptr;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                return p + 1;
        }
    }
    return nullptr;
}

std::optional<Decoded> decodePlainly(const QByteArray& bytes)
{
    std::optional<QList<CallRecord>> records = decode(bytes);
    if (!records)
        return std::nullopt;
    Decoded decoded;
    decoded.json.resize(records->size());
    decoded.records = std::move(*records);
    return decoded;
}

} // namespace

std::optional<Decoded> decodeKeepingJson(const QByteArray& bytes)
{
    const char* const begin = bytes.constData();
    const char* const end = begin + bytes.size();
    // Only the encoder's own framing, "[" records joined by "," then "]", is taken apart here.
    if (bytes.size() < 2 || *begin != '[' || end[-1] != ']')
        return decodePlainly(bytes);
    Decoded decoded;
    Repeats repeats;
    const char* p = begin + 1;
    if (p == end - 1)
        return decoded;
    while (true) {
        if (*p != '{')
            return decodePlainly(bytes);
        CallRecord record;
        RecordReader reader(p, end, repeats);
        QByteArray json;
        if (reader.record(record)) {
            json = QByteArray(p, reader.position() - p);
            p = reader.position();
        } else {
            const char* objectEnd = endOfValue(p, end);
            if (!objectEnd)
                return decodePlainly(bytes);
            std::optional<CallRecord> plain = decodeRecord(QByteArray::fromRawData(p, objectEnd - p));
            if (!plain)
                return decodePlainly(bytes);
            record = std::move(*plain);
            p = objectEnd;
        }
        decoded.records.append(std::move(record));
        decoded.json.append(std::move(json));
        if (p >= end)
            return decodePlainly(bytes);
        if (*p == ']' && p + 1 == end)
            return decoded;
        if (*p != ',')
            return decodePlainly(bytes);
        ++p;
    }
}

} // namespace HistoryCodec
