#pragma once

#include "app/records/CallRecord.h"
#include "app/records/Dossiers.h"

#include <QAbstractTableModel>
#include <optional>

// The rows of the Dossiers table: the matching calls, already filtered and sorted by the page. The rows
// point into a copy of the history that shares its records, so no record is copied per row.
class DossierTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Reference, Date, Caller, Number, Folder, Status, Transcript, ColumnCount };

    explicit DossierTableModel(QObject* parent = nullptr);

    // Shows the records of `history` at `positions`, whose `ranks` in one order of the whole history
    // ascend. When the same history is shown in the same order as before (`sameOrder`), only the calls
    // that leave or join the table are removed and inserted, so the view keeps its place and selection;
    // otherwise the rows are replaced.
    void setRows(const QList<CallRecord>& history, const QList<qsizetype>& positions,
                 const QList<qsizetype>& ranks, bool sameOrder);
    int count() const { return int(m_positions.size()); }
    const CallRecord& record(int row) const { return m_history[m_positions[row]]; }
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
    void replace(const QList<CallRecord>& history, const QList<qsizetype>& positions,
                 const QList<qsizetype>& ranks);

    QList<CallRecord> m_history;
    QList<qsizetype> m_positions; // one per row, into m_history
    QList<qsizetype> m_ranks;     // one per row, ascending
};
