#include "app/windows/DossierTableModel.h"

#include "app/common/Clock.h"
#include "app/ui/Icons.h"
#include "app/windows/Theme.h"

#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <cmath>

namespace {
constexpr int kExcerptCharacters = 160;
// Beyond this many separate runs of rows to remove or insert, one reset costs the view less.
constexpr int kMaxRuns = 64;

struct Run {
    int first;
    int count;
};
} // namespace

DossierTableModel::DossierTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void DossierTableModel::replace(const QList<CallRecord>& history, const QList<qsizetype>& positions,
                                const QList<qsizetype>& ranks)
{
    beginResetModel();
    m_history = history;
    m_positions = positions;
    m_ranks = ranks;
    endResetModel();
}

void DossierTableModel::setRows(const QList<CallRecord>& history, const QList<qsizetype>& positions,
                                const QList<qsizetype>& ranks, bool sameOrder)
{
    if (!sameOrder) {
        replace(history, positions, ranks);
        return;
    }
    // Both lists ascend in rank: one pass finds the rows that go (by their present index) and the rows
    // that come (by their index once everything is in place).
    QList<Run> removals;
    QList<Run> insertions;
    auto note = [](QList<Run>& runs, int index) {
        if (!runs.isEmpty() && runs.last().first + runs.last().count == index)
            ++runs.last().count;
        else
            runs.append(Run{index, 1});
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < m_ranks.size() || j < ranks.size()) {
        if (j == ranks.size() || (i < m_ranks.size() && m_ranks[i] < ranks[j])) {
            note(removals, int(i++));
        } else if (i == m_ranks.size() || ranks[j] < m_ranks[i]) {
            note(insertions, int(j++));
        } else {
            ++i;
            ++j;
        }
        if (removals.size() + insertions.size() > kMaxRuns) {
            replace(history, positions, ranks);
            return;
        }
    }
    m_history = history;
    // From the end, so the indices of the runs still to remove stay true.
    for (qsizetype r = removals.size() - 1; r >= 0; --r) {
        const Run& run = removals[r];
        beginRemoveRows({}, run.first, run.first + run.count - 1);
        m_positions.remove(run.first, run.count);
        m_ranks.remove(run.first, run.count);
        endRemoveRows();
    }
    // In order: every row before a run is already the final one, so the run goes in at its final index.
    for (const Run& run : insertions) {
        beginInsertRows({}, run.first, run.first + run.count - 1);
        m_positions.insert(run.first, run.count, 0);
        m_ranks.insert(run.first, run.count, 0);
        for (int k = 0; k < run.count; ++k) {
            m_positions[run.first + k] = positions[run.first + k];
            m_ranks[run.first + k] = ranks[run.first + k];
        }
        endInsertRows();
    }
}

int DossierTableModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_positions.size(); ++row)
        if (record(row).id == id)
            return row;
    return -1;
}

std::optional<Dossiers::SortColumn> DossierTableModel::sortColumn(int column)
{
    switch (column) {
    case Reference:
        return Dossiers::SortColumn::Reference;
    case Date:
        return Dossiers::SortColumn::Date;
    case Caller:
        return Dossiers::SortColumn::Caller;
    case Number:
        return Dossiers::SortColumn::Number;
    case Folder:
        return Dossiers::SortColumn::Folder;
    case Status:
        return Dossiers::SortColumn::Status;
    default:
        return std::nullopt;
    }
}

int DossierTableModel::columnOf(Dossiers::SortColumn column)
{
    switch (column) {
    case Dossiers::SortColumn::Reference:
        return Reference;
    case Dossiers::SortColumn::Date:
        return Date;
    case Dossiers::SortColumn::Caller:
        return Caller;
    case Dossiers::SortColumn::Number:
        return Number;
    case Dossiers::SortColumn::Folder:
        return Folder;
    case Dossiers::SortColumn::Status:
        return Status;
    }
    return Date;
}

QString DossierTableModel::shortDate(double secondsSinceReferenceDate)
{
    // A hand-edited history can hold any number; far outside our era there is no date to show.
    if (!std::isfinite(secondsSinceReferenceDate) || std::abs(secondsSinceReferenceDate) > 1e11)
        return QStringLiteral("—");
    const QDateTime date = dateFromReferenceSeconds(secondsSinceReferenceDate).toLocalTime();
    return QLocale().toString(date, QStringLiteral("dd/MM/yy HH:mm"));
}

QString DossierTableModel::excerpt(const CallRecord& record)
{
    QString text;
    for (const TranscriptLine& line : record.transcript) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += line.text.simplified();
        if (text.size() > kExcerptCharacters)
            break;
    }
    if (text.size() > kExcerptCharacters)
        text = text.left(kExcerptCharacters - 1) + QChar(0x2026);
    return text;
}

QVariant DossierTableModel::urgentMark(const CallRecord& record, int role)
{
    if (!record.isUrgent())
        return {};
    if (role == Qt::DecorationRole) {
        static const QIcon mark = [] {
            QPixmap pixmap = Icons::pixmap(QStringLiteral("exclamationmark.triangle"), 14);
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), Theme::kDanger);
            return QIcon(pixmap);
        }();
        return mark;
    }
    if (role == Qt::ToolTipRole)
        return QStringLiteral("Appel urgent · ") + record.followUpDraft->urgencyReason;
    if (role == Qt::AccessibleDescriptionRole)
        return QStringLiteral("Appel urgent");
    return {};
}

int DossierTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int DossierTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DossierTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const CallRecord& record = this->record(index.row());
    if (role == Qt::UserRole)
        return record.id;
    if (index.column() == Reference) {
        if (QVariant mark = urgentMark(record, role); mark.isValid())
            return mark;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Reference:
        return record.reference();
    case Date:
        return shortDate(record.date);
    case Caller:
        return record.caller;
    case Number:
        return record.phoneLabel();
    case Folder:
        return record.folderLabel();
    case Status:
        return record.statusLabel();
    case Transcript:
        return excerpt(record);
    default:
        return {};
    }
}

QVariant DossierTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (const std::optional<Dossiers::SortColumn> column = sortColumn(section))
        return Dossiers::columnTitle(*column);
    if (section == Transcript)
        return QStringLiteral("Transcription");
    return {};
}
