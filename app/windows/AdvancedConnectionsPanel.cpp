#include "app/windows/AdvancedConnectionsPanel.h"

#include "app/audio/VelkaroDevices.h"
#include "app/model/AppModel.h"
#include "app/ui/Icons.h"
#include "app/ui/LevelMeter.h"
#include "app/ui/MicrophoneLevelView.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUrl>

const QString AdvancedConnectionsPanel::kKeyStoredPlaceholder =
    QStringLiteral("Une clé est enregistrée · saisir pour remplacer");
const QString AdvancedConnectionsPanel::kKeyMissingPlaceholder =
    QStringLiteral("Collez votre clé ici (sk-…)");
const QString AdvancedConnectionsPanel::kKeyPageUrl = QStringLiteral("https://platform.openai.com/api-keys");
const QString AdvancedConnectionsPanel::kBillingPageUrl =
    QStringLiteral("https://platform.openai.com/settings/organization/billing");

namespace {
bool isVirtual(const SoundDevice& device)
{
    return device.uid == VelkaroDevices::kCallUID || device.uid == VelkaroDevices::kVoiceUID;
}

QList<SoundDevice> filtered(const QList<SoundDevice>& devices, bool input, bool withVirtual)
{
    QList<SoundDevice> choices;
    for (const SoundDevice& device : devices)
        if ((input ? device.input : device.output) && (withVirtual || !isVirtual(device)))
            choices.append(device);
    return choices;
}

// Buttons side by side, left-aligned; the rest of the row stays empty.
QHBoxLayout* buttonRow(QBoxLayout* parent, std::initializer_list<QWidget*> widgets)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    row->addStretch(1);
    parent->addLayout(row);
    return row;
}

// A field label followed by its control, on one line.
void labelledRow(QBoxLayout* parent, const QString& text, QWidget* control)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* label = Theme::body(text);
    label->setWordWrap(false);
    label->setMinimumWidth(150);
    row->addWidget(label);
    row->addWidget(control, 1);
    parent->addLayout(row);
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

// Rebuilds the entries only when the offered devices changed, then shows the chosen UID (the
// placeholder when it is not offered). Signals are held back: only the user's picks reach the model.
void syncPicker(QComboBox* picker, const QList<SoundDevice>& choices, const QString& selectedUID)
{
    const QSignalBlocker blocker(picker);
    bool same = picker->count() == choices.size();
    for (int i = 0; same && i < choices.size(); ++i)
        same = picker->itemData(i).toString() == choices[i].uid && picker->itemText(i) == choices[i].name;
    if (!same) {
        picker->clear();
        for (const SoundDevice& device : choices)
            picker->addItem(device.name, device.uid);
    }
    const int index = selectedUID.isEmpty() ? -1 : picker->findData(selectedUID);
    if (picker->currentIndex() != index)
        picker->setCurrentIndex(index);
}
} // namespace

QList<SoundDevice> AdvancedConnectionsPanel::phoneInputChoices(const QList<SoundDevice>& devices)
{
    return filtered(devices, true, true);
}
QList<SoundDevice> AdvancedConnectionsPanel::phoneOutputChoices(const QList<SoundDevice>& devices)
{
    return filtered(devices, false, true);
}
QList<SoundDevice> AdvancedConnectionsPanel::interventionMicChoices(const QList<SoundDevice>& devices)
{
    return filtered(devices, true, false);
}
QList<SoundDevice> AdvancedConnectionsPanel::interventionOutputChoices(const QList<SoundDevice>& devices)
{
    return filtered(devices, false, false);
}

