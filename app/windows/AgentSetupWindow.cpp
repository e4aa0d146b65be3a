#include "app/windows/AgentSetupWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QUrl>

const QString AgentSetupWindow::kCustomVoiceDocumentation =
    QStringLiteral("https://platform.openai.com/docs/guides/text-to-speech");

namespace {
constexpr int kSheetWidthPx = 760;
constexpr int kSheetHeightPx = 690;
constexpr int kMissionEditorHeightPx = 190;

QFrame* sectionCard(const QString& title, QBoxLayout*& layout)
{
    QFrame* frame = Theme::card();
    layout = new QVBoxLayout(frame);
    layout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx - 4, Theme::kCardPaddingPx,
                               Theme::kCardPaddingPx);
    layout->setSpacing(8);
    layout->addWidget(Theme::sectionTitle(title, frame));
    return frame;
}

// Shows `value` as the current entry, adding it when the picker does not offer it: a voice set
// elsewhere is displayed as it is rather than silently replaced by the first choice.
void selectValue(QComboBox* picker, const QString& value)
{
    int index = picker->findData(value);
    if (index < 0) {
        picker->addItem(value, value);
        index = picker->count() - 1;
    }
    picker->setCurrentIndex(index);
}
} // namespace

AgentSetupWindow::AgentSetupWindow(AppModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    setObjectName(QStringLiteral("agentSetupWindow"));
    setWindowTitle(QStringLiteral("Mon assistant IA"));
    resize(kSheetWidthPx, kSheetHeightPx);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 20, 24, 18);
    outer->setSpacing(Theme::kSpacingPx);
    QPushButton* close =
        Theme::addSheetHeader(outer, QStringLiteral("Mon assistant IA"), QStringLiteral("sparkles"));
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(0, 0, 4, 0);
    sections->setSpacing(Theme::kSpacingPx);
    sections->addWidget(buildExampleSection());
    sections->addWidget(buildCompanySection());
    sections->addWidget(buildVoiceSection());
    sections->addWidget(buildMissionSection());
    sections->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* talk = Theme::secondaryButton(QStringLiteral("Enregistrer et parler avec l’IA"), this);
    talk->setObjectName(QStringLiteral("saveAndTalkButton"));
    connect(talk, &QPushButton::clicked, this, &AgentSetupWindow::saveAndTalk);
    buttons->addWidget(talk);
    QPushButton* save = Theme::primaryButton(QStringLiteral("Enregistrer"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    connect(save, &QPushButton::clicked, this, &AgentSetupWindow::saveAndClose);
    buttons->addWidget(save);
    outer->addLayout(buttons);

    m_draft.load(m_model);
    showDraft();
    connect(&m_model, &AppModel::changed, this, &AgentSetupWindow::refresh);
    refresh();
}

QWidget* AgentSetupWindow::buildExampleSection()
{
    QBoxLayout* layout = nullptr;
    QFrame* section = sectionCard(QStringLiteral("Partir d’un exemple"), layout);
    auto* row = new QHBoxLayout;
    m_templatePicker = new QComboBox(section);
    m_templatePicker->setObjectName(QStringLiteral("templatePicker"));
    m_templatePicker->addItems(m_draft.templates);
    m_templatePicker->setMinimumWidth(240);
    connect(m_templatePicker, &QComboBox::currentTextChanged, this,
            [this](const QString& name) { m_draft.templateName = name; });
    row->addWidget(m_templatePicker);
    QPushButton* use = Theme::secondaryButton(QStringLiteral("Utiliser cet exemple"), section);
    use->setObjectName(QStringLiteral("useExampleButton"));
    connect(use, &QPushButton::clicked, this, &AgentSetupWindow::useExample);
    row->addWidget(use);
    row->addStretch(1);
    layout->addLayout(row);
    return section;
}

QWidget* AgentSetupWindow::buildCompanySection()
{
    QBoxLayout* layout = nullptr;
    QFrame* section = sectionCard(QStringLiteral("Entreprise ou service représenté"), layout);
    m_companyField = new QLineEdit(section);
    m_companyField->setObjectName(QStringLiteral("companyField"));
    connect(m_companyField, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_draft.company = text; });
    layout->addWidget(m_companyField);
    return section;
}

