#include "app/records/HistoryCodec.h"
#include "app/common/Clock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <gtest/gtest.h>
#include <random>

namespace {

const QUuid kRecordId = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
const QUuid kLineId = QUuid::fromString(QStringLiteral("fedcba98-7654-4321-8fed-cba987654321"));

CallRecord minimalRecord()
{
    CallRecord record;
    record.id = kRecordId;
    record.date = 0;
    record.caller = QStringLiteral("06 12 34 56 78");
    record.kind = QStringLiteral("Appel");
    record.transcript = {TranscriptLine{kLineId, QStringLiteral("Orlea"), QStringLiteral("Bonjour")}};
    return record;
}

CallRecord fullRecord()
{
    CallRecord record = minimalRecord();
    record.note = QStringLiteral("Rappeler");
    record.dossier = QStringLiteral("SCI Lilas");
    record.recordingFile = QStringLiteral("Appel-1.wav");
    record.recordingError = QStringLiteral("Disque plein");
    record.usage = ConversationUsage{120, 80, 0.59, 1, QStringLiteral("gpt-realtime")};
    record.followUpStatus = QStringLiteral("En cours");
    return record;
}

QString toText(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

TEST(HistoryCodec, WritesTheExactCompactForm)
{
    const QByteArray expected =
        R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","date":0,"caller":"06 12 34 56 78","kind":"Appel",)"
        R"("transcript":[{"id":"FEDCBA98-7654-4321-8FED-CBA987654321","speaker":"Orlea","text":"Bonjour"}],)"
        R"("note":""}])";
    EXPECT_EQ(toText(HistoryCodec::encode({minimalRecord()})), toText(expected))
        << "upper-case UUIDs, date 0 as a bare number, absent optional keys left out (never null)";
    EXPECT_EQ(HistoryCodec::encode({}), QByteArray("[]"));
}

TEST(HistoryCodec, DatesCountFromTwoThousandOneAndReadBackExactly)
{
    CallRecord record = minimalRecord();
    record.date = secondsSinceReferenceDate(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_TRUE(HistoryCodec::encode({record}).contains(R"("date":0,)")) << "the reference instant is 0";

    record.date = secondsSinceReferenceDate(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 3, 250), Qt::UTC));
    EXPECT_TRUE(HistoryCodec::encode({record}).contains(R"("date":818431503.25,)"))
        << "seconds since 2001-01-01 UTC, not Unix time nor milliseconds: "
        << HistoryCodec::encode({record}).constData();

    record.date = -86400.5;
    EXPECT_TRUE(HistoryCodec::encode({record}).contains(R"("date":-86400.5,)")) << "before 2001 is negative";

    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> span(-1e9, 2e9);
    QList<CallRecord> records;
    for (int i = 0; i < 500; ++i) {
        record.date = span(random);
        records.append(record);
    }
    records[0].date = 1.0 / 3.0;
    records[1].date = 5e-324;
    const auto decoded = HistoryCodec::decode(HistoryCodec::encode(records));
    ASSERT_TRUE(decoded.has_value());
    for (qsizetype i = 0; i < records.size(); ++i)
        ASSERT_EQ((*decoded)[i].date, records[i].date) << "date " << i << " did not read back exactly";
}

TEST(HistoryCodec, WritesEveryFieldInOrderAndRoundTrips)
{
    const CallRecord record = fullRecord();
    const QString json = toText(HistoryCodec::encode({record}));
    const QStringList keys{"\"id\"",      "\"date\"",          "\"caller\"",
                           "\"kind\"",    "\"transcript\"",    "\"note\"",
                           "\"dossier\"", "\"recordingFile\"", "\"recordingError\"",
                           "\"usage\"",   "\"followUpStatus\""};
    qsizetype at = 0;
    for (const QString& key : keys) {
        const qsizetype found = json.indexOf(key + ':', at);
        ASSERT_GE(found, 0) << key.toStdString() << " missing or out of order in " << json.toStdString();
        at = found;
    }
    EXPECT_TRUE(json.contains(
        R"("usage":{"inputTokens":120,"outputTokens":80,"estimatedUSD":0.59,"pendingResponses":1,"model":"gpt-realtime"})"))
        << json.toStdString();

    const auto decoded = HistoryCodec::decode(HistoryCodec::encode({record, minimalRecord()}));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), 2);
    EXPECT_EQ((*decoded)[0], record);
    EXPECT_EQ((*decoded)[1], minimalRecord()) << "absent optionals stay absent";
}

