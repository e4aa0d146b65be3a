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
