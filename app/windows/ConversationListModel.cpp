#include "app/windows/ConversationListModel.h"

#include "app/windows/DossierTableModel.h"

ConversationListModel::ConversationListModel(QObject* parent) : QAbstractListModel(parent) {}

void ConversationListModel::setHistory(const QList<CallRecord>& records)
{
    beginResetModel();
    m_records = records;
    endResetModel();
}

int ConversationListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_records.size(); ++row)
        if (m_records[row].id == id)
            return row;
    return -1;
}

QString ConversationListModel::label(const CallRecord& record)
{
    return record.kind + QStringLiteral(" · ") + record.caller + QStringLiteral(" · ") +
           DossierTableModel::shortDate(record.date);
}

int ConversationListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

QVariant ConversationListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_records.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return label(m_records[index.row()]);
    if (role == Qt::UserRole)
        return m_records[index.row()].id;
    return {};
}
