#include "app/windows/DashboardPage.h"

#include "app/model/AppModel.h"
#include "app/records/ResponseLatency.h"
#include "app/ui/Icons.h"
#include "app/windows/FollowUpDraftView.h"
#include "app/windows/Theme.h"
#include "app/windows/TranscriptView.h"
#include "app/windows/UsageCounterView.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
const QString kConversations = QStringLiteral("Conversations");

QString hex(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

// One of our symbols painted in a single colour, so the status dot says the state at a glance.
QPixmap tintedSymbol(const QString& name, int sizePx, const QColor& color)
{
    QPixmap pixmap = Icons::pixmap(name, sizePx);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QHBoxLayout* checkRow(QBoxLayout* parent, const QString& text, QLabel** tick)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    *tick = Theme::symbol(QStringLiteral("circle.dotted"), 18);
    Theme::setTicked(*tick, false);
    row->addWidget(*tick);
    row->addWidget(Theme::body(text), 1);
    parent->addLayout(row);
    return row;
}
} // namespace

QString DashboardPage::statusLabel(bool busy, bool armed)
{
    if (busy)
        return QStringLiteral("CONVERSATION");
    return armed ? QStringLiteral("STANDARD ACTIF") : QStringLiteral("STANDARD EN PAUSE");
}

DashboardPage::StatusLines DashboardPage::statusLines(const QString& status, bool busy, bool armed,
                                                      bool checkingMacAudio)
{
    const qsizetype lineEnd = status.indexOf(QLatin1Char('\n'));
    const QString first = lineEnd < 0 ? status : status.left(lineEnd);
    if (!checkingMacAudio && first.size() <= kHeadingMaxCharacters)
        return {first, lineEnd < 0 ? QString() : status.mid(lineEnd + 1).trimmed()};
    // A report too long for a heading: the heading names the state, the report goes under it whole.
    QString heading;
    if (checkingMacAudio)
        heading = QStringLiteral("Vérification de l’audio du Mac…");
    else if (busy)
        heading = QStringLiteral("Conversation en cours");
    else
        heading = armed ? QStringLiteral("À l’écoute des appels") : QStringLiteral("Standard en pause");
    return {heading, status};
}

DashboardPage::DashboardPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("dashboardPage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    layout->addWidget(buildHeading());
    layout->addWidget(buildReadinessBanner());
    layout->addWidget(buildStatusCard());
    layout->addWidget(buildInterventionRow());
    layout->addWidget(buildTryCards());
    auto* lower = new QHBoxLayout;
    lower->setSpacing(Theme::kSpacingPx);
    lower->addWidget(buildLiveTranscript(), 3);
    lower->addWidget(buildChecklist(), 2);
    layout->addLayout(lower);
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &DashboardPage::refresh);
    refresh();
}

QWidget* DashboardPage::buildHeading()
{
    auto* heading = new QWidget(this);
    auto* row = new QHBoxLayout(heading);
    row->setContentsMargins(0, 0, 0, 4);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(Theme::pageTitle(QStringLiteral("Un accueil. L’esprit libre.")));
    texts->addWidget(
        Theme::pageSubtitle(QStringLiteral("Votre assistant prend le temps de comprendre chaque demande.")));
    row->addLayout(texts, 1);
    m_defineAgent = Theme::secondaryButton(QStringLiteral("Définir le rôle de l’agent"));
    m_defineAgent->setObjectName(QStringLiteral("defineAgentButton"));
    m_defineAgent->setIcon(Icons::get(QStringLiteral("wand.and.stars")));
    connect(m_defineAgent, &QPushButton::clicked, this, [this] { m_model.setShowAgentSetup(true); });
    row->addWidget(m_defineAgent, 0, Qt::AlignVCenter);
    return heading;
}