AdvancedConnectionsPanel::AdvancedConnectionsPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("advancedConnectionsPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::kSpacingPx);

    auto* title = Theme::sectionTitle(QStringLiteral("Tout se connecte ici."));
    title->setStyleSheet(QStringLiteral("font-size: 19px;"));
    layout->addWidget(title);
    layout->addWidget(
        Theme::pageSubtitle(QStringLiteral("Trois étapes pour relier votre ligne et la voix de Orlea.")));
    layout->addWidget(buildConversationSection());
    layout->addWidget(buildAudioSection());
    layout->addWidget(buildPermissionSection());
    layout->addWidget(buildInterventionSection());
    layout->addWidget(buildVerificationSection());
    layout->addWidget(buildPhoneCheckSection());

    connect(&m_model, &AppModel::changed, this, &AdvancedConnectionsPanel::refresh);
    refresh();
}

QFrame* AdvancedConnectionsPanel::buildConversationSection()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("conversationSection"));
    auto* layout = Theme::cardLayout(card);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("1. La conversation IA")));
    layout->addWidget(Theme::body(QStringLiteral(
        "Pas encore de clé ? Créez votre clé sur OpenAI, ajoutez du crédit à votre compte API, puis collez "
        "la clé ci-dessous.")));

    auto* keyLink = Theme::linkButton(QStringLiteral("Créer ma clé OpenAI ↗"));
    keyLink->setObjectName(QStringLiteral("keyPageLink"));
    keyLink->setProperty("url", kKeyPageUrl);
    auto* billingLink = Theme::linkButton(QStringLiteral("Ajouter du crédit ↗"));
    billingLink->setObjectName(QStringLiteral("billingPageLink"));
    billingLink->setProperty("url", kBillingPageUrl);
    connect(keyLink, &QPushButton::clicked, this, [this] { openLink(kKeyPageUrl); });
    connect(billingLink, &QPushButton::clicked, this, [this] { openLink(kBillingPageUrl); });
    buttonRow(layout, {keyLink, billingLink});

    m_keyField = new QLineEdit(card);
    m_keyField->setObjectName(QStringLiteral("keyField"));
    m_keyField->setEchoMode(QLineEdit::Password);
    m_keyField->setClearButtonEnabled(true);
    m_keyField->setAccessibleName(QStringLiteral("Clé OpenAI"));
    connect(m_keyField, &QLineEdit::returnPressed, this, &AdvancedConnectionsPanel::saveTypedKey);
    labelledRow(layout, QStringLiteral("Clé OpenAI"), m_keyField);

    m_saveKey = Theme::primaryButton(QStringLiteral("Enregistrer"));
    m_saveKey->setObjectName(QStringLiteral("saveKeyButton"));
    m_deleteKey = Theme::secondaryButton(QStringLiteral("Retirer la clé"));
    m_deleteKey->setObjectName(QStringLiteral("deleteKeyButton"));
    m_verifyAI = Theme::secondaryButton(QStringLiteral("Vérifier la connexion IA"));
    m_verifyAI->setObjectName(QStringLiteral("verifyAIButton"));
    connect(m_saveKey, &QPushButton::clicked, this, &AdvancedConnectionsPanel::saveTypedKey);
    connect(m_deleteKey, &QPushButton::clicked, this, [this] { m_model.deleteKey(); });
    connect(m_verifyAI, &QPushButton::clicked, this, [this] { m_model.verifyAI(false); });
    buttonRow(layout, {m_saveKey, m_deleteKey, m_verifyAI});

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    m_aiStatusSymbol = Theme::symbol(QStringLiteral("circle.dotted"), 16);
    m_aiStatus = Theme::caption(QString());
    m_aiStatus->setObjectName(QStringLiteral("aiStatus"));
    statusRow->addWidget(m_aiStatusSymbol, 0, Qt::AlignTop);
    statusRow->addWidget(m_aiStatus, 1);
    layout->addLayout(statusRow);

    m_modelField = new QLineEdit(card);
    m_modelField->setObjectName(QStringLiteral("modelField"));
    connect(m_modelField, &QLineEdit::editingFinished, this, &AdvancedConnectionsPanel::commitModelName);
    labelledRow(layout, QStringLiteral("Modèle Realtime"), m_modelField);

    layout->addWidget(Theme::caption(QStringLiteral(
        "Votre clé est conservée dans un fichier local privé de votre compte Mac, sans trousseau et sans "
        "chiffrement supplémentaire. Les conversations réelles utilisent votre compte API et sont facturées "
        "par OpenAI.")));

    m_recording = new QCheckBox(QStringLiteral("Enregistrer l’audio des conversations"), card);
    m_recording->setObjectName(QStringLiteral("recordingToggle"));
    connect(m_recording, &QCheckBox::toggled, this, [this](bool on) { m_model.setRecordingEnabled(on); });
    layout->addWidget(m_recording);
    layout->addWidget(Theme::caption(
        QStringLiteral("Les deux voix sont conservées sur ce Mac, dans Dossiers, avec la transcription.")));
    return card;
}

