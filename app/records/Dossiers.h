#pragma once

#include "app/records/CallRecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

// The rules of the Dossiers page: which dossiers exist, which calls a filter lets through and in what
// order, and when a call may be filed under a name. A dossier is only a name that records carry, so
// everything here is derived from the records on each call.
namespace Dossiers {
inline const QString kAllFolders = QStringLiteral("Tous les dossiers");
inline const QString kUnfiled = QStringLiteral("Appels non classés");
inline const QString kAllStates = QStringLiteral("Tous les états");
// The calls the AI found urgent, whatever their dossier.
inline const QString kUrgent = QStringLiteral("Urgents");

// The dossier filter's own entries, which no dossier may be called (blanks around them ignored).
bool isReservedName(const QString& name);

// Distinct dossier names in the order file browsers use (case-insensitive, digit runs by value).
QStringList folders(const QList<CallRecord>& records);
// Distinct dossier names in plain code-point order, for the assignment panel's menu.
QStringList existing(const QList<CallRecord>& records);
// "Tous les dossiers", "Appels non classés", "Urgents", then `folders` (a dossier named like an entry
// before it is not listed twice).
QStringList folderFilterEntries(const QList<CallRecord>& records);
// The same from the `folders` already worked out.
QStringList folderFilterEntries(const QStringList& folders);
// "Tous les états", then the three follow-up states.
QStringList statusFilterEntries();

struct Filter {
    QString search; // used as typed: never trimmed
    QString folder = kAllFolders;
    QString status = kAllStates;
    bool operator==(const Filter&) const = default;
};

// Reference, caller, number label, kind, dossier label, note and every line's text, joined by one space.
QString searchText(const CallRecord& record);
// The same texts, before they are joined.
QStringList searchParts(const CallRecord& record);
// The dossier and follow-up tests, which come before the search test.
bool passesFolderAndStatus(const CallRecord& record, const Filter& filter);
bool passes(const CallRecord& record, const Filter& filter);

enum class SortColumn { Reference, Date, Caller, Number, Folder, Status };
struct SortOrder {
    SortColumn column = SortColumn::Date;
    bool ascending = false; // newest call first
    bool operator==(const SortOrder&) const = default;
};
QString columnTitle(SortColumn column);
// A click on a header sorts by that column ascending; a second click on the same column reverses it.
SortOrder clicked(const SortOrder& current, SortColumn column);
// Negative, zero or positive, ascending order of the column's key.
int compare(const CallRecord& a, const CallRecord& b, SortColumn column);

// The records the filter lets through, sorted; equal keys keep the history's order.
QList<CallRecord> matches(const QList<CallRecord>& records, const Filter& filter, const SortOrder& order);
// The selected call among `matches`; none when it is filtered out (the selection itself is kept).
std::optional<CallRecord> selected(const QList<CallRecord>& matches, const std::optional<QUuid>& selectedId);

QString countsLine(qsizetype folderCount, qsizetype matchCount);

// The assignment panel's name for a record: its dossier, or empty.
QString assignmentName(const CallRecord& record);
// "Enregistrer" is enabled unless the trimmed name is the record's current dossier or a reserved name.
bool canSaveAssignment(const QString& name, const CallRecord& record);

// Plain Unicode code-point order (UTF-16 code-unit order differs above U+FFFF).
bool codePointLess(const QString& a, const QString& b);
} // namespace Dossiers