QWidget* DashboardPage::buildReadinessBanner()
{
    m_readinessBanner = Theme::banner(QStringLiteral("warning"), this);
    m_readinessBanner->setObjectName(QStringLiteral("readinessBanner"));
    auto* row = new QHBoxLayout(m_readinessBanner);
    row->setContentsMargins(Theme::kCardPaddingPx, 14, Theme::kCardPaddingPx, 14);
    row->setSpacing(12);
    row->addWidget(Theme::symbol(QStringLiteral("exclamationmark.triangle"), 22), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(Theme::sectionTitle(QStringLiteral("Le standard ne peut pas encore répondre")));
    m_readinessIssues = Theme::body(QString());
    m_readinessIssues->setObjectName(QStringLiteral("readinessIssues"));
    texts->addWidget(m_readinessIssues);
    row->addLayout(texts, 1);
    auto* finish = Theme::primaryButton(QStringLiteral("Terminer la configuration"));
    connect(finish, &QPushButton::clicked, this, [this] { m_model.setShowSetupAssistant(true); });
    row->addWidget(finish, 0, Qt::AlignVCenter);
    return m_readinessBanner;
}

QWidget* DashboardPage::buildStatusCard()
{
    m_statusCard = Theme::card(this);
    m_statusCard->setObjectName(QStringLiteral("statusCard"));
    auto* layout = new QVBoxLayout(m_statusCard);
    layout->setContentsMargins(Theme::kCardPaddingPx + 4, Theme::kCardPaddingPx, Theme::kCardPaddingPx + 4,
                               Theme::kCardPaddingPx);
    layout->setSpacing(6);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    m_statusSymbol = new QLabel(m_statusCard);
    m_statusSymbol->setObjectName(QStringLiteral("statusSymbol"));
    m_statusSymbol->setFixedSize(14, 14);
    top->addWidget(m_statusSymbol);
    m_statusLabel = Theme::eyebrow(QString());
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    top->addWidget(m_statusLabel, 1);
    auto* openPhone = Theme::linkButton(QStringLiteral("Ouvrir Téléphone"));
    openPhone->setIcon(Icons::get(QStringLiteral("phone")));
    connect(openPhone, &QPushButton::clicked, this, [this] { m_model.openPhone(); });
    top->addWidget(openPhone);
    layout->addLayout(top);

    m_status = Theme::pageTitle(QString());
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setStyleSheet(QStringLiteral("font-size: 20px;"));
    layout->addWidget(m_status);
    m_detail = Theme::body(QString());
    m_detail->setObjectName(QStringLiteral("statusDetail"));
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_detail);
    m_statusDiagnostic = Theme::caption(QString());
    m_statusDiagnostic->setObjectName(QStringLiteral("statusDiagnostic"));
    m_statusDiagnostic->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_statusDiagnostic);
    m_relayStatus = Theme::caption(QString());
    m_relayStatus->setObjectName(QStringLiteral("relayStatus"));
    layout->addWidget(m_relayStatus);
    m_audioDiagnostic = Theme::caption(QString());
    m_audioDiagnostic->setObjectName(QStringLiteral("audioDiagnostic"));
    m_audioDiagnostic->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_audioDiagnostic);
    layout->addWidget(Theme::caption(QStringLiteral(
        "Le standard répond aux appels relayés par l’iPhone. Gardez le Mac éveillé et la session ouverte.")));
    layout->addSpacing(6);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_toggleArmed = Theme::primaryButton(QStringLiteral("Activer le standard"));
    m_toggleArmed->setObjectName(QStringLiteral("toggleArmedButton"));
    connect(m_toggleArmed, &QPushButton::clicked, this, [this] { m_model.toggleArmed(); });
    actions->addWidget(m_toggleArmed);
    m_stopAgent = Theme::secondaryButton(QStringLiteral("Arrêter l’agent"));
    connect(m_stopAgent, &QPushButton::clicked, this, [this] { m_model.finish(); });
    actions->addWidget(m_stopAgent);
    m_joinCall = Theme::secondaryButton(QStringLiteral("Rejoindre l’appel"));
    connect(m_joinCall, &QPushButton::clicked, this, [this] { m_model.joinActiveCall(); });
    actions->addWidget(m_joinCall);
    m_outgoingTest = Theme::secondaryButton(QStringLiteral("Tester avec un appel sortant"));
    connect(m_outgoingTest, &QPushButton::clicked, this, [this] { m_model.setShowOutgoingTest(true); });
    actions->addWidget(m_outgoingTest);
    actions->addStretch(1);
    layout->addLayout(actions);
    return m_statusCard;
}