QFrame* AdvancedConnectionsPanel::buildAudioSection()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("audioSection"));
    auto* layout = Theme::cardLayout(card);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("2. Les deux chemins audio")));
    layout->addWidget(Theme::body(QStringLiteral("Le module Velkaro Audio crée deux cartes son virtuelles. "
                                                 "Aucun logiciel audio tiers ni câble n’est nécessaire.")));

    m_install = Theme::secondaryButton(QStringLiteral("Installer le module audio"));
    m_install->setObjectName(QStringLiteral("installButton"));
    m_prepare = Theme::primaryButton(QStringLiteral("Configurer et tester le son"));
    m_prepare->setObjectName(QStringLiteral("prepareAudioButton"));
    m_refresh = Theme::secondaryButton(QStringLiteral("Actualiser"));
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    connect(m_install, &QPushButton::clicked, this, [this] { m_model.installNativeAudio(); });
    connect(m_prepare, &QPushButton::clicked, this, [this] { m_model.prepareNativeAudio(); });
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_model.refresh(); });
    buttonRow(layout, {m_install, m_prepare, m_refresh});

    m_nativeAudioStatus = Theme::body(QString());
    m_nativeAudioStatus->setObjectName(QStringLiteral("nativeAudioStatus"));
    layout->addWidget(m_nativeAudioStatus);
    layout->addWidget(Theme::caption(QStringLiteral(
        "L’installateur macOS demande le mot de passe administrateur. Redémarrez ensuite le Mac, puis lancez "
        "la configuration automatique. Orlea choisit les périphériques et teste leur fonctionnement.")));

    layout->addSpacing(4);
    layout->addWidget(Theme::eyebrow(QStringLiteral("Ce que Orlea entend")));
    layout->addWidget(Theme::body(QStringLiteral(
        "Téléphone → « Appel vers IA » → Orlea\nOrlea → « IA vers appel » → microphone de Téléphone")));
    m_inputPicker = makePicker(QStringLiteral("Choisir une entrée"), QStringLiteral("inputPicker"));
    m_outputPicker = makePicker(QStringLiteral("Choisir une sortie"), QStringLiteral("outputPicker"));
    connect(m_inputPicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_model.setInputUID(m_inputPicker->itemData(index).toString());
    });
    connect(m_outputPicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_model.setOutputUID(m_outputPicker->itemData(index).toString());
    });
    labelledRow(layout, QStringLiteral("Choisir une entrée"), m_inputPicker);
    labelledRow(layout, QStringLiteral("Choisir une sortie"), m_outputPicker);

    m_resetPhone = Theme::secondaryButton(QStringLiteral("Remettre Téléphone sur le son système"));
    m_resetPhone->setObjectName(QStringLiteral("resetPhoneAudioButton"));
    connect(m_resetPhone, &QPushButton::clicked, this, [this] { m_model.resetPhoneAudio(); });
    buttonRow(layout, {m_resetPhone});

    m_advancedDisclosure = new QToolButton(card);
    m_advancedDisclosure->setObjectName(QStringLiteral("advancedAudioDisclosure"));
    m_advancedDisclosure->setText(QStringLiteral("Réglages avancés — essai au micro et dépannage"));
    m_advancedDisclosure->setCheckable(true);
    m_advancedDisclosure->setAutoRaise(true);
    m_advancedDisclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_advancedDisclosure->setArrowType(Qt::RightArrow);
    m_advancedDisclosure->setCursor(Qt::PointingHandCursor);
    m_advancedDisclosure->setStyleSheet(
        QStringLiteral("QToolButton { border: none; background: transparent; padding: 4px 0; }"));
    layout->addWidget(m_advancedDisclosure);
    m_advancedContent = Theme::caption(
        QStringLiteral("Orlea vérifie automatiquement que le son traverse ses deux circuits. Un essai sur "
                       "votre ligne reste nécessaire pour valider le relais iPhone."));
    m_advancedContent->setHidden(true);
    layout->addWidget(m_advancedContent);
    connect(m_advancedDisclosure, &QToolButton::toggled, this, [this](bool open) {
        m_advancedDisclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_advancedContent->setVisible(open);
    });
    return card;
}

