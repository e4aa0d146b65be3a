#include "platform/sim/window/SimulatorWindow.h"

#include "platform/sim/mac/Mac.h"
#include "platform/sim/mac/ServerDevices.h"
#include "platform/sim/window/VoiceChooser.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace sim {
namespace {

const QString kVelkaroPrefix = QStringLiteral("Velkaro");

QString statusText(permissions::AuthorizationStatus status)
{
    switch (status) {
    case permissions::AuthorizationStatus::NotDetermined:
        return QStringLiteral("pas encore demandé");
    case permissions::AuthorizationStatus::Restricted:
        return QStringLiteral("restreint (géré par l’organisation)");
    case permissions::AuthorizationStatus::Denied:
        return QStringLiteral("refusé");
    case permissions::AuthorizationStatus::Authorized:
        return QStringLiteral("autorisé");
    }
    return {};
}

QLabel* noteLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* errorLabel(QWidget* parent)
{
    auto* label = noteLabel(parent);
    label->setStyleSheet(QStringLiteral("color: #b3261e;"));
    label->hide();
    return label;
}

void showError(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> widgets)
{
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    row->addStretch(1);
    return row;
}

QString boldState(const QString& title, const QString& state)
{
    return QStringLiteral("%1 : <b>%2</b>").arg(title.toHtmlEscaped(), state.toHtmlEscaped());
}

} // namespace

SimulatorWindow::SimulatorWindow(Mac& mac, QWidget* parent) : QWidget(parent, Qt::Window), m_mac(mac)
{
    setWindowTitle(QStringLiteral("Simulateur"));
    setObjectName(QStringLiteral("simulatorWindow"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 16, 16, 16);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(14);
    grid->addWidget(buildPhone(), 0, 0);
    grid->addWidget(buildSettings(), 0, 1);
    grid->addWidget(buildInstaller(), 1, 0);
    grid->addWidget(buildMacBox(), 1, 1);
    grid->addWidget(buildJournal(), 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    resize(900, 680);

    connect(&m_mac, &Mac::changed, this, &SimulatorWindow::scheduleRefresh);
    // Some Phone app changes (a "tel:" dial, a menu choice) come without a Mac event: one light refresh.
    auto* timer = new QTimer(this);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &SimulatorWindow::refresh);
    timer->start();
    refresh();
}

void SimulatorWindow::scheduleRefresh()
{
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &SimulatorWindow::refresh, Qt::QueuedConnection);
}

void SimulatorWindow::refresh()
{
    m_refreshQueued = false;
    refreshPhone();
    refreshSettings();
    refreshInstaller();
    refreshJournal();
    refreshComputerSound();
}

// --- Téléphone