QWidget* DashboardPage::buildInterventionRow()
{
    auto* row = Theme::card(this);
    row->setObjectName(QStringLiteral("interventionRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(Theme::kCardPaddingPx, 10, Theme::kCardPaddingPx, 10);
    layout->setSpacing(10);
    m_interventionSymbol = Theme::symbol(QStringLiteral("mic"), 20);
    layout->addWidget(m_interventionSymbol);
    m_interventionText = Theme::body(QString());
    m_interventionText->setObjectName(QStringLiteral("interventionText"));
    layout->addWidget(m_interventionText, 1);
    m_intervention = Theme::secondaryButton(QString());
    m_intervention->setObjectName(QStringLiteral("interventionButton"));
    connect(m_intervention, &QPushButton::clicked, this, [this] { m_model.toggleIntervention(); });
    layout->addWidget(m_intervention);
    return row;
}

QWidget* DashboardPage::buildTryCards()
{
    auto* holder = new QWidget(this);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::kSpacingPx);

    auto makeCard = [this](const QString& symbolName, const QString& title, const QString& text,
                           const QString& buttonText) {
        auto* card = Theme::card(this);
        auto* layout = new QVBoxLayout(card);
        layout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                                   Theme::kCardPaddingPx);
        layout->setSpacing(8);
        auto* top = new QHBoxLayout;
        top->setSpacing(8);
        top->addWidget(Theme::symbol(symbolName, 22));
        if (!title.isEmpty())
            top->addWidget(Theme::sectionTitle(title), 1);
        else
            top->addStretch(1);
        layout->addLayout(top);
        layout->addWidget(Theme::body(text));
        layout->addStretch(1);
        auto* button = Theme::secondaryButton(buttonText);
        layout->addWidget(button, 0, Qt::AlignLeft);
        return std::make_pair(card, button);
    };

    auto [voiceCard, talk] =
        makeCard(QStringLiteral("mic.circle.fill"), QStringLiteral("Essayez sa voix"),
                 QStringLiteral("Parlez à Orlea depuis votre Mac avant votre premier appel."),
                 QStringLiteral("Parler à l’IA sur ce Mac"));
    m_talkOnMac = talk;
    connect(talk, &QPushButton::clicked, this, [this] { m_model.setShowMacTest(true); });
    row->addWidget(voiceCard, 1);

    auto [demoCard, demo] =
        makeCard(QStringLiteral("sparkles"), QString(),
                 QStringLiteral("Découvrez un exemple de conversation et sa note de suivi."),
                 QStringLiteral("Voir une démonstration"));
    connect(demo, &QPushButton::clicked, this, &DashboardPage::showDemonstration);
    row->addWidget(demoCard, 1);
    return holder;
}

