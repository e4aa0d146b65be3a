#include "app/windows/SetupAssistantWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

const QUrl SetupAssistantWindow::kCreateKeyUrl{QStringLiteral("https://platform.openai.com/api-keys")};
const QUrl SetupAssistantWindow::kBillingUrl{
    QStringLiteral("https://platform.openai.com/settings/organization/billing")};

namespace {

constexpr int kStepCount = 6;
constexpr int kTestCallStep = 5;

// Step contents sit under the title, aligned with it rather than with the badge.
constexpr int kContentIndentPx = SetupStepBadge::kSizePx + 12;

QWidget* column(QBoxLayout*& layout)
{
    auto* widget = new QWidget;
    layout = new QVBoxLayout(widget);
    layout->setContentsMargins(kContentIndentPx, 2, 0, 2);
    layout->setSpacing(8);
    return widget;
}

QHBoxLayout* buttonRow(QBoxLayout* parent)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    parent->addLayout(row);
    return row;
}

void setRole(QWidget* widget, const QString& role)
{
    if (widget->property("role").toString() == role)
        return;
    widget->setProperty("role", role);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QString styleColor(const QColor& color)
{
    return QStringLiteral("color: %1;").arg(color.name(QColor::HexRgb));
}

} // namespace

SetupAssistantWindow::SetupAssistantWindow(AppModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    setObjectName(QStringLiteral("setupAssistant"));
    setWindowTitle(QStringLiteral("Configuration guidée"));
    resize(760, 680);
    QBoxLayout* layout = Theme::scrollingPage(this);
    buildHeader(layout);
    buildSteps(layout);

    auto* macLine = Theme::linkButton(QStringLiteral("Pas de deuxième téléphone ? Parler à l’IA sur ce Mac"));
    macLine->setObjectName(QStringLiteral("macTestLine"));
    connect(macLine, &QPushButton::clicked, this, &SetupAssistantWindow::presentMacTest);
    auto* macRow = new QHBoxLayout;
    macRow->addWidget(macLine);
    macRow->addStretch(1);
    layout->addLayout(macRow);
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &SetupAssistantWindow::refresh);
    refresh();
}

SetupAssistantWindow::~SetupAssistantWindow() = default;

void SetupAssistantWindow::buildHeader(QBoxLayout* layout)
{
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(Theme::symbol(QStringLiteral("orlea.mark"), 40), 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(Theme::eyebrow(QStringLiteral("Configuration guidée")));
    titles->addWidget(Theme::pageTitle(QStringLiteral("Bienvenue dans Orlea")));
    header->addLayout(titles, 1);
    auto* later = Theme::secondaryButton(QStringLiteral("Plus tard"));
    later->setObjectName(QStringLiteral("laterButton"));
    // Closing changes nothing: the model keeps every measured state and setting.
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    header->addWidget(later, 0, Qt::AlignTop);
    layout->addLayout(header);

    auto* progressCard = Theme::card();
    auto* progressLayout = new QVBoxLayout(progressCard);
    progressLayout->setContentsMargins(Theme::kCardPaddingPx, 12, Theme::kCardPaddingPx, 12);
    progressLayout->setSpacing(6);
    auto* progressRow = new QHBoxLayout;
    progressRow->setSpacing(12);
    m_progressText = Theme::sectionTitle(QString());
    m_progressText->setObjectName(QStringLiteral("progressText"));
    m_progressText->setWordWrap(false);
    progressRow->addWidget(m_progressText);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setRange(0, kStepCount);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(8);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 4px; }"
                       "QProgressBar::chunk { background: %2; border-radius: 4px; }")
            .arg(Theme::kBorder.name(QColor::HexRgb), Theme::kSuccess.name(QColor::HexRgb)));
    progressRow->addWidget(m_progress, 1, Qt::AlignVCenter);
    progressLayout->addLayout(progressRow);
    progressLayout->addWidget(Theme::caption(QStringLiteral("Les étapes validées passent au vert.")));
    layout->addWidget(progressCard);

    m_intro = Theme::banner(QStringLiteral("accent"));
    m_intro->setObjectName(QStringLiteral("introBanner"));
    auto* introLayout = new QHBoxLayout(m_intro);
    introLayout->setContentsMargins(Theme::kCardPaddingPx, 14, Theme::kCardPaddingPx, 14);
    introLayout->setSpacing(14);
    introLayout->addWidget(
        Theme::body(QStringLiteral(
            "Orlea vérifie ce qui est déjà prêt et s’arrête uniquement lorsqu’il a besoin de vous.")),
        1);
    m_startButton = Theme::primaryButton(QStringLiteral("Commencer"));
    m_startButton->setObjectName(QStringLiteral("startButton"));
    connect(m_startButton, &QPushButton::clicked, this, &SetupAssistantWindow::start);
    introLayout->addWidget(m_startButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_intro);

    m_waiting = Theme::banner(QStringLiteral("warning"));
    m_waiting->setObjectName(QStringLiteral("waitingBanner"));
    auto* waitingLayout = new QHBoxLayout(m_waiting);
    waitingLayout->setContentsMargins(Theme::kCardPaddingPx, 12, Theme::kCardPaddingPx, 12);
    waitingLayout->setSpacing(10);
    waitingLayout->addWidget(Theme::symbol(QStringLiteral("hand.raised"), 20));
    waitingLayout->addWidget(Theme::body(QStringLiteral("En attente de votre accord dans macOS…")), 1);
    layout->addWidget(m_waiting);

    m_configurationStatus = Theme::caption(QString());
    m_configurationStatus->setObjectName(QStringLiteral("configurationStatus"));
    layout->addWidget(m_configurationStatus);

    m_completion = Theme::banner(QStringLiteral("accent"));
    m_completion->setObjectName(QStringLiteral("completionBanner"));
    auto* completionLayout = new QHBoxLayout(m_completion);
    completionLayout->setContentsMargins(Theme::kCardPaddingPx, 16, Theme::kCardPaddingPx, 16);
    completionLayout->setSpacing(14);
    auto* doneBadge = new SetupStepBadge(kStepCount);
    doneBadge->setState(SetupStepBadge::State::Done);
    completionLayout->addWidget(doneBadge, 0, Qt::AlignTop);
    auto* completionText = new QVBoxLayout;
    completionText->setSpacing(4);
    completionText->addWidget(Theme::sectionTitle(QStringLiteral("Votre standard est prêt")));
    completionText->addWidget(Theme::body(
        QStringLiteral("Les tests sont passés et vous avez confirmé le bon fonctionnement d’un appel.")));
    completionLayout->addLayout(completionText, 1);
    auto* finishButton = Theme::primaryButton(QStringLiteral("Terminer"));
    finishButton->setObjectName(QStringLiteral("finishButton"));
    connect(finishButton, &QPushButton::clicked, this, &SetupAssistantWindow::finishSetup);
    completionLayout->addWidget(finishButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_completion);
}

