// The Simulateur window driven as a person would, against a real simulated Mac on a manual clock.

#include "platform/sim/window/SimulatorWindow.h"
#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/mac/ServerDevices.h"
#include "platform/sim/window/CallerPhrases.h"
#include "platform/sim/window/VoiceChooser.h"
#include "tests/sim_mac/MacTestSupport.h"
#include "tests/support/PrivateSoundServer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using permissions::AuthorizationStatus;
using sim::CallState;

namespace {

QString sourceDir()
{
    return qEnvironmentVariable("ORLEA_SOURCE_DIR");
}

class SimulatorWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mac = std::make_unique<sim::Mac>(home.path() + "/Mac");
        window = std::make_unique<sim::SimulatorWindow>(*mac);
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        mac.reset();
    }

    template <typename T = QWidget> T* part(const char* name)
    {
        T* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << "no widget named " << name;
        return widget;
    }
    void click(const char* button)
    {
        auto* widget = part<QPushButton>(button);
        ASSERT_NE(widget, nullptr);
        ASSERT_TRUE(widget->isEnabled()) << button << " is disabled";
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    QString text(const char* label) { return part<QLabel>(label)->text(); }
    // Lets the coalesced refresh run.
    void settle()
    {
        mac->advance(0);
        QCoreApplication::processEvents();
    }
    void typeCaller(const QString& caller)
    {
        auto* edit = part<QLineEdit>("callerEdit");
        edit->clear();
        QTest::keyClicks(edit, caller);
    }
    void pressPhoneButton(const std::shared_ptr<sim::AxNode>& button)
    {
        ASSERT_NE(button, nullptr);
        for (auto& [name, action] : button->actions)
            if (name == "AXPress")
                action();
    }

    TestDataHome home;
    std::unique_ptr<sim::Mac> mac;
    std::unique_ptr<sim::SimulatorWindow> window;
};

TEST_F(SimulatorWindowTest, CallsAreRungHungUpAndAnsweredFromTheWindow)
{
    EXPECT_TRUE(text("callState").contains("aucun"));
    auto* voices = window->callerVoice()->combo();
    voices->setCurrentIndex(voices->findText("Tonalité (440 Hz)"));
    typeCaller("Claire Martin");
    click("ringButton");
    EXPECT_EQ(mac->phone().state(), CallState::Ringing);
    EXPECT_EQ(mac->phone().caller(), QString("Claire Martin"));
    EXPECT_NE(mac->callAudio().callerVoice(), nullptr) << "the caller was given no voice";
    EXPECT_TRUE(text("callState").contains("sonne")) << text("callState").toStdString();
    EXPECT_FALSE(part<QPushButton>("ringButton")->isEnabled()) << "a second ring over a ringing call";

    // The application answers; the Phone app's devices are shown.
    pressPhoneButton(mac->phone().answerButton(sim::Surface::AppWindow));
    settle();
    EXPECT_EQ(mac->phone().state(), CallState::Active);
    EXPECT_TRUE(text("callState").contains("en cours"));
    EXPECT_TRUE(text("phoneDevices").contains("MacBook Pro Microphone"))
        << text("phoneDevices").toStdString();

    click("hangUpButton");
    EXPECT_EQ(mac->phone().state(), CallState::Ended);
    EXPECT_TRUE(text("callState").contains("terminé"));
    EXPECT_FALSE(mac->callAudio().isOpen());

    // A voice from a WAV file; an unreadable one shows why and rings nothing.
    window->callerVoice()->chooseFile(home.path() + "/absent.wav");
    typeCaller("06 98 76 54 32");
    click("ringButton");
    EXPECT_EQ(mac->phone().state(), CallState::Ended) << "rang with an unreadable voice";
    const auto errors = window->findChildren<QLabel*>();
    const bool shown = std::any_of(errors.begin(), errors.end(), [](QLabel* label) {
        return label->isVisible() && label->text().startsWith("Fichier introuvable");
    });
    EXPECT_TRUE(shown) << "the unreadable file was not reported";
    const QString wav = sourceDir() + "/tools/realtime-standin/prompts/accueil.wav";
    ASSERT_TRUE(QFileInfo::exists(wav)) << wav.toStdString();
    window->callerVoice()->chooseFile(wav);
    click("ringButton");
    EXPECT_EQ(mac->phone().state(), CallState::Ringing);
    EXPECT_EQ(mac->phone().caller(), QString("06 98 76 54 32"));
    click("hangUpButton");
    typeCaller("   ");
    settle();
    EXPECT_FALSE(part<QPushButton>("ringButton")->isEnabled()) << "a blank caller can ring";

    // An outgoing "tel:" call is picked up by the far end from the window.
    EXPECT_FALSE(part<QPushButton>("remoteAnswerButton")->isEnabled());
    ASSERT_TRUE(mac->workspace().openUrl(QUrl("tel:0612345678")));
    QTest::qWait(1100); // the light refresh: dialling is no Mac event
    EXPECT_EQ(mac->phone().state(), CallState::Dialing);
    EXPECT_TRUE(text("callState").contains("0612345678")) << text("callState").toStdString();
    click("remoteAnswerButton");
    EXPECT_EQ(mac->phone().state(), CallState::Active);
}

