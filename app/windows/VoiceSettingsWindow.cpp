#include "app/windows/VoiceSettingsWindow.h"

#include "app/audio/VoiceEQSettings.h"
#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

const QStringList VoiceSettingsWindow::kBandLabels{
    QStringLiteral("63 Hz"),  QStringLiteral("125 Hz"), QStringLiteral("250 Hz"),
    QStringLiteral("500 Hz"), QStringLiteral("1 kHz"),  QStringLiteral("2 kHz"),
    QStringLiteral("4 kHz"),  QStringLiteral("8 kHz"),  QStringLiteral("10 kHz")};

const QString VoiceSettingsWindow::kGentlePreset = QStringLiteral(
    "Parle avec une voix douce, bienveillante et naturelle, un débit posé et une intonation discrète. "
    "Réponses courtes, une question à la fois. Évite de commencer systématiquement par ‘je vois’, ‘je "
    "comprends’, ‘d’accord’ ou ‘tout à fait’. Passe directement à la question utile et montre ton attention "
    "en reprenant un détail concret. Évite les répétitions et l’enthousiasme exagéré.");

namespace {
constexpr int kSheetWidthPx = 600;
constexpr int kSheetHeightPx = 710;
constexpr int kStyleEditorHeightPx = 110;
constexpr int kBandLabelWidthPx = 56;
constexpr int kValueWidthPx = 72;

QLabel* heading(const QString& text, QWidget* parent)
{
    QLabel* label = Theme::sectionTitle(text, parent);
    return label;
}
} // namespace

VoiceSettingsWindow::VoiceSettingsWindow(AppModel& model, QWidget* parent)
    : QDialog(parent), m_model(model), m_ownDraft(std::make_unique<VoiceSettingsDraft>()),
      m_draft(m_ownDraft.get())
{
    build();
}

VoiceSettingsWindow::VoiceSettingsWindow(AppModel& model, VoiceSettingsDraft& draft, QWidget* parent)
    : QDialog(parent), m_model(model), m_draft(&draft)
{
    build();
}

VoiceSettingsWindow::~VoiceSettingsWindow() = default;

QString VoiceSettingsWindow::formatGain(float gainDb)
{
    // A stored −0 would otherwise read "-0.0 dB".
    const double value = gainDb == 0.0f ? 0.0 : double(gainDb);
    return QString::asprintf("%+.1f dB", value);
}

void VoiceSettingsWindow::build()
{
    setObjectName(QStringLiteral("voiceSettingsWindow"));
    setWindowTitle(QStringLiteral("Votre voix, à votre goût"));
    resize(kSheetWidthPx, kSheetHeightPx);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(22, 18, 22, 16);
    outer->setSpacing(10);
    QPushButton* close = Theme::addSheetHeader(outer, QStringLiteral("Votre voix, à votre goût"));
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 4, 0);
    layout->setSpacing(8);
    layout->addWidget(buildStyleSection());
    auto* divider = new QFrame(content);
    divider->setFrameShape(QFrame::HLine);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setStyleSheet(QStringLiteral("color: #e1e4ea;"));
    layout->addWidget(divider);
    layout->addWidget(buildEqualizerSection());
    layout->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    setStyleText(m_draft->text);
    connect(&m_model, &AppModel::changed, this, &VoiceSettingsWindow::refresh);
    refresh();
}

QWidget* VoiceSettingsWindow::buildStyleSection()
{
    auto* section = new QWidget;
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(heading(QStringLiteral("Comment doit parler ma voix ?"), section));
    QLabel* label = Theme::body(QStringLiteral("Consignes de style vocal"), section);
    label->setStyleSheet(QStringLiteral("font-weight: 600;"));
    layout->addWidget(label);
    m_styleEditor = new QPlainTextEdit(section);
    m_styleEditor->setObjectName(QStringLiteral("styleEditor"));
    Theme::fitWholeLines(m_styleEditor, kStyleEditorHeightPx);
    connect(m_styleEditor, &QPlainTextEdit::textChanged, this, &VoiceSettingsWindow::styleEdited);
    layout->addWidget(m_styleEditor);
    layout->addWidget(
        Theme::caption(QStringLiteral("Décrivez le ton, le rythme et les expressions à éviter. Ces "
                                      "consignes orientent la voix ; elles ne changent pas sa "
                                      "mission."),
                       section));

    auto* buttons = new QHBoxLayout;
    QPushButton* preset = Theme::secondaryButton(QStringLiteral("Douce et bienveillante"), section);
    preset->setObjectName(QStringLiteral("gentlePresetButton"));
    connect(preset, &QPushButton::clicked, this, [this] { setStyleText(kGentlePreset); });
    buttons->addWidget(preset);
    buttons->addStretch(1);
    m_applyButton = Theme::primaryButton(QStringLiteral("Appliquer le style"), section);
    m_applyButton->setObjectName(QStringLiteral("applyStyleButton"));
    connect(m_applyButton, &QPushButton::clicked, this, [this] {
        if (m_draft->canApply())
            m_model.applyVoiceStyle(m_draft->text);
    });
    buttons->addWidget(m_applyButton);
    layout->addLayout(buttons);

    m_styleStatus = Theme::caption(QString(), section);
    m_styleStatus->setObjectName(QStringLiteral("styleStatus"));
    layout->addWidget(m_styleStatus);
    return section;
}