QGroupBox* SimulatorWindow::buildPhone()
{
    auto* box = new QGroupBox(QStringLiteral("Téléphone"), this);
    auto* layout = new QVBoxLayout(box);
    auto* form = new QGridLayout;
    m_callerEdit = new QLineEdit(QStringLiteral("06 12 34 56 78"), box);
    m_callerEdit->setObjectName(QStringLiteral("callerEdit"));
    m_callerEdit->setPlaceholderText(QStringLiteral("Numéro ou nom du contact"));
    m_callerEdit->setClearButtonEnabled(true);
    m_callerVoice = new VoiceChooser(false, box);
    m_callerVoice->setObjectName(QStringLiteral("callerVoice"));
    m_callerVoice->setCacheFolder(m_mac.stateFolder() + QStringLiteral("/Voix"));
    form->addWidget(new QLabel(QStringLiteral("Appelant"), box), 0, 0);
    form->addWidget(m_callerEdit, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("Voix"), box), 1, 0);
    form->addWidget(m_callerVoice, 1, 1);
    m_callerEar = new QComboBox(box);
    m_callerEar->setObjectName(QStringLiteral("callerEar"));
    m_callerEar->setMinimumContentsLength(16);
    m_callerEar->setToolTip(QStringLiteral("Où jouer ce que l’appelant entend"));
    form->addWidget(new QLabel(QStringLiteral("Entendu sur"), box), 2, 0);
    form->addWidget(m_callerEar, 2, 1);
    form->setColumnStretch(1, 1);
    layout->addLayout(form);

    m_ringButton = new QPushButton(QStringLiteral("Faire sonner"), box);
    m_ringButton->setObjectName(QStringLiteral("ringButton"));
    m_ringButton->setDefault(true);
    m_hangUpButton = new QPushButton(QStringLiteral("Raccrocher (appelant)"), box);
    m_hangUpButton->setObjectName(QStringLiteral("hangUpButton"));
    m_remoteAnswerButton = new QPushButton(QStringLiteral("Décrocher (correspondant)"), box);
    m_remoteAnswerButton->setObjectName(QStringLiteral("remoteAnswerButton"));
    m_remoteAnswerButton->setToolTip(QStringLiteral("La personne appelée par l’application décroche"));
    layout->addLayout(buttonRow({m_ringButton, m_hangUpButton}));
    layout->addLayout(buttonRow({m_remoteAnswerButton}));

    m_callState = noteLabel(box);
    m_callState->setObjectName(QStringLiteral("callState"));
    m_phoneDevices = noteLabel(box);
    m_phoneDevices->setObjectName(QStringLiteral("phoneDevices"));
    m_phoneError = errorLabel(box);
    layout->addWidget(m_callState);
    layout->addWidget(m_phoneDevices);
    layout->addWidget(m_phoneError);
    layout->addStretch(1);

    connect(m_ringButton, &QPushButton::clicked, this, &SimulatorWindow::ring);
    connect(m_callerEdit, &QLineEdit::returnPressed, this, &SimulatorWindow::ring);
    connect(m_callerEdit, &QLineEdit::textChanged, this, &SimulatorWindow::refreshPhone);
    connect(m_hangUpButton, &QPushButton::clicked, this, [this] {
        m_mac.callerHangsUp();
        refresh();
    });
    connect(m_remoteAnswerButton, &QPushButton::clicked, this, &SimulatorWindow::answerAsRemote);
    m_callerVoice->personSource = [this] { return m_mac.computerSound().callerVoice(); };
    connect(m_callerVoice, &VoiceChooser::choiceChanged, this, &SimulatorWindow::chooseCaller);
    connect(m_callerEar, &QComboBox::activated, this, &SimulatorWindow::chooseCaller);
    return box;
}

void SimulatorWindow::ring()
{
    const QString caller = m_callerEdit->text().trimmed();
    const CallState state = m_mac.phone().state();
    if (caller.isEmpty() || (state != CallState::Idle && state != CallState::Ended))
        return;
    QString error;
    auto voice = m_callerVoice->makeSource(&error);
    showError(m_phoneError, error);
    if (!voice)
        return;
    m_mac.ring(caller, std::move(voice));
    refresh();
}

void SimulatorWindow::answerAsRemote()
{
    QString error;
    auto voice = m_callerVoice->makeSource(&error);
    showError(m_phoneError, error);
    if (!voice)
        return;
    m_mac.remoteAnswers(std::move(voice));
    refresh();
}

