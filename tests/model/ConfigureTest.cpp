#include "app/audio/VelkaroDevices.h"
#include "app/common/Clock.h"
#include "app/records/CallRecord.h"
#include "tests/model/ModelTestSupport.h"

#include <cstdlib>

namespace {

class ConfigureTest : public ModelTest {
protected:
    std::unique_ptr<AppModel> makeModel(std::optional<QString> package)
    {
        Platform services = platform();
        services.nativeAudioPackage = std::move(package);
        return std::make_unique<AppModel>(services);
    }
    // Long enough for the configuration task and a monitoring tick.
    void settle(double seconds = 1.5)
    {
        mac.advance(seconds);
        pumpEvents();
    }
};

TEST_F(ConfigureTest, InstallNativeAudioOpensThePackageOrSaysItIsMissing)
{
    mac.setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    {
        auto model = makeModel(std::nullopt);
        model->installNativeAudio();
        EXPECT_EQ(model->error().value_or(QString()),
                  QStringLiteral("L’installateur audio est absent de ce paquet. Utilisez la distribution "
                                 "complète Orlea 0.2."));
        EXPECT_TRUE(mac.pendingPackages().isEmpty());
    }
    {
        auto model = makeModel(driverPackagePath());
        model->setArmed(true);
        model->installNativeAudio();
        EXPECT_TRUE(mac.pendingPackages().isEmpty()) << "armed: the guard must stop it";
        model->setArmed(false);
        model->installNativeAudio();
        EXPECT_FALSE(model->error().has_value());
        ASSERT_EQ(mac.pendingPackages().size(), 1) << "the package must reach the Installer";
        EXPECT_TRUE(mac.pendingPackages().first().endsWith(QStringLiteral("VelkaroAudio-0.2.0.pkg")));
    }
}

TEST_F(ConfigureTest, ConfigureAllWaitsForEachMacActionAndResumesOnItsOwn)
{
    mac.setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    auto model = makeModel(driverPackagePath());
    model->setShowSetupAssistant(true);

    model->configureAll();
    EXPECT_TRUE(model->configuringAll());
    settle();
    EXPECT_FALSE(model->configuringAll());
    EXPECT_TRUE(model->setupWaiting());
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("driver"));
    EXPECT_EQ(
        model->configurationStatus(),
        QStringLiteral("Installez le module audio dans la fenêtre macOS. Après un éventuel redémarrage, "
                       "rouvrez cet assistant."));
    ASSERT_EQ(mac.pendingPackages().size(), 1) << "configureAll must open the installer package";

    // Ticks while the Installer waits change nothing.
    settle(3);
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("driver"));
    EXPECT_EQ(mac.pendingPackages().size(), 1) << "waiting must not reopen the package";

    ASSERT_TRUE(mac.runInstaller().has_value());
    settle(2.5);
    EXPECT_TRUE(VelkaroDevices::pair(model->devices()).has_value());
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("microphone"));
    EXPECT_EQ(model->configurationStatus(),
              QStringLiteral("Autorisez le microphone dans la fenêtre macOS. La vérification reprendra "
                             "automatiquement."));

    // Closed assistant: no resumption even once the permission is granted.
    model->setShowSetupAssistant(false);
    ASSERT_TRUE(mac.answerMicrophoneDialog(true));
    settle(2.5);
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("microphone")) << "must not resume while closed";

    model->setShowSetupAssistant(true);
    settle(2.5);
    EXPECT_TRUE(model->micAllowed());
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("accessibility"));
    EXPECT_EQ(model->configurationStatus(),
              QStringLiteral("Activez Orlea dans Accessibilité. La vérification reprendra automatiquement."));
    EXPECT_TRUE(mac.shownPrivacyPages().contains(sim::PrivacyPage::Accessibility));

    mac.setAccessibilityTrusted(true);
    settle(2.5);
    EXPECT_FALSE(model->setupWaiting());
    EXPECT_TRUE(model->setupWaitTarget().isEmpty());
    EXPECT_FALSE(model->configuringAll());
    EXPECT_EQ(model->configurationStatus(),
              QStringLiteral("Saisissez votre clé OpenAI une fois, puis cliquez sur Suivant."));
}

TEST_F(ConfigureTest, ConfigureAllDoesNothingWhileBusyOrArmed)
{
    auto model = makeModel(driverPackagePath());
    const QString before = model->configurationStatus();
    model->setBusy(true);
    model->configureAll();
    model->setBusy(false);
    model->setArmed(true);
    model->configureAll();
    settle();
    EXPECT_FALSE(model->configuringAll());
    EXPECT_EQ(model->configurationStatus(), before);
    EXPECT_TRUE(mac.installations().isEmpty());
}

} // namespace