void SetupAssistantWindow::buildSteps(QBoxLayout* layout)
{
    QWidget* contents[kStepCount] = {driverStep(),     permissionStep(), keyStep(),
                                     phoneAudioStep(), macAudioStep(),   testCallStep()};
    for (int index = 0; index < kStepCount; ++index) {
        Step step;
        step.frame = Theme::card();
        step.frame->setObjectName(QStringLiteral("step%1").arg(index + 1));
        auto* stepLayout = new QVBoxLayout(step.frame);
        stepLayout->setContentsMargins(Theme::kCardPaddingPx, 10, Theme::kCardPaddingPx, 10);
        stepLayout->setSpacing(8);
        auto* titleRow = new QHBoxLayout;
        titleRow->setSpacing(12);
        step.badge = new SetupStepBadge(index + 1);
        titleRow->addWidget(step.badge);
        step.title = Theme::sectionTitle(AppModel::kSetupStepTitles.value(index));
        step.title->setWordWrap(false);
        titleRow->addWidget(step.title, 1);
        step.mark = Theme::caption(QString());
        step.mark->setWordWrap(false);
        titleRow->addWidget(step.mark);
        stepLayout->addLayout(titleRow);
        step.content = contents[index];
        stepLayout->addWidget(step.content);
        layout->addWidget(step.frame);
        m_steps << step;
    }
}

QWidget* SetupAssistantWindow::driverStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);
    layout->addWidget(Theme::body(QStringLiteral(
        "Installez le module audio Orlea. Si macOS demande un redémarrage, revenez ici ensuite.")));
    m_driverStatus = Theme::caption(QString());
    layout->addWidget(m_driverStatus);
    QHBoxLayout* row = buttonRow(layout);
    m_installButton = Theme::secondaryButton(QStringLiteral("Installer le module audio"));
    connect(m_installButton, &QPushButton::clicked, &m_model, &AppModel::installNativeAudio);
    row->addWidget(m_installButton);
    row->addStretch(1);
    return widget;
}

