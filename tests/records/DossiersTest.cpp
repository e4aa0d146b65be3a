#include "app/records/Dossiers.h"

#include <gtest/gtest.h>

using namespace Dossiers;

namespace {
CallRecord call(const QString& caller, std::optional<QString> dossier = std::nullopt, double date = 0,
                std::optional<QString> status = std::nullopt)
{
    CallRecord r;
    r.id = QUuid::createUuid();
    r.date = date;
    r.caller = caller;
    r.kind = QStringLiteral("Appel");
    r.dossier = std::move(dossier);
    r.followUpStatus = std::move(status);
    return r;
}

QStringList callers(const QList<CallRecord>& records)
{
    QStringList names;
    for (const CallRecord& r : records)
        names.append(r.caller);
    return names;
}
} // namespace

TEST(Dossiers, FolderNamesAreDistinctAndOrderedLikeAFileBrowser)
{
    const QList<CallRecord> records{call("a", "Lot 10"), call("b", "lilas"), call("c", "Lot 2"),
                                    call("d"),           call("e", "Lilas"), call("f", "Écluse"),
                                    call("g", "Lot 2"),  call("h", "Zèbre")};
    const QStringList names = folders(records);
    ASSERT_EQ(names.size(), 6) << names.join(", ").toStdString() << ": duplicates merged, case kept apart";
    EXPECT_TRUE(names.contains("Lilas") && names.contains("lilas"));
    EXPECT_LT(names.indexOf("Écluse"), names.indexOf("Lilas")) << "accents do not push a name to the end";
    EXPECT_LT(names.indexOf("Lot 2"), names.indexOf("Lot 10")) << "digit runs compare by value";
    EXPECT_EQ(names.last(), "Zèbre");

    EXPECT_EQ(existing(records), (QStringList{"Lilas", "Lot 10", "Lot 2", "Zèbre", "lilas", "Écluse"}))
        << "code-point order, case-sensitive";
    EXPECT_TRUE(codePointLess(QString::fromUtf8("\uFF21"), QString::fromUtf8("😀")))
        << "a character above U+FFFF sorts after every BMP character";

    EXPECT_EQ(folderFilterEntries({call("x", "B"), call("y", "A")}),
              (QStringList{"Tous les dossiers", "Appels non classés", "Urgents", "A", "B"}));
    EXPECT_EQ(statusFilterEntries(), (QStringList{"Tous les états", "À traiter", "En cours", "Terminé"}));
}

TEST(Dossiers, FilterTests)
{
    CallRecord lilas = call("Jean Martin 06 12 34 56 78", "Lilas", 1, "En cours");
    lilas.note = QStringLiteral("Fuite sous l’évier");
    lilas.transcript = {TranscriptLine::make("Interlocuteur", "Le chauffe-eau est tombé en panne")};
    const CallRecord lower = call("Marie", "lilas", 2, "Terminé");
    const CallRecord unfiled = call("Numéro masqué", std::nullopt, 3);
    const QList<CallRecord> records{lilas, lower, unfiled};
    const SortOrder byDate{SortColumn::Date, true};
    auto run = [&](const Filter& f) { return callers(matches(records, f, byDate)); };

    EXPECT_EQ(run({}), (QStringList{lilas.caller, "Marie", "Numéro masqué"}));
    EXPECT_EQ(run({"", "Lilas", kAllStates}), QStringList{lilas.caller}) << "exact, case-sensitive dossier";
    EXPECT_EQ(run({"", " Lilas", kAllStates}), QStringList{}) << "the dossier filter is not trimmed";
    EXPECT_EQ(run({"", kUnfiled, kAllStates}), QStringList{"Numéro masqué"});
    EXPECT_EQ(run({"", kAllFolders, "À traiter"}), QStringList{"Numéro masqué"})
        << "no state reads as À traiter";
    EXPECT_EQ(run({"", kAllFolders, "Terminé"}), QStringList{"Marie"});

    EXPECT_EQ(run({" ", kAllFolders, kAllStates}).size(), 3) << "one blank matches every record";
    EXPECT_EQ(run({"non classe", kAllFolders, kAllStates}), QStringList{"Numéro masqué"});
    EXPECT_EQ(run({"non communique", kAllFolders, kAllStates}), (QStringList{"Marie", "Numéro masqué"}));
    EXPECT_EQ(run({"CHAUFFE-EAU EST TOMBE", kAllFolders, kAllStates}), QStringList{lilas.caller})
        << "transcript text, case and accents folded";
    EXPECT_EQ(run({"fuite sous l’evier", kAllFolders, kAllStates}), QStringList{lilas.caller}) << "the note";
    EXPECT_EQ(run({lower.reference().toLower(), kAllFolders, kAllStates}), QStringList{"Marie"});
    EXPECT_EQ(run({"06 12 34", kAllFolders, kAllStates}), QStringList{lilas.caller});
    EXPECT_EQ(run({"  Marie", kAllFolders, kAllStates}), QStringList{}) << "the query is not trimmed";
    EXPECT_EQ(run({"appel lilas", kAllFolders, kAllStates}).size(), 2) << "fields joined by one space";
    EXPECT_EQ(run({"lilas appel", kAllFolders, kAllStates}).size(), 0)
        << "kind comes before the dossier label";
    EXPECT_EQ(run({"appel non classe", kAllFolders, kAllStates}), QStringList{"Numéro masqué"});
}

