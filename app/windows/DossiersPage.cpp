#include "app/windows/DossiersPage.h"

#include "app/model/AppModel.h"
#include "app/records/TranscriptExport.h"
#include "app/ui/RecordingView.h"
#include "app/windows/DossierAssignment.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/FollowUpDraftView.h"
#include "app/windows/Theme.h"
#include "app/windows/TranscriptView.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace {
const QString kHeading = QStringLiteral("Dossiers et transcriptions");
const QString kSubtitle =
    QStringLiteral("Classez vos appels et retrouvez leur transcription, prête à copier ou à exporter.");
const QString kSearchPrompt = QStringLiteral("Rechercher un numéro, un nom, un dossier ou une phrase");
const QString kNoRecords = QStringLiteral("Aucun appel enregistré pour le moment.");
const QString kNoRecordsDetail =
    QStringLiteral("Les appels pris en charge par Orlea apparaissent ici une fois terminés.");
const QString kShowExample = QStringLiteral("Voir un exemple fictif");
const QString kNoMatch = QStringLiteral("Aucun appel ne correspond aux filtres.");
const QString kSelectHint =
    QStringLiteral("Sélectionnez un appel dans le tableau pour lire, copier ou exporter sa transcription.");
const QString kCopyExplanation =
    QStringLiteral("Le texte contient la référence, le numéro disponible, le dossier et les échanges avec le "
                   "nom de chaque interlocuteur. La copie n’envoie rien à une IA.");
const QString kNoSpeech = QStringLiteral("Aucune parole transcrite pendant cette session.");
constexpr int kTableHeightPx = 250;

// Replaces a combo's entries only when they differ, keeping the choice when it is still offered.
void setEntries(QComboBox* combo, const QStringList& entries, const QString& current)
{
    QStringList present;
    for (int i = 0; i < combo->count(); ++i)
        present << combo->itemText(i);
    const QSignalBlocker blocker(combo);
    if (present != entries) {
        combo->clear();
        combo->addItems(entries);
    }
    // A choice that is no longer offered (its last call left the dossier) stays the filter, shown as
    // the picker's placeholder, so the empty table explains itself.
    combo->setPlaceholderText(current);
    combo->setCurrentIndex(int(entries.indexOf(current)));
}
} // namespace

DossiersPage::DossiersPage(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_searchIndex(model.history())
{
    setObjectName(QStringLiteral("dossiersPage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    layout->addWidget(Theme::pageTitle(kHeading));
    layout->addWidget(Theme::pageSubtitle(kSubtitle));
    layout->addSpacing(4);

    m_empty = buildEmptyState();
    layout->addWidget(m_empty);

    m_browser = new QWidget(this);
    auto* browser = new QVBoxLayout(m_browser);
    browser->setContentsMargins(0, 0, 0, 0);
    browser->setSpacing(Theme::kSpacingPx);
    browser->addWidget(buildFilters());

    m_tableCard = Theme::card(m_browser);
    auto* tableLayout = new QVBoxLayout(m_tableCard);
    tableLayout->setContentsMargins(1, 1, 1, 1);
    m_rows = new DossierTableModel(this);
    m_table = new QTableView(m_tableCard);
    m_table->setObjectName(QStringLiteral("dossierTable"));
    m_table->setModel(m_rows);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(28);
    m_table->setFixedHeight(kTableHeightPx);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(60);
    // Sized for an 8-character reference (with the urgent mark), a short date, a French mobile number or
    // "Non communiqué", and the states; the caller's name and the excerpt share what is left, so the
    // excerpt keeps a readable width in the smallest window.
    const int widths[] = {102, 118, 0, 132, 94, 76};
    for (int column = 0; column < DossierTableModel::Transcript; ++column) {
        if (column == DossierTableModel::Caller)
            header->setSectionResizeMode(column, QHeaderView::Stretch);
        else
            header->resizeSection(column, widths[column]);
    }
    header->setSectionResizeMode(DossierTableModel::Transcript, QHeaderView::Stretch);
    header->setSortIndicator(DossierTableModel::columnOf(m_draft.sortOrder.column),
                             m_draft.sortOrder.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    connect(header, &QHeaderView::sectionClicked, this, &DossiersPage::headerClicked);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DossiersPage::tableSelectionChanged);
    tableLayout->addWidget(m_table);
    browser->addWidget(m_tableCard);

    m_noMatch = Theme::card(m_browser);
    Theme::cardLayout(m_noMatch)->addWidget(Theme::body(kNoMatch));
    browser->addWidget(m_noMatch);

    m_selectHint = Theme::card(m_browser);
    Theme::cardLayout(m_selectHint)->addWidget(Theme::caption(kSelectHint));
    browser->addWidget(m_selectHint);

    m_detail = static_cast<QFrame*>(buildDetail());
    browser->addWidget(m_detail);

    layout->addWidget(m_browser);
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &DossiersPage::refresh);
    refresh();
}

void DossiersPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_behind)
        refresh();
}

