#include "app/records/FollowUpDraft.h"

#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/records/HistoryCodec.h"
#include "app/records/HistoryStore.h"
#include "tests/support/TestDataHome.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

QJsonObject answer()
{
    return QJsonObject{{"caller_name", "Claire Martin"},
                       {"callback_number", "06 12 34 56 78"},
                       {"address", "12 rue des Lilas, appartement 4"},
                       {"request", "Fuite d’eau sous l’évier de la cuisine."},
                       {"urgency", "urgent"},
                       {"urgency_reason", "Fuite d’eau en cours"},
                       {"dossier", "lilas"}};
}

QString text(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject with(const char* key, const QJsonValue& value)
{
    QJsonObject object = answer();
    if (value.isUndefined())
        object.remove(QLatin1String(key));
    else
        object.insert(QLatin1String(key), value);
    return object;
}

FollowUpDraft sampleDraft()
{
    auto parsed = FollowUpDraft::fromAnswer(text(answer()), {});
    return std::get<FollowUpDraft>(parsed);
}

CallRecord call()
{
    CallRecord record;
    record.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    record.date = 818431503.25;
    record.caller = QStringLiteral("06 12 34 56 78");
    record.kind = QStringLiteral("Appel");
    record.transcript = {TranscriptLine::make(QStringLiteral("Interlocuteur"), QStringLiteral("Une fuite."))};
    return record;
}

} // namespace

TEST(FollowUpDraft, OnlyAWellFormedAnswerWithinItsLimitsBecomesADraft)
{
    const QStringList existing{"Lilas", "Résidence Les Tilleuls"};
    const FollowUpDraft good = std::get<FollowUpDraft>(FollowUpDraft::fromAnswer(text(answer()), existing));
    EXPECT_EQ(good.callerName, "Claire Martin");
    EXPECT_EQ(good.callbackNumber, "06 12 34 56 78");
    EXPECT_TRUE(good.urgent);
    EXPECT_EQ(good.dossier, "Lilas") << "an existing dossier is reused as it is spelt";
    EXPECT_EQ(std::get<FollowUpDraft>(
                  FollowUpDraft::fromAnswer(text(with("dossier", "residence les tilleuls")), existing))
                  .dossier,
              "Résidence Les Tilleuls");

    const QString longest(FollowUpDraft::kMaxFieldCharacters, QLatin1Char('x'));
    QJsonObject unsaid = answer();
    unsaid.insert("caller_name", "");
    unsaid.insert("callback_number", QJsonValue::Null);
    struct Case {
        const char* what;
        QString answer;
        const char* refusal; // nullptr: accepted
    };
    const Case cases[] = {
        {"wrapped in a code block", "```json\n" + text(answer()) + "\n```", nullptr},
        {"name and number not said", text(unsaid), nullptr},
        {"a field of exactly the limit", text(with("request", longest)), nullptr},
        {"nothing", QString(), "réponse illisible"},
        {"not JSON", "Voici le résumé : fuite d’eau.", "réponse illisible"},
        {"cut short", text(answer()).left(60), "réponse illisible"},
        {"an array", "[" + text(answer()) + "]", "réponse illisible"},
        {"over 4,000 characters", text(answer()) + QString(4000, QLatin1Char(' ')), "réponse trop longue"},
        {"a field over 500", text(with("address", longest + "x")), "champ « address » trop long"},
        {"a number for a text", text(with("request", 12)), "champ « request » invalide"},
        {"an unknown urgency", text(with("urgency", "très urgent")), "urgence « très urgent » inconnue"},
        {"no request", text(with("request", QJsonValue::Undefined)), "demande absente"},
        {"a blank dossier", text(with("dossier", " \n ")), "dossier suggéré vide"},
        {"no dossier", text(with("dossier", QJsonValue::Undefined)), "dossier suggéré vide"},
        {"the filter of urgent calls", text(with("dossier", "Urgents")),
         "dossier suggéré « Urgents » réservé"},
        {"every dossier", text(with("dossier", " Tous les dossiers ")), "réservé"},
        {"the unfiled calls", text(with("dossier", "Appels non classés")), "réservé"},
    };
    for (const Case& c : cases) {
        const auto parsed = FollowUpDraft::fromAnswer(c.answer, existing);
        if (!c.refusal) {
            EXPECT_TRUE(std::holds_alternative<FollowUpDraft>(parsed))
                << c.what << ": " << std::get<QString>(parsed).toStdString();
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<QString>(parsed)) << c.what << " must be refused";
        EXPECT_TRUE(std::get<QString>(parsed).contains(QString::fromUtf8(c.refusal)))
            << c.what << ": " << std::get<QString>(parsed).toStdString();
    }
}

