#include "tests/model/ModelTestSupport.h"

#include "app/common/PrivateFile.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/KeyStore.h"
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

namespace {

const QString kRecordingOn = QStringLiteral(
    "L’enregistrement audio est activé. N’ajoute pas d’annonce automatique à ce sujet dans l’accueil.");
const QString kRecordingOff = QStringLiteral("L’enregistrement audio est désactivé.");

} // namespace

TEST_F(ModelTest, FirstLaunchGivesTheDefaultsAndSettingsComeBackAtTheNextLaunch)
{
    {
        auto model = makeModel();
        EXPECT_EQ(model->voice(), "marin");
        EXPECT_EQ(model->model(), "gpt-realtime");
        EXPECT_EQ(model->company(), AppModel::kSampleCompany);
        EXPECT_EQ(model->customInstructions(),
                  "Accueille les locataires et prends un message précis pour le gestionnaire.");
        EXPECT_EQ(model->voiceStyle(), AppModel::kDefaultVoiceStyle);
        EXPECT_TRUE(model->recordingEnabled());
        EXPECT_EQ(model->inputUID(), "");
        EXPECT_EQ(model->outputUID(), "");
        EXPECT_EQ(model->status(), "Prêt à configurer");
        EXPECT_EQ(model->page(), "Le standard");
        EXPECT_FALSE(defaults.contains(SettingsKey::company))
            << "the migration must write nothing on a first launch";
        EXPECT_TRUE(model->records().isEmpty());
        EXPECT_FALSE(model->error().has_value());

        // refresh() gave the intervention devices the built-in ones.
        bool micFound = false;
        bool outputFound = false;
        for (const SoundDevice& device : model->devices()) {
            micFound |=
                device.uid == model->interventionMicUID() && device.input && device.name.contains("MacBook");
            outputFound |= device.uid == model->interventionOutputUID() && device.output &&
                           device.name.contains("MacBook");
        }
        EXPECT_TRUE(micFound) << model->interventionMicUID().toStdString();
        EXPECT_TRUE(outputFound) << model->interventionOutputUID().toStdString();
        EXPECT_EQ(model->nativeAudioStatus(), "Module audio à installer ou Mac à redémarrer");
        EXPECT_FALSE(model->keyPresent());
        EXPECT_FALSE(model->micAllowed());

        model->setInputUID("in");
        model->setOutputUID("out");
        model->setVoice("cedar");
        model->setModel("gpt-realtime-2025-08-28");
        model->setCompany("SCI Test");
        model->setCustomInstructions("");
        model->saveSettings();
        ASSERT_FALSE(model->log().isEmpty());
        EXPECT_TRUE(model->log().first().endsWith(" · Réglages enregistrés"))
            << model->log().first().toStdString();
        model->setRecordingEnabled(false); // written at once, without saveSettings()
        model->setCompany("Pas encore enregistrée");
    }
    auto again = makeModel();
    EXPECT_EQ(again->inputUID(), "in");
    EXPECT_EQ(again->outputUID(), "out");
    EXPECT_EQ(again->voice(), "cedar");
    EXPECT_EQ(again->model(), "gpt-realtime-2025-08-28");
    EXPECT_EQ(again->company(), "SCI Test") << "only saveSettings() writes the main settings";
    EXPECT_EQ(again->customInstructions(), "");
    EXPECT_FALSE(again->recordingEnabled());

    // A mistyped flag reads as its default.
    defaults.setString(SettingsKey::recordingEnabled, "non");
    EXPECT_TRUE(makeModel()->recordingEnabled());
}

TEST_F(ModelTest, DeviceChoicesClearTheConfirmedRoutingOnlyWhenTheyChange)
{
    auto model = makeModel();
    model->setInputUID("a");
    model->setRoutingConfirmed(true);
    model->setInputUID("a");
    EXPECT_TRUE(model->routingConfirmed()) << "the same input must keep the confirmation";
    model->setOutputUID("b");
    EXPECT_FALSE(model->routingConfirmed());
    model->setRoutingConfirmed(true);
    model->setInputUID("c");
    EXPECT_FALSE(model->routingConfirmed());

    model->setInterventionMicUID("mic");
    EXPECT_EQ(defaults.string(SettingsKey::interventionMicUID), QString("mic"));
    EXPECT_EQ(makeModel()->interventionMicUID(), "mic") << "refresh() must not replace a chosen device";
}

