#include "app/records/Dossiers.h"

#include "app/common/TextFolding.h"

#include <QSet>
#include <algorithm>

namespace Dossiers {

namespace {
QStringList distinctDossiers(const QList<CallRecord>& records)
{
    QStringList names;
    QSet<QString> seen;
    for (const CallRecord& record : records) {
        if (record.dossier && !seen.contains(*record.dossier)) {
            seen.insert(*record.dossier);
            names.append(*record.dossier);
        }
    }
    return names;
}
} // namespace

bool codePointLess(const QString& a, const QString& b)
{
    const qsizetype length = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < length; ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x == y)
            continue;
        // Surrogates encode code points above every BMP unit, so move them past U+E000..U+FFFF.
        if (x >= 0xD800 && y >= 0xD800) {
            x = x >= 0xE000 ? char16_t(x - 0x800) : char16_t(x + 0x2000);
            y = y >= 0xE000 ? char16_t(y - 0x800) : char16_t(y + 0x2000);
        }
        return x < y;
    }
    return a.size() < b.size();
}

QStringList folders(const QList<CallRecord>& records)
{
    QStringList names = distinctDossiers(records);
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return TextFolding::localizedStandardCompare(a, b) < 0;
    });
    return names;
}

QStringList existing(const QList<CallRecord>& records)
{
    QStringList names = distinctDossiers(records);
    std::sort(names.begin(), names.end(), codePointLess);
    return names;
}

bool isReservedName(const QString& name)
{
    const QString trimmed = name.trimmed();
    return trimmed == kAllFolders || trimmed == kUnfiled || trimmed == kUrgent;
}

QStringList folderFilterEntries(const QList<CallRecord>& records)
{
    return folderFilterEntries(folders(records));
}

QStringList folderFilterEntries(const QStringList& folders)
{
    QStringList entries{kAllFolders, kUnfiled, kUrgent};
    for (const QString& name : folders) {
        if (!isReservedName(name))
            entries.append(name);
    }
    return entries;
}

QStringList statusFilterEntries()
{
    return QStringList{kAllStates} + FollowUp::states();
}

QStringList searchParts(const CallRecord& record)
{
    QStringList parts{record.reference(), record.caller,        record.phoneLabel(),
                      record.kind,        record.folderLabel(), record.note};
    parts.reserve(parts.size() + record.transcript.size());
    for (const TranscriptLine& line : record.transcript)
        parts.append(line.text);
    return parts;
}

QString searchText(const CallRecord& record)
{
    return searchParts(record).join(QLatin1Char(' '));
}

bool passesFolderAndStatus(const CallRecord& record, const Filter& filter)
{
    if (filter.folder == kUnfiled) {
        if (record.dossier)
            return false;
    } else if (filter.folder == kUrgent) {
        if (!record.isUrgent())
            return false;
    } else if (filter.folder != kAllFolders) {
        if (record.dossier != filter.folder)
            return false;
    }
    return filter.status == kAllStates || record.statusLabel() == filter.status;
}

bool passes(const CallRecord& record, const Filter& filter)
{
    if (!passesFolderAndStatus(record, filter))
        return false;
    if (filter.search.isEmpty())
        return true;
    return TextFolding::localizedStandardContains(searchText(record), filter.search);
}

QString columnTitle(SortColumn column)
{
    switch (column) {
    case SortColumn::Reference:
        return QStringLiteral("Réf.");
    case SortColumn::Date:
        return QStringLiteral("Date");
    case SortColumn::Caller:
        return QStringLiteral("Interlocuteur");
    case SortColumn::Number:
        return QStringLiteral("Numéro");
    case SortColumn::Folder:
        return QStringLiteral("Dossier");
    case SortColumn::Status:
        return QStringLiteral("État");
    }
    return {};
}

SortOrder clicked(const SortOrder& current, SortColumn column)
{
    if (current.column == column)
        return SortOrder{column, !current.ascending};
    return SortOrder{column, true};
}

int compare(const CallRecord& a, const CallRecord& b, SortColumn column)
{
    using TextFolding::localizedStandardCompare;
    switch (column) {
    case SortColumn::Reference:
        return localizedStandardCompare(a.reference(), b.reference());
    case SortColumn::Date:
        return a.date < b.date ? -1 : (b.date < a.date ? 1 : 0);
    case SortColumn::Caller:
        return localizedStandardCompare(a.caller, b.caller);
    case SortColumn::Number:
        return localizedStandardCompare(a.phoneLabel(), b.phoneLabel());
    case SortColumn::Folder:
        return localizedStandardCompare(a.folderLabel(), b.folderLabel());
    case SortColumn::Status:
        return localizedStandardCompare(a.statusLabel(), b.statusLabel());
    }
    return 0;
}

QList<CallRecord> matches(const QList<CallRecord>& records, const Filter& filter, const SortOrder& order)
{
    QList<CallRecord> result;
    for (const CallRecord& record : records) {
        if (passes(record, filter))
            result.append(record);
    }
    std::stable_sort(result.begin(), result.end(), [&order](const CallRecord& a, const CallRecord& b) {
        const int sign = compare(a, b, order.column);
        return order.ascending ? sign < 0 : sign > 0;
    });
    return result;
}

std::optional<CallRecord> selected(const QList<CallRecord>& matches, const std::optional<QUuid>& selectedId)
{
    if (!selectedId)
        return std::nullopt;
    for (const CallRecord& record : matches) {
        if (record.id == *selectedId)
            return record;
    }
    return std::nullopt;
}

QString countsLine(qsizetype folderCount, qsizetype matchCount)
{
    return QStringLiteral(
               "%1 dossier(s) · %2 appel(s). Cliquez sur une colonne pour trier, puis sur un appel "
               "pour l’ouvrir.")
        .arg(folderCount)
        .arg(matchCount);
}

QString assignmentName(const CallRecord& record)
{
    return record.dossier.value_or(QString());
}

bool canSaveAssignment(const QString& name, const CallRecord& record)
{
    return name.trimmed() != assignmentName(record) && !isReservedName(name);
}

} // namespace Dossiers
