#pragma once

#include "app/records/CallRecord.h"

#include <QList>
#include <QUuid>
#include <QWidget>
#include <optional>

class AppModel;
class ConversationListModel;
class FollowUpDraftView;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class RecordingView;
class TranscriptView;

// The conversation list and transcript reader, "Conversations": one record at a time, with its
// transcript, recording and the manager's note. The picker is a model over the history, rebuilt only
// when the records change; a hidden page waits until it is shown.
class ConversationsPage : public QWidget {
    Q_OBJECT
public:
    explicit ConversationsPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`). A hidden
    // page only notes that it is behind and catches up when shown.
    void refresh();

    // The record shown: the model's selected record, or the newest one when none is selected.
    std::optional<QUuid> shownRecord() const { return m_noteRecord; }

    QComboBox* picker() const { return m_picker; }
    ConversationListModel* pickerModel() const { return m_list; }
    QPlainTextEdit* noteEditor() const { return m_note; }
    QPushButton* saveNoteButton() const { return m_saveNote; }
    RecordingView* recordingView() const { return m_recording; }
    FollowUpDraftView* draftView() const { return m_draft; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildEmptyState();
    QWidget* buildContent();
    void loadNote(const CallRecord& record);
    void noteEdited();
    // Saves the typed note into the record it was typed for, if it changed since it was loaded.
    void commitNote();
    void choose(int index);

    AppModel& m_model;
    QWidget* m_empty = nullptr;
    QWidget* m_content = nullptr;
    QComboBox* m_picker = nullptr;
    ConversationListModel* m_list = nullptr;
    std::optional<quint64> m_listRevision;
    bool m_behind = false;
    FollowUpDraftView* m_draft = nullptr;
    TranscriptView* m_transcript = nullptr;
    std::optional<QUuid> m_transcriptRecord;
    QList<TranscriptLine> m_transcriptLines;
    QLabel* m_copyStatus = nullptr;
    RecordingView* m_recording = nullptr;
    QPlainTextEdit* m_note = nullptr;
    QPushButton* m_saveNote = nullptr;
    // The record the editor's text belongs to, and whether the manager changed it since it was loaded.
    std::optional<QUuid> m_noteRecord;
    bool m_noteDirty = false;
    bool m_loadingNote = false;
};