TEST_F(ModelTest, ChangesAreAnnouncedOncePerEventLoopTurn)
{
    auto model = makeModel();
    pumpEvents();
    QSignalSpy spy(model.get(), &AppModel::changed);
    model->setStatus("un");
    model->setDetail("deux");
    model->event("trois");
    EXPECT_EQ(spy.count(), 0) << "the notification is queued";
    pumpEvents();
    EXPECT_EQ(spy.count(), 1);
    model->setStatus("un");
    pumpEvents();
    EXPECT_EQ(spy.count(), 1) << "an unchanged value announces nothing";
}

TEST_F(ModelTest, TheOldPlaceholderCompanyIsMigratedAtEveryStart)
{
    defaults.setString(SettingsKey::company, "Votre gestion locative");
    EXPECT_EQ(makeModel()->company(), AppModel::kSampleCompany);
    EXPECT_EQ(defaults.string(SettingsKey::company), AppModel::kSampleCompany);

    for (const QString& kept :
         {QString(""), QString("votre gestion locative"), QString("Votre gestion locative ")}) {
        defaults.setString(SettingsKey::company, kept);
        EXPECT_EQ(makeModel()->company(), kept) << "'" << kept.toStdString() << "' must stay";
        EXPECT_EQ(defaults.string(SettingsKey::company), kept);
    }
}

TEST_F(ModelTest, TheLogKeepsTheFiftyNewestLinesNewestFirst)
{
    auto model = makeModel();
    const QStringList before = model->log();
    for (int i = 1; i <= 51; ++i)
        model->event(QStringLiteral("ligne %1").arg(i));
    ASSERT_EQ(model->log().size(), 50);
    EXPECT_TRUE(model->log().first().endsWith(" · ligne 51"));
    EXPECT_TRUE(model->log().last().endsWith(" · ligne 2")) << model->log().last().toStdString();
    const QRegularExpression shape(QStringLiteral("^\\d{1,2}:\\d{2} · ligne 51$"));
    EXPECT_TRUE(shape.match(model->log().first()).hasMatch()) << model->log().first().toStdString();
}

TEST_F(ModelTest, InstructionsFollowTheSettingsInBothRecordingStates)
{
    auto model = makeModel();
    model->setCompany("SCI Rive");
    model->setCustomInstructions("");
    model->setRecordingEnabled(false);
    QString text = model->instructions();
    EXPECT_TRUE(
        text.startsWith("Tu es Orlea, assistante vocale virtuelle pour SCI Rive. Tu parles français"));
    EXPECT_TRUE(text.endsWith("\n" + kRecordingOff));
    EXPECT_TRUE(
        text.contains("\nConsignes du gestionnaire : \nFaçon de parler (ces consignes précisent le style "
                      "vocal, sans modifier la mission) : " +
                      AppModel::kDefaultVoiceStyle + "\n"));
    EXPECT_EQ(text.count('\n'), 6);
    EXPECT_TRUE(text.contains("interrompre.\nObjectif : prendre un message exploitable"));
    EXPECT_TRUE(text.contains("adaptés.\nTu n’as aucun outil d’action externe"));

    model->setRecordingEnabled(true);
    model->setCustomInstructions("  Sois brève. ");
    text = model->instructions();
    EXPECT_TRUE(text.endsWith("\n" + kRecordingOn));
    EXPECT_TRUE(text.contains("Consignes du gestionnaire :   Sois brève. \n")) << "values are not trimmed";
}