QWidget* AgentSetupWindow::buildVoiceSection()
{
    QBoxLayout* layout = nullptr;
    QFrame* section = sectionCard(QStringLiteral("Sa voix"), layout);

    auto* pickers = new QHBoxLayout;
    pickers->setSpacing(10);
    pickers->addWidget(Theme::caption(QStringLiteral("Ton"), section));
    m_tonePicker = new QComboBox(section);
    m_tonePicker->setObjectName(QStringLiteral("tonePicker"));
    for (const QString& tone : AgentDraft::kTones)
        m_tonePicker->addItem(tone, tone);
    connect(m_tonePicker, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_draft.tone = m_tonePicker->itemData(index).toString(); });
    pickers->addWidget(m_tonePicker, 3);
    pickers->addSpacing(12);
    pickers->addWidget(Theme::caption(QStringLiteral("Voix"), section));
    m_voicePicker = new QComboBox(section);
    m_voicePicker->setObjectName(QStringLiteral("voicePicker"));
    for (const QString& voice : AgentDraft::kVoices)
        m_voicePicker->addItem(voice, voice);
    connect(m_voicePicker, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_draft.voice = m_voicePicker->itemData(index).toString(); });
    pickers->addWidget(m_voicePicker, 2);
    layout->addLayout(pickers);

    m_customVoiceToggle = new QToolButton(section);
    m_customVoiceToggle->setObjectName(QStringLiteral("customVoiceToggle"));
    m_customVoiceToggle->setText(QStringLiteral("Utiliser ma propre voix"));
    m_customVoiceToggle->setCheckable(true);
    m_customVoiceToggle->setArrowType(Qt::RightArrow);
    m_customVoiceToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_customVoiceToggle->setAutoRaise(true);
    m_customVoiceToggle->setCursor(Qt::PointingHandCursor);
    m_customVoiceToggle->setStyleSheet(
        QStringLiteral("QToolButton { border: none; background: transparent; padding: 2px 0; }"));
    layout->addWidget(m_customVoiceToggle);

    m_customVoiceDetails = new QWidget(section);
    m_customVoiceDetails->setObjectName(QStringLiteral("customVoiceDetails"));
    auto* details = new QVBoxLayout(m_customVoiceDetails);
    details->setContentsMargins(16, 0, 0, 0);
    details->setSpacing(4);
    details->addWidget(Theme::caption(
        QStringLiteral(
            "Possible avec une voix personnalisée approuvée par OpenAI : un consentement enregistré et "
            "un échantillon de votre voix. L’accès dépend de votre compte. Cette fonction n’est pas "
            "encore connectée dans Orlea."),
        m_customVoiceDetails));
    QPushButton* link =
        Theme::linkButton(QStringLiteral("Conditions des voix personnalisées"), m_customVoiceDetails);
    link->setObjectName(QStringLiteral("customVoiceLink"));
    link->setToolTip(kCustomVoiceDocumentation);
    connect(link, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(kCustomVoiceDocumentation)); });
    details->addWidget(link, 0, Qt::AlignLeft);
    m_customVoiceDetails->setVisible(false);
    layout->addWidget(m_customVoiceDetails);
    connect(m_customVoiceToggle, &QToolButton::toggled, this, [this](bool open) {
        m_customVoiceToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_customVoiceDetails->setVisible(open);
    });
    return section;
}

QWidget* AgentSetupWindow::buildMissionSection()
{
    QBoxLayout* layout = nullptr;
    QFrame* section = sectionCard(QStringLiteral("Sa mission et tes consignes"), layout);
    layout->addWidget(Theme::caption(
        QStringLiteral("Décris son rôle comme tu le ferais à une nouvelle personne dans ton équipe."),
        section));
    m_missionEditor = new QPlainTextEdit(section);
    m_missionEditor->setObjectName(QStringLiteral("missionEditor"));
    Theme::fitWholeLines(m_missionEditor, kMissionEditorHeightPx);
    connect(m_missionEditor, &QPlainTextEdit::textChanged, this,
            [this] { m_draft.instructions = m_missionEditor->toPlainText(); });
    layout->addWidget(m_missionEditor);
    layout->addWidget(Theme::caption(
        QStringLiteral("Précise les questions à poser, les informations à noter et quand demander un rappel "
                       "humain. Cette version prend des messages ; elle ne peut pas encore envoyer de SMS, "
                       "engager une dépense ou transférer l’appel."),
        section));
    return section;
}

void AgentSetupWindow::showDraft()
{
    if (m_companyField->text() != m_draft.company)
        m_companyField->setText(m_draft.company);
    m_tonePicker->setCurrentIndex(m_tonePicker->findData(m_draft.tone));
    selectValue(m_voicePicker, m_draft.voice);
    m_templatePicker->setCurrentText(m_draft.templateName);
    if (m_missionEditor->toPlainText() != m_draft.instructions)
        m_missionEditor->setPlainText(m_draft.instructions);
}

// The draft was loaded when the sheet opened and belongs to the user until saved; nothing to re-read.
void AgentSetupWindow::refresh() {}

void AgentSetupWindow::useExample()
{
    m_draft.applyTemplate();
    if (m_missionEditor->toPlainText() != m_draft.instructions)
        m_missionEditor->setPlainText(m_draft.instructions);
}

void AgentSetupWindow::saveAndTalk()
{
    m_draft.saveDraft(m_model);
    m_draft.showTest = true;
    if (m_test) {
        m_test->raise();
        return;
    }
    auto* test = new MacConversationTestWindow(m_model, this);
    test->setAttribute(Qt::WA_DeleteOnClose);
    test->setWindowModality(Qt::WindowModal);
    connect(test, &QDialog::finished, this, [this] { m_draft.showTest = false; });
    m_test = test;
    test->show();
}

void AgentSetupWindow::saveAndClose()
{
    m_draft.saveDraft(m_model);
    accept();
}