QFrame* AdvancedConnectionsPanel::buildPermissionSection()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("permissionSection"));
    auto* layout = Theme::cardLayout(card);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("3. Les autorisations du Mac")));
    layout->addWidget(Theme::body(QStringLiteral(
        "Accessibilité permet de détecter le bouton Décrocher dans les applications Apple. L’application ne "
        "clique pas ailleurs sur votre écran.")));

    m_allowMicrophone = Theme::secondaryButton(QStringLiteral("Autoriser"));
    m_allowMicrophone->setObjectName(QStringLiteral("allowMicrophoneButton"));
    m_allowAccessibility = Theme::secondaryButton(QStringLiteral("Autoriser"));
    m_allowAccessibility->setObjectName(QStringLiteral("allowAccessibilityButton"));
    connect(m_allowMicrophone, &QPushButton::clicked, this, [this] { m_model.allowMicrophone(); });
    connect(m_allowAccessibility, &QPushButton::clicked, this, [this] { m_model.allowAccessibility(); });
    const auto permissionRow = [&](const QString& name, QPushButton* button) {
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        CheckRow check;
        check.symbol = Theme::symbol(QStringLiteral("circle.dotted"), 18);
        auto* label = Theme::body(name);
        label->setWordWrap(false);
        label->setMinimumWidth(140);
        check.text = Theme::caption(QString());
        row->addWidget(check.symbol);
        row->addWidget(label);
        row->addWidget(check.text, 1);
        row->addWidget(button);
        layout->addLayout(row);
        return check;
    };
    m_micPermission = permissionRow(QStringLiteral("Microphone"), m_allowMicrophone);
    m_micPermission.text->setObjectName(QStringLiteral("microphonePermissionState"));
    m_accessibilityPermission = permissionRow(QStringLiteral("Accessibilité"), m_allowAccessibility);
    m_accessibilityPermission.text->setObjectName(QStringLiteral("accessibilityPermissionState"));

    m_permissionReport = Theme::caption(QString());
    m_permissionReport->setObjectName(QStringLiteral("permissionReport"));
    layout->addWidget(m_permissionReport);

    auto* verify = Theme::secondaryButton(QStringLiteral("Vérifier les autorisations"));
    verify->setObjectName(QStringLiteral("verifyPermissionsButton"));
    auto* reveal = Theme::secondaryButton(QStringLiteral("Afficher cette version dans le Finder"));
    reveal->setObjectName(QStringLiteral("revealApplicationButton"));
    auto* save = Theme::primaryButton(QStringLiteral("Enregistrer les réglages"));
    save->setObjectName(QStringLiteral("saveSettingsButton"));
    connect(verify, &QPushButton::clicked, this, [this] { m_model.verifyPermissions(); });
    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealApplication(); });
    connect(save, &QPushButton::clicked, this, [this] {
        commitModelName();
        m_model.saveSettings();
    });
    buttonRow(layout, {verify, reveal, save});
    return card;
}