TEST_F(ModelTest, VoiceStyleIsTrimmedLimitedStoredAndReported)
{
    auto model = makeModel();
    const QString longStyle = QString(5000, QChar(u'é'));
    model->applyVoiceStyle("  \n" + longStyle + " \n");
    EXPECT_EQ(model->voiceStyle(), longStyle.left(4000));
    EXPECT_EQ(defaults.string(SettingsKey::voiceStyle), longStyle.left(4000));
    EXPECT_EQ(model->voiceStyleStatus(), "Style enregistré pour la prochaine conversation.");
    ASSERT_TRUE(model->realtime().onInstructionsApplied);
    model->realtime().onInstructionsApplied();
    EXPECT_EQ(model->voiceStyleStatus(), "Style reçu par l’IA · utilisé pour les prochaines réponses.");
    EXPECT_EQ(makeModel()->voiceStyle(), longStyle.left(4000));

    // Characters, not UTF-16 units: no emoji or accent is cut in half.
    QString emojis;
    for (int i = 0; i < 4001; ++i)
        emojis += QString::fromUtf8("😊");
    model->applyVoiceStyle(emojis);
    EXPECT_EQ(model->voiceStyle(), emojis.left(8000));
    QString accents;
    for (int i = 0; i < 4001; ++i)
        accents += QString::fromUtf8("e\u0301");
    model->applyVoiceStyle(accents);
    EXPECT_EQ(model->voiceStyle(), accents.left(8000));
}

TEST_F(ModelTest, TheEqualiserIsClampedAppliedAndStored)
{
    auto model = makeModel();
    VoiceEQSettings wanted;
    wanted.enabled = true;
    wanted.gains = {20, -20, 3, 0, 0, 0, 0, 0}; // one band short
    model->setVoiceEQ(wanted);
    const std::vector<float> expected{12, -12, 3, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(model->voiceEQ().gains, expected);
    EXPECT_TRUE(model->voiceEQ().enabled);
    EXPECT_EQ(makeModel()->voiceEQ(), model->voiceEQ());
}

TEST_F(ModelTest, FailWhileIdleDisarmsReportsAndSavesNothing)
{
    auto model = makeModel();
    model->setMacAudioVerified(true);
    model->setRoutingConfirmed(true);
    model->setArmed(true);
    model->fail("Quelque chose a échoué.");
    EXPECT_FALSE(model->macAudioVerified()) << "outside a phone session the Mac check is redone";
    EXPECT_TRUE(model->routingConfirmed());
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(model->status(), "Une vérification est nécessaire");
    EXPECT_EQ(model->detail(), "La conversation est conservée sur ce Mac.");
    EXPECT_EQ(model->error(), std::optional<QString>("Quelque chose a échoué."));
    EXPECT_TRUE(model->log().first().endsWith(" · Quelque chose a échoué."));
    EXPECT_TRUE(model->records().isEmpty());
    EXPECT_EQ(model->cooldownUntil(), mac.clock().now().addSecs(8));
}

TEST_F(ModelTest, RecordOperationsSaveTheHistory)
{
    QUuid id;
    {
        auto model = makeModel();
        model->addDemo();
        ASSERT_EQ(model->records().size(), 1);
        id = model->records().first().id;
        EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(id));
        EXPECT_EQ(model->page(), "Conversations");
        model->updateNote(id, "Rappeler demain ");
        model->updateDossier(id, "  12 rue des Lilas ");
        model->updateFollowUpStatus(id, "En cours");
        model->updateFollowUpStatus(id, "Peut-être");

        model->copyTranscript(id);
        EXPECT_EQ(clipboard.text, model->records().first().transcriptDocument());
        EXPECT_FALSE(model->transcriptCopyStatus().isEmpty());
        model->exportTranscript(id); // the user cancels the panel
        EXPECT_EQ(savePanel.proposed.size(), 1);
        EXPECT_FALSE(model->error().has_value());
        model->revealTranscript(id);
        ASSERT_EQ(revealer.shown.size(), 1);
        EXPECT_TRUE(QFile::exists(revealer.shown.first()));
    }
    auto again = makeModel();
    ASSERT_EQ(again->records().size(), 1);
    const CallRecord& saved = again->records().first();
    EXPECT_EQ(saved.id, id);
    EXPECT_EQ(saved.note, "Rappeler demain ");
    EXPECT_EQ(saved.dossier, std::optional<QString>("12 rue des Lilas"));
    EXPECT_EQ(saved.followUpStatus, std::optional<QString>("En cours"));
}

TEST_F(ModelTest, AnUndecodableHistoryIsReportedAndKept)
{
    PrivateFile::ensureFolder(AppPaths::dataFolder(), PrivateFile::Tighten::Yes);
    PrivateFile::write(AppPaths::historyFile(), "{\"not\": \"a list\"}");
    auto model = makeModel();
    EXPECT_TRUE(model->records().isEmpty());
    EXPECT_TRUE(model->historyReadFailed());
    EXPECT_EQ(model->error(),
              std::optional<QString>("Historique illisible. Le fichier existant n’a pas été modifié."));
    model->addDemo();
    EXPECT_EQ(PrivateFile::read(AppPaths::historyFile()), std::optional<QByteArray>("{\"not\": \"a list\"}"));
}

