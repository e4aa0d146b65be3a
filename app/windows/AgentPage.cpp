#include "app/windows/AgentPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

const QList<QPair<QString, QString>> AgentPage::kVoices{{QStringLiteral("Marin"), QStringLiteral("marin")},
                                                        {QStringLiteral("Cedar"), QStringLiteral("cedar")},
                                                        {QStringLiteral("Coral"), QStringLiteral("coral")}};

namespace {
constexpr int kInstructionsHeightPx = 150;

QLabel* fieldLabel(const QString& text, QWidget* parent)
{
    QLabel* label = Theme::body(text, parent);
    label->setStyleSheet(QStringLiteral("font-weight: 600;"));
    return label;
}
} // namespace

AgentPage::AgentPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("agentPage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("Une voix, votre accueil.")));
    layout->addWidget(
        Theme::pageSubtitle(QStringLiteral("Définissez comment Orlea accueille vos interlocuteurs.")));
    layout->addSpacing(4);
    layout->addWidget(buildEditor());
    layout->addWidget(buildMissionCard());
    layout->addStretch(1);

    m_shownCompany = m_model.company();
    m_shownVoice = m_model.voice();
    m_shownInstructions = m_model.customInstructions();
    m_companyField->setText(m_shownCompany);
    selectVoice(m_shownVoice);
    m_instructionsEditor->setPlainText(m_shownInstructions);

    connect(&m_model, &AppModel::changed, this, &AgentPage::refresh);
    refresh();
}

QWidget* AgentPage::buildEditor()
{
    QFrame* card = Theme::card();
    card->setObjectName(QStringLiteral("agentEditor"));
    QBoxLayout* layout = Theme::cardLayout(card, 8);

    layout->addWidget(fieldLabel(QStringLiteral("Nom de votre entreprise"), card));
    m_companyField = new QLineEdit(card);
    m_companyField->setObjectName(QStringLiteral("companyField"));
    layout->addWidget(m_companyField);
    layout->addSpacing(4);

    layout->addWidget(fieldLabel(QStringLiteral("Voix"), card));
    m_voicePicker = new QComboBox(card);
    m_voicePicker->setObjectName(QStringLiteral("voicePicker"));
    for (const auto& [shown, value] : kVoices)
        m_voicePicker->addItem(shown, value);
    m_voicePicker->setMinimumWidth(200);
    layout->addWidget(m_voicePicker, 0, Qt::AlignLeft);
    layout->addSpacing(4);

    layout->addWidget(fieldLabel(QStringLiteral("Vos consignes d’accueil"), card));
    m_instructionsEditor = new QPlainTextEdit(card);
    m_instructionsEditor->setObjectName(QStringLiteral("instructionsEditor"));
    Theme::fitWholeLines(m_instructionsEditor, kInstructionsHeightPx);
    layout->addWidget(m_instructionsEditor);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    m_lockedNote = Theme::caption(QString(), card);
    m_lockedNote->setObjectName(QStringLiteral("agentLockedNote"));
    row->addWidget(m_lockedNote, 1);
    m_saveButton = Theme::primaryButton(QStringLiteral("Enregistrer"), card);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    connect(m_saveButton, &QPushButton::clicked, this, &AgentPage::save);
    row->addWidget(m_saveButton, 0, Qt::AlignTop);
    layout->addLayout(row);
    return card;
}