QFrame* AdvancedConnectionsPanel::buildInterventionSection()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("interventionSection"));
    auto* layout = Theme::cardLayout(card);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Intervention humaine · facultatif")));
    layout->addWidget(Theme::body(
        QStringLiteral("Le micro du Mac est séparé de l’entrée téléphone. Il ne s’ouvre que lorsque vous "
                       "cliquez sur Intervenir. Utilisez un casque pour éviter l’écho.")));
    m_interventionMic =
        makePicker(QStringLiteral("Choisir un micro"), QStringLiteral("interventionMicPicker"));
    m_interventionOutput =
        makePicker(QStringLiteral("Choisir une sortie"), QStringLiteral("interventionOutputPicker"));
    // Written at once: the manager may need them on the next call without saving anything else.
    connect(m_interventionMic, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_model.setInterventionMicUID(m_interventionMic->itemData(index).toString());
    });
    connect(m_interventionOutput, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_model.setInterventionOutputUID(m_interventionOutput->itemData(index).toString());
    });
    labelledRow(layout, QStringLiteral("Votre microphone"), m_interventionMic);
    labelledRow(layout, QStringLiteral("Écouter l’appel sur"), m_interventionOutput);
    return card;
}

QFrame* AdvancedConnectionsPanel::buildVerificationSection()
{
    m_verificationCard = Theme::card(this);
    m_verificationCard->setObjectName(QStringLiteral("verificationList"));
    auto* layout = Theme::cardLayout(m_verificationCard);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Vérifications")));
    for (const char* text : {"Module audio installé", "Accès au microphone", "Autorisation de décrocher",
                             "Clé enregistrée sur ce Mac", "Connexion OpenAI vérifiée",
                             "Son et enregistrement testés", "En attente d’un appel…"})
        m_checks.append(addCheckRow(layout, QString::fromUtf8(text)));
    layout->addWidget(Theme::caption(QStringLiteral(
        "Les coches vertes confirment les étapes vérifiées. Un appel réel reste nécessaire pour "
        "confirmer la voix dans le téléphone.")));

    m_configureAll = Theme::primaryButton(QStringLiteral("Tout configurer"));
    m_configureAll->setObjectName(QStringLiteral("configureAllButton"));
    m_configureAll->setIcon(Theme::iconOnAccent(QStringLiteral("wand.and.stars")));
    connect(m_configureAll, &QPushButton::clicked, this, [this] { m_model.configureAll(); });
    buttonRow(layout, {m_configureAll});
    m_configurationStatus = Theme::body(QString());
    m_configurationStatus->setObjectName(QStringLiteral("configurationStatus"));
    layout->addWidget(m_configurationStatus);
    m_probeLevels = new MicrophoneLevelView(m_verificationCard);
    m_probeLevels->setObjectName(QStringLiteral("probeLevels"));
    m_probeLevels->setHidden(true);
    layout->addWidget(m_probeLevels);
    return m_verificationCard;
}