bool DossiersPage::searchPending() const
{
    return m_searchDelay->isActive();
}

QWidget* DossiersPage::buildEmptyState()
{
    QFrame* card = Theme::card(this);
    card->setObjectName(QStringLiteral("dossiersEmpty"));
    QVBoxLayout* layout = Theme::cardLayout(card);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(Theme::symbol(QStringLiteral("folder"), 28), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(Theme::sectionTitle(kNoRecords));
    texts->addWidget(Theme::caption(kNoRecordsDetail));
    row->addLayout(texts, 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    QPushButton* example = Theme::secondaryButton(kShowExample, card);
    example->setObjectName(QStringLiteral("showExample"));
    connect(example, &QPushButton::clicked, this, [this] {
        m_model.addDemo();
        m_model.setPage(QStringLiteral("Dossiers"));
    });
    buttons->addWidget(example);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return card;
}

QWidget* DossiersPage::buildFilters()
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    m_search = new QLineEdit(box);
    m_search->setObjectName(QStringLiteral("dossierSearch"));
    m_search->setPlaceholderText(kSearchPrompt);
    m_search->setClearButtonEnabled(true);
    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(kSearchDelayMs);
    connect(m_searchDelay, &QTimer::timeout, this, &DossiersPage::applyFilter);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_draft.filter.search == text)
            return;
        m_draft.filter.search = text; // as typed: a blank is a query too
        m_searchDelay->start();
    });
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        if (m_searchDelay->isActive()) {
            m_searchDelay->stop();
            applyFilter();
        }
    });
    layout->addWidget(m_search);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(Theme::body(QStringLiteral("Dossier"), box));
    m_folderFilter = new QComboBox(box);
    m_folderFilter->setObjectName(QStringLiteral("folderFilter"));
    m_folderFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_folderFilter->setMinimumContentsLength(18);
    connect(m_folderFilter, &QComboBox::activated, this, [this](int index) {
        m_draft.filter.folder = m_folderFilter->itemText(index);
        applyFilter();
    });
    row->addWidget(m_folderFilter);
    row->addSpacing(16);
    row->addWidget(Theme::body(QStringLiteral("État"), box));
    m_statusFilter = new QComboBox(box);
    m_statusFilter->setObjectName(QStringLiteral("statusFilter"));
    m_statusFilter->addItems(Dossiers::statusFilterEntries());
    m_statusFilter->setCurrentIndex(0);
    connect(m_statusFilter, &QComboBox::activated, this, [this](int index) {
        m_draft.filter.status = m_statusFilter->itemText(index);
        applyFilter();
    });
    row->addWidget(m_statusFilter);
    row->addStretch(1);
    layout->addLayout(row);

    m_counts = Theme::caption(QString(), box);
    m_counts->setObjectName(QStringLiteral("countsLine"));
    layout->addWidget(m_counts);
    return box;
}

