#include "app/windows/ConversationsPage.h"

#include "app/model/AppModel.h"
#include "app/records/TranscriptExport.h"
#include "app/ui/RecordingView.h"
#include "app/windows/ConversationListModel.h"
#include "app/windows/FollowUpDraftView.h"
#include "app/windows/Theme.h"
#include "app/windows/TranscriptView.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const QString kHeading = QStringLiteral("Conversations");
const QString kSubtitle = QStringLiteral("Transcriptions et notes conservées sur ce Mac.");
const QString kEmpty = QStringLiteral("Votre première conversation apparaîtra ici.");
const QString kDiscover = QStringLiteral("Découvrir un exemple fictif");
const QString kPicker = QStringLiteral("Choisir une conversation");
const QString kNoSpeech = QStringLiteral("Aucune parole transcrite pendant cette session.");
const QString kNoteHint =
    QStringLiteral("Note rédigée par vous. Le résumé automatique sera ajouté après validation des appels.");
} // namespace

ConversationsPage::ConversationsPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("conversationsPage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    layout->addWidget(Theme::pageTitle(kHeading));
    layout->addWidget(Theme::pageSubtitle(kSubtitle));
    layout->addSpacing(4);
    m_empty = buildEmptyState();
    layout->addWidget(m_empty);
    m_content = buildContent();
    layout->addWidget(m_content);
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &ConversationsPage::refresh);
    refresh();
}

QWidget* ConversationsPage::buildEmptyState()
{
    QFrame* card = Theme::card(this);
    card->setObjectName(QStringLiteral("conversationsEmpty"));
    QVBoxLayout* layout = Theme::cardLayout(card);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(Theme::symbol(QStringLiteral("text.bubble"), 28), 0, Qt::AlignVCenter);
    row->addWidget(Theme::sectionTitle(kEmpty), 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    QPushButton* discover = Theme::secondaryButton(kDiscover, card);
    discover->setObjectName(QStringLiteral("discoverExample"));
    connect(discover, &QPushButton::clicked, this, [this] { m_model.addDemo(); });
    buttons->addWidget(discover);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return card;
}

QWidget* ConversationsPage::buildContent()
{
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::kSpacingPx);

    auto* pickerRow = new QHBoxLayout;
    pickerRow->setSpacing(10);
    QLabel* pickerTitle = Theme::body(kPicker, content);
    pickerTitle->setWordWrap(false);
    pickerRow->addWidget(pickerTitle);
    m_picker = new QComboBox(content);
    m_picker->setObjectName(QStringLiteral("conversationPicker"));
    // Long callers must not widen the page: the picker takes the row and elides in its popup.
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_picker->setMinimumContentsLength(24);
    m_picker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_list = new ConversationListModel(m_picker);
    m_picker->setModel(m_list);
    // Every entry is one line: the list need not measure thousands of them to lay them out.
    if (auto* list = qobject_cast<QListView*>(m_picker->view()))
        list->setUniformItemSizes(true);
    connect(m_picker, &QComboBox::activated, this, &ConversationsPage::choose);
    pickerRow->addWidget(m_picker, 1);
    layout->addLayout(pickerRow);

    m_draft = new FollowUpDraftView(m_model, FollowUpDraftView::Decision::Offered, content);
    layout->addWidget(m_draft);

    QFrame* transcriptCard = Theme::card(content);
    QVBoxLayout* transcriptLayout = Theme::cardLayout(transcriptCard);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(Theme::symbol(QStringLiteral("text.bubble"), 18));
    header->addWidget(Theme::sectionTitle(QStringLiteral("Transcription"), transcriptCard), 1);
    QPushButton* copy = Theme::secondaryButton(QStringLiteral("Copier"), transcriptCard);
    copy->setObjectName(QStringLiteral("copyTranscript"));
    QPushButton* exportText = Theme::secondaryButton(QStringLiteral("Exporter"), transcriptCard);
    exportText->setObjectName(QStringLiteral("exportTranscript"));
    connect(copy, &QPushButton::clicked, this, [this] {
        if (m_noteRecord)
            m_model.copyTranscript(*m_noteRecord);
    });
    connect(exportText, &QPushButton::clicked, this, [this] {
        if (m_noteRecord)
            m_model.exportTranscript(*m_noteRecord);
    });
    header->addWidget(copy);
    header->addWidget(exportText);
    transcriptLayout->addLayout(header);
    m_copyStatus = Theme::caption(QString(), transcriptCard);
    m_copyStatus->setObjectName(QStringLiteral("copyStatus"));
    transcriptLayout->addWidget(m_copyStatus);
    m_transcript = new TranscriptView(kNoSpeech, transcriptCard);
    m_transcript->setObjectName(QStringLiteral("conversationTranscript"));
    transcriptLayout->addWidget(m_transcript);
    layout->addWidget(transcriptCard);

    QFrame* recordingCard = Theme::card(content);
    m_recording = new RecordingView(recordingCard);
    m_recording->setObjectName(QStringLiteral("conversationRecording"));
    m_recording->setExportAction([this](const CallRecord& record) { m_model.exportRecording(record.id); });
    QVBoxLayout* recordingLayout = Theme::cardLayout(recordingCard);
    recordingLayout->setContentsMargins(6, 6, 6, 6); // the panel has margins of its own
    recordingLayout->addWidget(m_recording);
    layout->addWidget(recordingCard);

    QFrame* noteCard = Theme::card(content);
    QVBoxLayout* noteLayout = Theme::cardLayout(noteCard);
    auto* noteHeader = new QHBoxLayout;
    noteHeader->setSpacing(8);
    noteHeader->addWidget(Theme::symbol(QStringLiteral("hand.raised"), 18));
    noteHeader->addWidget(Theme::sectionTitle(QStringLiteral("Note de suivi"), noteCard), 1);
    noteLayout->addLayout(noteHeader);
    m_note = new QPlainTextEdit(noteCard);
    m_note->setObjectName(QStringLiteral("noteEditor"));
    m_note->setMinimumHeight(120);
    m_note->setTabChangesFocus(true);
    m_note->installEventFilter(this);
    connect(m_note, &QPlainTextEdit::textChanged, this, &ConversationsPage::noteEdited);
    noteLayout->addWidget(m_note);
    auto* noteFooter = new QHBoxLayout;
    noteFooter->setSpacing(12);
    noteFooter->addWidget(Theme::caption(kNoteHint, noteCard), 1);
    m_saveNote = Theme::primaryButton(QStringLiteral("Enregistrer la note"), noteCard);
    m_saveNote->setObjectName(QStringLiteral("saveNote"));
    m_saveNote->setEnabled(false);
    connect(m_saveNote, &QPushButton::clicked, this, &ConversationsPage::commitNote);
    noteFooter->addWidget(m_saveNote, 0, Qt::AlignTop);
    noteLayout->addLayout(noteFooter);
    layout->addWidget(noteCard);
    return content;
}

