#include "app/windows/MacConversationTestWindow.h"

#include "app/audio/AudioBridge.h"
#include "app/audio/MacAudioRoute.h"
#include "app/model/AppModel.h"
#include "app/ui/MicrophoneLevelView.h"
#include "app/windows/Theme.h"
#include "app/windows/TranscriptView.h"
#include "app/windows/VoiceSettingsWindow.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

const QStringList MacConversationTestWindow::kVoices = {
    QStringLiteral("marin"),   QStringLiteral("cedar"),  QStringLiteral("coral"), QStringLiteral("alloy"),
    QStringLiteral("ash"),     QStringLiteral("ballad"), QStringLiteral("echo"),  QStringLiteral("sage"),
    QStringLiteral("shimmer"), QStringLiteral("verse")};

namespace {

constexpr int kLevelIntervalMs = 100;

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QFrame* paddedCard(QBoxLayout*& inner)
{
    QFrame* frame = Theme::card();
    inner = new QVBoxLayout(frame);
    inner->setContentsMargins(Theme::kCardPaddingPx, 14, Theme::kCardPaddingPx, 14);
    inner->setSpacing(10);
    return frame;
}

} // namespace

MacConversationTestWindow::MacConversationTestWindow(AppModel& model, QWidget* parent)
    : QDialog(parent), m_model(model), m_levelTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("macConversationTest"));
    setWindowTitle(QStringLiteral("Parler à Orlea sur ce Mac"));
    resize(720, 700);
    QBoxLayout* layout = Theme::scrollingPage(this);
    QPushButton* close = Theme::addSheetHeader(layout, QStringLiteral("Parler à Orlea sur ce Mac"),
                                               QStringLiteral("mic.circle.fill"));
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    layout->addWidget(Theme::body(QStringLiteral(
        "Vous jouez le rôle d’un locataire. Orlea prépare le micro et les haut-parleurs intégrés, "
        "puis vérifie leur fonctionnement. Les réglages précédents seront rétablis en quittant le "
        "test.")));
    layout->addWidget(
        Theme::caption(QStringLiteral("Exemple : « Bonjour, j’ai une fuite sous l’évier. » Parlez "
                                      "normalement, puis laissez l’assistant répondre.")));

    m_noKey = Theme::banner(QStringLiteral("warning"));
    m_noKey->setObjectName(QStringLiteral("noKeyBanner"));
    auto* noKeyLayout = new QHBoxLayout(m_noKey);
    noKeyLayout->setContentsMargins(Theme::kCardPaddingPx, 10, Theme::kCardPaddingPx, 10);
    noKeyLayout->addWidget(Theme::symbol(QStringLiteral("key"), 18));
    noKeyLayout->addWidget(
        Theme::body(QStringLiteral("Enregistrez votre clé OpenAI dans Connexions avant de commencer.")), 1);
    layout->addWidget(m_noKey);

    // Readiness: four checks in two columns, the two actions, and the live lines of the checks.
    QBoxLayout* readiness = nullptr;
    layout->addWidget(paddedCard(readiness));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    auto addCheck = [grid](Check& check, const QString& name, int row, int column) {
        check.tick = Theme::symbol(QStringLiteral("circle.dotted"), 18);
        check.name = Theme::body(name);
        check.name->setWordWrap(false);
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(check.tick);
        line->addWidget(check.name, 1);
        grid->addLayout(line, row, column);
    };
    addCheck(m_micCheck, QStringLiteral("Autorisation du micro"), 0, 0);
    addCheck(m_keyCheck, QStringLiteral("Clé IA enregistrée"), 0, 1);
    addCheck(m_aiCheck, QStringLiteral("Connexion à l’IA"), 1, 0);
    addCheck(m_audioCheck, QStringLiteral("Audio du Mac"), 1, 1);
    readiness->addLayout(grid);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_allowMicrophone = Theme::secondaryButton(QStringLiteral("Autoriser le micro"));
    connect(m_allowMicrophone, &QPushButton::clicked, &m_model, &AppModel::allowMicrophone);
    actions->addWidget(m_allowMicrophone);
    m_recheckAudio = Theme::secondaryButton(QStringLiteral("Revérifier l’audio du Mac"));
    connect(m_recheckAudio, &QPushButton::clicked, &m_model, &AppModel::prepareMacAssistant);
    actions->addWidget(m_recheckAudio);
    actions->addStretch(1);
    readiness->addLayout(actions);
    m_status = Theme::caption(QString());
    m_status->setObjectName(QStringLiteral("statusLine"));
    readiness->addWidget(m_status);
    m_route = Theme::caption(QString());
    m_route->setObjectName(QStringLiteral("routeLine"));
    readiness->addWidget(m_route);
    m_aiStatus = Theme::caption(QString());
    m_aiStatus->setObjectName(QStringLiteral("aiStatus"));
    readiness->addWidget(m_aiStatus);

    // The voice, and the conversation itself.
    QBoxLayout* conversation = nullptr;
    layout->addWidget(paddedCard(conversation));
    auto* voiceRow = new QHBoxLayout;
    voiceRow->setSpacing(10);
    auto* voiceLabel = Theme::body(QStringLiteral("Voix"));
    voiceLabel->setWordWrap(false);
    voiceRow->addWidget(voiceLabel);
    m_voice = new QComboBox;
    m_voice->setObjectName(QStringLiteral("voicePicker"));
    m_voice->addItems(kVoices);
    m_voice->setMinimumWidth(140);
    connect(m_voice, &QComboBox::activated, this, &MacConversationTestWindow::chooseVoice);
    voiceRow->addWidget(m_voice);
    voiceRow->addStretch(1);
    voiceRow->addWidget(new VoiceSettingsLauncher(m_model, this));
    conversation->addLayout(voiceRow);
    conversation->addWidget(
        Theme::caption(QStringLiteral("Terminez l’essai pour choisir une autre voix, puis recommencez.")));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_start = Theme::primaryButton(QStringLiteral("Commencer la conversation"));
    m_start->setObjectName(QStringLiteral("startConversation"));
    connect(m_start, &QPushButton::clicked, &m_model, &AppModel::startTest);
    buttons->addWidget(m_start);
    m_finish = Theme::secondaryButton(QStringLiteral("Terminer et sauvegarder"));
    m_finish->setObjectName(QStringLiteral("finishConversation"));
    connect(m_finish, &QPushButton::clicked, &m_model, &AppModel::finish);
    buttons->addWidget(m_finish);
    buttons->addStretch(1);
    conversation->addLayout(buttons);
    m_levels = new MicrophoneLevelView;
    m_levels->setObjectName(QStringLiteral("levels"));
    // The meters' name column is 130 px wide: the sheet's smaller text keeps "Son préparé pour l’IA" whole.
    m_levels->setStyleSheet(QStringLiteral("QLabel { font-size: 12px; }"));
    conversation->addWidget(m_levels);

    QBoxLayout* transcript = nullptr;
    layout->addWidget(paddedCard(transcript));
    transcript->addWidget(Theme::sectionTitle(QStringLiteral("Transcription")));
    m_transcript = new TranscriptView(QStringLiteral("Les paroles échangées s’afficheront ici."));
    m_transcript->setObjectName(QStringLiteral("transcript"));
    m_transcript->setMinimumHeight(140);
    transcript->addWidget(m_transcript);

    layout->addWidget(
        Theme::caption(QStringLiteral("Cet essai utilise votre connexion OpenAI et son crédit API. "
                                      "Baissez le volume si la voix de l’assistant revient dans le "
                                      "micro.")));
    layout->addWidget(
        Theme::caption(QStringLiteral("Ce test valide la conversation sur le Mac. Les circuits "
                                      "virtuels sont vérifiés séparément ; le relais iPhone et le "
                                      "décrochage restent à confirmer lors d’un véritable appel.")));
    m_recordingNote = Theme::caption(QString());
    m_recordingNote->setObjectName(QStringLiteral("recordingNote"));
    layout->addWidget(m_recordingNote);
    layout->addStretch(1);

    m_levelTimer->setInterval(kLevelIntervalMs);
    connect(m_levelTimer, &QTimer::timeout, this, &MacConversationTestWindow::refreshLevels);
    connect(&m_model, &AppModel::changed, this, &MacConversationTestWindow::refresh);
    refresh();
}

