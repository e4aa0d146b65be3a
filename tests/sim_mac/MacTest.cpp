// The simulated Mac as the application meets it: permissions, privacy pages, the Installer, sleep and the
// state kept between runs.

#include "tests/sim_mac/MacTestSupport.h"

#include "app/audio/AudioDevices.h"
#include "app/audio/VelkaroDevices.h"

#include "platform/sim/mac/ServerDevices.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using permissions::AuthorizationStatus;
using sim::Mac;
using sim::PrivacyPage;
using sim::UserAnswer;

namespace {

class MacTest : public ::testing::Test {
protected:
    TestDataHome home;
    std::unique_ptr<Mac> mac = std::make_unique<Mac>(Mac::defaultStateFolder());

    // Requests microphone access; the result is set once the completion has run.
    std::shared_ptr<std::optional<bool>> request()
    {
        auto result = std::make_shared<std::optional<bool>>();
        mac->microphone().requestAccess([result](bool granted) { *result = granted; });
        return result;
    }

    bool hasVelkaroPair() { return VelkaroDevices::pair(AudioDevices::all(mac->hardware())).has_value(); }
};

} // namespace

TEST_F(MacTest, MicrophoneRequestIsAnsweredByTheSimulatedUser)
{
    EXPECT_TRUE(mac->stateFolder().startsWith(home.path()));
    EXPECT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::NotDetermined);

    // Granting by policy, after the user's reaction time, never inside the request.
    mac->setMicrophoneDialogAnswer(UserAnswer::Grant);
    auto granted = request();
    EXPECT_FALSE(granted->has_value()) << "the completion ran inside the request";
    EXPECT_TRUE(mac->microphoneAccess().isDialogShown());
    mac->advance(1);
    ASSERT_TRUE(granted->has_value());
    EXPECT_TRUE(**granted);
    EXPECT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::Authorized);
    auto again = request();
    mac->advance(0);
    EXPECT_EQ(*again, std::optional<bool>(true));
    EXPECT_EQ(mac->microphoneAccess().dialogCount(), 1) << "a decided status shows no dialog";

    // "Ask": the dialog stays up, every request made meanwhile gets the one answer.
    Mac fresh(home.path() + "/OtherMac");
    auto first = std::make_shared<std::optional<bool>>();
    auto second = std::make_shared<std::optional<bool>>();
    fresh.microphone().requestAccess([first](bool ok) { *first = ok; });
    fresh.microphone().requestAccess([second](bool ok) { *second = ok; });
    fresh.advance(60);
    EXPECT_FALSE(first->has_value()) << "nobody answered the dialog yet";
    EXPECT_EQ(fresh.microphoneAccess().dialogCount(), 1);
    EXPECT_TRUE(fresh.answerMicrophoneDialog(false));
    EXPECT_FALSE(fresh.answerMicrophoneDialog(true)) << "no dialog is left to answer";
    fresh.advance(0);
    EXPECT_EQ(*first, std::optional<bool>(false));
    EXPECT_EQ(*second, std::optional<bool>(false));
    EXPECT_EQ(fresh.microphoneStatus(), AuthorizationStatus::Denied);
}

TEST_F(MacTest, DeniedMicrophoneIsAllowedOnItsPrivacyPage)
{
    mac->setMicrophoneDialogAnswer(UserAnswer::Deny);
    auto answer = request();
    mac->advance(1);
    EXPECT_EQ(*answer, std::optional<bool>(false));
    ASSERT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::Denied);

    EXPECT_TRUE(mac->workspace().openUrl(QUrl(QString::fromLatin1(permissions::kMicrophonePrivacyUrl))));
    EXPECT_EQ(mac->shownPrivacyPages(), QList<PrivacyPage>{PrivacyPage::Microphone});
    EXPECT_EQ(mac->currentPrivacyPage(), PrivacyPage::Microphone);
    mac->advance(5);
    EXPECT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::Denied)
        << "the page waits for the user by default";
    EXPECT_TRUE(mac->setPrivacySwitch(PrivacyPage::Microphone, true));
    EXPECT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::Authorized);

    // A managed Mac: the switch does not move.
    mac->microphoneAccess().setStatus(AuthorizationStatus::Restricted);
    EXPECT_FALSE(mac->setPrivacySwitch(PrivacyPage::Microphone, true));
    EXPECT_EQ(mac->microphone().authorizationStatus(), AuthorizationStatus::Restricted);
    auto restricted = request();
    mac->advance(0);
    EXPECT_EQ(*restricted, std::optional<bool>(false));

    // Other System Settings links open without showing a privacy page.
    EXPECT_TRUE(mac->workspace().openUrl(QUrl("x-apple.systempreferences:com.apple.preference.sound")));
    EXPECT_FALSE(mac->currentPrivacyPage().has_value());
    EXPECT_EQ(mac->shownPrivacyPages().size(), 1);
}

