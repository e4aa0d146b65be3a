#include "tests/windows/SetupTestSupport.h"

#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/SetupAssistantWindow.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

using State = SetupStepBadge::State;

const QString kKeyText =
    QStringLiteral("Collez votre clé une fois. Elle restera sur ce Mac, sans trousseau.");
const QString kDriverText =
    QStringLiteral("Installez le module audio Orlea. Si macOS demande un redémarrage, revenez ici ensuite.");

class SetupAssistantTest : public SetupWindowTest {
protected:
    // Moves the Mac's time until `condition` holds, giving the stand-in AI real time in between.
    bool advanceUntil(const std::function<bool()>& condition, double maxSeconds)
    {
        for (double done = 0; done < maxSeconds && !condition(); done += 0.1) {
            mac.advance(0.1);
            waitFor([] { return false; }, 5);
        }
        settle();
        return condition();
    }

    static QString states(const SetupAssistantWindow& window)
    {
        QString text;
        for (int index = 0; index < 6; ++index)
            text += QString::number(int(window.stepState(index)));
        return text;
    }
};

TEST_F(SetupAssistantTest, LaterClosesTheSheetWithoutChangingAnySetting)
{
    mac.setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    auto model = makeModelWithPackage();
    model->setRecordingEnabled(false);
    model->saveSettings();
    const QVariantMap before = storedSettings();
    const QString status = model->configurationStatus();
    const QString signature = model->setupSignature();

    SetupAssistantWindow window(*model);
    window.show();
    settle();
    QAbstractButton* later = findButton(window, QStringLiteral("Plus tard"));
    ASSERT_NE(later, nullptr);
    later->click();
    settle();

    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_EQ(storedSettings(), before) << "closing must write no setting";
    EXPECT_EQ(model->setupSignature(), signature);
    EXPECT_FALSE(model->recordingEnabled());
    EXPECT_EQ(model->configurationStatus(), status) << "no check may run";
    EXPECT_FALSE(model->configuringAll());
    EXPECT_TRUE(mac.pendingPackages().isEmpty()) << "no installer may open";
    EXPECT_FALSE(model->keyPresent());
}

TEST_F(SetupAssistantTest, TheStepsFollowTheModel)
{
    auto model = makeModel();
    SetupAssistantWindow window(*model);
    window.show();
    settle();

    EXPECT_EQ(states(window), QStringLiteral("100000")) << "fresh Mac: the first step is current, none done";
    EXPECT_EQ(window.currentStep(), 0);
    EXPECT_TRUE(showsText(window, QStringLiteral("0 sur 6")));
    QAbstractButton* start = findButton(window, QStringLiteral("Commencer"));
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisibleTo(&window));
    EXPECT_TRUE(showsText(window, kDriverText)) << "the current step shows its content";
    EXPECT_FALSE(showsText(window, kKeyText)) << "later steps stay closed";
    EXPECT_TRUE(findButton(window, QStringLiteral("Installer le module audio"))->isVisibleTo(&window));
    for (const QString& title : AppModel::kSetupStepTitles)
        EXPECT_TRUE(showsText(window, title)) << title.toStdString();
    saveSnapshot(window, QStringLiteral("setup-assistant-fresh"));

    prepareMac();
    model->refresh();
    settle();
    EXPECT_EQ(states(window), QStringLiteral("221000")) << "driver and permissions: the first two steps tick";
    EXPECT_TRUE(showsText(window, QStringLiteral("2 sur 6")));
    EXPECT_FALSE(showsText(window, kDriverText)) << "a done step collapses to its title";
    EXPECT_TRUE(showsText(window, kKeyText));
    auto* field = window.findChild<QLineEdit*>(QStringLiteral("keyField"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisibleTo(&window));
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    saveSnapshot(window, QStringLiteral("setup-assistant-key"));

    // Withdrawing Accessibility reopens the permission step with only the missing authorisation.
    mac.setAccessibilityTrusted(false);
    model->refresh();
    settle();
    EXPECT_EQ(window.currentStep(), 1);
    EXPECT_EQ(states(window), QStringLiteral("210000"));
    EXPECT_TRUE(findButton(window, QStringLiteral("Autoriser le décrochage dans Accessibilité"))
                    ->isVisibleTo(&window));
    EXPECT_FALSE(findButton(window, QStringLiteral("Autoriser l’accès audio"))->isVisibleTo(&window));
    findButton(window, QStringLiteral("Autoriser le décrochage dans Accessibilité"))->click();
    EXPECT_FALSE(model->permissionReport().isEmpty()) << "the button must ask macOS for Accessibility";
}