TEST(FollowUpDraft, IsKeptAsAnOptionalAdditionAndSummedUpAboveTheTranscript)
{
    CallRecord record = call();
    const QByteArray without = HistoryCodec::encode({record});
    EXPECT_FALSE(without.contains("followUpDraft")) << "older readers see the file they know";
    EXPECT_FALSE(record.transcriptDocument().contains("RÉSUMÉ"));

    record.followUpDraft = sampleDraft();
    record.followUpDraft->dossier = QStringLiteral("Lilas");
    const QByteArray json = HistoryCodec::encode({record});
    EXPECT_TRUE(
        json.endsWith(R"("followUpDraft":{"callerName":"Claire Martin","callbackNumber":"06 12 34 56 78",)"
                      R"("address":"12 rue des Lilas, appartement 4",)"
                      R"("request":"Fuite d’eau sous l’évier de la cuisine.","urgency":"urgent",)"
                      R"("urgencyReason":"Fuite d’eau en cours","dossier":"Lilas"}}])"))
        << json.constData();
    for (const auto decision : {FollowUpDraft::Decision::Applied, FollowUpDraft::Decision::Ignored}) {
        record.followUpDraft->decision = decision;
        const auto decoded = HistoryCodec::decode(HistoryCodec::encode({record}));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ((*decoded)[0], record);
    }
    const QByteArray decided = HistoryCodec::encode({record});
    for (const auto& [from, to] :
         {std::pair<QByteArray, QByteArray>{R"("urgency":"urgent")", R"("urgency":"haute")"},
          {R"("decision":"ignored")", R"("decision":"plus tard")"},
          {R"("callerName":"Claire Martin",)", ""}}) {
        QByteArray damaged = decided;
        damaged.replace(from, to);
        EXPECT_FALSE(HistoryCodec::decode(damaged).has_value()) << damaged.constData();
    }

    // Above the lines; a field the caller never gave is left out rather than shown empty.
    record.followUpDraft->callbackNumber.clear();
    const QString document = record.transcriptDocument();
    EXPECT_TRUE(document.contains("\nÉtat : À traiter\n\nRÉSUMÉ (proposé par l’IA)\n"
                                  "Appelant : Claire Martin\n"
                                  "Logement : 12 rue des Lilas, appartement 4\n"
                                  "Demande : Fuite d’eau sous l’évier de la cuisine.\n"
                                  "Urgence : Urgent · Fuite d’eau en cours\n"
                                  "Dossier suggéré : Lilas\n\nTRANSCRIPTION\n"))
        << document.toStdString();
}

TEST(FollowUpDraft, ApplyingFilesTheCallWithoutTouchingAWrittenNote)
{
    TestDataHome home;
    ManualClock clock;
    QStringList errors;
    HistoryStore store(clock, [&](const QString& message) { errors << message; });
    struct Case {
        const char* what;
        QString note;
        QString noteAfter;
    };
    const QString request = sampleDraft().request;
    const Case cases[] = {{"empty note", "", request},
                          {"blank note", " \n", request},
                          {"the manager's note", "Rappeler M. Durand", "Rappeler M. Durand"}};
    for (const Case& c : cases) {
        CallRecord record = call();
        record.id = QUuid::createUuid();
        record.note = c.note;
        record.dossier = QStringLiteral("Ancien dossier");
        record.followUpStatus = FollowUp::kDone;
        record.followUpDraft = sampleDraft();
        store.insert(record);
        ASSERT_TRUE(store.applyFollowUpDraft(record.id)) << c.what;
        const CallRecord& applied = *store.find(record.id);
        EXPECT_EQ(applied.note, c.noteAfter) << c.what;
        EXPECT_EQ(applied.dossier, std::optional<QString>("lilas")) << c.what;
        EXPECT_EQ(applied.statusLabel(), "À traiter") << c.what;
        EXPECT_EQ(applied.followUpDraft->decision, FollowUpDraft::Decision::Applied);
        EXPECT_FALSE(store.applyFollowUpDraft(record.id)) << "a suggestion is taken once";
        EXPECT_FALSE(store.ignoreFollowUpDraft(record.id));
    }

    CallRecord ignored = call();
    ignored.id = QUuid::createUuid();
    ignored.followUpDraft = sampleDraft();
    store.insert(ignored);
    ASSERT_TRUE(store.ignoreFollowUpDraft(ignored.id));
    CallRecord expected = ignored;
    expected.followUpDraft->decision = FollowUpDraft::Decision::Ignored;
    EXPECT_EQ(*store.find(ignored.id), expected) << "ignoring changes nothing but the suggestion's state";

    CallRecord bare = call();
    bare.id = QUuid::createUuid();
    store.insert(bare);
    EXPECT_FALSE(store.applyFollowUpDraft(bare.id));
    EXPECT_FALSE(store.ignoreFollowUpDraft(bare.id));
    EXPECT_EQ(*store.find(bare.id), bare);

    HistoryStore reader(clock, {});
    reader.load();
    EXPECT_EQ(reader.records(), store.records()) << "decisions are saved";
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
}