TEST_F(MacTest, AccessibilityIsGrantedOnItsPageOrAfterThePrompt)
{
    EXPECT_FALSE(mac->accessibility().isProcessTrusted()) << "a new Mac does not trust the application";
    mac->setUserAnswer(UserAnswer::Grant);
    mac->setAccessibilityPromptAnswer(UserAnswer::Ask);
    mac->userDelaySeconds = 2;
    EXPECT_TRUE(mac->workspace().openUrl(QUrl(QString::fromLatin1(permissions::kAccessibilityPrivacyUrl))));
    EXPECT_EQ(mac->currentPrivacyPage(), PrivacyPage::Accessibility);
    mac->advance(1);
    EXPECT_FALSE(mac->accessibility().isProcessTrusted());
    mac->advance(1.5);
    EXPECT_TRUE(mac->accessibility().isProcessTrusted());

    // Withdrawn through the control API, then granted by the user after the system's prompt.
    mac->setAccessibilityTrusted(false);
    EXPECT_FALSE(mac->accessibility().isProcessTrusted());
    EXPECT_FALSE(mac->accessibility().isProcessTrustedWithOptions(true));
    mac->advance(5);
    EXPECT_FALSE(mac->accessibility().isProcessTrusted()) << "an unanswered prompt grants nothing";
    mac->setAccessibilityPromptAnswer(UserAnswer::Grant);
    EXPECT_FALSE(mac->accessibility().isProcessTrustedWithOptions(true)) << "the prompt does not wait";
    EXPECT_EQ(mac->desktop().trustPromptCount(), 2);
    mac->advance(3);
    EXPECT_TRUE(mac->accessibility().isProcessTrusted());
}

TEST_F(MacTest, DeferredInstallerInstallsOnlyWhenRun)
{
    EXPECT_FALSE(hasVelkaroPair());
    mac->setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    EXPECT_FALSE(mac->workspace().openUrl(QUrl::fromLocalFile(home.path() + "/absent-0.2.0.pkg")))
        << "a missing package does not open";
    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    mac->advance(10);
    EXPECT_EQ(mac->pendingPackages(), QStringList{builtPackagePath()});
    EXPECT_FALSE(hasVelkaroPair()) << "installed before the user ran the Installer";

    mac->cancelInstaller();
    EXPECT_TRUE(mac->pendingPackages().isEmpty());
    EXPECT_FALSE(mac->runInstaller().has_value());
    EXPECT_FALSE(hasVelkaroPair());

    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    const auto result = mac->runInstaller();
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->installed) << result->error;
    const auto pair = VelkaroDevices::pair(AudioDevices::all(mac->hardware()));
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->call.name, QString("Velkaro — Appel vers IA"));
    EXPECT_TRUE(QFileInfo::exists(mac->plugInFolder() + "/VelkaroAudio.driver"));

    // An upgrade that waits for a restart of the audio server: the devices vanish until then.
    mac->setInstallNeedsRestart(true);
    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    ASSERT_TRUE(mac->runInstaller().value_or(sim::InstallResult{}).installed);
    EXPECT_FALSE(hasVelkaroPair());
    mac->restartAudioServer();
    EXPECT_TRUE(hasVelkaroPair());

    // The Phone app's menu lists the server's devices.
    const QStringList inputs = sim::deviceNames(mac->hardware(), true);
    EXPECT_TRUE(inputs.contains("MacBook Pro Microphone"));
    EXPECT_TRUE(inputs.contains("Velkaro — IA vers appel"));
    EXPECT_FALSE(sim::deviceNames(mac->hardware(), false).contains("MacBook Pro Microphone"));
}

TEST_F(MacTest, StateSurvivesARestartAndANewFolderIsAFreshMac)
{
    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    ASSERT_TRUE(hasVelkaroPair()) << mac->events().join("\n").toStdString();
    mac->setAccessibilityTrusted(true);
    mac->microphoneAccess().setStatus(AuthorizationStatus::Authorized);
    const QString folder = mac->stateFolder();
    mac.reset();

    Mac same(folder);
    EXPECT_TRUE(VelkaroDevices::pair(AudioDevices::all(same.hardware())).has_value())
        << "the installed driver is loaded at boot";
    EXPECT_TRUE(same.accessibilityTrusted());
    EXPECT_EQ(same.microphoneStatus(), AuthorizationStatus::Authorized);

    Mac fresh(home.path() + "/Neuf");
    EXPECT_FALSE(VelkaroDevices::pair(AudioDevices::all(fresh.hardware())).has_value());
    EXPECT_FALSE(fresh.accessibilityTrusted());
    EXPECT_EQ(fresh.microphoneStatus(), AuthorizationStatus::NotDetermined);
}

TEST_F(MacTest, SleepReachesWorkspaceObserversAndFilesAreRevealed)
{
    int sleeps = 0;
    const int token = mac->workspace().addWillSleepObserver([&] { ++sleeps; });
    mac->sleep();
    EXPECT_EQ(sleeps, 1);
    mac->workspace().removeWillSleepObserver(token);
    mac->sleep();
    EXPECT_EQ(sleeps, 1);

    const QUrl file = QUrl::fromLocalFile(home.path() + "/Velkaro/history.json");
    mac->workspace().activateFileViewerSelecting({file});
    EXPECT_EQ(mac->desktop().revealedFiles(), QList<QUrl>{file});
    EXPECT_TRUE(mac->workspace().openUrl(QUrl("tel:0612345678")));
    EXPECT_EQ(mac->phone().state(), sim::CallState::Dialing);
}
