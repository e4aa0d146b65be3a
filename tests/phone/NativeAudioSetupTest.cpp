#include "app/phone/NativeAudioSetup.h"
#include "app/common/AppPaths.h"
#include "app/common/UserDefaults.h"
#include "tests/phone/PhoneTestDesktop.h"
#include "tests/support/TestDataHome.h"

#include <gtest/gtest.h>

using sim::AudioRoute;
using sim::PhoneApp;

namespace {

const QString kMic = NativeAudioSetup::kMicrophoneDevice;
const QString kSpeaker = NativeAudioSetup::kSpeakerDevice;
const QString kNotVisible = QStringLiteral("Les deux périphériques Orlea ne sont pas visibles dans "
                                           "Téléphone. Installez le module audio puis redémarrez le Mac.");
const QString kUnconfirmed = QStringLiteral(
    "Les périphériques ont été sélectionnés, mais macOS n’expose pas leur état de confirmation. "
    "Vérifiez le menu Vidéo de Téléphone avant le premier appel.");

class NativeAudioSetupTest : public ::testing::Test {
protected:
    TestDataHome home;
    PhoneTestDesktop sim;
    UserDefaults defaults{AppPaths::preferencesFile()};
    NativeAudioSetup setup{sim.desktop, sim.desktop, sim.scheduler, defaults};
    QStringList inputs = {"MacBook Pro Microphone", "AirPods Pro", kMic, kSpeaker};
    QStringList outputs = {"MacBook Pro Speakers", "AirPods Pro", kSpeaker, kMic};

    NativeAudioSetupTest()
    {
        sim.phone.setInputDevices([this] { return inputs; });
        sim.phone.setOutputDevices([this] { return outputs; });
        sim.phone.setAudioRoute({"AirPods Pro", "AirPods Pro"});
    }

    // Runs an operation to its end on the manual scheduler; returns its error message ("" on success).
    QString run(void (NativeAudioSetup::*operation)(NativeAudioSetup::Completion))
    {
        bool finished = false;
        QString message;
        (setup.*operation)([&](std::optional<AppError> error) {
            finished = true;
            message = error ? error->message() : QString();
        });
        sim.scheduler.advance(10);
        EXPECT_TRUE(finished) << "the completion ran";
        EXPECT_FALSE(sim.phone.isMenuOpen()) << "the menu is left closed";
        return message;
    }
    QString prepare() { return run(&NativeAudioSetup::prepare); }
    QString useSystemAudio() { return run(&NativeAudioSetup::useSystemAudio); }
};

} // namespace

TEST_F(NativeAudioSetupTest, PrepareSelectsBothDevicesAndRemembersTheUsersOwn)
{
    sim.desktop.setRunning(PhoneApp::kPhoneBundle, false);
    EXPECT_EQ(prepare(), QString());
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{kMic, kSpeaker}));
    EXPECT_EQ(defaults.string(SettingsKey::phonePreviousInput), QString("AirPods Pro"));
    EXPECT_EQ(defaults.string(SettingsKey::phonePreviousOutput), QString("AirPods Pro"));
    EXPECT_EQ(sim.desktop.frontmostBundleIdentifier(), PhoneApp::kPhoneBundle)
        << "launched and brought forward";
    EXPECT_EQ(sim.phone.selectionLog(), QStringList({"micro: " + kMic, "sortie: " + kSpeaker}));

    // A second run remembers the current state, the virtual devices themselves.
    EXPECT_EQ(prepare(), QString());
    EXPECT_EQ(defaults.string(SettingsKey::phonePreviousInput), kMic);
}