void SimulatorWindow::refreshPhone()
{
    const PhoneApp& phone = m_mac.phone();
    const CallState state = phone.state();
    const QString dialled = phone.dialledNumbers().value(phone.dialledNumbers().size() - 1);
    QString text;
    switch (state) {
    case CallState::Idle:
        text = boldState(QStringLiteral("Appel"), QStringLiteral("aucun"));
        break;
    case CallState::Dialing:
        text = boldState(QStringLiteral("Appel sortant vers ") + dialled, QStringLiteral("en attente"));
        break;
    case CallState::Ringing:
        text = boldState(QStringLiteral("Appel de ") + phone.caller(), QStringLiteral("sonne"));
        break;
    case CallState::Active:
        text = boldState(QStringLiteral("Appel avec ") + phone.caller(), QStringLiteral("en cours"));
        break;
    case CallState::Ended:
        text = boldState(QStringLiteral("Appel avec ") + phone.caller(), QStringLiteral("terminé"));
        break;
    }
    m_callState->setText(text);

    const AudioRoute route = phone.audioRoute();
    const auto device = [](const QString& effective, const QString& chosen) {
        const QString name = effective.isEmpty() ? QStringLiteral("aucun") : effective.toHtmlEscaped();
        return chosen.isEmpty() ? name + QStringLiteral(" (réglage système)") : name;
    };
    m_phoneDevices->setText(
        QStringLiteral(
            "<span style=\"color:#666\">Appareils du Téléphone</span><br>Micro : %1<br>Haut-parleur : %2")
            .arg(device(phone.effectiveInputDevice(), route.inputDevice),
                 device(phone.effectiveOutputDevice(), route.outputDevice)));

    const bool free = state == CallState::Idle || state == CallState::Ended;
    m_ringButton->setEnabled(free && !m_callerEdit->text().trimmed().isEmpty());
    m_hangUpButton->setEnabled(!free);
    m_remoteAnswerButton->setEnabled(state == CallState::Dialing);
}

// --- Réglages système

QGroupBox* SimulatorWindow::buildSettings()
{
    auto* box = new QGroupBox(QStringLiteral("Réglages système"), this);
    auto* layout = new QVBoxLayout(box);

    m_microphoneState = noteLabel(box);
    m_microphoneState->setObjectName(QStringLiteral("microphoneState"));
    m_grantMicrophone = new QPushButton(QStringLiteral("Autoriser"), box);
    m_grantMicrophone->setObjectName(QStringLiteral("grantMicrophone"));
    m_withdrawMicrophone = new QPushButton(QStringLiteral("Retirer"), box);
    m_withdrawMicrophone->setObjectName(QStringLiteral("withdrawMicrophone"));
    layout->addWidget(m_microphoneState);
    layout->addLayout(buttonRow({m_grantMicrophone, m_withdrawMicrophone}));

    m_microphoneDialog = noteLabel(box);
    m_microphoneDialog->setText(QStringLiteral("L’application demande l’accès au micro."));
    m_dialogAllow = new QPushButton(QStringLiteral("Autoriser"), box);
    m_dialogAllow->setObjectName(QStringLiteral("dialogAllow"));
    m_dialogRefuse = new QPushButton(QStringLiteral("Ne pas autoriser"), box);
    m_dialogRefuse->setObjectName(QStringLiteral("dialogRefuse"));
    auto* dialog = new QFrame(box);
    dialog->setObjectName(QStringLiteral("microphoneDialog"));
    dialog->setFrameShape(QFrame::StyledPanel);
    auto* dialogLayout = new QVBoxLayout(dialog);
    dialogLayout->addWidget(m_microphoneDialog);
    dialogLayout->addLayout(buttonRow({m_dialogAllow, m_dialogRefuse}));
    layout->addWidget(dialog);

    m_accessibilityState = noteLabel(box);
    m_accessibilityState->setObjectName(QStringLiteral("accessibilityState"));
    m_grantAccessibility = new QPushButton(QStringLiteral("Autoriser"), box);
    m_grantAccessibility->setObjectName(QStringLiteral("grantAccessibility"));
    m_withdrawAccessibility = new QPushButton(QStringLiteral("Retirer"), box);
    m_withdrawAccessibility->setObjectName(QStringLiteral("withdrawAccessibility"));
    layout->addWidget(m_accessibilityState);
    layout->addLayout(buttonRow({m_grantAccessibility, m_withdrawAccessibility}));

    m_privacyPage = noteLabel(box);
    m_privacyPage->setObjectName(QStringLiteral("privacyPage"));
    layout->addWidget(m_privacyPage);

    m_answerPolicy = new QComboBox(box);
    m_answerPolicy->setObjectName(QStringLiteral("answerPolicy"));
    m_answerPolicy->addItem(QStringLiteral("Je réponds moi-même"), int(UserAnswer::Ask));
    m_answerPolicy->addItem(QStringLiteral("Tout accepter"), int(UserAnswer::Grant));
    m_answerPolicy->addItem(QStringLiteral("Tout refuser"), int(UserAnswer::Deny));
    m_answerPolicy->setCurrentIndex(m_answerPolicy->findData(int(m_mac.microphoneAccess().dialogAnswer())));
    auto* policyRow = new QHBoxLayout;
    policyRow->addWidget(new QLabel(QStringLiteral("Réponse automatique"), box));
    policyRow->addWidget(m_answerPolicy, 1);
    layout->addLayout(policyRow);
    layout->addStretch(1);

    const auto flip = [this](PrivacyPage page, bool on) {
        m_mac.setPrivacySwitch(page, on);
        refresh();
    };
    connect(m_grantMicrophone, &QPushButton::clicked, this, [flip] { flip(PrivacyPage::Microphone, true); });
    connect(m_withdrawMicrophone, &QPushButton::clicked, this,
            [flip] { flip(PrivacyPage::Microphone, false); });
    connect(m_grantAccessibility, &QPushButton::clicked, this,
            [flip] { flip(PrivacyPage::Accessibility, true); });
    connect(m_withdrawAccessibility, &QPushButton::clicked, this,
            [flip] { flip(PrivacyPage::Accessibility, false); });
    connect(m_dialogAllow, &QPushButton::clicked, this, [this] {
        m_mac.answerMicrophoneDialog(true);
        refresh();
    });
    connect(m_dialogRefuse, &QPushButton::clicked, this, [this] {
        m_mac.answerMicrophoneDialog(false);
        refresh();
    });
    connect(m_answerPolicy, &QComboBox::activated, this,
            [this] { m_mac.setUserAnswer(UserAnswer(m_answerPolicy->currentData().toInt())); });
    return box;
}

