#pragma once

#include "app/records/CallRecord.h"
#include "app/records/DossierSearch.h"
#include "app/records/Dossiers.h"

#include <QWidget>
#include <optional>

class AppModel;
class DossierAssignment;
class DossierTableModel;
class FollowUpDraftView;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class RecordingView;
class TranscriptView;

// What the Dossiers page remembers while it exists: the filters, the selected call and the sort order.
// The selection survives a filter that hides the call, so the call comes back selected.
struct DossiersDraft {
    Dossiers::Filter filter;
    std::optional<QUuid> selected;
    Dossiers::SortOrder sortOrder;
};

// The dossier table, "Dossiers": filters, the sortable table of calls, and the detail of one call with
// its transcript, follow-up state, recording and dossier.
//
// Years of calls stay instant: the table is filtered again only when the records or the filters change
// (not on each transcript line or usage figure of a live call), a hidden page waits until it is shown,
// and typing is applied once the keys pause, by adding and removing the rows that change.
class DossiersPage : public QWidget {
    Q_OBJECT
public:
    // How long typing must pause before the query is applied.
    static constexpr int kSearchDelayMs = 150;

    explicit DossiersPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`). A hidden
    // page only notes that it is behind and catches up when shown.
    void refresh();

    const DossiersDraft& draft() const { return m_draft; }
    // A typed query waits for the typing to pause (Return applies it at once).
    bool searchPending() const;
    // How many times the rows were worked out from the records.
    qsizetype filterRuns() const { return m_filterRuns; }

    QLineEdit* searchField() const { return m_search; }
    QComboBox* folderFilter() const { return m_folderFilter; }
    QComboBox* statusFilter() const { return m_statusFilter; }
    QTableView* table() const { return m_table; }
    DossierTableModel* tableModel() const { return m_rows; }
    QComboBox* followUpPicker() const { return m_followUp; }
    DossierAssignment* assignment() const { return m_assignment; }
    RecordingView* recordingView() const { return m_recording; }
    FollowUpDraftView* draftView() const { return m_followUpDraft; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildEmptyState();
    QWidget* buildFilters();
    QWidget* buildDetail();
    void recordsChanged();
    // Works the rows out again from the draft's filters and order.
    void applyFilter();
    void showRows();
    void refreshDetail();
    void syncTableSelection();
    void showDetail(const CallRecord& record);
    void headerClicked(int column);
    void tableSelectionChanged();

    AppModel& m_model;
    DossiersDraft m_draft;
    DossierSearch m_searchIndex;
    bool m_syncingSelection = false;
    // What the rows show now: the records' revision, filters and order they were worked out from.
    std::optional<quint64> m_shownRevision;
    Dossiers::Filter m_appliedFilter;
    Dossiers::SortOrder m_appliedOrder;
    bool m_behind = false;
    qsizetype m_filterRuns = 0;
    qsizetype m_folderCount = 0;
    QStringList m_existing;
    QTimer* m_searchDelay = nullptr;

    QWidget* m_empty = nullptr;
    QWidget* m_browser = nullptr;
    QLineEdit* m_search = nullptr;
    QComboBox* m_folderFilter = nullptr;
    QComboBox* m_statusFilter = nullptr;
    QLabel* m_counts = nullptr;
    QFrame* m_tableCard = nullptr;
    QTableView* m_table = nullptr;
    DossierTableModel* m_rows = nullptr;
    QFrame* m_noMatch = nullptr;
    QFrame* m_selectHint = nullptr;

    QFrame* m_detail = nullptr;
    std::optional<CallRecord> m_shown;
    QLabel* m_headline = nullptr;
    QLabel* m_detailCaption = nullptr;
    QLabel* m_responsiveness = nullptr;
    QWidget* m_usage = nullptr;
    QLabel* m_usageLabel = nullptr;
    QComboBox* m_followUp = nullptr;
    FollowUpDraftView* m_followUpDraft = nullptr;
    TranscriptView* m_transcript = nullptr;
    QLabel* m_copyStatus = nullptr;
    RecordingView* m_recording = nullptr;
    DossierAssignment* m_assignment = nullptr;
};