QWidget* DashboardPage::buildLiveTranscript()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("liveTranscript"));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                               Theme::kCardPaddingPx);
    layout->setSpacing(8);
    auto* top = new QHBoxLayout;
    top->addWidget(Theme::sectionTitle(QStringLiteral("En direct")));
    top->addStretch(1);
    m_hangUp = Theme::secondaryButton(QStringLiteral("Raccrocher et terminer"));
    m_hangUp->setObjectName(QStringLiteral("hangUpButton"));
    connect(m_hangUp, &QPushButton::clicked, this, [this] { m_model.hangUp(); });
    top->addWidget(m_hangUp);
    layout->addLayout(top);
    m_responsiveness = Theme::caption(QString());
    m_responsiveness->setObjectName(QStringLiteral("responsiveness"));
    layout->addWidget(m_responsiveness);
    m_usage = new UsageCounterView(card);
    layout->addWidget(m_usage);
    // Right after a call, the AI's draft of it.
    m_lastCallDraft = new FollowUpDraftView(m_model, FollowUpDraftView::Decision::NotOffered, card);
    m_lastCallDraft->setObjectName(QStringLiteral("lastCallDraft"));
    layout->addWidget(m_lastCallDraft);
    m_transcript = new TranscriptView(
        QStringLiteral("La transcription apparaîtra ici dès les premières paroles."), card);
    m_transcript->setObjectName(QStringLiteral("liveTranscriptView"));
    layout->addWidget(m_transcript, 1);
    m_callTest = Theme::linkButton(QStringLiteral("Tester en appelant"));
    connect(m_callTest, &QPushButton::clicked, this, [this] { m_model.setShowOutgoingTest(true); });
    layout->addWidget(m_callTest, 0, Qt::AlignLeft);
    return card;
}

QWidget* DashboardPage::buildChecklist()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("checklist"));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                               Theme::kCardPaddingPx);
    layout->setSpacing(10);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Avant le premier appel")));
    checkRow(layout, QStringLiteral("Clé de conversation IA"), &m_keyTick);
    checkRow(layout, QStringLiteral("Accès au microphone"), &m_micTick);
    checkRow(layout, QStringLiteral("Autorisation de décrochage"), &m_accessibilityTick);
    m_keyTick->setObjectName(QStringLiteral("keyTick"));
    m_micTick->setObjectName(QStringLiteral("micTick"));
    m_accessibilityTick->setObjectName(QStringLiteral("accessibilityTick"));
    layout->addStretch(1);
    auto* configure = Theme::secondaryButton(QStringLiteral("Configurer les connexions"));
    connect(configure, &QPushButton::clicked, this,
            [this] { m_model.setPage(QStringLiteral("Connexions")); });
    layout->addWidget(configure, 0, Qt::AlignLeft);
    return card;
}

void DashboardPage::showDemonstration()
{
    // Reopens the demonstration already in the history rather than piling up copies of it.
    for (const CallRecord& record : m_model.records()) {
        if (record.kind == QStringLiteral("Démonstration")) {
            m_model.setSelectedRecord(record.id);
            m_model.setPage(kConversations);
            return;
        }
    }
    m_model.addDemo();
}

void DashboardPage::refresh()
{
    const bool busy = m_model.busy();
    const bool armed = m_model.armed();
    m_defineAgent->setEnabled(!busy && !armed);
    // One conversation at a time: the Mac test waits for the call to end.
    m_talkOnMac->setEnabled(!busy);

    const QStringList issues = m_model.readinessIssues();
    m_readinessBanner->setVisible(!issues.isEmpty());
    QStringList bullets;
    for (const QString& issue : issues)
        bullets << QStringLiteral("• ") + issue;
    setTextIfChanged(m_readinessIssues, bullets.join(QLatin1Char('\n')));

    refreshStatusCard();

    const bool intervening = m_model.intervening();
    setTextIfChanged(m_interventionText,
                     intervening ? QStringLiteral("Votre micro est ouvert vers l’appelant · IA silencieuse")
                                 : QStringLiteral("Votre micro est fermé · l’IA répond seule"));
    m_intervention->setText(intervening ? QStringLiteral("Rendre la parole à l’IA")
                                        : QStringLiteral("Intervenir au micro"));
    m_intervention->setIcon(
        Icons::get(intervening ? QStringLiteral("waveform") : QStringLiteral("hand.raised")));
    // Taking the line over needs a connected call on the phone.
    m_intervention->setEnabled(busy && m_model.connected() && m_model.phoneSession());

    m_usage->setVisible(busy);
    m_usage->setUsage(m_model.conversationUsage());
    const QString responsiveness = ResponseLatency::liveLabel(m_model.turnLatencies());
    m_responsiveness->setVisible(busy && !responsiveness.isEmpty());
    setTextIfChanged(m_responsiveness, responsiveness);
    m_hangUp->setEnabled(busy);
    m_transcript->setLines(m_model.current() ? m_model.current()->transcript : QList<TranscriptLine>{});
    refreshLastCallDraft();

    Theme::setTicked(m_keyTick, m_model.keyPresent());
    Theme::setTicked(m_micTick, m_model.micAllowed());
    Theme::setTicked(m_accessibilityTick, m_model.accessibility());
}

