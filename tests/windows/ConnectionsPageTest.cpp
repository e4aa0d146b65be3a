#include "tests/windows/WindowTestSupport.h"

#include "app/audio/MacAudioRoute.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/Clock.h"
#include "app/windows/AdvancedConnectionsPanel.h"
#include "app/windows/ConnectionsPage.h"
#include "app/windows/Theme.h"
#include "platform/sim/mac/ServerDevices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <string>

namespace {

QStringList pickerUIDs(const QComboBox* picker)
{
    QStringList uids;
    for (int i = 0; i < picker->count(); ++i)
        uids << picker->itemData(i).toString();
    return uids;
}

QString symbolOf(const QLabel* label)
{
    return label->property("symbol").toString();
}

// The tick symbol on the row whose text is `text`, found through the row's layout.
QString tickBeside(QWidget& root, const QString& text)
{
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->text() != text)
            continue;
        QWidget* parent = label->parentWidget();
        for (QLayout* layout : parent->findChildren<QLayout*>()) {
            const int index = layout->indexOf(label);
            if (index <= 0)
                continue;
            if (auto* symbol = qobject_cast<QLabel*>(layout->itemAt(index - 1)->widget()))
                return symbolOf(symbol);
        }
    }
    return QStringLiteral("<no row named %1>").arg(text);
}

const QString kTicked = QStringLiteral("checkmark.circle.fill");
const QString kOpen = QStringLiteral("circle.dotted");

} // namespace

class ConnectionsPageTest : public ModelTest {
protected:
    void SetUp() override
    {
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
            Theme::apply(*application);
    }

    void installDriver()
    {
        ASSERT_TRUE(mac.workspace().openUrl(driverPackageUrl())) << "the driver package must install";
    }

    // Everything of the setup done but the Mac audio check and the test call.
    std::unique_ptr<AppModel> configuredModel()
    {
        installDriver();
        mac.setAccessibilityTrusted(true);
        EXPECT_TRUE(mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true));
        auto model = makeModel();
        model->saveKey(QStringLiteral("sk-demo"));
        model->setInputUID(VelkaroDevices::kCallUID);
        model->setOutputUID(VelkaroDevices::kVoiceUID);
        model->setRoutingConfirmed(true);
        model->setAiVerified(true);
        model->setAiStatus(QStringLiteral("Connexion IA vérifiée"));
        model->setNativeAudioStatus(
            QStringLiteral("Son configuré · les deux circuits transmettent le signal de test"));
        model->setPermissionReport(QStringLiteral("Les deux autorisations sont accordées à cette version de "
                                                  "Orlea. Vous pouvez configurer et tester le son."));
        return model;
    }

    // Shows the page at the size the window gives it, then as tall as its content for a snapshot.
    void snapshot(ConnectionsPage& page, const QString& name)
    {
        page.resize(880, 780);
        page.show();
        settle();
        const int contentHeight = page.scrollArea()->widget()->height();
        page.resize(880, std::max(780, contentHeight + 4));
        settle();
        saveSnapshot(page, name);
        page.resize(880, 780);
        settle();
    }

    // Nothing is cut on the right, and no button is squeezed below the width of its text.
    void expectNoClipping(ConnectionsPage& page, const char* state)
    {
        QScrollArea* scroll = page.scrollArea();
        ASSERT_NE(scroll, nullptr);
        QWidget* content = scroll->widget();
        EXPECT_LE(content->minimumSizeHint().width(), scroll->viewport()->width())
            << state << ": the content is wider than the page and would be cut";
        for (QPushButton* button : content->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(content))
                continue;
            EXPECT_GE(button->width(), button->sizeHint().width())
                << state << ": \"" << button->text().toStdString() << "\" is squeezed";
            const QPoint right = button->mapTo(content, QPoint(button->width(), 0));
            EXPECT_LE(right.x(), content->width())
                << state << ": \"" << button->text().toStdString() << "\" runs past the page";
        }
    }
};