TEST(Dossiers, SortingAndSelection)
{
    const CallRecord a = call("Zoé 01 23 45 67 89", "Lot 10", 30, "Terminé");
    const CallRecord b = call("alain", "Lot 2", 10);
    const CallRecord c = call("Émile", std::nullopt, 20, "En cours");
    const QList<CallRecord> records{a, b, c};

    const SortOrder initial;
    EXPECT_EQ(callers(matches(records, {}, initial)), (QStringList{a.caller, "Émile", "alain"}))
        << "newest first";
    const SortOrder byCaller = clicked(initial, SortColumn::Caller);
    EXPECT_EQ(byCaller, (SortOrder{SortColumn::Caller, true}));
    EXPECT_EQ(callers(matches(records, {}, byCaller)), (QStringList{"alain", "Émile", a.caller}));
    EXPECT_EQ(callers(matches(records, {}, clicked(byCaller, SortColumn::Caller))),
              (QStringList{a.caller, "Émile", "alain"}))
        << "a second click reverses";
    EXPECT_EQ(callers(matches(records, {}, {SortColumn::Folder, true})),
              (QStringList{"alain", a.caller, "Émile"}))
        << "Lot 2 < Lot 10 < Non classé";
    EXPECT_EQ(callers(matches(records, {}, {SortColumn::Status, true})),
              (QStringList{"alain", "Émile", a.caller}))
        << "À traiter < En cours < Terminé, accents aside";
    EXPECT_EQ(callers(matches(records, {}, {SortColumn::Number, true})),
              (QStringList{a.caller, "alain", "Émile"}))
        << "a number sorts before Non communiqué; ties keep the history order";

    // The selection survives a filter that hides the call.
    const std::optional<QUuid> selection = b.id;
    EXPECT_EQ(selected(matches(records, {}, initial), selection)->caller, "alain");
    EXPECT_FALSE(selected(matches(records, {"", kUnfiled, kAllStates}, initial), selection).has_value());
    EXPECT_FALSE(selected(matches(records, {}, initial), std::nullopt).has_value());

    EXPECT_EQ(columnTitle(SortColumn::Reference), "Réf.");
    EXPECT_EQ(columnTitle(SortColumn::Status), "État");
}

TEST(Dossiers, CountsLineAndAssignmentRule)
{
    EXPECT_EQ(countsLine(2, 1234),
              "2 dossier(s) · 1234 appel(s). Cliquez sur une colonne pour trier, puis sur un "
              "appel pour l’ouvrir.");

    const CallRecord filed = call("x", "SCI Lilas");
    const CallRecord unfiled = call("y");
    EXPECT_EQ(assignmentName(filed), "SCI Lilas");
    EXPECT_EQ(assignmentName(unfiled), "");

    EXPECT_FALSE(canSaveAssignment("SCI Lilas", filed)) << "same as current";
    EXPECT_FALSE(canSaveAssignment("  SCI Lilas\n", filed)) << "same once trimmed";
    EXPECT_TRUE(canSaveAssignment("sci lilas", filed)) << "case matters";
    EXPECT_TRUE(canSaveAssignment("", filed)) << "clearing the name takes the call out";
    EXPECT_FALSE(canSaveAssignment("", unfiled));
    EXPECT_FALSE(canSaveAssignment(" \t", unfiled));
    EXPECT_TRUE(canSaveAssignment("Lot 4", unfiled));
    for (const CallRecord& r : {filed, unfiled}) {
        EXPECT_FALSE(canSaveAssignment("Tous les dossiers", r));
        EXPECT_FALSE(canSaveAssignment("  Appels non classés \n", r)) << "reserved even with blanks around";
        EXPECT_FALSE(canSaveAssignment("\tTous les dossiers ", r));
    }
}

TEST(Dossiers, UrgentCallsHaveAFilterOfTheirOwnThatNoDossierMayBeNamedAfter)
{
    CallRecord leak = call("Claire", "Lilas", 1);
    leak.followUpDraft = FollowUpDraft{};
    leak.followUpDraft->urgent = true;
    CallRecord handled = leak;
    handled.id = QUuid::createUuid();
    handled.caller = QStringLiteral("Paul");
    handled.followUpStatus = FollowUp::kDone;
    CallRecord calm = call("Marie", std::nullopt, 2);
    calm.followUpDraft = FollowUpDraft{};
    const QList<CallRecord> records{leak, handled, calm, call("Jean", "Urgents", 3)};

    Filter urgent;
    urgent.folder = kUrgent;
    EXPECT_EQ(callers(matches(records, urgent, {})), (QStringList{"Claire", "Paul"}));
    urgent.status = FollowUp::kToDo;
    EXPECT_EQ(callers(matches(records, urgent, {})), QStringList{"Claire"}) << "urgent calls still to handle";

    EXPECT_EQ(folderFilterEntries(records),
              (QStringList{"Tous les dossiers", "Appels non classés", "Urgents", "Lilas"}))
        << "a dossier named like the filter (from an older history) is not listed twice";
    for (const char* name : {"Urgents", " Urgents\n", "Tous les dossiers", "Appels non classés"})
        EXPECT_TRUE(isReservedName(QString::fromUtf8(name))) << name;
    EXPECT_FALSE(isReservedName("urgents")) << "as case-sensitive as every dossier name";
    EXPECT_FALSE(canSaveAssignment(" Urgents ", calm));
}