void DashboardPage::refreshLastCallDraft()
{
    const CallRecord* last =
        !m_model.busy() && m_model.lastCall() ? m_model.history().find(*m_model.lastCall()) : nullptr;
    if (last)
        m_lastCallDraft->showRecord(*last, m_model.followUpDraftStatus());
    else
        m_lastCallDraft->hide();
}

void DashboardPage::refreshStatusCard()
{
    const bool busy = m_model.busy();
    const bool armed = m_model.armed();
    setTextIfChanged(m_statusLabel, statusLabel(busy, armed));

    const QString tone = busy    ? QStringLiteral("conversation")
                         : armed ? QStringLiteral("active")
                                 : QStringLiteral("paused");
    if (tone != m_statusTone) {
        m_statusTone = tone;
        QColor strong;
        QString background;
        QString border;
        if (busy) {
            strong = Theme::kAccent;
            background = hex(Theme::kAccentSoft);
            border = hex(Theme::kAccent.lighter(150));
        } else if (armed) {
            strong = Theme::kSuccess;
            background = QStringLiteral("#e9f7ef");
            border = QStringLiteral("#a8dcbd");
        } else {
            strong = Theme::kSecondaryText;
            background = hex(Theme::kCard);
            border = hex(Theme::kBorder);
        }
        m_statusCard->setProperty("tone", tone);
        m_statusCard->setStyleSheet(
            QStringLiteral("QFrame#statusCard { background: %1; border: 1px solid %2; border-radius: 12px; }"
                           "QLabel#statusLabel { color: %3; }")
                .arg(background, border, hex(strong)));
        const QString symbolName =
            busy || armed ? QStringLiteral("circle.fill") : QStringLiteral("pause.circle");
        m_statusSymbol->setProperty("symbol", symbolName);
        m_statusSymbol->setPixmap(tintedSymbol(symbolName, 14, strong));
    }

    const StatusLines lines = statusLines(m_model.status(), busy, armed, m_model.audioProbeActive());
    setTextIfChanged(m_status, lines.heading);
    setTextIfChanged(m_statusDiagnostic, lines.diagnostic);
    m_statusDiagnostic->setVisible(!lines.diagnostic.isEmpty());
    setTextIfChanged(m_detail, m_model.detail());
    setTextIfChanged(m_relayStatus, m_model.relayStatus());
    m_relayStatus->setVisible(!m_model.relayStatus().isEmpty());
    setTextIfChanged(m_audioDiagnostic, m_model.audioDiagnostic());
    m_audioDiagnostic->setVisible(!m_model.audioDiagnostic().isEmpty());

    m_toggleArmed->setText(armed ? QStringLiteral("Mettre en pause") : QStringLiteral("Activer le standard"));
    // Arming waits for the AI check; pausing is always possible.
    m_toggleArmed->setEnabled(armed || (!busy && !m_model.checkingAI()));
    m_stopAgent->setEnabled(busy);
    m_joinCall->setEnabled(!busy);
    m_outgoingTest->setEnabled(!busy);
    m_callTest->setEnabled(!busy);
}