TEST(HistoryCodec, InterruptedAnswersAndResponsivenessAreOptionalAdditions)
{
    // A file written before either was kept reads as it always did.
    const QByteArray older =
        R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","date":0,"caller":"06 12 34 56 78","kind":"Appel",)"
        R"("transcript":[{"id":"FEDCBA98-7654-4321-8FED-CBA987654321","speaker":"Orlea","text":"Bonjour"}],)"
        R"("note":"","followUpStatus":"En cours"}])";
    const auto old = HistoryCodec::decode(older);
    ASSERT_TRUE(old.has_value());
    EXPECT_FALSE((*old)[0].transcript[0].interrupted);
    EXPECT_FALSE((*old)[0].responseLatency.has_value());
    EXPECT_EQ(HistoryCodec::encode(*old), older) << "an old file is written back unchanged";

    CallRecord record = fullRecord();
    TranscriptLine cut = TranscriptLine::make(QStringLiteral("Orlea"), QStringLiteral("Je note votre"));
    cut.interrupted = true;
    record.transcript.append(cut);
    record.responseLatency = ResponseLatency{6, 900, 1400};
    const QString json = toText(HistoryCodec::encode({record}));
    EXPECT_EQ(json.count(QStringLiteral("\"interrupted\"")), 1) << "only the cut line says so";
    EXPECT_TRUE(json.contains(QStringLiteral(R"("text":"Je note votre","interrupted":true})")));
    EXPECT_TRUE(json.endsWith(QStringLiteral(
        R"("followUpStatus":"En cours","responseLatency":{"turns":6,"medianMs":900,"p90Ms":1400}}])")))
        << json.toStdString();
    const auto decoded = HistoryCodec::decode(HistoryCodec::encode({record}));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded)[0], record);

    // A summary's provision still pending when the call was saved stays marked as such.
    record.usage->pendingSummaries = 1;
    EXPECT_TRUE(toText(HistoryCodec::encode({record}))
                    .contains(QStringLiteral(
                        R"("pendingResponses":1,"model":"gpt-realtime","pendingSummaries":1})")));
    const auto provisioned = HistoryCodec::decode(HistoryCodec::encode({record}));
    ASSERT_TRUE(provisioned.has_value());
    EXPECT_EQ((*provisioned)[0], record);
}

TEST(HistoryCodec, EscapesEveryStringSafely)
{
    CallRecord record = minimalRecord();
    record.caller = QStringLiteral("« Dupont » \"cité\" \\ / \t\n\r\b\f") + QChar(0x01) + QChar(0x1F) +
                    QChar(0x7F) + QString::fromUtf8("😀 é ’") + QChar(0x2028);
    record.note = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b") + QChar(0xDC00) +
                  QStringLiteral("c") + QChar(0xDBFF); // lone surrogates, the last one at the very end
    const QByteArray bytes = HistoryCodec::encode({record});
    EXPECT_TRUE(isValidUtf8(bytes)) << "the file must always be valid UTF-8";
    for (char c : bytes)
        ASSERT_FALSE(uchar(c) < 0x20) << "a raw control character went into the file";

    const auto decoded = HistoryCodec::decode(bytes);
    ASSERT_TRUE(decoded.has_value()) << bytes.constData();
    EXPECT_EQ((*decoded)[0].caller, record.caller);
    const QChar replacement(0xFFFD);
    EXPECT_EQ((*decoded)[0].note, QStringLiteral("a") + replacement + QStringLiteral("b") + replacement +
                                      QStringLiteral("c") + replacement);
}