void ConversationsPage::refresh()
{
    if (!isVisible()) {
        m_behind = true;
        return;
    }
    m_behind = false;
    const QList<CallRecord>& records = m_model.records();
    if (m_listRevision != m_model.recordsRevision()) {
        m_listRevision = m_model.recordsRevision();
        m_empty->setVisible(records.isEmpty());
        m_content->setVisible(!records.isEmpty());
        const QSignalBlocker blocker(m_picker);
        m_list->setHistory(records);
    }
    if (records.isEmpty())
        return;

    const CallRecord* shown = nullptr;
    if (const std::optional<QUuid>& selected = m_model.selectedRecord())
        shown = m_model.history().find(*selected);
    if (!shown)
        shown = &records.first();
    const CallRecord record = *shown; // saving a note below may rewrite the list

    {
        const QSignalBlocker blocker(m_picker);
        const int row = m_list->rowOf(record.id);
        if (m_picker->currentIndex() != row)
            m_picker->setCurrentIndex(row);
    }

    if (m_noteRecord != record.id) {
        // Another record is shown: what was typed belongs to the previous one.
        commitNote();
        loadNote(record);
    } else if (!m_noteDirty && m_note->toPlainText() != record.note) {
        loadNote(record);
    }

    m_draft->showRecord(record, m_model.lastCall() == record.id ? m_model.followUpDraftStatus() : QString());

    if (m_transcriptRecord != record.id || m_transcriptLines != record.transcript) {
        m_transcriptRecord = record.id;
        m_transcriptLines = record.transcript;
        m_transcript->setLines(record.transcript);
    }

    const QString& copyStatus = m_model.transcriptCopyStatus();
    m_copyStatus->setText(copyStatus);
    m_copyStatus->setVisible(!copyStatus.isEmpty());

    m_recording->setRecord(record, m_model.finalizingRecordings().contains(record.id),
                           TranscriptExport::recordingURL(record));
}

void ConversationsPage::choose(int index)
{
    if (index < 0 || index >= m_list->rowCount())
        return;
    commitNote();
    m_model.setSelectedRecord(m_list->idAt(index));
    refresh();
}

void ConversationsPage::loadNote(const CallRecord& record)
{
    m_loadingNote = true;
    m_note->setPlainText(record.note);
    m_loadingNote = false;
    m_noteRecord = record.id;
    m_noteDirty = false;
    m_saveNote->setEnabled(false);
}

void ConversationsPage::noteEdited()
{
    if (m_loadingNote || !m_noteRecord)
        return;
    m_noteDirty = true;
    m_saveNote->setEnabled(true);
    // Typing on the newest call (shown because nothing is selected) pins it, so a call that ends
    // meanwhile does not pull the page onto itself.
    const std::optional<QUuid>& selected = m_model.selectedRecord();
    if (!selected || !m_model.history().find(*selected))
        m_model.setSelectedRecord(m_noteRecord);
}

void ConversationsPage::commitNote()
{
    if (!m_noteRecord || !m_noteDirty)
        return;
    m_noteDirty = false;
    m_saveNote->setEnabled(false);
    m_model.updateNote(*m_noteRecord, m_note->toPlainText());
}

bool ConversationsPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_note && event->type() == QEvent::FocusOut)
        commitNote();
    return QWidget::eventFilter(watched, event);
}

void ConversationsPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_behind)
        refresh();
}

void ConversationsPage::hideEvent(QHideEvent* event)
{
    commitNote();
    QWidget::hideEvent(event);
}