QWidget* SetupAssistantWindow::permissionStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);
    layout->addWidget(
        Theme::body(QStringLiteral("macOS demande votre accord pour utiliser l’audio et décrocher. Le "
                                   "bouton ouvre l’autorisation manquante.")));
    m_permissionReport = Theme::caption(QString());
    layout->addWidget(m_permissionReport);
    QHBoxLayout* row = buttonRow(layout);
    m_allowMicrophone = Theme::secondaryButton(QStringLiteral("Autoriser l’accès audio"));
    connect(m_allowMicrophone, &QPushButton::clicked, &m_model, &AppModel::allowMicrophone);
    row->addWidget(m_allowMicrophone);
    m_allowAccessibility =
        Theme::secondaryButton(QStringLiteral("Autoriser le décrochage dans Accessibilité"));
    connect(m_allowAccessibility, &QPushButton::clicked, &m_model, &AppModel::allowAccessibility);
    row->addWidget(m_allowAccessibility);
    row->addStretch(1);
    return widget;
}

QWidget* SetupAssistantWindow::keyStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);

    m_keyEntry = new QWidget;
    auto* entry = new QVBoxLayout(m_keyEntry);
    entry->setContentsMargins(0, 0, 0, 0);
    entry->setSpacing(8);
    entry->addWidget(
        Theme::body(QStringLiteral("Collez votre clé une fois. Elle restera sur ce Mac, sans trousseau.")));
    entry->addWidget(Theme::caption(QStringLiteral("Stockage local privé, sans chiffrement supplémentaire. "
                                                   "L’utilisation de l’API est facturée par OpenAI.")));
    m_keyField = new QLineEdit;
    m_keyField->setObjectName(QStringLiteral("keyField"));
    m_keyField->setEchoMode(QLineEdit::Password);
    m_keyField->setPlaceholderText(QStringLiteral("sk-…"));
    connect(m_keyField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_keyDraft.key = text;
        m_saveKeyButton->setEnabled(!text.trimmed().isEmpty());
    });
    connect(m_keyField, &QLineEdit::returnPressed, this, &SetupAssistantWindow::saveKey);
    entry->addWidget(m_keyField);
    QHBoxLayout* row = buttonRow(entry);
    auto link = [this, row](const QString& text, const QUrl& url) {
        auto* button = Theme::linkButton(text);
        button->setProperty("url", url);
        button->setToolTip(url.toString());
        connect(button, &QPushButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
        row->addWidget(button);
    };
    link(QStringLiteral("Créer une clé OpenAI"), kCreateKeyUrl);
    link(QStringLiteral("Ajouter du crédit"), kBillingUrl);
    row->addStretch(1);
    // Named as the configuration line asks the user to click it.
    m_saveKeyButton = Theme::primaryButton(QStringLiteral("Suivant"));
    m_saveKeyButton->setObjectName(QStringLiteral("saveKeyButton"));
    m_saveKeyButton->setEnabled(false);
    connect(m_saveKeyButton, &QPushButton::clicked, this, &SetupAssistantWindow::saveKey);
    row->addWidget(m_saveKeyButton);
    layout->addWidget(m_keyEntry);

    m_keySaved = new QWidget;
    auto* saved = new QVBoxLayout(m_keySaved);
    saved->setContentsMargins(0, 0, 0, 0);
    saved->setSpacing(8);
    saved->addWidget(Theme::body(QStringLiteral("Votre clé est enregistrée. Vérifions la connexion.")));
    m_aiStatus = Theme::caption(QString());
    m_aiStatus->setObjectName(QStringLiteral("aiStatus"));
    saved->addWidget(m_aiStatus);
    QHBoxLayout* savedRow = buttonRow(saved);
    m_checkAI = Theme::secondaryButton(QStringLiteral("Vérifier la connexion"));
    connect(m_checkAI, &QPushButton::clicked, &m_model, &AppModel::configureAll);
    savedRow->addWidget(m_checkAI);
    savedRow->addStretch(1);
    layout->addWidget(m_keySaved);
    return widget;
}

QWidget* SetupAssistantWindow::phoneAudioStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);
    layout->addWidget(
        Theme::body(QStringLiteral("Orlea choisit les circuits et vérifie que le son et "
                                   "l’enregistrement fonctionnent. Vous n’avez pas à choisir les "
                                   "entrées du téléphone.")));
    m_phoneAudioStatus = Theme::caption(QString());
    layout->addWidget(m_phoneAudioStatus);
    QHBoxLayout* row = buttonRow(layout);
    m_configurePhoneAudio = Theme::secondaryButton(QStringLiteral("Configurer et tester le son"));
    connect(m_configurePhoneAudio, &QPushButton::clicked, &m_model, &AppModel::configureAll);
    row->addWidget(m_configurePhoneAudio);
    row->addStretch(1);
    return widget;
}