TEST_F(ConnectionsPageTest, TheVirtualDevicesNeverAppearInTheInterventionPickers)
{
    installDriver();
    auto model = makeModel();
    const std::optional<VelkaroDevices::Pair> pair = VelkaroDevices::pair(model->devices());
    ASSERT_TRUE(pair.has_value()) << "the installed driver must publish its two devices";
    // The virtual devices become the system's defaults, as a careless user or another program may do.
    model->macRoute().prepare(pair->call.id, pair->voice.id);
    ASSERT_EQ(sim::defaultDeviceName(mac.hardware(), true), pair->call.name);
    ASSERT_EQ(sim::defaultDeviceName(mac.hardware(), false), pair->voice.name);
    model->refresh();

    AdvancedConnectionsPanel panel(*model);
    settle();
    auto* mic = panel.findChild<QComboBox*>("interventionMicPicker");
    auto* output = panel.findChild<QComboBox*>("interventionOutputPicker");
    ASSERT_TRUE(mic && output);
    const QStringList virtualUIDs{VelkaroDevices::kCallUID, VelkaroDevices::kVoiceUID};
    for (const QString& uid : virtualUIDs) {
        EXPECT_FALSE(pickerUIDs(mic).contains(uid))
            << uid.toStdString() << " offered for the manager's voice";
        EXPECT_FALSE(pickerUIDs(output).contains(uid)) << uid.toStdString() << " offered for listening";
    }
    EXPECT_EQ(pickerUIDs(mic), QStringList{"BuiltInMicrophoneDevice"});
    EXPECT_EQ(pickerUIDs(output), QStringList{"BuiltInSpeakerDevice"});
    EXPECT_EQ(mic->currentData().toString(), model->interventionMicUID());

    // The phone circuit pickers do offer them: that is what they are for.
    auto* input = panel.findChild<QComboBox*>("inputPicker");
    EXPECT_TRUE(pickerUIDs(input).contains(VelkaroDevices::kCallUID));
    EXPECT_FALSE(pickerUIDs(input).contains("BuiltInSpeakerDevice"))
        << "an output-only device cannot capture";

    // A virtual device left in the settings shows the placeholder and is not written back.
    model->setInterventionMicUID(VelkaroDevices::kCallUID);
    settle();
    EXPECT_EQ(mic->currentIndex(), -1);
    EXPECT_EQ(mic->placeholderText(), "Choisir un micro");
    EXPECT_EQ(model->interventionMicUID(), VelkaroDevices::kCallUID);
    model->macRoute().restore();
}

TEST_F(ConnectionsPageTest, AnInterventionChoiceIsWrittenAtOnceAndSurvivesARestart)
{
    {
        auto model = makeModel();
        QList<SoundDevice> devices = model->devices();
        devices.append({901, QStringLiteral("Casque USB"), QStringLiteral("usb-headset"), true, true});
        model->setDevices(devices);
        AdvancedConnectionsPanel panel(*model);
        settle();
        auto* mic = panel.findChild<QComboBox*>("interventionMicPicker");
        auto* output = panel.findChild<QComboBox*>("interventionOutputPicker");
        const int headset = mic->findData(QStringLiteral("usb-headset"));
        ASSERT_GE(headset, 0);
        mic->setCurrentIndex(headset);
        output->setCurrentIndex(output->findData(QStringLiteral("usb-headset")));
        EXPECT_EQ(model->interventionMicUID(), "usb-headset");
        EXPECT_EQ(model->interventionOutputUID(), "usb-headset");
        // Quit without "Enregistrer les réglages".
    }
    auto restarted = makeModel();
    EXPECT_EQ(restarted->interventionMicUID(), "usb-headset");
    EXPECT_EQ(restarted->interventionOutputUID(), "usb-headset");
}

TEST_F(ConnectionsPageTest, ThePhoneCircuitPickersAreLockedWhileArmedOrBusy)
{
    auto model = makeModel();
    AdvancedConnectionsPanel panel(*model);
    settle();
    auto* input = panel.findChild<QComboBox*>("inputPicker");
    auto* output = panel.findChild<QComboBox*>("outputPicker");
    EXPECT_TRUE(input->isEnabled() && output->isEnabled());
    model->setArmed(true);
    settle();
    EXPECT_FALSE(input->isEnabled()) << "armed";
    EXPECT_FALSE(output->isEnabled()) << "armed";
    model->setArmed(false);
    model->setBusy(true);
    settle();
    EXPECT_FALSE(input->isEnabled()) << "busy";
    EXPECT_FALSE(output->isEnabled()) << "busy";
    EXPECT_FALSE(panel.findChild<QLineEdit*>("keyField")->isEnabled()) << "the key waits for the call to end";
    EXPECT_FALSE(findButton(panel, "Enregistrer")->isEnabled());
    EXPECT_FALSE(findButton(panel, "Retirer la clé")->isEnabled());
    EXPECT_FALSE(findButton(panel, "Vérifier la connexion IA")->isEnabled());
    model->setBusy(false);
    settle();
    EXPECT_TRUE(input->isEnabled() && output->isEnabled());

    // A pick goes to the model, and a different phone input clears the confirmed routing.
    model->setRoutingConfirmed(true);
    settle();
    input->setCurrentIndex(input->findData(QStringLiteral("BuiltInMicrophoneDevice")));
    EXPECT_EQ(model->inputUID(), "BuiltInMicrophoneDevice");
    EXPECT_FALSE(model->routingConfirmed());
}

