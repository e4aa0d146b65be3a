#include "app/windows/FollowUpDraftView.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

const QString FollowUpDraftView::kTitle = QStringLiteral("Résumé proposé par l’IA");
const QString FollowUpDraftView::kApplyHelp =
    QStringLiteral("« Appliquer » classe l’appel dans le dossier suggéré, le met « À traiter » et reprend la "
                   "demande dans la note si elle est vide.");

FollowUpDraftView::FollowUpDraftView(AppModel& model, Decision decision, QWidget* parent)
    : QFrame(parent), m_model(model), m_decision(decision)
{
    setObjectName(QStringLiteral("followUpDraft"));
    setTone(QStringLiteral("accent"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::kCardPaddingPx, 14, Theme::kCardPaddingPx, 14);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(Theme::symbol(QStringLiteral("sparkles"), 18, this));
    header->addWidget(Theme::sectionTitle(kTitle, this), 1);
    m_mark = Theme::eyebrow(QString(), this);
    m_mark->setObjectName(QStringLiteral("followUpUrgency"));
    header->addWidget(m_mark);
    layout->addLayout(header);

    m_status = Theme::caption(QString(), this);
    m_status->setObjectName(QStringLiteral("followUpStatus"));
    layout->addWidget(m_status);

    m_fields = new QWidget(this);
    m_grid = new QGridLayout(m_fields);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(12);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(1, 1);
    layout->addWidget(m_fields);

    m_outcome = Theme::caption(QString(), this);
    m_outcome->setObjectName(QStringLiteral("followUpOutcome"));
    layout->addWidget(m_outcome);

    m_actions = new QWidget(this);
    auto* actions = new QHBoxLayout(m_actions);
    actions->setContentsMargins(0, 4, 0, 0);
    actions->setSpacing(8);
    actions->addWidget(Theme::caption(kApplyHelp, m_actions), 1);
    m_apply = Theme::primaryButton(QStringLiteral("Appliquer"), m_actions);
    m_apply->setObjectName(QStringLiteral("applyFollowUp"));
    m_ignore = Theme::secondaryButton(QStringLiteral("Ignorer"), m_actions);
    m_ignore->setObjectName(QStringLiteral("ignoreFollowUp"));
    connect(m_apply, &QPushButton::clicked, this, [this] {
        if (m_record)
            m_model.applyFollowUpDraft(*m_record);
    });
    connect(m_ignore, &QPushButton::clicked, this, [this] {
        if (m_record)
            m_model.ignoreFollowUpDraft(*m_record);
    });
    actions->addWidget(m_apply, 0, Qt::AlignTop);
    actions->addWidget(m_ignore, 0, Qt::AlignTop);
    layout->addWidget(m_actions);
    hide();
}

void FollowUpDraftView::setTone(const QString& tone)
{
    if (tone == m_tone)
        return;
    m_tone = tone;
    setProperty("role", QStringLiteral("banner-") + tone);
    style()->unpolish(this);
    style()->polish(this);
}

void FollowUpDraftView::showRecord(const CallRecord& record, const QString& status)
{
    m_record = record.id;
    const std::optional<FollowUpDraft>& draft = record.followUpDraft;
    setVisible(draft.has_value() || !status.isEmpty());
    m_status->setVisible(!draft && !status.isEmpty());
    m_status->setText(status);
    m_fields->setVisible(draft.has_value());
    m_mark->setVisible(draft.has_value());
    const bool waiting = draft && !draft->decision;
    m_actions->setVisible(waiting && m_decision == Decision::Offered);
    m_outcome->setVisible(draft && draft->decision);
    if (!draft) {
        m_shown.reset();
        setTone(QStringLiteral("accent"));
        return;
    }
    if (draft->decision)
        m_outcome->setText(*draft->decision == FollowUpDraft::Decision::Applied
                               ? QStringLiteral("Suggestion appliquée.")
                               : QStringLiteral("Suggestion ignorée."));
    setTone(draft->urgent ? QStringLiteral("danger") : QStringLiteral("accent"));
    m_mark->setText(draft->urgent ? QStringLiteral("URGENT") : QStringLiteral("NORMAL"));
    m_mark->setStyleSheet(draft->urgent ? QStringLiteral("color: %1;").arg(Theme::kDanger.name())
                                        : QString());
    if (m_shown == draft)
        return;
    m_shown = draft;
    while (QLayoutItem* item = m_grid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    int row = 0;
    for (const auto& [label, value] : draft->fields()) {
        QLabel* name = Theme::caption(label, m_fields);
        name->setWordWrap(false);
        m_grid->addWidget(name, row, 0, Qt::AlignTop);
        QLabel* text = Theme::body(value, m_fields);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_grid->addWidget(text, row, 1);
        ++row;
    }
}
