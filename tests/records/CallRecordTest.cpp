#include "app/records/CallRecord.h"
#include "app/common/Clock.h"

#include <gtest/gtest.h>

namespace {
CallRecord sample()
{
    CallRecord record;
    record.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    // 14:05:03 on the Mac's own clock, whatever its time zone.
    record.date =
        secondsSinceReferenceDate(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 3, 900), Qt::LocalTime));
    record.caller = QStringLiteral("Mme Durand 06 12 34 56 78");
    record.kind = QStringLiteral("Appel");
    record.transcript = {TranscriptLine::make("Orlea", "Bonjour, que puis-je faire ?"),
                         TranscriptLine::make("Interlocuteur", "Une fuite.\nAu 12 rue des Lilas.")};
    record.note = QStringLiteral("Rappeler");
    record.dossier = QStringLiteral("SCI Lilas");
    record.followUpStatus = QStringLiteral("En cours");
    return record;
}
} // namespace

TEST(CallRecord, DerivedLabels)
{
    CallRecord record = sample();
    EXPECT_EQ(record.reference(), "0A1B2C3D") << "first 8 characters of the upper-case UUID";
    EXPECT_EQ(record.phoneLabel(), "06 12 34 56 78");
    EXPECT_EQ(record.folderLabel(), "SCI Lilas");
    EXPECT_EQ(record.statusLabel(), "En cours");
    record.caller = QStringLiteral("Numéro masqué");
    record.dossier.reset();
    record.followUpStatus.reset();
    EXPECT_EQ(record.phoneLabel(), "Non communiqué");
    EXPECT_EQ(record.folderLabel(), "Non classé");
    EXPECT_EQ(record.statusLabel(), "À traiter");
}

TEST(CallRecord, TranscriptDocument)
{
    const CallRecord record = sample();
    EXPECT_EQ(record.transcriptDocument(), QStringLiteral("TRANSCRIPTION D’APPEL — ORLEA\n"
                                                          "Référence : 0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\n"
                                                          "Date : mardi 8 décembre 2026 à 14:05:03\n"
                                                          "Type : Appel\n"
                                                          "Interlocuteur : Mme Durand 06 12 34 56 78\n"
                                                          "Numéro affiché : 06 12 34 56 78\n"
                                                          "Dossier : SCI Lilas\n"
                                                          "État : En cours\n"
                                                          "\n"
                                                          "TRANSCRIPTION\n"
                                                          "Orlea : Bonjour, que puis-je faire ?\n"
                                                          "\n"
                                                          "Interlocuteur : Une fuite.\nAu 12 rue des Lilas.\n"
                                                          "\n"
                                                          "NOTE DU GESTIONNAIRE\n"
                                                          "Rappeler"));

    CallRecord bare = record;
    bare.caller = QStringLiteral("Essai sur ce Mac");
    bare.transcript.clear();
    bare.note.clear();
    bare.dossier.reset();
    bare.followUpStatus.reset();
    const QString document = bare.transcriptDocument();
    EXPECT_TRUE(
        document.contains("\nNuméro affiché : Non communiqué\nDossier : Non classé\nÉtat : À traiter\n"));
    EXPECT_TRUE(document.endsWith(
        "\n\nTRANSCRIPTION\nAucune parole transcrite.\n\nNOTE DU GESTIONNAIRE\nAucune note."))
        << document.toStdString();

    bare.note = QStringLiteral("   ");
    EXPECT_TRUE(bare.transcriptDocument().endsWith("NOTE DU GESTIONNAIRE\n   "))
        << "only an empty note is replaced";
}

TEST(ResponseLatency, SummaryAndFrenchLabels)
{
    struct Case {
        QList<double> seconds;
        ResponseLatency summary;
        QString live;
    };
    const std::vector<Case> cases{
        {{0.9}, {1, 900, 900}, "Réactivité : 0,9 s"},
        // Sorted 0.5 0.8 1.0 2.0: the median is between the middle two, the 90th percentile the 4th.
        {{1.0, 0.5, 2.0, 0.8}, {4, 900, 2000}, "Réactivité : 0,8 s · médiane 0,9 s"},
        {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0},
         {10, 550, 900},
         "Réactivité : 1,0 s · médiane 0,6 s"},
        {{1.26}, {1, 1260, 1260}, "Réactivité : 1,3 s"},
    };
    for (const Case& c : cases) {
        const auto summary = ResponseLatency::summarize(c.seconds);
        ASSERT_TRUE(summary.has_value());
        EXPECT_EQ(*summary, c.summary) << c.live.toStdString();
        EXPECT_EQ(ResponseLatency::liveLabel(c.seconds), c.live);
    }
    EXPECT_FALSE(ResponseLatency::summarize({}).has_value());
    EXPECT_EQ(ResponseLatency::liveLabel({}), QString());
    EXPECT_EQ((ResponseLatency{1, 900, 900}).label(), "Réactivité : médiane 0,9 s · 1 réponse mesurée");
    EXPECT_EQ((ResponseLatency{6, 900, 1400}).label(),
              "Réactivité : médiane 0,9 s · la plus lente en 1,4 s · 6 réponses mesurées");
    EXPECT_EQ((ResponseLatency{12, 900, 1400}).label(),
              "Réactivité : médiane 0,9 s · 9 réponses sur 10 en 1,4 s ou moins · 12 réponses mesurées");
}