void SimulatorWindow::refreshSettings()
{
    const auto status = m_mac.microphoneStatus();
    m_microphoneState->setText(boldState(QStringLiteral("Micro"), statusText(status)));
    const bool restricted = status == permissions::AuthorizationStatus::Restricted;
    m_grantMicrophone->setEnabled(!restricted && status != permissions::AuthorizationStatus::Authorized);
    m_withdrawMicrophone->setEnabled(!restricted && status != permissions::AuthorizationStatus::Denied);
    findChild<QFrame*>(QStringLiteral("microphoneDialog"))
        ->setVisible(m_mac.microphoneAccess().isDialogShown());

    const bool trusted = m_mac.accessibilityTrusted();
    m_accessibilityState->setText(
        boldState(QStringLiteral("Accessibilité"),
                  trusted ? QStringLiteral("autorisée") : QStringLiteral("non autorisée")));
    m_grantAccessibility->setEnabled(!trusted);
    m_withdrawAccessibility->setEnabled(trusted);

    // The demo may set the policy in code; the combo shows what the simulated user does now.
    const int policy = m_answerPolicy->findData(int(m_mac.microphoneAccess().dialogAnswer()));
    if (policy >= 0)
        m_answerPolicy->setCurrentIndex(policy);

    const auto page = m_mac.currentPrivacyPage();
    m_privacyPage->setText(!page ? QStringLiteral("Aucune page de confidentialité ouverte par l’application.")
                                 : QStringLiteral("Page ouverte par l’application : Confidentialité › ") +
                                       (*page == PrivacyPage::Microphone ? QStringLiteral("Micro")
                                                                         : QStringLiteral("Accessibilité")));
}