TEST(HistoryCodec, DecodingIsAllOrNothing)
{
    const QByteArray valid = HistoryCodec::encode({fullRecord(), minimalRecord()});
    ASSERT_TRUE(HistoryCodec::decode(valid).has_value());
    ASSERT_TRUE(HistoryCodec::decode("[]").has_value());
    EXPECT_TRUE(HistoryCodec::decode("[]")->isEmpty());

    // Each case breaks one thing in the second record; the whole file must be refused.
    struct Case {
        const char* what;
        std::function<void(QJsonObject&)> breakIt;
    };
    const std::vector<Case> cases{
        {"missing note", [](QJsonObject& o) { o.remove("note"); }},
        {"missing id", [](QJsonObject& o) { o.remove("id"); }},
        {"missing transcript", [](QJsonObject& o) { o.remove("transcript"); }},
        {"date as a string", [](QJsonObject& o) { o["date"] = "2026-12-08T14:05:03Z"; }},
        {"null note", [](QJsonObject& o) { o["note"] = QJsonValue::Null; }},
        {"caller as a number", [](QJsonObject& o) { o["caller"] = 3; }},
        {"id not a UUID", [](QJsonObject& o) { o["id"] = "0A1B2C3D"; }},
        {"id in braces", [](QJsonObject& o) { o["id"] = "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}"; }},
        {"dossier as a number", [](QJsonObject& o) { o["dossier"] = 12; }},
        {"followUpStatus as a bool", [](QJsonObject& o) { o["followUpStatus"] = true; }},
        {"usage without model",
         [](QJsonObject& o) {
             o["usage"] = QJsonObject{{"inputTokens", 1}, {"outputTokens", 1}, {"pendingResponses", 0}};
         }},
        {"line without text",
         [](QJsonObject& o) {
             o["transcript"] = QJsonArray{
                 QJsonObject{{"id", "FEDCBA98-7654-4321-8FED-CBA987654321"}, {"speaker", "Orlea"}}};
         }},
        {"line not an object", [](QJsonObject& o) { o["transcript"] = QJsonArray{"Bonjour"}; }},
        {"interrupted as a string",
         [](QJsonObject& o) {
             o["transcript"] = QJsonArray{QJsonObject{{"id", "FEDCBA98-7654-4321-8FED-CBA987654321"},
                                                      {"speaker", "Orlea"},
                                                      {"text", "Bonjour"},
                                                      {"interrupted", "oui"}}};
         }},
        {"responseLatency without p90Ms",
         [](QJsonObject& o) {
             o["responseLatency"] = QJsonObject{{"turns", 2}, {"medianMs", 900}};
         }},
        {"responseLatency with a fraction",
         [](QJsonObject& o) {
             o["responseLatency"] = QJsonObject{{"turns", 2}, {"medianMs", 900.5}, {"p90Ms", 1000}};
         }},
    };
    for (const Case& c : cases) {
        QJsonArray array = QJsonDocument::fromJson(valid).array();
        QJsonObject second = array[1].toObject();
        c.breakIt(second);
        array[1] = second;
        EXPECT_FALSE(HistoryCodec::decode(QJsonDocument(array).toJson()).has_value())
            << c.what << " should make the whole file unreadable";
    }
    EXPECT_FALSE(HistoryCodec::decode(R"({"records":[]})").has_value()) << "top level not an array";
    EXPECT_FALSE(HistoryCodec::decode("[1]").has_value()) << "element not an object";
    EXPECT_FALSE(HistoryCodec::decode(valid.left(valid.size() - 1)).has_value()) << "truncated file";
    EXPECT_FALSE(HistoryCodec::decode("").has_value()) << "empty file";
}

