#pragma once

#include "app/records/CallRecord.h"

#include <QAbstractListModel>

// The entries of the Conversations picker: one per record of the history, newest first, each label
// made only when the list shows it. It holds a copy of the history that shares its records.
class ConversationListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ConversationListModel(QObject* parent = nullptr);

    void setHistory(const QList<CallRecord>& records);
    // The row of the record with that id, or -1.
    int rowOf(const QUuid& id) const;
    QUuid idAt(int row) const { return m_records[row].id; }

    // "Appel · Jean Dupont · 08/12/26 14:05"
    static QString label(const CallRecord& record);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<CallRecord> m_records;
};