TEST_F(ConnectionsPageTest, TheKeyFieldSavesClearsAndRemovesTheKey)
{
    auto model = makeModel();
    AdvancedConnectionsPanel panel(*model);
    panel.show();
    settle();
    auto* field = panel.findChild<QLineEdit*>("keyField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password) << "the key must not be readable on screen";
    EXPECT_EQ(field->placeholderText(), "Collez votre clé ici (sk-…)") << "an empty field says what it takes";
    EXPECT_TRUE(showsText(panel, "Clé OpenAI"));
    EXPECT_FALSE(findButton(panel, "Retirer la clé")->isEnabled()) << "no key to remove";

    // A blank key is refused and stays in the field for correction.
    QTest::keyClicks(field, "   ");
    findButton(panel, "Enregistrer")->click();
    EXPECT_FALSE(model->keyPresent());
    EXPECT_EQ(model->error(), std::optional<QString>("Saisissez votre clé dans ce champ sécurisé."));
    EXPECT_EQ(field->text(), "   ");
    model->setError(std::nullopt);

    field->clear();
    QTest::keyClicks(field, "  sk-test-123 ");
    findButton(panel, "Enregistrer")->click();
    settle();
    EXPECT_TRUE(model->keyPresent());
    EXPECT_EQ(field->text(), "") << "the typed key must not linger in the field";
    EXPECT_EQ(field->placeholderText(), "Une clé est enregistrée · saisir pour remplacer");
    EXPECT_TRUE(showsText(panel, "Clé enregistrée · connexion à vérifier"));

    ASSERT_TRUE(findButton(panel, "Retirer la clé")->isEnabled());
    findButton(panel, "Retirer la clé")->click();
    settle();
    EXPECT_FALSE(model->keyPresent());
    EXPECT_EQ(field->placeholderText(), "Collez votre clé ici (sk-…)");
    EXPECT_FALSE(findButton(panel, "Retirer la clé")->isEnabled());
}

TEST_F(ConnectionsPageTest, ButtonsSayWhileTheirWorkRuns)
{
    auto model = makeModel();
    AdvancedConnectionsPanel panel(*model);
    settle();
    auto* verify = panel.findChild<QPushButton*>("verifyAIButton");
    auto* prepare = panel.findChild<QPushButton*>("prepareAudioButton");
    auto* configure = panel.findChild<QPushButton*>("configureAllButton");
    EXPECT_EQ(verify->text(), "Vérifier la connexion IA");
    EXPECT_EQ(prepare->text(), "Configurer et tester le son");
    EXPECT_EQ(configure->text(), "Tout configurer");
    EXPECT_FALSE(configure->icon().isNull()) << "the wand icon";

    model->setCheckingAI(true);
    model->setPreparingAudio(true);
    model->setConfiguringAll(true);
    settle();
    EXPECT_EQ(verify->text(), "Vérification…");
    EXPECT_EQ(prepare->text(), "Configuration…");
    EXPECT_EQ(configure->text(), "Configuration en cours…");
    EXPECT_FALSE(verify->isEnabled());
    EXPECT_FALSE(prepare->isEnabled()) << "a second preparation would be ignored";
    EXPECT_FALSE(configure->isEnabled());
    EXPECT_FALSE(findButton(panel, "Installer le module audio")->isEnabled());
    EXPECT_TRUE(findButton(panel, "Actualiser")->isEnabled());

    model->setCheckingAI(false);
    model->setPreparingAudio(false);
    model->setConfiguringAll(false);
    settle();
    EXPECT_EQ(verify->text(), "Vérifier la connexion IA");
    EXPECT_EQ(prepare->text(), "Configurer et tester le son");
    EXPECT_EQ(configure->text(), "Tout configurer");
    EXPECT_TRUE(configure->isEnabled());

    // The microphone test shows its meter only while it runs.
    auto* meter = panel.findChild<QWidget*>("microphoneLevel");
    EXPECT_FALSE(meter->isVisibleTo(&panel));
    model->setTestingMicrophone(true);
    model->setMicrophoneLevel(0.5);
    settle();
    EXPECT_TRUE(meter->isVisibleTo(&panel));
    EXPECT_FALSE(findButton(panel, "Tester le microphone du Mac")->isEnabled());
}

TEST_F(ConnectionsPageTest, TheVerificationTicksFollowTheModel)
{
    auto model = makeModel();
    AdvancedConnectionsPanel panel(*model);
    settle();
    const QStringList rows{"Module audio installé",     "Accès au microphone",
                           "Autorisation de décrocher", "Clé enregistrée sur ce Mac",
                           "Connexion OpenAI vérifiée", "Son et enregistrement testés",
                           "En attente d’un appel…"};
    for (const QString& row : rows)
        EXPECT_EQ(tickBeside(panel, row), kOpen) << row.toStdString() << " on a fresh Mac";

    installDriver();
    model->refresh();
    settle();
    EXPECT_EQ(tickBeside(panel, "Module audio installé"), kTicked) << "the driver's devices are present";
    EXPECT_EQ(tickBeside(panel, "Accès au microphone"), kOpen);

    model->setMicAllowed(true);
    model->setKeyPresent(true);
    settle();
    EXPECT_EQ(tickBeside(panel, "Accès au microphone"), kTicked);
    EXPECT_EQ(tickBeside(panel, "Clé enregistrée sur ce Mac"), kTicked);
    EXPECT_EQ(tickBeside(panel, "Connexion OpenAI vérifiée"), kOpen) << "a stored key is not a verified one";
    EXPECT_EQ(tickBeside(panel, "Autorisation de décrocher"), kOpen);

    model->setAccessibility(true);
    model->setAiVerified(true);
    model->setRoutingConfirmed(true);
    settle();
    EXPECT_EQ(tickBeside(panel, "Autorisation de décrocher"), kTicked);
    EXPECT_EQ(tickBeside(panel, "Connexion OpenAI vérifiée"), kTicked);
    EXPECT_EQ(tickBeside(panel, "Son et enregistrement testés"), kTicked);
    EXPECT_EQ(tickBeside(panel, "En attente d’un appel…"), kOpen) << "only a confirmed test call ticks it";

    // The permission rows of section 3 follow too, and a granted permission needs no button.
    auto* allowMic = panel.findChild<QPushButton*>("allowMicrophoneButton");
    EXPECT_FALSE(allowMic->isEnabled());
    model->setMicAllowed(false);
    settle();
    EXPECT_TRUE(allowMic->isEnabled());
    EXPECT_EQ(tickBeside(panel, "Accès au microphone"), kOpen);
}

TEST_F(ConnectionsPageTest, AConfirmedTestCallTicksTheLastRowAndCompletesTheProgress)
{
    auto model = configuredModel();
    model->setRecordingEnabled(false);
    model->setMacAudioVerified(true);
    ConnectionsPage page(*model);
    page.setPanelUnfolded(true);
    settle();
    EXPECT_TRUE(showsText(page, "5 étapes sur 6 terminées"));
    EXPECT_EQ(tickBeside(page, "En attente d’un appel…"), kOpen);

    mac.manualClock()->advance(30);
    CallRecord call;
    call.id = QUuid::createUuid();
    call.date = secondsSinceReferenceDate(mac.clock().now());
    call.caller = QStringLiteral("06 12 34 56 78");
    call.kind = QStringLiteral("Appel");
    call.transcript = {TranscriptLine::make("Orlea", "Bonjour, que puis-je pour vous ?"),
                       TranscriptLine::make("Interlocuteur", "Je vous appelle pour un essai.")};
    model->history().insert(call);
    model->confirmTestCall();
    settle();
    ASSERT_TRUE(model->setupSteps().value(5)) << "the inserted call must qualify as the test call";
    EXPECT_EQ(tickBeside(page, "Appel test confirmé"), kTicked);
    EXPECT_FALSE(showsText(page, "En attente d’un appel…"));
    EXPECT_TRUE(showsText(page, "Les 6 étapes sont terminées"));
    EXPECT_FALSE(page.findChild<QLabel*>("nextStep")->isVisibleTo(&page));

    // Another model name voids the confirmation, and the row waits again.
    model->setModel(QStringLiteral("gpt-realtime-2025-08-28"));
    settle();
    EXPECT_EQ(tickBeside(page, "En attente d’un appel…"), kOpen);
}

TEST_F(ConnectionsPageTest, SettingsFieldsWriteThroughTheModel)
{
    auto model = makeModel();
    AdvancedConnectionsPanel panel(*model);
    panel.show();
    settle();

    auto* modelField = panel.findChild<QLineEdit*>("modelField");
    EXPECT_EQ(modelField->text(), "gpt-realtime");
    modelField->setFocus();
    modelField->selectAll();
    QTest::keyClicks(modelField, "gpt-realtime-2025-08-28");
    QTest::keyClick(modelField, Qt::Key_Return);
    EXPECT_EQ(model->model(), "gpt-realtime-2025-08-28");
    EXPECT_FALSE(defaults.string(SettingsKey::model).has_value())
        << "the model name waits for the settings save";
    findButton(panel, "Enregistrer les réglages")->click();
    EXPECT_EQ(defaults.string(SettingsKey::model), std::optional<QString>("gpt-realtime-2025-08-28"));

    // A field being edited is left alone when the model changes.
    modelField->setFocus();
    QTest::keyClicks(modelField, "-x");
    model->setStatus(QStringLiteral("Autre chose"));
    settle();
    EXPECT_EQ(modelField->text(), "gpt-realtime-2025-08-28-x");

    auto* recording = qobject_cast<QCheckBox*>(findButton(panel, "Enregistrer l’audio des conversations"));
    ASSERT_NE(recording, nullptr);
    EXPECT_TRUE(recording->isChecked());
    recording->click();
    EXPECT_FALSE(model->recordingEnabled());
    EXPECT_EQ(defaults.boolean(SettingsKey::recordingEnabled), std::optional<bool>(false));

    findButton(panel, "Afficher cette version dans le Finder")->click();
    EXPECT_EQ(revealer.shown, QStringList{QCoreApplication::applicationFilePath()});

    EXPECT_EQ(panel.findChild<QPushButton*>("keyPageLink")->property("url").toString(),
              "https://platform.openai.com/api-keys");
    EXPECT_EQ(panel.findChild<QPushButton*>("billingPageLink")->property("url").toString(),
              "https://platform.openai.com/settings/organization/billing");
}

TEST_F(ConnectionsPageTest, TheProgressBlockCountsStepsAndOpensTheAssistantOrTheChecks)
{
    EXPECT_EQ(ConnectionsPage::progressLine(0, 6), "Aucune étape terminée sur 6");
    EXPECT_EQ(ConnectionsPage::progressLine(1, 6), "1 étape sur 6 terminée");
    EXPECT_EQ(ConnectionsPage::progressLine(3, 6), "3 étapes sur 6 terminées");
    EXPECT_EQ(ConnectionsPage::progressLine(6, 6), "Les 6 étapes sont terminées");

    auto model = configuredModel();
    ConnectionsPage page(*model);
    page.resize(880, 780);
    page.show();
    settle();
    // Driver, permissions, AI and phone audio: four of six.
    EXPECT_TRUE(showsText(page, "4 étapes sur 6 terminées"));
    EXPECT_TRUE(showsText(page, "Prochaine étape : Audio du Mac"));
    EXPECT_FALSE(page.panel()->isVisible()) << "the advanced panel starts folded";

    findButton(page, "Ouvrir l’assistant")->click();
    EXPECT_TRUE(model->showSetupAssistant());

    findButton(page, "Voir les vérifications")->click();
    settle();
    EXPECT_TRUE(page.panelUnfolded());
    EXPECT_TRUE(page.panel()->isVisible());
    QWidget* checks = page.panel()->verificationList();
    const QPoint top = checks->mapTo(page.scrollArea()->viewport(), QPoint(0, 0));
    EXPECT_GT(page.scrollArea()->verticalScrollBar()->value(), 0) << "the list lies below the first screen";
    EXPECT_GE(top.y(), 0) << "the verification list must be scrolled into view";
    EXPECT_LT(top.y(), page.scrollArea()->viewport()->height() / 2);

    findButton(page, "Options et dépannage")->click();
    settle();
    EXPECT_FALSE(page.panel()->isVisible());
}

TEST_F(ConnectionsPageTest, SnapshotsOfAnEmptyAndAConfiguredMacFitThePage)
{
    {
        auto model = makeModel();
        ConnectionsPage page(*model);
        snapshot(page, "connections-empty-folded");
        expectNoClipping(page, "empty, folded");
        page.setPanelUnfolded(true);
        snapshot(page, "connections-empty-unfolded");
        expectNoClipping(page, "empty, unfolded");
    }
    auto model = configuredModel();
    ConnectionsPage page(*model);
    page.setPanelUnfolded(true);
    model->setAudioProbeActive(true);
    model->setProbeLevels({0.4, 0.3});
    model->setTestingMicrophone(true);
    model->setMicrophoneLevel(0.6);
    snapshot(page, "connections-configured-unfolded");
    // Close-ups of the densest cards, at the width the page gives them.
    saveSnapshot(*page.panel()->findChild<QWidget*>("audioSection"), "connections-configured-audio");
    saveSnapshot(*page.panel()->verificationList(), "connections-configured-checks");
    expectNoClipping(page, "configured, unfolded");
}
