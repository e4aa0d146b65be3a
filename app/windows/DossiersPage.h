#pragma once

#include "app/records/CallRecord.h"
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
class DossiersPage : public QWidget {
    Q_OBJECT
public:
    explicit DossiersPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    const DossiersDraft& draft() const { return m_draft; }

    QLineEdit* searchField() const { return m_search; }
    QComboBox* folderFilter() const { return m_folderFilter; }
    QComboBox* statusFilter() const { return m_statusFilter; }
    QTableView* table() const { return m_table; }
    DossierTableModel* tableModel() const { return m_rows; }
    QComboBox* followUpPicker() const { return m_followUp; }
    DossierAssignment* assignment() const { return m_assignment; }
    RecordingView* recordingView() const { return m_recording; }
    FollowUpDraftView* draftView() const { return m_followUpDraft; }

private:
    QWidget* buildEmptyState();
    QWidget* buildFilters();
    QWidget* buildDetail();
    void refreshFolderFilter(const QList<CallRecord>& records);
    void syncTableSelection();
    void showDetail(const CallRecord& record, const QList<CallRecord>& records);
    void headerClicked(int column);
    void tableSelectionChanged();

    AppModel& m_model;
    DossiersDraft m_draft;
    bool m_syncingSelection = false;

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
    QComboBox* m_followUp = nullptr;
    FollowUpDraftView* m_followUpDraft = nullptr;
    TranscriptView* m_transcript = nullptr;
    QLabel* m_copyStatus = nullptr;
    RecordingView* m_recording = nullptr;
    DossierAssignment* m_assignment = nullptr;
};