TEST_F(SetupAssistantTest, StartRunsTheChecksAndShowsTheWaitWhileMacOSAsks)
{
    mac.setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    auto model = makeModelWithPackage();
    model->setShowSetupAssistant(true);
    SetupAssistantWindow window(*model);
    window.show();
    settle();
    EXPECT_FALSE(shownTo(window, "waitingBanner"));
    EXPECT_TRUE(shownTo(window, "introBanner"));

    findButton(window, QStringLiteral("Commencer"))->click();
    EXPECT_TRUE(window.state().started);
    EXPECT_TRUE(model->configuringAll() || model->setupWaiting()) << "Commencer must run configureAll";
    advance(1.5);
    ASSERT_TRUE(model->setupWaiting());
    EXPECT_TRUE(shownTo(window, "waitingBanner"));
    EXPECT_TRUE(showsText(window, QStringLiteral("En attente de votre accord dans macOS…")));
    EXPECT_FALSE(shownTo(window, "introBanner")) << "once started the introduction goes away";
    EXPECT_TRUE(showsText(window, model->configurationStatus()));
    EXPECT_EQ(mac.pendingPackages().size(), 1) << "the installer opens by itself";
    saveSnapshot(window, QStringLiteral("setup-assistant-waiting"));

    // The user installs: the step ticks and the setup goes on to the next macOS question on its own.
    ASSERT_TRUE(mac.runInstaller().has_value());
    advance(2.5);
    EXPECT_EQ(window.stepState(0), State::Done);
    EXPECT_EQ(model->setupWaitTarget(), QStringLiteral("microphone"));
    EXPECT_TRUE(shownTo(window, "waitingBanner"));

    ASSERT_TRUE(mac.answerMicrophoneDialog(true));
    mac.setAccessibilityTrusted(true);
    advance(5);
    EXPECT_FALSE(model->setupWaiting());
    EXPECT_FALSE(shownTo(window, "waitingBanner")) << "nothing is awaited from macOS at the key step";
    EXPECT_EQ(window.currentStep(), 2);
}

TEST_F(SetupAssistantTest, SavingTheKeyMovesTheSetupOnWithoutAnotherClick)
{
    prepareMac();
    startAI();
    auto model = makeModel();
    SetupAssistantWindow window(*model);
    window.show();
    settle();
    ASSERT_EQ(window.currentStep(), 2);

    auto* field = window.findChild<QLineEdit*>(QStringLiteral("keyField"));
    auto* save = window.findChild<QPushButton*>(QStringLiteral("saveKeyButton"));
    ASSERT_TRUE(field && save);
    EXPECT_FALSE(save->isEnabled()) << "nothing to save yet";
    QTest::keyClicks(field, QStringLiteral("sk-essai-cle"));
    EXPECT_EQ(window.keyDraft().key, QStringLiteral("sk-essai-cle"));
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(model->keyPresent()) << "typing alone stores nothing";

    save->click();
    EXPECT_TRUE(model->keyPresent());
    EXPECT_TRUE(field->text().isEmpty()) << "the typed key must not linger in the window";
    EXPECT_TRUE(window.keyDraft().key.isEmpty());
    EXPECT_TRUE(model->configuringAll()) << "saving must restart the setup";

    ASSERT_TRUE(advanceUntil([&] { return model->aiVerified(); }, 10))
        << model->configurationStatus().toStdString();
    EXPECT_EQ(window.stepState(2), State::Done);
    EXPECT_GE(window.currentStep(), 3) << "the current step moved on by itself";
    EXPECT_FALSE(showsText(window, kKeyText));
    saveFullSnapshot(window, QStringLiteral("setup-assistant-checking"));
}