MacConversationTestWindow::~MacConversationTestWindow()
{
    // Destroyed while shown (its parent went away): the same as closing it.
    disappeared();
}

void MacConversationTestWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        appeared();
}

void MacConversationTestWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // A minimised parent hides the sheet spontaneously; that is no closing.
    if (!event->spontaneous())
        disappeared();
}

void MacConversationTestWindow::appeared()
{
    if (m_open)
        return;
    m_open = true;
    m_model.setMacAssistantOpen(true);
    m_model.prepareMacAssistant();
    refresh();
}

void MacConversationTestWindow::disappeared()
{
    if (!m_open)
        return;
    m_open = false;
    m_levelTimer->stop();
    m_model.setMacAssistantOpen(false);
    // A running conversation keeps the built-in route; its end puts the defaults back.
    if (!m_model.busy())
        m_model.macRoute().restore();
}

void MacConversationTestWindow::chooseVoice(int index)
{
    const QString voice = kVoices.value(index);
    if (voice.isEmpty() || voice == m_model.voice())
        return;
    m_model.setVoice(voice);
    m_model.saveSettings();
}

void MacConversationTestWindow::refresh()
{
    Theme::setTicked(m_micCheck.tick, m_model.micAllowed());
    Theme::setTicked(m_keyCheck.tick, m_model.keyPresent());
    Theme::setTicked(m_aiCheck.tick, m_model.aiVerified());
    Theme::setTicked(m_audioCheck.tick, m_model.macAudioVerified());

    const bool idle = !m_model.busy() && !m_model.armed();
    m_allowMicrophone->setEnabled(!m_model.micAllowed());
    m_recheckAudio->setEnabled(idle && !m_model.macPreparing() && !m_model.setupWorking());

    m_noKey->setVisible(!m_model.keyPresent());
    setTextIfChanged(m_status, m_model.status());
    setTextIfChanged(m_route, m_model.macTestRoute());
    setTextIfChanged(m_aiStatus, m_model.aiStatus());

    const int voiceIndex = int(kVoices.indexOf(m_model.voice()));
    if (m_voice->currentIndex() != voiceIndex)
        m_voice->setCurrentIndex(voiceIndex);
    m_voice->setEnabled(!m_model.busy());

    m_start->setEnabled(idle && m_model.keyPresent() && m_model.micAllowed() && m_model.macAudioVerified());
    // A phone call in progress is not this sheet's conversation: it is neither shown nor ended here.
    const bool conversationHere = m_model.busy() && !m_model.phoneSession();
    m_finish->setVisible(conversationHere);

    m_transcript->setLines(conversationHere && m_model.current() ? m_model.current()->transcript
                                                                 : QList<TranscriptLine>{});
    setTextIfChanged(
        m_recordingNote,
        m_model.recordingEnabled()
            ? QStringLiteral("La transcription et l’enregistrement seront disponibles dans Dossiers "
                             "après le test.")
            : QStringLiteral("La transcription sera disponible dans Dossiers. L’enregistrement "
                             "audio est désactivé."));

    // The probe publishes its levels through the model; a conversation's are read from the bridge.
    const bool conversationOnMac = m_model.busy() && !m_model.phoneSession();
    if (conversationOnMac && m_open && !m_levelTimer->isActive())
        m_levelTimer->start();
    else if (!conversationOnMac && m_levelTimer->isActive())
        m_levelTimer->stop();
    refreshLevels();
}

void MacConversationTestWindow::refreshLevels()
{
    if (m_model.busy() && !m_model.phoneSession()) {
        const AudioBridge::Levels levels = m_model.audio().inputLevels();
        m_levels->setLevels(levels.raw, levels.converted);
        return;
    }
    m_levels->setLevels(m_model.probeLevels().raw, m_model.probeLevels().converted);
}
