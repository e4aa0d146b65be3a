#include "tests/windows/SetupTestSupport.h"

#include "app/audio/MacAudioRoute.h"
#include "app/ui/LevelMeter.h"
#include "app/ui/MicrophoneLevelView.h"
#include "app/windows/MacConversationTestWindow.h"

#include <QComboBox>
#include <QPushButton>

namespace {

class MacTestWindowTest : public SetupWindowTest {
protected:
    // A Mac whose key is saved and checked, listening through the virtual devices rather than its own.
    std::unique_ptr<AppModel> readyModel()
    {
        prepareMac();
        auto model = makeModel();
        model->saveKey(QStringLiteral("sk-essai"));
        model->setAiVerified(true);
        const auto pair = VelkaroDevices::pair(model->devices());
        EXPECT_TRUE(pair.has_value());
        if (pair) {
            model->macRoute().writeSystem(kAudioHardwarePropertyDefaultInputDevice, pair->call.id);
            model->macRoute().writeSystem(kAudioHardwarePropertyDefaultOutputDevice, pair->voice.id);
        }
        model->refresh();
        // Someone speaks near the Mac, so the microphone check hears something.
        mac.setMacMicrophoneSound(sim::toneVoice(440, 0.4f));
        return model;
    }

    bool advanceUntil(const std::function<bool()>& condition, double maxSeconds)
    {
        for (double done = 0; done < maxSeconds && !condition(); done += 0.1) {
            mac.advance(0.1);
            waitFor([] { return false; }, 5);
        }
        settle();
        return condition();
    }
};

TEST_F(MacTestWindowTest, ClosingClearsTheOpenFlagEvenWithoutAConversation)
{
    auto model = makeModel();
    {
        MacConversationTestWindow window(*model);
        window.show();
        settle();
        EXPECT_TRUE(model->macAssistantOpen());
        EXPECT_TRUE(mac.answerMicrophoneDialog(false))
            << "opening prepares the test, which asks for the microphone";
        settle();
        EXPECT_TRUE(showsText(
            window, QStringLiteral("Enregistrez votre clé OpenAI dans Connexions avant de commencer.")));
        saveSnapshot(window, QStringLiteral("mac-test-fresh"));
        findButton(window, QStringLiteral("Fermer"))->click();
        settle();
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(model->macAssistantOpen());
    }
    // Torn down with its parent while shown: the same as closing it.
    auto* window = new MacConversationTestWindow(*model);
    window->show();
    settle();
    EXPECT_TRUE(model->macAssistantOpen());
    delete window;
    EXPECT_FALSE(model->macAssistantOpen());
}

TEST_F(MacTestWindowTest, OpeningSelectsTheBuiltInAudioAndClosingPutsTheDefaultsBack)
{
    auto model = readyModel();
    const QString before = model->macTestRoute();
    ASSERT_FALSE(before.contains(QStringLiteral("MacBook"))) << before.toStdString();

    MacConversationTestWindow window(*model);
    window.show();
    settle();
    ASSERT_TRUE(advanceUntil([&] { return model->macAudioVerified() || !model->macPreparing(); }, 15));
    ASSERT_TRUE(model->macAudioVerified()) << model->error().value_or(QString()).toStdString();
    EXPECT_TRUE(model->macTestRoute().contains(QStringLiteral("MacBook"))) << "kept for the conversation";
    EXPECT_TRUE(showsText(window, model->macTestRoute()));
    EXPECT_TRUE(showsText(window, model->aiStatus()));
    EXPECT_TRUE(findButton(window, QStringLiteral("Commencer la conversation"))->isEnabled());
    saveSnapshot(window, QStringLiteral("mac-test-ready"));
    saveFullSnapshot(window, QStringLiteral("mac-test-ready-full"));

    findButton(window, QStringLiteral("Fermer"))->click();
    settle();
    EXPECT_FALSE(model->macAssistantOpen());
    EXPECT_EQ(model->macTestRoute(), before) << "closing must restore the Mac's own defaults";
}

TEST_F(MacTestWindowTest, ClosingDuringAConversationLeavesTheRouteUntilItEnds)
{
    startAI();
    auto model = readyModel();
    const QString before = model->macTestRoute();
    MacConversationTestWindow window(*model);
    window.show();
    settle();
    ASSERT_TRUE(advanceUntil([&] { return model->macAudioVerified() || !model->macPreparing(); }, 15));
    ASSERT_TRUE(model->macAudioVerified()) << model->error().value_or(QString()).toStdString();

    QPushButton* start = window.findChild<QPushButton*>(QStringLiteral("startConversation"));
    QPushButton* finish = window.findChild<QPushButton*>(QStringLiteral("finishConversation"));
    auto* voices = window.findChild<QComboBox*>(QStringLiteral("voicePicker"));
    ASSERT_TRUE(start && finish && voices);
    EXPECT_FALSE(finish->isVisibleTo(&window));
    start->click();
    ASSERT_TRUE(model->busy()) << model->error().value_or(QString()).toStdString();
    ASSERT_TRUE(waitFor([&] { return model->connected() || !model->busy(); }));
    advance(1);
    EXPECT_TRUE(finish->isVisibleTo(&window)) << "a running conversation can be ended from the sheet";
    EXPECT_FALSE(start->isEnabled());
    EXPECT_FALSE(voices->isEnabled()) << "the voice cannot change during the conversation";
    EXPECT_GT(window.levelView()->rawMeter()->level(), 0.0) << "the meters follow the live microphone";
    saveFullSnapshot(window, QStringLiteral("mac-test-conversation"));

    window.reject();
    settle();
    EXPECT_FALSE(model->macAssistantOpen());
    EXPECT_TRUE(model->busy());
    EXPECT_TRUE(model->macTestRoute().contains(QStringLiteral("MacBook"))) << "still talking: route kept";
    model->finish();
    EXPECT_EQ(model->macTestRoute(), before) << "the end of the conversation restores the defaults";
}

TEST_F(MacTestWindowTest, StartNeedsTheKeyTheMicrophoneAndTheMacAudio)
{
    auto model = makeModel();
    MacConversationTestWindow window(*model); // not shown: no check runs behind the flags set here
    QPushButton* start = window.findChild<QPushButton*>(QStringLiteral("startConversation"));
    ASSERT_NE(start, nullptr);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(shownTo(window, "noKeyBanner"));

    model->setMicAllowed(true);
    model->setKeyPresent(true);
    settle();
    EXPECT_FALSE(start->isEnabled()) << "the Mac audio is not verified";
    EXPECT_FALSE(shownTo(window, "noKeyBanner")) << "the key-less line only without a key";
    model->setMacAudioVerified(true);
    settle();
    EXPECT_TRUE(start->isEnabled());
    model->setArmed(true);
    settle();
    EXPECT_FALSE(start->isEnabled()) << "armed";
    model->setArmed(false);
    model->setMicAllowed(false);
    settle();
    EXPECT_FALSE(start->isEnabled()) << "microphone refused";
    EXPECT_TRUE(findButton(window, QStringLiteral("Autoriser le micro"))->isEnabled());
}

TEST_F(MacTestWindowTest, VoiceRecordingNoteAndProbeLevelsFollowTheModel)
{
    auto model = makeModel();
    MacConversationTestWindow window(*model);
    auto* voices = window.findChild<QComboBox*>(QStringLiteral("voicePicker"));
    ASSERT_NE(voices, nullptr);
    ASSERT_EQ(voices->count(), 10);
    EXPECT_EQ(voices->currentText(), model->voice());

    emit voices->activated(int(MacConversationTestWindow::kVoices.indexOf(QStringLiteral("coral"))));
    EXPECT_EQ(model->voice(), QStringLiteral("coral"));
    defaults.sync();
    EXPECT_EQ(defaults.string(SettingsKey::voice).value_or(QString()), QStringLiteral("coral"))
        << "the chosen voice is kept";
    model->setVoice(QStringLiteral("sage"));
    settle();
    EXPECT_EQ(voices->currentText(), QStringLiteral("sage"));

    const QString withRecording = QStringLiteral(
        "La transcription et l’enregistrement seront disponibles dans Dossiers après le test.");
    const QString withoutRecording = QStringLiteral(
        "La transcription sera disponible dans Dossiers. L’enregistrement audio est désactivé.");
    EXPECT_TRUE(showsText(window, withRecording));
    model->setRecordingEnabled(false);
    settle();
    EXPECT_TRUE(showsText(window, withoutRecording));
    EXPECT_FALSE(showsText(window, withRecording));

    model->setProbeLevels({0.99, 0.5});
    settle();
    EXPECT_DOUBLE_EQ(window.levelView()->rawMeter()->level(), 0.99);
    EXPECT_DOUBLE_EQ(window.levelView()->convertedMeter()->level(), 0.5);
    EXPECT_TRUE(window.levelView()->warningShown());

    model->setError(QStringLiteral("Micro ou haut-parleurs du Mac indisponibles."));
    settle();
    EXPECT_FALSE(showsText(window, QStringLiteral("Micro ou haut-parleurs du Mac indisponibles.")))
        << "an error is the window's alert over the sheet, not a second copy inside it";
}

} // namespace