TEST_F(ModelTest, KeysAreSavedTrimmedAndDeletedOnlyWhenIdle)
{
    auto model = makeModel();
    model->saveKey(" \n\t ");
    EXPECT_EQ(model->error(), std::optional<QString>("Saisissez votre clé dans ce champ sécurisé."));
    EXPECT_FALSE(APIKeyStore::exists());

    model->setError(std::nullopt);
    model->setAiVerified(true);
    model->saveKey(" sk-test-123\n");
    EXPECT_EQ(APIKeyStore::read(), std::optional<QString>("sk-test-123"));
    EXPECT_FALSE(model->aiVerified());
    EXPECT_EQ(model->aiStatus(), "Clé enregistrée · connexion à vérifier");
    EXPECT_TRUE(model->keyPresent());
    EXPECT_EQ(defaults.boolean(SettingsKey::keySaved), std::optional<bool>(true));
    EXPECT_TRUE(model->log().first().endsWith(" · Clé enregistrée sur ce Mac"));
    EXPECT_TRUE(makeModel()->keyPresent());

    model->setBusy(true);
    model->deleteKey();
    EXPECT_TRUE(APIKeyStore::exists()) << "a conversation's key must stay while it runs";
    EXPECT_TRUE(model->keyPresent());
    model->setBusy(false);
    const int logLines = int(model->log().size());
    model->deleteKey();
    EXPECT_FALSE(APIKeyStore::exists());
    EXPECT_FALSE(model->keyPresent());
    EXPECT_EQ(defaults.boolean(SettingsKey::keySaved), std::optional<bool>(false));
    EXPECT_EQ(model->log().size(), logLines);
}

TEST_F(ModelTest, PermissionsAreAskedForAndReported)
{
    auto model = makeModel();
    model->verifyPermissions();
    EXPECT_TRUE(model->permissionReport().startsWith("Décrochage non autorisé pour cette version."));
    EXPECT_TRUE(mac.shownPrivacyPages().contains(sim::PrivacyPage::Accessibility));

    mac.setAccessibilityTrusted(true);
    mac.setMicrophoneDialogAnswer(sim::UserAnswer::Grant);
    model->verifyPermissions();
    EXPECT_EQ(model->permissionReport(),
              "Accès audio non autorisé. Autorisez le microphone pour Orlea puis revenez vérifier ici.");
    for (int step = 0; step < 50 && !model->micAllowed(); ++step) {
        mac.advance(0.1);
        pumpEvents();
    }
    EXPECT_TRUE(model->micAllowed()) << "the answer to the dialog refreshes the model";
    model->verifyPermissions();
    EXPECT_EQ(model->permissionReport(),
              "Les deux autorisations sont accordées à cette version de Orlea. Vous "
              "pouvez configurer et tester le son.");
}

TEST_F(ModelTest, AFreshMacShowsTheAssistantOnceWithEverythingToDo)
{
    auto model = makeModel();
    EXPECT_EQ(model->setupSteps(), QList<bool>({false, false, false, false, false, false}));
    EXPECT_EQ(model->setupPercent(), 0);
    EXPECT_EQ(
        model->readinessIssues(),
        QStringList({"Installer le module audio", "Autoriser le décrochage dans Accessibilité",
                     "Autoriser l’accès audio", "Configurer et tester le son", "Enregistrer la clé IA"}));
    model->presentStartupAssistant();
    EXPECT_TRUE(model->showSetupAssistant());
    model->setShowSetupAssistant(false);
    model->presentStartupAssistant();
    EXPECT_FALSE(model->showSetupAssistant()) << "once per launch";

    model->saveKey("sk-1");
    model->setMacAudioVerified(true);
    EXPECT_EQ(model->setupPercent(), 16);
    EXPECT_EQ(model->readinessIssues().last(), "Vérifier la connexion IA");
    EXPECT_EQ(model->setupSignature(), "||gpt-realtime|marin|" + AppModel::kSampleCompany + "|true");
}