// --- Installeur

QGroupBox* SimulatorWindow::buildInstaller()
{
    auto* box = new QGroupBox(QStringLiteral("Installeur"), this);
    auto* layout = new QVBoxLayout(box);
    m_installerState = noteLabel(box);
    m_installerState->setObjectName(QStringLiteral("installerState"));
    m_installButton = new QPushButton(QStringLiteral("Installer"), box);
    m_installButton->setObjectName(QStringLiteral("installButton"));
    m_cancelInstallButton = new QPushButton(QStringLiteral("Annuler"), box);
    m_cancelInstallButton->setObjectName(QStringLiteral("cancelInstallButton"));
    m_driverState = noteLabel(box);
    m_driverState->setObjectName(QStringLiteral("driverState"));
    layout->addWidget(m_installerState);
    layout->addLayout(buttonRow({m_installButton, m_cancelInstallButton}));
    layout->addWidget(m_driverState);
    layout->addStretch(1);

    connect(m_installButton, &QPushButton::clicked, this, [this] {
        m_mac.runInstaller();
        refresh();
    });
    connect(m_cancelInstallButton, &QPushButton::clicked, this, [this] {
        m_mac.cancelInstaller();
        refresh();
    });
    return box;
}

void SimulatorWindow::refreshInstaller()
{
    const QStringList pending = m_mac.pendingPackages();
    if (pending.isEmpty()) {
        m_installerState->setText(
            boldState(QStringLiteral("Fenêtre de l’Installeur"), QStringLiteral("fermée")));
    } else {
        QString text = boldState(QStringLiteral("Fenêtre de l’Installeur"),
                                 QStringLiteral("ouverte — ") + QFileInfo(pending.first()).fileName());
        if (pending.size() > 1)
            text += QStringLiteral(" (%1 autres en attente)").arg(pending.size() - 1);
        m_installerState->setText(text);
    }
    m_installButton->setEnabled(!pending.isEmpty());
    m_cancelInstallButton->setEnabled(!pending.isEmpty());

    QStringList velkaro;
    for (const ServerDevice& device : serverDevices(m_mac.hardware()))
        if (device.name.startsWith(kVelkaroPrefix))
            velkaro.append(device.name);
    QString text = velkaro.isEmpty()
                       ? boldState(QStringLiteral("Pilote VelkaroAudio"), QStringLiteral("non installé"))
                       : boldState(QStringLiteral("Pilote VelkaroAudio"), QStringLiteral("installé")) +
                             QStringLiteral("<br>") + velkaro.join(QStringLiteral(", ")).toHtmlEscaped();
    const auto installations = m_mac.installations();
    if (!installations.isEmpty() && !installations.last().installed)
        text += QStringLiteral("<br><span style=\"color:#b3261e\">Dernière installation en échec : %1</span>")
                    .arg(QString::fromStdString(installations.last().error).toHtmlEscaped());
    m_driverState->setText(text);
}

// --- Mac