QWidget* AgentPage::buildMissionCard()
{
    QFrame* card = Theme::card();
    card->setObjectName(QStringLiteral("missionCard"));
    QBoxLayout* layout = Theme::cardLayout(card, 8);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Sa mission pour cette première version"), card));
    const QList<QPair<QString, QString>> lines{
        {QStringLiteral("person.crop.circle.badge.checkmark"),
         QStringLiteral("Confirmer l’identité, le logement et le numéro de rappel")},
        {QStringLiteral("bubble.left.and.bubble.right"),
         QStringLiteral("Comprendre le problème et poser les bonnes questions")},
        {QStringLiteral("text.badge.checkmark"),
         QStringLiteral("Reformuler la demande et préparer le suivi humain")},
    };
    for (const auto& [icon, text] : lines) {
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        row->addWidget(Theme::symbol(icon, 20, card));
        row->addWidget(Theme::body(text, card), 1);
        layout->addLayout(row);
    }
    layout->addSpacing(4);
    layout->addWidget(Theme::caption(
        QStringLiteral(
            "Orlea accueille au nom de votre entreprise. Elle ne déclenche aucun paiement, "
            "intervention, SMS ou e-mail. Les photos et les logiciels métier seront raccordés dans "
            "une prochaine étape."),
        card));
    m_openSheet = Theme::secondaryButton(QStringLiteral("Ouvrir mon assistant IA"), card);
    m_openSheet->setObjectName(QStringLiteral("openAgentSetupButton"));
    connect(m_openSheet, &QPushButton::clicked, this, [this] { m_model.setShowAgentSetup(true); });
    layout->addWidget(m_openSheet, 0, Qt::AlignLeft);
    return card;
}

void AgentPage::selectVoice(const QString& voice)
{
    // A voice chosen elsewhere (the full editor offers ten) is shown as it is, never swapped for Marin.
    for (int index = m_voicePicker->count() - 1; index >= kVoices.size(); --index)
        if (m_voicePicker->itemData(index).toString() != voice)
            m_voicePicker->removeItem(index);
    int index = m_voicePicker->findData(voice);
    if (index < 0) {
        QString shown = voice;
        if (!shown.isEmpty())
            shown[0] = shown[0].toUpper();
        m_voicePicker->addItem(shown, voice);
        index = m_voicePicker->count() - 1;
    }
    m_voicePicker->setCurrentIndex(index);
}

void AgentPage::refresh()
{
    // The dashboard's rule: the agent is not changed while the switchboard listens or talks.
    const bool locked = m_model.busy() || m_model.armed();
    for (QWidget* control : std::initializer_list<QWidget*>{m_companyField, m_voicePicker,
                                                            m_instructionsEditor, m_saveButton, m_openSheet})
        control->setEnabled(!locked);
    const QString note =
        m_model.busy()
            ? QStringLiteral("Une conversation est en cours : votre agent se modifie après l’appel.")
        : m_model.armed()
            ? QStringLiteral("Le standard est actif : mettez-le en pause pour modifier votre agent.")
            : QString();
    if (m_lockedNote->text() != note)
        m_lockedNote->setText(note);

    if (m_model.company() != m_shownCompany) {
        m_shownCompany = m_model.company();
        if (m_companyField->text() != m_shownCompany)
            m_companyField->setText(m_shownCompany);
    }
    if (m_model.voice() != m_shownVoice) {
        m_shownVoice = m_model.voice();
        selectVoice(m_shownVoice);
    }
    if (m_model.customInstructions() != m_shownInstructions) {
        m_shownInstructions = m_model.customInstructions();
        if (m_instructionsEditor->toPlainText() != m_shownInstructions)
            m_instructionsEditor->setPlainText(m_shownInstructions);
    }
}

void AgentPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Leaving the page drops what was typed and not saved, so nothing unsaved ever looks saved. A
    // minimised window hides the page too, but that is no leaving.
    if (!event->spontaneous())
        discardUnsaved();
}

void AgentPage::discardUnsaved()
{
    m_shownCompany = m_model.company();
    m_shownVoice = m_model.voice();
    m_shownInstructions = m_model.customInstructions();
    if (m_companyField->text() != m_shownCompany)
        m_companyField->setText(m_shownCompany);
    selectVoice(m_shownVoice);
    if (m_instructionsEditor->toPlainText() != m_shownInstructions)
        m_instructionsEditor->setPlainText(m_shownInstructions);
}

void AgentPage::save()
{
    if (m_model.busy() || m_model.armed())
        return;
    m_shownCompany = m_companyField->text();
    m_shownVoice = m_voicePicker->currentData().toString();
    m_shownInstructions = m_instructionsEditor->toPlainText();
    m_model.setCompany(m_shownCompany);
    m_model.setVoice(m_shownVoice);
    m_model.setCustomInstructions(m_shownInstructions);
    m_model.saveSettings();
    selectVoice(m_shownVoice);
}