QFrame* AdvancedConnectionsPanel::buildPhoneCheckSection()
{
    auto* card = Theme::card(this);
    card->setObjectName(QStringLiteral("phoneCheckSection"));
    auto* layout = Theme::cardLayout(card);
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Vérifier le téléphone et le microphone")));

    m_observeRelay = Theme::secondaryButton(QStringLiteral("Vérifier le relais iPhone"));
    m_observeRelay->setObjectName(QStringLiteral("observeRelayButton"));
    connect(m_observeRelay, &QPushButton::clicked, this, [this] { m_model.observeRelay(); });
    buttonRow(layout, {m_observeRelay});
    m_relayStatus = Theme::body(QString());
    m_relayStatus->setObjectName(QStringLiteral("relayStatus"));
    layout->addWidget(m_relayStatus);
    layout->addWidget(Theme::caption(QStringLiteral(
        "Le relais classique exige un iPhone à proximité sur le même Wi-Fi. Nous confirmons l’arrivée d’un "
        "appel, pas une connexion permanente déduite de la présence de l’application Téléphone.")));

    layout->addSpacing(6);
    m_testMicrophone = Theme::secondaryButton(QStringLiteral("Tester le microphone du Mac"));
    m_testMicrophone->setObjectName(QStringLiteral("testMicrophoneButton"));
    connect(m_testMicrophone, &QPushButton::clicked, this, [this] { m_model.testMicrophone(); });
    buttonRow(layout, {m_testMicrophone});
    m_microphoneStatus = Theme::body(QString());
    m_microphoneStatus->setObjectName(QStringLiteral("microphoneStatus"));
    layout->addWidget(m_microphoneStatus);
    m_microphoneLevel = new LevelMeter(MicrophoneLevelView::kRawTitle, card);
    m_microphoneLevel->setObjectName(QStringLiteral("microphoneLevel"));
    // Its bar starts where the check's meters above start theirs.
    m_microphoneLevel->setNameWidth(m_probeLevels->rawMeter()->nameWidth());
    m_microphoneLevel->setHidden(true);
    layout->addWidget(m_microphoneLevel);
    layout->addWidget(Theme::caption(QStringLiteral(
        "Test local de cinq secondes, sans enregistrement ni envoi à l’IA. Pour les appels, le son vient du "
        "téléphone : ce micro physique est facultatif.")));
    return card;
}

QComboBox* AdvancedConnectionsPanel::makePicker(const QString& placeholder, const QString& objectName)
{
    auto* picker = new QComboBox(this);
    picker->setObjectName(objectName);
    picker->setPlaceholderText(placeholder);
    picker->setAccessibleName(placeholder);
    // Long device names must not widen the page.
    picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker->setMinimumContentsLength(18);
    return picker;
}

AdvancedConnectionsPanel::CheckRow AdvancedConnectionsPanel::addCheckRow(QBoxLayout* layout,
                                                                         const QString& text)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    CheckRow check;
    check.symbol = Theme::symbol(QStringLiteral("circle.dotted"), 18);
    check.text = Theme::body(text);
    row->addWidget(check.symbol);
    row->addWidget(check.text, 1);
    layout->addLayout(row);
    return check;
}

void AdvancedConnectionsPanel::saveTypedKey()
{
    const std::optional<QString> before = m_model.error();
    m_model.saveKey(m_keyField->text());
    // A refused key stays in the field so the user can correct it.
    if (m_model.keyPresent() && m_model.error() == before)
        m_keyField->clear();
}

void AdvancedConnectionsPanel::commitModelName()
{
    if (m_modelField->text() != m_model.model())
        m_model.setModel(m_modelField->text());
}

void AdvancedConnectionsPanel::openLink(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}

