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
}

DossierTableModel::DossierTableModel(QObject* parent) : QAbstractTableModel(parent) {}

bool DossierTableModel::setRecords(const QList<CallRecord>& records)
{
    if (records == m_records)
        return false;
    beginResetModel();
    m_records = records;
    endResetModel();
    return true;
}

int DossierTableModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_records.size(); ++row)
        if (m_records[row].id == id)
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
    return parent.isValid() ? 0 : int(m_records.size());
}

int DossierTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DossierTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_records.size())
        return {};
    const CallRecord& record = m_records[index.row()];
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