QGroupBox* SimulatorWindow::buildMacBox()
{
    auto* box = new QGroupBox(QStringLiteral("Mac"), this);
    auto* layout = new QVBoxLayout(box);
    m_sleepButton = new QPushButton(QStringLiteral("Mettre en veille"), box);
    m_sleepButton->setObjectName(QStringLiteral("sleepButton"));
    m_sleepButton->setToolTip(QStringLiteral("Prévient les applications que le Mac va dormir"));
    layout->addLayout(buttonRow({m_sleepButton}));
    m_macSound = new VoiceChooser(true, box);
    m_macSound->setObjectName(QStringLiteral("macMicrophoneSound"));
    m_macSound->setCacheFolder(m_mac.stateFolder() + QStringLiteral("/Voix"));
    m_macMicrophoneDevice = new QComboBox(box);
    m_macMicrophoneDevice->setObjectName(QStringLiteral("macMicrophoneDevice"));
    m_macSpeakersDevice = new QComboBox(box);
    m_macSpeakersDevice->setObjectName(QStringLiteral("macSpeakersDevice"));
    for (QComboBox* combo : {m_macMicrophoneDevice, m_macSpeakersDevice})
        combo->setMinimumContentsLength(16);
    auto* form = new QGridLayout;
    form->addWidget(new QLabel(QStringLiteral("Micro du Mac"), box), 0, 0);
    form->addWidget(m_macMicrophoneDevice, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("Son simulé"), box), 1, 0);
    form->addWidget(m_macSound, 1, 1);
    form->addWidget(new QLabel(QStringLiteral("Haut-parleurs"), box), 2, 0);
    form->addWidget(m_macSpeakersDevice, 2, 1);
    form->setColumnStretch(1, 1);
    layout->addLayout(form);
    m_macSoundError = errorLabel(box);
    layout->addWidget(m_macSoundError);
    m_computerSoundState = noteLabel(box);
    m_computerSoundState->setObjectName(QStringLiteral("computerSoundState"));
    layout->addWidget(m_computerSoundState);
    m_computerSoundNotice = noteLabel(box);
    m_computerSoundNotice->setObjectName(QStringLiteral("computerSoundNotice"));
    layout->addWidget(m_computerSoundNotice);
    layout->addStretch(1);

    connect(m_sleepButton, &QPushButton::clicked, this, [this] {
        m_mac.sleep();
        refresh();
    });
    connect(m_macSound, &VoiceChooser::choiceChanged, this, &SimulatorWindow::applyMacSound);
    connect(m_macMicrophoneDevice, &QComboBox::activated, this, [this] { chooseBacking(true); });
    connect(m_macSpeakersDevice, &QComboBox::activated, this, [this] { chooseBacking(false); });
    return box;
}

// The computer's devices offered behind the Mac's built-in ones; the simulated hardware comes first.
void SimulatorWindow::refreshComputerSound()
{
    ComputerSound& sound = m_mac.computerSound();
    for (QComboBox* combo : {m_macMicrophoneDevice, m_macSpeakersDevice, m_callerEar}) {
        const bool input = combo == m_macMicrophoneDevice;
        const auto direction = input ? hostsound::Direction::Input : hostsound::Direction::Output;
        const QString chosen = combo == m_callerEar ? sound.callerOutput() : sound.backing(direction);
        QList<QPair<QString, QString>> items = {{combo == m_callerEar ? QStringLiteral("Nulle part (simulé)")
                                                 : input              ? QStringLiteral("Micro simulé")
                                                         : QStringLiteral("Haut-parleurs simulés"),
                                                 QString()}};
        bool listed = chosen.isEmpty();
        for (const hostsound::Device& device : sound.devices(direction)) {
            const QString name = QString::fromStdString(device.name);
            QString label = QString::fromStdString(device.description);
            if (device.isDefault)
                label += QStringLiteral(" (par défaut)");
            items.append({label, name});
            listed = listed || name == chosen;
        }
        if (!listed)
            items.append({sound.describe(chosen) + QStringLiteral(" (débranché)"), chosen});
        // Rebuilt only when the list changed, so an open list is not pulled from under the person.
        bool same = combo->count() == items.size();
        for (int i = 0; same && i < items.size(); ++i)
            same = combo->itemText(i) == items[i].first && combo->itemData(i).toString() == items[i].second;
        if (!same) {
            const QSignalBlocker blocker(combo);
            combo->clear();
            for (const auto& [label, name] : items)
                combo->addItem(label, name);
        }
        combo->setCurrentIndex(std::max(0, combo->findData(chosen)));
        combo->setEnabled(sound.isConnected() || !chosen.isEmpty());
    }
    m_macSound->setEnabled(sound.backing(hostsound::Direction::Input).isEmpty());
    m_callerVoice->setPersonOffered(sound.isConnected());
    // The person's microphone moved to the Mac: the caller's choice follows.
    if (m_callerVoice->isPersonChosen() && sound.callerInput().isEmpty()) {
        const QSignalBlocker blocker(m_callerVoice->combo());
        m_callerVoice->combo()->setCurrentIndex(0);
    }
    m_computerSoundNotice->setText(sound.notice());
    m_computerSoundNotice->setVisible(!sound.notice().isEmpty());

    QString state;
    if (!sound.reason().isEmpty())
        state = QStringLiteral("Aucun serveur de son sur cet ordinateur : le Mac garde ses sons simulés.");
    else if (sound.soundServer() && !sound.isConnected())
        state =
            QStringLiteral("Le serveur de son ne répond plus : les périphériques de l’ordinateur sont hors "
                           "service.");
    else if (!sound.isBackingAlive(hostsound::Direction::Input) ||
             !sound.isBackingAlive(hostsound::Direction::Output))
        state = QStringLiteral(
            "Un périphérique de l’ordinateur a disparu : son double sur le Mac est hors service.");
    m_computerSoundState->setText(state);
    m_computerSoundState->setVisible(!state.isEmpty());
}