QWidget* VoiceSettingsWindow::buildEqualizerSection()
{
    auto* section = new QWidget;
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(heading(QStringLiteral("Égaliseur de la voix IA · 9 bandes"), section));
    layout->addWidget(
        Theme::caption(QStringLiteral("Réglages immédiats pendant la conversation et conservés pour "
                                      "les prochains appels. Le micro et la voix de l’appelant ne "
                                      "sont pas égalisés."),
                       section));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->setColumnMinimumWidth(0, kBandLabelWidthPx);
    const int range = int(VoiceEQSettings::kMaxGainDb) * kStepsPerDb;
    for (int band = 0; band < VoiceEQSettings::kBandCount; ++band) {
        QLabel* name = Theme::body(kBandLabels[band], section);
        name->setWordWrap(false);
        name->setFixedWidth(kBandLabelWidthPx);
        grid->addWidget(name, band, 0);
        QLabel* low = Theme::caption(QStringLiteral("−12 dB"), section);
        low->setWordWrap(false);
        grid->addWidget(low, band, 1);
        auto* slider = new QSlider(Qt::Horizontal, section);
        slider->setObjectName(QStringLiteral("bandSlider%1").arg(band));
        slider->setRange(-range, range);
        slider->setSingleStep(1);
        slider->setPageStep(kStepsPerDb * 3);
        slider->setAccessibleName(kBandLabels[band]);
        connect(slider, &QSlider::valueChanged, this, [this, band](int steps) { bandMoved(band, steps); });
        grid->addWidget(slider, band, 2);
        m_sliders << slider;
        QLabel* high = Theme::caption(QStringLiteral("+12 dB"), section);
        high->setWordWrap(false);
        grid->addWidget(high, band, 3);
        QLabel* value = Theme::body(QString(), section);
        value->setObjectName(QStringLiteral("bandValue%1").arg(band));
        value->setWordWrap(false);
        value->setFixedWidth(kValueWidthPx);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(value, band, 4);
        m_values << value;
    }
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);

    QPushButton* flat = Theme::secondaryButton(QStringLiteral("Remettre à plat"), section);
    flat->setObjectName(QStringLiteral("flattenButton"));
    connect(flat, &QPushButton::clicked, this, &VoiceSettingsWindow::flatten);
    layout->addWidget(flat, 0, Qt::AlignLeft);
    layout->addWidget(Theme::caption(
        QStringLiteral(
            "Protection des pics active après l’égaliseur. Le style agit sur les prochaines réponses ; "
            "une phrase déjà générée ne change pas. Pour changer de voix de base, terminez la "
            "conversation."),
        section));
    return section;
}

void VoiceSettingsWindow::showEvent(QShowEvent* event)
{
    // Each showing starts from the style the model uses now.
    m_draft->text = m_model.voiceStyle();
    setStyleText(m_draft->text);
    QDialog::showEvent(event);
}

void VoiceSettingsWindow::setStyleText(const QString& text)
{
    if (m_styleEditor->toPlainText() != text)
        m_styleEditor->setPlainText(text);
    styleEdited();
}

void VoiceSettingsWindow::styleEdited()
{
    m_draft->text = m_styleEditor->toPlainText();
    m_applyButton->setEnabled(m_draft->canApply());
}

void VoiceSettingsWindow::refresh()
{
    const std::vector<float> gains = m_model.voiceEQ().safeGains();
    for (int band = 0; band < VoiceEQSettings::kBandCount; ++band) {
        const int steps = int(std::lround(gains[band] * kStepsPerDb));
        if (m_sliders[band]->value() != steps && !m_sliders[band]->isSliderDown()) {
            const QSignalBlocker quiet(m_sliders[band]);
            m_sliders[band]->setValue(steps);
        }
        const QString text = formatGain(gains[band]);
        if (m_values[band]->text() != text)
            m_values[band]->setText(text);
    }
    const QString& status = m_model.voiceStyleStatus();
    if (m_styleStatus->text() != status)
        m_styleStatus->setText(status);
    m_styleStatus->setVisible(!status.isEmpty());
}

void VoiceSettingsWindow::bandMoved(int band, int steps)
{
    VoiceEQSettings settings;
    // Touching a band turns the equaliser on: with it off every band is bypassed and the move is not heard.
    settings.enabled = true;
    settings.gains = m_model.voiceEQ().safeGains();
    settings.gains[band] = float(steps) / kStepsPerDb;
    m_model.setVoiceEQ(settings);
    refresh();
}

void VoiceSettingsWindow::flatten()
{
    VoiceEQSettings settings;
    settings.enabled = m_model.voiceEQ().enabled;
    settings.gains.assign(VoiceEQSettings::kBandCount, 0.0f);
    m_model.setVoiceEQ(settings);
    refresh();
}

VoiceSettingsLauncher::VoiceSettingsLauncher(AppModel& model, QWidget* parent)
    : QPushButton(QStringLiteral("Régler la voix et l’égaliseur"), parent), m_model(model)
{
    setObjectName(QStringLiteral("voiceSettingsLauncher"));
    setProperty("role", QStringLiteral("secondary"));
    setCursor(Qt::PointingHandCursor);
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, &VoiceSettingsLauncher::present);
}

void VoiceSettingsLauncher::present()
{
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    m_draft.presented = true;
    auto* sheet = new VoiceSettingsWindow(m_model, m_draft, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, [this] { m_draft.presented = false; });
    m_sheet = sheet;
    sheet->show();
}