QWidget* SetupAssistantWindow::macAudioStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);
    layout->addWidget(
        Theme::body(QStringLiteral("Orlea vérifie séparément le micro et les haut-parleurs intégrés "
                                   "du Mac. Les réglages audio précédents sont rétablis après ce test.")));
    QHBoxLayout* row = buttonRow(layout);
    m_checkMacAudio = Theme::secondaryButton(QStringLiteral("Vérifier l’audio du Mac"));
    connect(m_checkMacAudio, &QPushButton::clicked, &m_model, &AppModel::configureAll);
    row->addWidget(m_checkMacAudio);
    row->addStretch(1);
    return widget;
}

QWidget* SetupAssistantWindow::testCallStep()
{
    QBoxLayout* layout = nullptr;
    QWidget* widget = column(layout);
    layout->addWidget(
        Theme::body(QStringLiteral("Appelez un deuxième téléphone, échangez quelques phrases avec "
                                   "l’IA, puis terminez l’appel. Vérifiez aussi l’audio dans Dossiers.")));
    QHBoxLayout* row = buttonRow(layout);
    auto* launch = Theme::primaryButton(QStringLiteral("Lancer l’appel test"));
    connect(launch, &QPushButton::clicked, this, &SetupAssistantWindow::presentCallTest);
    row->addWidget(launch);
    auto* recordings = Theme::secondaryButton(QStringLiteral("Voir l’enregistrement"));
    connect(recordings, &QPushButton::clicked, this, &SetupAssistantWindow::showRecordings);
    row->addWidget(recordings);
    row->addStretch(1);
    m_candidateWaiting =
        Theme::caption(QStringLiteral("En attente d’un appel terminé avec une transcription des "
                                      "deux voix et, s’il est activé, un fichier audio."));
    m_candidateWaiting->setObjectName(QStringLiteral("candidateWaiting"));
    layout->addWidget(m_candidateWaiting);
    m_candidateReady =
        Theme::body(QStringLiteral("Un appel avec des paroles dans les deux sens est disponible. "
                                   "Confirmez seulement si vous avez bien entendu la conversation "
                                   "et, s’il est activé, son enregistrement."));
    m_candidateReady->setObjectName(QStringLiteral("candidateReady"));
    layout->addWidget(m_candidateReady);
    QHBoxLayout* confirmRow = buttonRow(layout);
    m_confirmCall = Theme::primaryButton(QStringLiteral("J’ai vérifié l’appel · terminer"));
    m_confirmCall->setObjectName(QStringLiteral("confirmCallButton"));
    connect(m_confirmCall, &QPushButton::clicked, &m_model, &AppModel::confirmTestCall);
    confirmRow->addWidget(m_confirmCall);
    confirmRow->addStretch(1);
    return widget;
}

int SetupAssistantWindow::currentStep() const
{
    return int(m_model.setupSteps().indexOf(false));
}

SetupStepBadge::State SetupAssistantWindow::stepState(int index) const
{
    const QList<bool> steps = m_model.setupSteps();
    if (steps.value(index))
        return SetupStepBadge::State::Done;
    if (index == currentStep())
        return SetupStepBadge::State::Current;
    // The Mac audio check is optional for the switchboard (a Mac without a built-in microphone never
    // passes it): once nothing prevents arming, the test call stays reachable.
    if (index == kTestCallStep && m_model.readinessIssues().isEmpty())
        return SetupStepBadge::State::Current;
    return SetupStepBadge::State::Pending;
}

bool SetupAssistantWindow::canConfigure() const
{
    return !m_model.configuringAll() && !m_model.busy() && !m_model.armed() && !m_model.preparingAudio() &&
           !m_model.checkingAI() && !m_model.testingMicrophone() && !m_model.observingRelay();
}