TEST_F(SetupAssistantTest, AConfirmedTestCallEndsOnTheReadySheet)
{
    prepareMac();
    auto model = makeModel();
    model->saveKey(QStringLiteral("sk-essai"));
    model->setAiVerified(true);
    model->setInputUID(VelkaroDevices::kCallUID);
    model->setOutputUID(VelkaroDevices::kVoiceUID);
    model->setRoutingConfirmed(true);
    model->setRecordingEnabled(false);
    SetupAssistantWindow window(*model);
    window.show();
    settle();

    // The Mac audio check is open, yet nothing prevents arming: the test call is reachable too.
    EXPECT_EQ(window.currentStep(), 4);
    EXPECT_EQ(states(window), QStringLiteral("222211"));
    EXPECT_TRUE(shownTo(window, "candidateWaiting"));
    EXPECT_FALSE(shownTo(window, "confirmCallButton"));

    model->history().insert(spokenCall());
    window.refresh();
    EXPECT_FALSE(shownTo(window, "candidateWaiting"));
    EXPECT_TRUE(shownTo(window, "candidateReady"));
    QAbstractButton* confirm = findButton(window, QStringLiteral("J’ai vérifié l’appel · terminer"));
    ASSERT_NE(confirm, nullptr);
    EXPECT_TRUE(confirm->isVisibleTo(&window) && confirm->isEnabled());
    saveSnapshot(window, QStringLiteral("setup-assistant-test-call"));
    saveFullSnapshot(window, QStringLiteral("setup-assistant-test-call-full"));

    model->setMacAudioVerified(true);
    confirm->click();
    settle();
    ASSERT_TRUE(model->validatedCallID().has_value());
    EXPECT_EQ(window.currentStep(), -1);
    EXPECT_EQ(states(window), QStringLiteral("222222"));
    EXPECT_TRUE(showsText(window, QStringLiteral("6 sur 6")));
    EXPECT_TRUE(shownTo(window, "completionBanner"));
    EXPECT_TRUE(showsText(window, QStringLiteral("Votre standard est prêt")));
    EXPECT_FALSE(shownTo(window, "introBanner"));
    saveFullSnapshot(window, QStringLiteral("setup-assistant-ready"));

    // A changed voice voids the confirmation: the sheet leaves its ready state.
    model->setVoice(QStringLiteral("cedar"));
    settle();
    EXPECT_FALSE(shownTo(window, "completionBanner"));
    EXPECT_EQ(window.currentStep(), 5);
    model->setVoice(QStringLiteral("marin"));
    settle();
    ASSERT_TRUE(shownTo(window, "completionBanner"));

    model->setPage(QStringLiteral("Dossiers"));
    findButton(window, QStringLiteral("Terminer"))->click();
    EXPECT_EQ(model->page(), QStringLiteral("Le standard"));
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(SetupAssistantTest, TheTestSheetsOpenOverTheAssistantAndTheRecordingLeadsToDossiers)
{
    auto model = makeModel();
    SetupAssistantWindow window(*model);
    window.show();
    settle();

    findButton(window, QStringLiteral("Lancer l’appel test"))->click();
    ASSERT_NE(window.callTestWindow(), nullptr);
    EXPECT_EQ(window.callTestWindow()->parentWidget(), &window);
    EXPECT_EQ(window.callTestWindow()->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(window.callTestWindow()->isVisible());
    EXPECT_TRUE(window.state().showCallTest);
    window.callTestWindow()->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window.state().showCallTest);
    EXPECT_EQ(window.callTestWindow(), nullptr);

    findButton(window, QStringLiteral("Pas de deuxième téléphone ? Parler à l’IA sur ce Mac"))->click();
    settle();
    ASSERT_NE(window.macTestWindow(), nullptr);
    EXPECT_EQ(window.macTestWindow()->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(window.state().showMacTest);
    EXPECT_TRUE(model->macAssistantOpen());
    findButton(*window.macTestWindow(), QStringLiteral("Fermer"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(model->macAssistantOpen());
    EXPECT_FALSE(window.state().showMacTest);
    EXPECT_TRUE(window.isVisible()) << "the assistant stays open under its test sheets";

    // Closing the assistant under an open Mac test closes the test too.
    findButton(window, QStringLiteral("Pas de deuxième téléphone ? Parler à l’IA sur ce Mac"))->click();
    settle();
    ASSERT_TRUE(model->macAssistantOpen());
    QPointer<MacConversationTestWindow> macTest = window.macTestWindow();
    findButton(window, QStringLiteral("Voir l’enregistrement"))->click();
    EXPECT_FALSE(model->macAssistantOpen());
    EXPECT_TRUE(!macTest || !macTest->isVisible());
    EXPECT_EQ(model->page(), QStringLiteral("Dossiers"));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

} // namespace