TEST_F(NativeAudioSetupTest, SectionsFollowTheirHeadersOnly)
{
    // Headers written "Microphone" and "Haut-parleurs"; the camera items above them carry the devices'
    // names but belong to no section.
    sim::AudioMenuLayout layout;
    layout.microphoneHeader = "Microphone";
    layout.speakerHeader = " Haut-Parleurs ";
    layout.leadingItems = {"Caméra", kMic, kSpeaker};
    sim.phone.setAudioMenuLayout(layout);
    inputs = {"MacBook Pro Microphone", kSpeaker};
    outputs = {"MacBook Pro Speakers", kMic};
    EXPECT_EQ(prepare(), kNotVisible)
        << "items before any header are never chosen; each device in its section";
    EXPECT_TRUE(sim.phone.selectionLog().isEmpty());

    inputs.append(kMic);
    outputs.append(kSpeaker);
    EXPECT_EQ(prepare(), QString());
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{kMic, kSpeaker}));
}

TEST_F(NativeAudioSetupTest, DevicesMatchExactlyAndAMissingOneChangesNothing)
{
    for (const QStringList& listed :
         {QStringList{kSpeaker}, QStringList{"velkaro — ia vers appel", kSpeaker}}) {
        inputs = {"MacBook Pro Microphone", "AirPods Pro"};
        inputs.append(listed);
        outputs = inputs;
        EXPECT_EQ(prepare(), kNotVisible) << "listed: " << listed.join(", ").toStdString();
        EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{"AirPods Pro", "AirPods Pro"}));
        EXPECT_TRUE(sim.phone.selectionLog().isEmpty()) << "nothing pressed";
        EXPECT_FALSE(defaults.contains(SettingsKey::phonePreviousInput)) << "nothing stored";
        EXPECT_FALSE(defaults.contains(SettingsKey::phonePreviousOutput));
    }

    // A device whose name differs only by case is another device, never chosen in its place.
    inputs = {"velkaro — ia vers appel", kMic};
    outputs = {"VELKARO — APPEL VERS IA", kSpeaker};
    EXPECT_EQ(prepare(), QString());
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{kMic, kSpeaker}));
}

TEST_F(NativeAudioSetupTest, FailedConfirmationRestoresTheHeadset)
{
    // The speaker item accepts the press but the Phone app keeps its old speaker.
    sim.phone.setSelectionIgnored(kSpeaker, true);
    EXPECT_EQ(prepare(), kUnconfirmed);
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{"AirPods Pro", "AirPods Pro"}));
    EXPECT_EQ(sim.phone.selectionLog(),
              QStringList({"micro: " + kMic, "micro: AirPods Pro", "sortie: AirPods Pro"}))
        << "the microphone is restored first, then the speaker";
    EXPECT_EQ(defaults.string(SettingsKey::phonePreviousInput), QString("AirPods Pro"));

    // A press that fails outright is reported as such, after the same rollback.
    sim.phone.setSelectionIgnored(kSpeaker, false);
    sim.phone.setItemPressFails(kSpeaker, true);
    EXPECT_EQ(prepare(), QString("La sélection audio dans Téléphone a échoué."));
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{"AirPods Pro", "AirPods Pro"}));

    // Marks not exposed at all: nothing is known to restore, the devices stay chosen.
    sim.phone.setItemPressFails(kSpeaker, false);
    sim::AudioMenuLayout layout;
    layout.marksExposed = false;
    sim.phone.setAudioMenuLayout(layout);
    EXPECT_EQ(prepare(), kUnconfirmed);
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{kMic, kSpeaker}));
}