void SetupAssistantWindow::refresh()
{
    const QList<bool> steps = m_model.setupSteps();
    const int done = int(steps.count(true));
    setTextIfChanged(m_progressText,
                     QString::number(done) + QStringLiteral(" sur ") + QString::number(kStepCount));
    m_progress->setValue(done);

    const bool confirmed = steps.value(kTestCallStep);
    const bool configurable = canConfigure();
    m_intro->setVisible(!m_state.started && !confirmed);
    m_startButton->setEnabled(configurable);
    m_waiting->setVisible(m_model.setupWaiting());
    setTextIfChanged(m_configurationStatus, m_model.configurationStatus());
    m_configurationStatus->setVisible(!confirmed);
    m_completion->setVisible(confirmed);

    for (int index = 0; index < m_steps.size(); ++index) {
        Step& step = m_steps[index];
        const SetupStepBadge::State state = stepState(index);
        step.badge->setState(state);
        const bool open = state == SetupStepBadge::State::Current;
        setRole(step.frame, open ? QStringLiteral("banner-accent") : QStringLiteral("card"));
        step.content->setVisible(open);
        const QString titleStyle =
            state == SetupStepBadge::State::Done ? styleColor(Theme::kSuccess) : QString();
        if (step.title->styleSheet() != titleStyle)
            step.title->setStyleSheet(titleStyle);
        setTextIfChanged(step.mark, state == SetupStepBadge::State::Done      ? QStringLiteral("Validé")
                                    : state == SetupStepBadge::State::Current ? QStringLiteral("À faire")
                                                                              : QString());
        const QString markStyle =
            state == SetupStepBadge::State::Done ? styleColor(Theme::kSuccess) : QString();
        if (step.mark->styleSheet() != markStyle)
            step.mark->setStyleSheet(markStyle);
    }

    // Step 1: the installer.
    setTextIfChanged(m_driverStatus, m_model.nativeAudioStatus());
    m_installButton->setEnabled(!m_model.busy() && !m_model.armed() && !m_model.preparingAudio() &&
                                !m_model.macPreparing());

    // Step 2: only the missing permissions.
    setTextIfChanged(m_permissionReport, m_model.permissionReport());
    m_permissionReport->setVisible(!m_model.permissionReport().isEmpty());
    m_allowMicrophone->setVisible(!m_model.micAllowed());
    m_allowAccessibility->setVisible(!m_model.accessibility());

    // Step 3: the key, then its check.
    m_keyEntry->setVisible(!m_model.keyPresent());
    m_keySaved->setVisible(m_model.keyPresent());
    m_saveKeyButton->setEnabled(!m_keyDraft.key.trimmed().isEmpty());
    setTextIfChanged(m_aiStatus, m_model.aiStatus());
    m_checkAI->setEnabled(configurable);

    // Steps 4 and 5: the checks configureAll runs, by hand when one stopped.
    setTextIfChanged(m_phoneAudioStatus, m_model.nativeAudioStatus());
    m_configurePhoneAudio->setEnabled(configurable);
    m_checkMacAudio->setEnabled(configurable && !m_model.macPreparing());

    // Step 6: the test call.
    const bool candidate = m_model.validationCandidate().has_value();
    m_candidateWaiting->setVisible(!candidate);
    m_candidateReady->setVisible(candidate);
    m_confirmCall->setVisible(candidate);
    m_confirmCall->setEnabled(candidate && !m_model.busy() && m_model.readinessIssues().isEmpty());
}

void SetupAssistantWindow::start()
{
    m_state.started = true;
    m_model.configureAll();
    refresh();
}

void SetupAssistantWindow::saveKey()
{
    if (m_keyDraft.key.trimmed().isEmpty())
        return;
    m_model.saveKey(m_keyDraft.key);
    if (!m_model.keyPresent())
        return; // the model has set the error to show
    // The typed key leaves the window once it is stored.
    m_keyField->clear();
    m_keyDraft.key.clear();
    m_state.started = true;
    m_model.configureAll();
    refresh();
}

void SetupAssistantWindow::presentCallTest()
{
    if (m_callTest) {
        m_callTest->raise();
        return;
    }
    m_state.showCallTest = true;
    m_callTest = new OutgoingCallTestWindow(m_model, this);
    m_callTest->setWindowModality(Qt::WindowModal);
    connect(m_callTest, &QDialog::finished, this, [this] {
        m_state.showCallTest = false;
        if (m_callTest)
            m_callTest->deleteLater();
    });
    m_callTest->show();
}

void SetupAssistantWindow::presentMacTest()
{
    if (m_macTest) {
        m_macTest->raise();
        return;
    }
    m_state.showMacTest = true;
    m_macTest = new MacConversationTestWindow(m_model, this);
    m_macTest->setWindowModality(Qt::WindowModal);
    connect(m_macTest, &QDialog::finished, this, [this] {
        m_state.showMacTest = false;
        if (m_macTest)
            m_macTest->deleteLater();
    });
    m_macTest->show();
}

void SetupAssistantWindow::done(int result)
{
    // Closed by the model (or the main window) while a test sheet is up: the sheets go first, so the
    // Mac test gives the Mac its devices back now rather than when the assistant is destroyed.
    if (m_macTest)
        m_macTest->reject();
    if (m_callTest)
        m_callTest->reject();
    QDialog::done(result);
}

void SetupAssistantWindow::showRecordings()
{
    m_model.setPage(QStringLiteral("Dossiers"));
    accept();
}

void SetupAssistantWindow::finishSetup()
{
    m_model.setPage(QStringLiteral("Le standard"));
    accept();
}