QWidget* DossiersPage::buildDetail()
{
    QFrame* card = Theme::card(this);
    card->setObjectName(QStringLiteral("dossierDetail"));
    QVBoxLayout* layout = Theme::cardLayout(card);

    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_headline = Theme::sectionTitle(QString(), card);
    m_headline->setObjectName(QStringLiteral("detailHeadline"));
    titles->addWidget(m_headline);
    m_detailCaption = Theme::caption(QString(), card);
    m_detailCaption->setObjectName(QStringLiteral("detailCaption"));
    titles->addWidget(m_detailCaption);
    m_responsiveness = Theme::caption(QString(), card);
    m_responsiveness->setObjectName(QStringLiteral("detailResponsiveness"));
    titles->addWidget(m_responsiveness);
    m_usage = new QWidget(card);
    auto* usageRow = new QHBoxLayout(m_usage);
    usageRow->setContentsMargins(0, 0, 0, 0);
    usageRow->setSpacing(6);
    usageRow->addWidget(Theme::symbol(QStringLiteral("chart.bar"), 14, m_usage));
    m_usageLabel = Theme::caption(QString(), m_usage);
    m_usageLabel->setObjectName(QStringLiteral("detailUsage"));
    Theme::useTabularDigits(m_usageLabel);
    usageRow->addWidget(m_usageLabel, 1);
    titles->addWidget(m_usage);
    top->addLayout(titles, 1);
    auto* picker = new QHBoxLayout;
    picker->setSpacing(8);
    picker->addWidget(Theme::body(QStringLiteral("État"), card));
    m_followUp = new QComboBox(card);
    m_followUp->setObjectName(QStringLiteral("followUpPicker"));
    m_followUp->addItems(FollowUp::states());
    connect(m_followUp, &QComboBox::activated, this, [this](int index) {
        if (m_shown)
            m_model.updateFollowUpStatus(m_shown->id, m_followUp->itemText(index));
    });
    picker->addWidget(m_followUp);
    top->addLayout(picker);
    top->setAlignment(picker, Qt::AlignTop);
    layout->addLayout(top);

    m_followUpDraft = new FollowUpDraftView(m_model, FollowUpDraftView::Decision::Offered, card);
    layout->addWidget(m_followUpDraft);

    m_transcript = new TranscriptView(kNoSpeech, card);
    m_transcript->setObjectName(QStringLiteral("dossierTranscript"));
    layout->addWidget(m_transcript);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    QPushButton* copy = Theme::secondaryButton(QStringLiteral("Copier la transcription"), card);
    QPushButton* exportText = Theme::secondaryButton(QStringLiteral("Exporter en .txt"), card);
    QPushButton* reveal = Theme::secondaryButton(QStringLiteral("Voir le fichier"), card);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (m_shown)
            m_model.copyTranscript(m_shown->id);
    });
    connect(exportText, &QPushButton::clicked, this, [this] {
        if (m_shown)
            m_model.exportTranscript(m_shown->id);
    });
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (m_shown)
            m_model.revealTranscript(m_shown->id);
    });
    buttons->addWidget(copy);
    buttons->addWidget(exportText);
    buttons->addWidget(reveal);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    m_copyStatus = Theme::caption(QString(), card);
    m_copyStatus->setObjectName(QStringLiteral("copyStatus"));
    layout->addWidget(m_copyStatus);
    layout->addWidget(Theme::caption(kCopyExplanation, card));

    auto* openRow = new QHBoxLayout;
    QPushButton* open = Theme::linkButton(QStringLiteral("Ouvrir la conversation et ses notes"), card);
    open->setObjectName(QStringLiteral("openConversation"));
    connect(open, &QPushButton::clicked, this, [this] {
        if (!m_shown)
            return;
        m_model.setSelectedRecord(m_shown->id);
        m_model.setPage(QStringLiteral("Conversations"));
    });
    openRow->addWidget(open);
    openRow->addStretch(1);
    layout->addLayout(openRow);

    m_recording = new RecordingView(card);
    m_recording->setObjectName(QStringLiteral("dossierRecording"));
    m_recording->setExportAction([this](const CallRecord& record) { m_model.exportRecording(record.id); });
    layout->addWidget(m_recording);

    auto* rule = new QFrame(card);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Plain);
    rule->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::kBorder.name()));
    layout->addWidget(rule);

    m_assignment = new DossierAssignment(m_model, card);
    layout->addWidget(m_assignment);
    return card;
}

void DossiersPage::refresh()
{
    if (!isVisible()) {
        m_behind = true;
        return;
    }
    m_behind = false;
    if (m_shownRevision != m_model.recordsRevision())
        recordsChanged();
    else if (m_appliedFilter != m_draft.filter && !m_searchDelay->isActive())
        showRows(); // a query applied while the page was hidden

    {
        const QSignalBlocker blocker(m_statusFilter);
        m_statusFilter->setCurrentIndex(int(Dossiers::statusFilterEntries().indexOf(m_draft.filter.status)));
    }
    if (m_search->text() != m_draft.filter.search && !m_search->hasFocus())
        m_search->setText(m_draft.filter.search);
    refreshDetail();
}

void DossiersPage::recordsChanged()
{
    const QList<CallRecord>& records = m_model.records();
    m_empty->setVisible(records.isEmpty());
    m_browser->setVisible(!records.isEmpty());
    const QStringList folders = Dossiers::folders(records);
    m_folderCount = folders.size();
    setEntries(m_folderFilter, Dossiers::folderFilterEntries(folders), m_draft.filter.folder);
    m_existing = Dossiers::existing(records);
    showRows();
}

void DossiersPage::applyFilter()
{
    if (!isVisible()) {
        m_behind = true;
        return;
    }
    m_searchDelay->stop();
    // Records that changed since the rows were made must be read first; that also applies the filter.
    if (m_shownRevision != m_model.recordsRevision())
        recordsChanged();
    else
        showRows();
    refreshDetail();
}