TEST(HistoryCodec, NullOrMissingOptionalsReadAsAbsent)
{
    QJsonArray array = QJsonDocument::fromJson(HistoryCodec::encode({fullRecord()})).array();
    QJsonObject object = array[0].toObject();
    for (const char* key : {"dossier", "recordingFile", "recordingError", "usage", "followUpStatus"})
        object[key] = QJsonValue::Null;
    array[0] = object;
    const auto decoded = HistoryCodec::decode(QJsonDocument(array).toJson());
    ASSERT_TRUE(decoded.has_value());
    const CallRecord& record = (*decoded)[0];
    EXPECT_FALSE(record.dossier || record.recordingFile || record.recordingError || record.usage ||
                 record.followUpStatus);
    const QByteArray again = HistoryCodec::encode(*decoded);
    EXPECT_FALSE(again.contains("null")) << again.constData();
    EXPECT_FALSE(again.contains("dossier") || again.contains("usage") || again.contains("followUpStatus"));

    // Lower-case UUIDs written by another tool are still UUIDs; this program writes them upper case.
    const QByteArray lower = HistoryCodec::encode({minimalRecord()}).toLower().replace("appel", "Appel");
    const auto fromLower = HistoryCodec::decode(lower);
    ASSERT_TRUE(fromLower.has_value());
    EXPECT_EQ((*fromLower)[0].id, kRecordId);
}