void AdvancedConnectionsPanel::refresh()
{
    const AppModel& model = m_model;
    const bool busy = model.busy();
    const bool armed = model.armed();

    // 1. The AI conversation.
    const QString placeholder = model.keyPresent() ? kKeyStoredPlaceholder : kKeyMissingPlaceholder;
    if (m_keyField->placeholderText() != placeholder)
        m_keyField->setPlaceholderText(placeholder);
    // The key cannot change during a call: the field waits with its buttons.
    m_keyField->setEnabled(!busy);
    m_saveKey->setEnabled(!busy);
    m_deleteKey->setEnabled(!busy && model.keyPresent());
    m_verifyAI->setText(model.checkingAI() ? QStringLiteral("Vérification…")
                                           : QStringLiteral("Vérifier la connexion IA"));
    m_verifyAI->setEnabled(!busy && !model.checkingAI() && !model.preparingAudio() &&
                           !model.testingMicrophone());
    Theme::setTicked(m_aiStatusSymbol, model.aiVerified(), 16);
    setTextIfChanged(m_aiStatus, model.aiStatus());
    if (!m_modelField->hasFocus() && m_modelField->text() != model.model())
        m_modelField->setText(model.model());
    if (m_recording->isChecked() != model.recordingEnabled()) {
        const QSignalBlocker blocker(m_recording);
        m_recording->setChecked(model.recordingEnabled());
    }

    // 2. The two audio paths.
    const bool audioIdle = !busy && !armed && !model.preparingAudio() && !model.testingMicrophone() &&
                           !model.observingRelay() && !model.macPreparing();
    m_install->setEnabled(audioIdle);
    m_prepare->setEnabled(audioIdle);
    m_resetPhone->setEnabled(audioIdle);
    m_prepare->setText(model.preparingAudio() ? QStringLiteral("Configuration…")
                                              : QStringLiteral("Configurer et tester le son"));
    setTextIfChanged(m_nativeAudioStatus, model.nativeAudioStatus());
    const QList<SoundDevice>& devices = model.devices();
    syncPicker(m_inputPicker, phoneInputChoices(devices), model.inputUID());
    syncPicker(m_outputPicker, phoneOutputChoices(devices), model.outputUID());
    // The call's devices are fixed while the switchboard listens or talks.
    m_inputPicker->setEnabled(!busy && !armed);
    m_outputPicker->setEnabled(!busy && !armed);

    // 3. Permissions.
    Theme::setTicked(m_micPermission.symbol, model.micAllowed());
    setTextIfChanged(m_micPermission.text,
                     model.micAllowed() ? QStringLiteral("Autorisé") : QStringLiteral("Non autorisé"));
    Theme::setTicked(m_accessibilityPermission.symbol, model.accessibility());
    setTextIfChanged(m_accessibilityPermission.text,
                     model.accessibility() ? QStringLiteral("Autorisé") : QStringLiteral("Non autorisé"));
    m_allowMicrophone->setEnabled(!model.micAllowed());
    m_allowAccessibility->setEnabled(!model.accessibility());
    setTextIfChanged(m_permissionReport, model.permissionReport());
    m_permissionReport->setHidden(model.permissionReport().isEmpty());

    // Intervention.
    syncPicker(m_interventionMic, interventionMicChoices(devices), model.interventionMicUID());
    syncPicker(m_interventionOutput, interventionOutputChoices(devices), model.interventionOutputUID());

    // Verification list.
    const QList<bool> steps = model.setupSteps();
    const bool callConfirmed = steps.size() > 5 && steps[5];
    const bool ticks[] = {steps.value(0),     model.micAllowed(), model.accessibility(),
                          model.keyPresent(), model.aiVerified(), model.routingConfirmed(),
                          callConfirmed};
    for (int i = 0; i < m_checks.size(); ++i)
        Theme::setTicked(m_checks[i].symbol, ticks[i]);
    setTextIfChanged(m_checks.last().text, callConfirmed ? QStringLiteral("Appel test confirmé")
                                                         : QStringLiteral("En attente d’un appel…"));
    m_configureAll->setText(model.configuringAll() ? QStringLiteral("Configuration en cours…")
                                                   : QStringLiteral("Tout configurer"));
    m_configureAll->setEnabled(!model.configuringAll() && !busy && !armed && !model.preparingAudio() &&
                               !model.checkingAI() && !model.testingMicrophone() && !model.observingRelay());
    setTextIfChanged(m_configurationStatus, model.configurationStatus());
    m_probeLevels->setVisible(model.audioProbeActive());
    m_probeLevels->setLevels(model.probeLevels().raw, model.probeLevels().converted);

    // Phone check.
    m_observeRelay->setEnabled(audioIdle);
    setTextIfChanged(m_relayStatus, model.relayStatus());
    m_testMicrophone->setEnabled(!busy && !armed && !model.preparingAudio() && !model.testingMicrophone());
    setTextIfChanged(m_microphoneStatus, model.microphoneStatus());
    m_microphoneLevel->setVisible(model.testingMicrophone());
    m_microphoneLevel->setLevel(model.microphoneLevel());
}