void DossiersPage::showRows()
{
    const quint64 revision = m_model.recordsRevision();
    const bool sameOrder = m_shownRevision == revision && m_appliedOrder == m_draft.sortOrder;
    const QList<qsizetype> ranks = m_searchIndex.matches(m_draft.filter, m_draft.sortOrder);
    const QList<qsizetype>& sorted = m_searchIndex.sorted(m_draft.sortOrder);
    QList<qsizetype> positions;
    positions.reserve(ranks.size());
    for (qsizetype rank : ranks)
        positions.append(sorted[rank]);
    ++m_filterRuns;
    {
        // Rows going must not read as the manager clearing the selection.
        m_syncingSelection = true;
        m_rows->setRows(m_model.records(), positions, ranks, sameOrder);
        m_syncingSelection = false;
    }
    m_shownRevision = revision;
    m_appliedFilter = m_draft.filter;
    m_appliedOrder = m_draft.sortOrder;
    syncTableSelection();
    const bool any = m_rows->count() > 0;
    m_tableCard->setVisible(any);
    m_noMatch->setVisible(!m_model.records().isEmpty() && !any);
    m_counts->setText(Dossiers::countsLine(m_folderCount, m_rows->count()));
}

void DossiersPage::refreshDetail()
{
    const int row = m_draft.selected ? m_rows->rowOf(*m_draft.selected) : -1;
    m_selectHint->setVisible(m_rows->count() > 0 && row < 0);
    m_detail->setVisible(row >= 0);
    if (row >= 0) {
        showDetail(m_rows->record(row));
    } else {
        m_shown.reset();
        m_assignment->forgetRecord();
    }
}

void DossiersPage::syncTableSelection()
{
    const int row = m_draft.selected ? m_rows->rowOf(*m_draft.selected) : -1;
    QItemSelectionModel* selection = m_table->selectionModel();
    const QModelIndexList current = selection->selectedRows();
    if (row < 0 ? current.isEmpty() : (current.size() == 1 && current.first().row() == row))
        return;
    m_syncingSelection = true;
    if (row < 0) {
        selection->clearSelection();
    } else {
        const QModelIndex index = m_rows->index(row, 0);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_table->scrollTo(index);
    }
    m_syncingSelection = false;
}

void DossiersPage::tableSelectionChanged()
{
    if (m_syncingSelection)
        return;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        m_draft.selected.reset();
    else
        m_draft.selected = m_rows->record(rows.first().row()).id;
    refreshDetail();
}

void DossiersPage::headerClicked(int column)
{
    const std::optional<Dossiers::SortColumn> key = DossierTableModel::sortColumn(column);
    if (key)
        m_draft.sortOrder = Dossiers::clicked(m_draft.sortOrder, *key);
    // The header flips its indicator on any click; put it back where the order really is.
    m_table->horizontalHeader()->setSortIndicator(DossierTableModel::columnOf(m_draft.sortOrder.column),
                                                  m_draft.sortOrder.ascending ? Qt::AscendingOrder
                                                                              : Qt::DescendingOrder);
    applyFilter();
}

void DossiersPage::showDetail(const CallRecord& record)
{
    const bool sameCall = m_shown && m_shown->id == record.id;
    m_headline->setText(QStringLiteral("Appel ") + record.reference() + QStringLiteral(" · ") +
                        record.caller);
    m_detailCaption->setText(record.kind + QStringLiteral(" · ") + record.phoneLabel());
    m_responsiveness->setVisible(record.responseLatency.has_value());
    m_responsiveness->setText(record.responseLatency ? record.responseLatency->label() : QString());
    m_usage->setVisible(record.usage.has_value());
    m_usageLabel->setText(record.usage ? record.usage->label() : QString());
    {
        const QSignalBlocker blocker(m_followUp);
        m_followUp->setCurrentIndex(int(FollowUp::states().indexOf(record.statusLabel())));
    }
    m_followUpDraft->showRecord(record,
                                m_model.lastCall() == record.id ? m_model.followUpDraftStatus() : QString());
    if (!sameCall || m_shown->transcript != record.transcript)
        m_transcript->setLines(record.transcript);

    const QString& copyStatus = m_model.transcriptCopyStatus();
    m_copyStatus->setText(copyStatus);
    m_copyStatus->setVisible(!copyStatus.isEmpty());

    const bool finalizing = m_model.finalizingRecordings().contains(record.id);
    const bool hasRecording = finalizing || record.recordingFile.has_value();
    m_recording->setVisible(hasRecording);
    if (hasRecording)
        m_recording->setRecord(record, finalizing, TranscriptExport::recordingURL(record));

    m_assignment->setRecord(record, m_existing);
    m_shown = record;
}