// The start-up reader takes records in the encoder's own form straight from the bytes and keeps those
// bytes for the next save. Whatever the file holds, it must read exactly what the plain reader reads,
// and keep only bytes that are the record's own encoding.
TEST(HistoryCodec, TheFastReaderReadsWhatThePlainReaderReads)
{
    CallRecord odd = fullRecord();
    odd.id = QUuid::createUuid();
    odd.date = -1234.5e-3;
    odd.caller = QStringLiteral("« Dupont » \"cité\" \\ / \t\n\r\b\f") + QChar(0x01) + QChar(0x1F) +
                 QChar(0) + QChar(0x7F) + QString::fromUtf8("😀 é ’ œ") + QChar(0x2028) + QChar(0xD800);
    odd.usage = ConversationUsage{-3, 999'999'999'999'999, std::nullopt, 0, QStringLiteral("m")};
    CallRecord big = minimalRecord();
    big.id = QUuid::createUuid();
    big.date = 1e300;
    big.transcript.clear();
    CallRecord timed = fullRecord();
    timed.id = QUuid::createUuid();
    timed.transcript[0].interrupted = true;
    timed.responseLatency = ResponseLatency{6, 900, 1400};
    CallRecord drafted = fullRecord();
    drafted.id = QUuid::createUuid();
    drafted.usage->pendingSummaries = 1;
    drafted.followUpDraft = FollowUpDraft{QStringLiteral("Claire « Martin »"),
                                          QString(),
                                          QStringLiteral("12 rue des Lilas"),
                                          QStringLiteral("Fuite d’eau\nsous l’évier."),
                                          true,
                                          QStringLiteral("Fuite en cours"),
                                          QStringLiteral("SCI Lilas"),
                                          std::nullopt};
    CallRecord decided = drafted;
    decided.id = QUuid::createUuid();
    decided.usage->pendingSummaries = 0;
    decided.followUpDraft->urgent = false;
    decided.followUpDraft->decision = FollowUpDraft::Decision::Applied;
    CallRecord ignored = decided;
    ignored.id = QUuid::createUuid();
    ignored.followUpDraft->decision = FollowUpDraft::Decision::Ignored;
    QList<CallRecord> records{fullRecord(), minimalRecord(), odd, big, timed, drafted, decided, ignored};
    for (double date : {0.25, 818431503.25, 9007199254740993.0, -0.0}) {
        CallRecord dated = minimalRecord();
        dated.id = QUuid::createUuid();
        dated.date = date;
        records.append(dated);
    }

    // One thing changed in the second of two records, or in the file around them.
    const QByteArray first = HistoryCodec::encodeRecord(fullRecord());
    const QByteArray second = HistoryCodec::encodeRecord(minimalRecord());
    auto withSecond = [&](const QByteArray& changed) { return "[" + first + "," + changed + "]"; };
    auto changedSecond = [&](const char* from, const char* to) {
        return withSecond(QByteArray(second).replace(from, to));
    };
    const QByteArray id = uuidText(kRecordId).toLatin1();
    struct Case {
        const char* what;
        QByteArray file;
        int kept; // records whose bytes are kept; -1 when the file is unreadable
    };
    const std::vector<Case> cases{
        {"as written, every kind of value", HistoryCodec::encode(records), 11}, // -0 reads back as 0
        {"summary provision written 0",
         changedSecond("\"note\":\"\"", "\"note\":\"\",\"usage\":{\"inputTokens\":1,\"outputTokens\":2,"
                                        "\"pendingResponses\":0,\"model\":\"m\",\"pendingSummaries\":0}"),
         1},
        {"draft decision null",
         changedSecond("\"note\":\"\"",
                       "\"note\":\"\",\"followUpDraft\":{\"callerName\":\"\",\"callbackNumber\":\"\","
                       "\"address\":\"\",\"request\":\"r\",\"urgency\":\"normal\","
                       "\"urgencyReason\":\"\",\"dossier\":\"d\",\"decision\":null}"),
         1},
        {"draft of an unknown urgency",
         changedSecond("\"note\":\"\"",
                       "\"note\":\"\",\"followUpDraft\":{\"callerName\":\"\",\"callbackNumber\":\"\","
                       "\"address\":\"\",\"request\":\"r\",\"urgency\":\"Urgent\","
                       "\"urgencyReason\":\"\",\"dossier\":\"d\"}"),
         -1},
        {"two plain records", withSecond(second), 2},
        {"blanks inside", changedSecond(",", " , "), 1},
        {"lower-case id", changedSecond(id.constData(), id.toLower().constData()), 1},
        {"null dossier", changedSecond("}]", "}],\"dossier\":null"), 1},
        {"keys in another order",
         withSecond(QByteArray(second)
                        .replace("\"kind\":\"Appel\",", "")
                        .replace("\"note\":\"\"", "\"note\":\"\",\"kind\":\"Appel\"")),
         1},
        {"unknown key", changedSecond("\"note\":", "\"mood\":[1,{\"a\":\"]}\\\"\"}],\"note\":"), 1},
        {"escaped accent", changedSecond("Bonjour", "Bonj\\u00f4ur\\/"), 1},
        {"date written 0.0", changedSecond("\"date\":0", "\"date\":0.0"), 1},
        {"date written 1E3", changedSecond("\"date\":0", "\"date\":1E3"), 1},
        {"usage counts written 1.0",
         changedSecond("\"note\":\"\"", "\"note\":\"\",\"usage\":{\"inputTokens\":1.0,\"outputTokens\":2,"
                                        "\"pendingResponses\":0,\"model\":\"m\"}"),
         1},
        {"blanks around the array", " " + withSecond(second) + "\n", 0},
        {"empty array", "[]", 0},
        {"trailing garbage", withSecond(second) + "]", -1},
        {"trailing comma", "[" + first + "," + second + ",]", -1},
        {"missing note", changedSecond(",\"note\":\"\"", ""), -1},
        {"raw control character", changedSecond("Bonjour", "Bon\x01jour"), 1},
        {"invalid UTF-8", changedSecond("Bonjour", "Bon\xC3jour"), -1},
        {"not an array", "{\"records\":[]}", -1},
        {"element not an object", "[" + first + ",1]", -1},
        {"truncated", withSecond(second).chopped(2), -1},
        {"empty file", "", -1},
    };
    for (const Case& c : cases) {
        const auto plain = HistoryCodec::decode(c.file);
        const auto quick = HistoryCodec::decodeKeepingJson(c.file);
        ASSERT_EQ(quick.has_value(), plain.has_value()) << c.what;
        EXPECT_EQ(plain.has_value(), c.kept >= 0) << c.what;
        if (!plain)
            continue;
        EXPECT_EQ(quick->records, *plain) << c.what;
        ASSERT_EQ(quick->json.size(), plain->size()) << c.what;
        int kept = 0;
        for (qsizetype i = 0; i < plain->size(); ++i) {
            if (quick->json[i].isEmpty())
                continue;
            ++kept;
            EXPECT_EQ(quick->json[i], HistoryCodec::encodeRecord((*plain)[i])) << c.what << ", record " << i;
        }
        EXPECT_EQ(kept, c.kept) << c.what;
    }
}
