#pragma once

#include "app/records/CallRecord.h"
#include "app/records/Dossiers.h"

#include <QAbstractTableModel>
#include <optional>

// The rows of the Dossiers table: the matching calls, already filtered and sorted by the page.
class DossierTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Reference, Date, Caller, Number, Folder, Status, Transcript, ColumnCount };

    explicit DossierTableModel(QObject* parent = nullptr);

    // Replaces the rows; returns false (and leaves the view alone) when nothing changed.
    bool setRecords(const QList<CallRecord>& records);
    const QList<CallRecord>& records() const { return m_records; }
    // The row of the call with that id, or -1.
    int rowOf(const QUuid& id) const;

    // The sort key behind a column; none for the transcript excerpt.
    static std::optional<Dossiers::SortColumn> sortColumn(int column);
    static int columnOf(Dossiers::SortColumn column);
    // "08/12/26 14:05" in the user's time zone.
    static QString shortDate(double secondsSinceReferenceDate);
    // The transcript on one line, for the last column.
    static QString excerpt(const CallRecord& record);
    // The mark of an urgent call beside its reference: an icon and the AI's reason; nothing otherwise.
    static QVariant urgentMark(const CallRecord& record, int role);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<CallRecord> m_records;
};