TEST_F(SimulatorWindowTest, PermissionsAndPrivacyPagesFollowTheWindow)
{
    EXPECT_TRUE(text("microphoneState").contains("pas encore demandé"));
    click("grantMicrophone");
    EXPECT_EQ(mac->microphoneStatus(), AuthorizationStatus::Authorized);
    EXPECT_TRUE(text("microphoneState").contains("autorisé"));
    EXPECT_FALSE(part<QPushButton>("grantMicrophone")->isEnabled());
    click("withdrawMicrophone");
    EXPECT_EQ(mac->microphoneStatus(), AuthorizationStatus::Denied);
    // A managed Mac: the switch cannot move, so neither button is offered.
    mac->microphoneAccess().setStatus(AuthorizationStatus::Restricted);
    settle();
    EXPECT_TRUE(text("microphoneState").contains("restreint"));
    EXPECT_FALSE(part<QPushButton>("grantMicrophone")->isEnabled());
    EXPECT_FALSE(part<QPushButton>("withdrawMicrophone")->isEnabled());

    click("grantAccessibility");
    EXPECT_TRUE(mac->accessibilityTrusted());
    EXPECT_TRUE(text("accessibilityState").contains("autorisée"));
    click("withdrawAccessibility");
    EXPECT_FALSE(mac->accessibilityTrusted());

    // The page the application opens is named.
    EXPECT_TRUE(text("privacyPage").startsWith("Aucune"));
    ASSERT_TRUE(mac->workspace().openUrl(QUrl(permissions::kAccessibilityPrivacyUrl)));
    settle();
    EXPECT_TRUE(text("privacyPage").contains("Accessibilité")) << text("privacyPage").toStdString();

    // The access dialog on a fresh Mac is answered from the window.
    sim::Mac fresh(home.path() + "/Fresh");
    sim::SimulatorWindow freshWindow(fresh);
    freshWindow.show();
    auto* dialog = freshWindow.findChild<QFrame*>("microphoneDialog");
    EXPECT_FALSE(dialog->isVisible());
    std::optional<bool> granted;
    fresh.microphone().requestAccess([&](bool ok) { granted = ok; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible()) << "the access dialog is not shown";
    QTest::mouseClick(freshWindow.findChild<QPushButton*>("dialogAllow"), Qt::LeftButton);
    fresh.advance(0);
    EXPECT_EQ(granted, std::optional<bool>(true));
    EXPECT_FALSE(dialog->isVisible());

    // The automatic answer reaches every question of the simulated user.
    auto* policy = part<QComboBox>("answerPolicy");
    EXPECT_EQ(policy->currentData().toInt(), int(sim::UserAnswer::Ask));
    ASSERT_EQ(policy->findData(int(sim::UserAnswer::Grant)), 1);
    QTest::keyClick(policy, Qt::Key_Down); // "Tout accepter", chosen from the keyboard
    EXPECT_EQ(mac->microphoneAccess().dialogAnswer(), sim::UserAnswer::Grant);
    ASSERT_TRUE(mac->workspace().openUrl(QUrl(permissions::kAccessibilityPrivacyUrl)));
    mac->advance(2);
    EXPECT_TRUE(mac->accessibilityTrusted()) << "the page was not answered by the chosen policy";
}

TEST_F(SimulatorWindowTest, WaitingInstallerIsRunOrCancelledFromTheWindow)
{
    mac->setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    EXPECT_TRUE(text("installerState").contains("fermée"));
    EXPECT_FALSE(part<QPushButton>("installButton")->isEnabled());
    EXPECT_TRUE(text("driverState").contains("non installé"));

    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    settle();
    EXPECT_TRUE(text("installerState").contains("VelkaroAudio-0.2.0.pkg"))
        << text("installerState").toStdString();
    click("cancelInstallButton");
    EXPECT_TRUE(mac->pendingPackages().isEmpty());
    EXPECT_FALSE(sim::deviceNames(mac->hardware(), true).contains("Velkaro — IA vers appel"));

    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    settle();
    click("installButton");
    EXPECT_TRUE(sim::deviceNames(mac->hardware(), true).contains("Velkaro — IA vers appel"))
        << "the driver's devices did not appear";
    EXPECT_TRUE(text("driverState").contains("installé"));
    EXPECT_FALSE(text("driverState").contains("non installé"));
    EXPECT_TRUE(text("driverState").contains("Velkaro — Appel vers IA"));
    EXPECT_FALSE(part<QPushButton>("installButton")->isEnabled());
}

TEST_F(SimulatorWindowTest, SleepReachesObserversAndTheJournalShowsTheNewestFirst)
{
    int sleeps = 0;
    const int token = mac->workspace().addWillSleepObserver([&] { ++sleeps; });
    click("sleepButton");
    EXPECT_EQ(sleeps, 1);
    mac->workspace().removeWillSleepObserver(token);

    typeCaller("Paul");
    click("ringButton");
    settle();
    auto* journal = part<QListWidget>("journal");
    ASSERT_GE(journal->count(), 2);
    EXPECT_EQ(journal->item(0)->text(), QString("Appel entrant de Paul"));
    EXPECT_EQ(journal->item(1)->text(), QString("Le Mac va se mettre en veille"));

    // The sound chosen for the Mac's microphone is what a client recording it hears.
    sim::AudioClient listener(mac->hardware(), sim::AudioServer::kMicrophoneID);
    ASSERT_EQ(listener.start(), 0);
    auto* sound = window->macMicrophoneSound()->combo();
    sound->setCurrentIndex(sound->findText("Tonalité aiguë (880 Hz)"));
    mac->advance(0.2);
    const std::vector<float> heard = channelOf(listener.takeRecorded(), listener.inputChannels());
    ASSERT_GE(heard.size(), 4800u);
    EXPECT_NEAR(toneAmplitude(heard, 880, heard.size() - 4800, 4800), 0.3, 0.03) << "the Mac's microphone";
    sound->setCurrentIndex(sound->findText("Silence"));
    mac->advance(0.2);
    const std::vector<float> quiet = listener.takeRecorded();
    EXPECT_EQ(firstNonZero(std::vector<float>(quiet.end() - 2400, quiet.end())), 2400u)
        << "silence is not silent";
    listener.stop();
}

TEST_F(SimulatorWindowTest, CallerPhrasesAreSpokenInTurnsAndKept)
{
    if (!sim::CallerPhrases::available())
        GTEST_SKIP() << "espeak-ng, sox or the caller lines are missing";
    EXPECT_EQ(window->callerVoice()->currentLabel(), QString("Phrases de l’appelant (voix de synthèse)"))
        << "the caller does not speak French by default";
    const QString cache = home.path() + "/Voix";
    QString error;
    auto voice = sim::CallerPhrases::voice(cache, &error);
    ASSERT_NE(voice, nullptr) << error.toStdString();
    const QStringList made = QDir(cache).entryList({"appelant-*.wav"}, QDir::Files);
    ASSERT_EQ(made.size(), 1) << made.join(", ").toStdString();
    EXPECT_TRUE(QDir(cache).entryList({"*.part"}, QDir::Files).isEmpty()) << "a partial file was left behind";

    // Silence while the assistant greets, then the first line.
    const auto rms = [&](double seconds) {
        std::vector<float> block(size_t(seconds * 48000));
        voice->render(block.data(), uint32_t(block.size()), 1);
        double sum = 0;
        for (float sample : block)
            sum += double(sample) * sample;
        return std::sqrt(sum / double(block.size()));
    };
    EXPECT_LT(rms(sim::CallerPhrases::kFirstPauseSeconds - 0.2), 1e-4)
        << "the caller talks over the greeting";
    rms(0.2);
    EXPECT_GT(rms(2.0), 0.01) << "the first line is silent";

    // Kept: the second voice reads the same file instead of speaking again.
    const QDateTime madeAt = QFileInfo(cache + "/" + made.first()).lastModified();
    ASSERT_NE(sim::CallerPhrases::voice(cache), nullptr);
    EXPECT_EQ(QFileInfo(cache + "/" + made.first()).lastModified(), madeAt);
}

// The demo's Mac: real clock, audio on its own thread; the window follows through the coalesced refresh.
TEST(SimulatorWindowRealTime, FollowsACallOnTheRealTimeMac)
{
    TestDataHome home;
    sim::Mac mac(home.path() + "/Mac", sim::MacClock::RealTime);
    sim::SimulatorWindow window(mac);
    window.show();
    auto* voices = window.callerVoice()->combo();
    voices->setCurrentIndex(voices->findText("Tonalité grave (220 Hz)"));
    QTest::mouseClick(window.findChild<QPushButton*>("ringButton"), Qt::LeftButton);
    ASSERT_EQ(mac.phone().state(), CallState::Ringing);
    for (auto& [name, action] : mac.phone().answerButton(sim::Surface::AppWindow)->actions)
        if (name == "AXPress")
            action();
    auto* state = window.findChild<QLabel*>("callState");
    for (int i = 0; i < 50 && !state->text().contains("en cours"); ++i)
        QTest::qWait(20);
    EXPECT_TRUE(state->text().contains("en cours")) << state->text().toStdString();
    QTest::mouseClick(window.findChild<QPushButton*>("hangUpButton"), Qt::LeftButton);
    EXPECT_EQ(mac.phone().state(), CallState::Ended);
    EXPECT_FALSE(mac.callAudio().isOpen());
}

// The computer's devices are offered behind the Mac's own; without a sound server one line says so and the
// simulated choices stay.
TEST_F(SimulatorWindowTest, TheComputersDevicesAreOfferedBehindTheMacsOwn)
{
    auto* microphones = part<QComboBox>("macMicrophoneDevice");
    auto* speakers = part<QComboBox>("macSpeakersDevice");
    auto* state = part<QLabel>("computerSoundState");
    ASSERT_TRUE(microphones && speakers && state);
    ASSERT_FALSE(mac->computerSound().connect("unix:/nonexistent/orlea/native"));
    settle();
    EXPECT_EQ(state->text(), "Aucun serveur de son sur cet ordinateur : le Mac garde ses sons simulés.");
    EXPECT_EQ(microphones->count(), 1);
    EXPECT_TRUE(part<QWidget>("macMicrophoneSound")->isEnabled()) << "the simulated sounds stay";

    PrivateSoundServer server;
    REQUIRE_SOUND_SERVER(server);
    sim::Mac connected(home.path() + "/Mac2");
    sim::SimulatorWindow window(connected);
    ASSERT_TRUE(connected.computerSound().connect(server.serverString()));
    QCoreApplication::processEvents();
    auto* speakerChoice = window.findChild<QComboBox*>("macSpeakersDevice");
    auto* microphoneChoice = window.findChild<QComboBox*>("macMicrophoneDevice");
    EXPECT_EQ(microphoneChoice->itemText(1), "Micro (par défaut)");
    EXPECT_EQ(speakerChoice->itemText(0), "Haut-parleurs simulés");
    const int headphones = speakerChoice->findData("speakers");
    ASSERT_GT(headphones, 0);
    speakerChoice->setCurrentIndex(headphones);
    emit speakerChoice->activated(headphones);
    EXPECT_EQ(connected.computerSound().backing(hostsound::Direction::Output), "speakers");
    microphoneChoice->setCurrentIndex(1);
    emit microphoneChoice->activated(1);
    EXPECT_FALSE(window.macMicrophoneSound()->isEnabled()) << "the person's microphone replaces the sound";

    // The person becomes the caller: the Mac's microphone gives the physical one up, and says so.
    auto* voices = window.callerVoice()->combo();
    const int person = voices->findText(sim::VoiceChooser::personLabel());
    ASSERT_GE(person, 0) << "the person is offered as the caller once a server answers";
    auto* ear = window.findChild<QComboBox*>("callerEar");
    ear->setCurrentIndex(ear->findData("speakers"));
    emit ear->activated(ear->currentIndex());
    voices->setCurrentIndex(person);
    EXPECT_EQ(connected.computerSound().callerInput(), "microphone");
    EXPECT_EQ(connected.computerSound().callerOutput(), "speakers");
    EXPECT_EQ(microphoneChoice->currentIndex(), 0);
    EXPECT_TRUE(window.findChild<QLabel*>("computerSoundNotice")->text().contains("l’appelant"));
    QCoreApplication::processEvents();
    const QString folder = qEnvironmentVariable("ORLEA_BUILD_DIR", ORLEA_TEST_BUILD_DIR) + "/sim_window";
    QDir().mkpath(folder);
    window.grab().save(folder + "/simulateur-ordinateur.png");
}

// Renders the window empty and busy to build/sim_window/*.png for a look.
TEST_F(SimulatorWindowTest, Screenshots)
{
    const QString folder = qEnvironmentVariable("ORLEA_BUILD_DIR", ORLEA_TEST_BUILD_DIR) + "/sim_window";
    ASSERT_TRUE(QDir().mkpath(folder));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->grab().save(folder + "/simulateur-vide.png"));

    mac->setInstallerPolicy(sim::InstallerPolicy::WaitForUser);
    ASSERT_TRUE(mac->workspace().openUrl(packageUrl()));
    ASSERT_TRUE(mac->workspace().openUrl(QUrl(permissions::kMicrophonePrivacyUrl)));
    mac->microphone().requestAccess([](bool) {});
    typeCaller("Claire Martin");
    click("ringButton");
    settle();
    EXPECT_TRUE(window->grab().save(folder + "/simulateur-occupe.png"));

    // Installed, the call answered on the Velkaro devices, an unreadable file reported.
    click("installButton");
    mac->phone().setAudioRoute({"Velkaro — IA vers appel", "Velkaro — Appel vers IA"});
    pressPhoneButton(mac->phone().answerButton(sim::Surface::AppWindow));
    window->macMicrophoneSound()->chooseFile(home.path() + "/enregistrement-du-bureau-introuvable.wav");
    settle();
    EXPECT_TRUE(window->grab().save(folder + "/simulateur-installe.png"));
}

} // namespace