void SimulatorWindow::chooseBacking(bool input)
{
    QComboBox* combo = input ? m_macMicrophoneDevice : m_macSpeakersDevice;
    const auto direction = input ? hostsound::Direction::Input : hostsound::Direction::Output;
    if (!m_mac.computerSound().setBacking(direction, combo->currentData().toString()))
        showError(m_macSoundError, QStringLiteral("Ce périphérique de l’ordinateur n’est plus disponible."));
    else
        showError(m_macSoundError, {});
    refresh();
}

// The person at the computer as the caller: their default input when chosen as the voice, and the output
// chosen to hear the call on.
void SimulatorWindow::chooseCaller()
{
    ComputerSound& sound = m_mac.computerSound();
    if (!sound.isConnected())
        return;
    const QString input =
        m_callerVoice->isPersonChosen()
            ? (sound.callerInput().isEmpty() ? sound.defaultDevice(hostsound::Direction::Input)
                                             : sound.callerInput())
            : QString();
    if (!sound.setCaller(input, m_callerEar->currentData().toString()))
        showError(m_phoneError, QStringLiteral("Ce périphérique de l’ordinateur n’est plus disponible."));
    else
        showError(m_phoneError, {});
    // The person chosen mid-call speaks at once.
    if (m_callerVoice->isPersonChosen() && sound.callerVoice() && m_mac.callAudio().isOpen())
        m_mac.callAudio().setCallerVoice(sound.callerVoice());
    refresh();
}

void SimulatorWindow::applyMacSound()
{
    QString error;
    auto sound = m_macSound->makeSource(&error);
    showError(m_macSoundError, error);
    if (error.isEmpty())
        m_mac.setMacMicrophoneSound(std::move(sound));
}

// --- Journal

QGroupBox* SimulatorWindow::buildJournal()
{
    auto* box = new QGroupBox(QStringLiteral("Journal (le plus récent en haut)"), this);
    auto* layout = new QVBoxLayout(box);
    m_journal = new QListWidget(box);
    m_journal->setObjectName(QStringLiteral("journal"));
    m_journal->setWordWrap(true);
    m_journal->setAlternatingRowColors(true);
    m_journal->setMinimumHeight(120);
    layout->addWidget(m_journal);
    return box;
}

void SimulatorWindow::refreshJournal()
{
    const QStringList events = m_mac.events();
    if (events == m_shownEvents && m_journal->count() > 0)
        return;
    m_shownEvents = events;
    m_journal->clear();
    for (auto it = events.crbegin(); it != events.crend(); ++it)
        m_journal->addItem(*it);
    if (events.isEmpty())
        m_journal->addItem(QStringLiteral("Rien ne s’est encore passé."));
}

} // namespace sim