TEST_F(NativeAudioSetupTest, MenuFailuresHaveTheirOwnMessages)
{
    sim.desktop.setTrusted(false);
    EXPECT_EQ(prepare(), QString("Autorisez Accessibilité, puis recliquez sur Préparer la liaison."));
    sim.desktop.setTrusted(true);

    sim.desktop.setInstalled(PhoneApp::kPhoneBundle, false);
    EXPECT_EQ(prepare(), QString("L’application Téléphone de macOS 26 est nécessaire."));
    sim.desktop.setInstalled(PhoneApp::kPhoneBundle, true);

    sim.desktop.setOpenApplicationError(
        workspace::Error{"NSCocoaErrorDomain", 4, "Le fichier est introuvable."});
    EXPECT_EQ(prepare(), QString("Le fichier est introuvable.")) << "the workspace's error is passed on";
    sim.desktop.setOpenApplicationError(std::nullopt);

    sim.desktop.application(PhoneApp::kPhoneBundle)->menuBarReadable = false;
    EXPECT_EQ(prepare(), QString("Menu de Téléphone inaccessible."));
    sim.desktop.application(PhoneApp::kPhoneBundle)->menuBarReadable = true;

    // A slow Phone app is waited for up to half a second on its application element.
    sim.desktop.application(PhoneApp::kPhoneBundle)->root->latencySeconds = 0.4;
    EXPECT_EQ(prepare(), QString());
    sim.desktop.application(PhoneApp::kPhoneBundle)->root->latencySeconds = 0.6;
    EXPECT_EQ(prepare(), QString("Menu de Téléphone inaccessible."));
    sim.desktop.application(PhoneApp::kPhoneBundle)->root->latencySeconds = -1;

    sim::AudioMenuLayout layout;
    layout.present = false;
    sim.phone.setAudioMenuLayout(layout);
    EXPECT_EQ(prepare(), QString("Menu audio de Téléphone introuvable sur cette version de macOS."));

    layout = sim::AudioMenuLayout();
    layout.menuIdentifier.clear();
    layout.menuTitle = "Vidéos";
    sim.phone.setAudioMenuLayout(layout);
    EXPECT_EQ(prepare(), QString("Menu audio de Téléphone introuvable sur cette version de macOS."))
        << "titles are compared exactly";
    layout.menuTitle = "Video";
    sim.phone.setAudioMenuLayout(layout);
    EXPECT_EQ(prepare(), QString()) << "found by its English title without identifier";

    sim.phone.setMenuBarItemPressFails(true);
    EXPECT_EQ(prepare(), QString("Impossible d’ouvrir les réglages audio de Téléphone."));
    sim.phone.setMenuBarItemPressFails(false);

    sim.phone.setMenuOpensEmpty(true);
    EXPECT_EQ(prepare(), QString("Le menu audio n’a pas répondu."));
}

TEST_F(NativeAudioSetupTest, SystemAudioResetsBothSections)
{
    sim.phone.setAudioRoute({kMic, kSpeaker});
    EXPECT_EQ(useSystemAudio(), QString());
    EXPECT_EQ(sim.phone.audioRoute(), AudioRoute{});

    // English menu: "Output" header and "Use System Setting".
    sim::AudioMenuLayout layout;
    layout.microphoneHeader = "Microphone";
    layout.speakerHeader = "Output";
    layout.systemSetting = "Use System Setting";
    sim.phone.setAudioMenuLayout(layout);
    sim.phone.setAudioRoute({kMic, kSpeaker});
    EXPECT_EQ(useSystemAudio(), QString());
    EXPECT_EQ(sim.phone.audioRoute(), AudioRoute{});

    sim.phone.setAudioRoute({kMic, kSpeaker});
    sim.phone.setItemPressFails("Use System Setting", true);
    EXPECT_EQ(useSystemAudio(), QString("Le retour au son système n’a pas été confirmé."));
    EXPECT_EQ(sim.phone.audioRoute(), (AudioRoute{kMic, kSpeaker}))
        << "the speaker section is left as it was";

    layout.systemSetting = "Réglage automatique";
    sim.phone.setAudioMenuLayout(layout);
    EXPECT_EQ(useSystemAudio(),
              QString("Choisissez Utiliser le réglage système dans le menu Vidéo de Téléphone."));
}

TEST(NativeAudioSetupLifetime, ASetupDestroyedMidwayLeavesNoDanglingWork)
{
    TestDataHome home;
    PhoneTestDesktop sim;
    UserDefaults defaults{AppPaths::preferencesFile()};
    bool completed = false;
    {
        NativeAudioSetup setup{sim.desktop, sim.desktop, sim.scheduler, defaults};
        setup.prepare([&](std::optional<AppError>) { completed = true; });
    }
    sim.scheduler.advance(10);
    EXPECT_FALSE(completed) << "the completion of a destroyed setup never runs";
    EXPECT_FALSE(sim.phone.isMenuOpen());
}