namespace {

TEST_F(ConfigureTest, DialTestNumberChecksTheNumberBeforeTheSetup)
{
    auto model = makeModel(std::nullopt);
    const QString invalid = QStringLiteral("Saisissez un numéro de téléphone valide.");
    const QString incomplete = QStringLiteral("Saisissez un numéro complet, avec l’indicatif si nécessaire.");
    const struct {
        const char* typed;
        QString status;
    } cases[] = {
        {"", invalid},
        {"06 12 34 5a 78", invalid},
        {"06 12 345", incomplete},
        {"0+6 12 34 56 78", incomplete},
        {"++33 6 12 34 56 78", incomplete},
        {"+33 6 12 34 56 78 12 34 56 78", incomplete},
    };
    for (const auto& c : cases) {
        model->setOutgoingStatus(QString());
        model->setOutgoingNumber(QString::fromUtf8(c.typed));
        model->dialTestNumber();
        EXPECT_EQ(model->outgoingStatus(), c.status) << "number: " << c.typed;
    }
    // A well-formed number still needs the setup: the microphone is not allowed on a fresh Mac.
    model->setOutgoingStatus(QString());
    model->setOutgoingNumber(QStringLiteral(" +33 6 12 34 56 78 "));
    model->dialTestNumber();
    EXPECT_TRUE(model->outgoingStatus().isEmpty());
    EXPECT_EQ(model->error().value_or(QString()),
              QStringLiteral("Autorisez le microphone dans Réglages système → Confidentialité et sécurité."));
}

TEST_F(ConfigureTest, TestMicrophoneNeedsThePermissionAndNoCandidateOnAFreshRun)
{
    auto model = makeModel(std::nullopt);
    model->testMicrophone();
    EXPECT_FALSE(model->testingMicrophone());
    EXPECT_EQ(model->error().value_or(QString()), QStringLiteral("Autorisez d’abord le microphone."));

    model->addDemo();
    EXPECT_FALSE(model->validationCandidate().has_value()) << "a demonstration record is no test call";
    model->confirmTestCall();
    EXPECT_FALSE(model->validatedCallID().has_value());
}

} // namespace

namespace {

TEST_F(ConfigureTest, MacAssistantAsksForTheMicrophoneFirstAndMicrophoneCheckHearsSilence)
{
    auto model = makeModel(std::nullopt);
    model->prepareMacAssistant();
    EXPECT_FALSE(model->macPreparing()) << "no microphone permission: nothing to prepare";
    ASSERT_TRUE(mac.answerMicrophoneDialog(true)) << "prepareMacAssistant must ask for the microphone";
    settle();
    EXPECT_TRUE(model->micAllowed());

    model->prepareMacAssistant();
    EXPECT_FALSE(model->macPreparing()) << "no key: stops silently";

    model->testMicrophone();
    EXPECT_TRUE(model->testingMicrophone());
    EXPECT_EQ(model->microphoneStatus(), QStringLiteral("Parlez pendant cinq secondes…"));
    settle(7);
    EXPECT_FALSE(model->testingMicrophone());
    EXPECT_EQ(model->microphoneLevel(), 0.0);
    EXPECT_EQ(model->microphoneStatus(),
              QStringLiteral("Aucun son détecté : parlez plus près et vérifiez le microphone"));
}

} // namespace

namespace {

TEST_F(ConfigureTest, TestCallCandidateNeedsBothVoicesThisRunAndItsRecording)
{
    auto model = makeModel(std::nullopt);
    mac.advance(2);
    auto call = [this](const QString& kind, bool callerSpoke) {
        CallRecord record;
        record.id = QUuid::createUuid();
        record.date = secondsSinceReferenceDate(mac.clock().now());
        record.caller = QStringLiteral("06 12 34 56 78");
        record.kind = kind;
        record.transcript << TranscriptLine::make(QStringLiteral("Orlea"), QStringLiteral("Bonjour"));
        if (callerSpoke)
            record.transcript << TranscriptLine::make(QStringLiteral("Interlocuteur"), QStringLiteral("Oui"));
        return record;
    };
    CallRecord before = call(QStringLiteral("Appel"), true);
    before.date -= 60; // before this run began
    model->history().insert(before);
    model->history().insert(call(QStringLiteral("Essai"), true));
    model->history().insert(call(QStringLiteral("Appel"), false));
    model->setRecordingEnabled(false);
    EXPECT_FALSE(model->validationCandidate().has_value());

    CallRecord good = call(QStringLiteral("Appel"), true);
    model->history().insert(good);
    ASSERT_TRUE(model->validationCandidate().has_value());
    EXPECT_EQ(model->validationCandidate()->id, good.id);

    model->setRecordingEnabled(true);
    EXPECT_FALSE(model->validationCandidate().has_value()) << "recording on: the call has no recording";
    CallRecord escaping = call(QStringLiteral("Appel"), true);
    escaping.recordingFile = QStringLiteral("../Velkaro.json");
    model->history().insert(escaping);
    EXPECT_FALSE(model->validationCandidate().has_value()) << "a path is not a bare recording name";
}

} // namespace
