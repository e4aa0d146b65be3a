// A call through the simulated Mac with the real VelkaroAudio driver installed by its package: the Phone
// app set up by NativeAudioSetup, answered by PhoneAutomation, its audio crossing the two loopback devices.

#include "tests/sim_mac/MacTestSupport.h"

#include "app/common/AppPaths.h"
#include "app/common/UserDefaults.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/phone/PhoneAutomation.h"
#include "platform/hal/HalString.h"
#include "platform/sim/audio/AudioClient.h"

#include <QCoreApplication>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using sim::Mac;

namespace {

constexpr size_t kLoopbackFrames = 2048;
constexpr size_t kBufferFrames = sim::AudioServer::kBufferFrames;
const QString kCallName = QStringLiteral("Velkaro — Appel vers IA");
const QString kVoiceName = QStringLiteral("Velkaro — IA vers appel");

class CallAudioTest : public ::testing::Test {
protected:
    TestDataHome home;
    Mac mac{Mac::defaultStateFolder()};
    UserDefaults defaults{AppPaths::preferencesFile()};
    NativeAudioSetup setup{mac.accessibility(), mac.workspace(), mac.scheduler(), defaults};
    PhoneAutomation automation{mac.accessibility(), mac.workspace(), mac.clock()};

    CallAudioTest() { mac.setAccessibilityTrusted(true); }

    // Runs NativeAudioSetup::prepare to its end; returns its error message ("" on success).
    QString prepare()
    {
        bool finished = false;
        QString message;
        setup.prepare([&](std::optional<AppError> error) {
            finished = true;
            message = error ? error->message() : QStringLiteral("");
        });
        mac.advance(5);
        EXPECT_TRUE(finished);
        return message;
    }

    AudioObjectID device(const std::u16string& uid) { return hal::deviceForUID(mac.hardware(), uid); }

    void answer()
    {
        const auto call = automation.incoming();
        ASSERT_TRUE(call.has_value()) << "no ringing call seen";
        automation.answer(*call);
    }
};

} // namespace

TEST_F(CallAudioTest, CallerAndAnswerCrossTheDriversLoopbacks)
{
    EXPECT_EQ(prepare(),
              QString("Les deux périphériques Orlea ne sont pas visibles dans Téléphone. Installez "
                      "le module audio puis redémarrez le Mac."))
        << "the menu lists only the built-in devices before the driver is installed";
    ASSERT_TRUE(mac.workspace().openUrl(packageUrl()));
    ASSERT_EQ(prepare(), QString(""));
    EXPECT_EQ(mac.phone().audioRoute(), (sim::AudioRoute{kVoiceName, kCallName}));

    mac.ring(QStringLiteral("06 12 34 56 78"), sim::toneVoice(733, 0.5f));
    EXPECT_FALSE(mac.callAudio().isOpen()) << "a ringing call has no audio yet";

    // The application's side: captures the call device, plays the AI voice into the voice device.
    sim::AudioClient capture(mac.hardware(), device(u"fr.velkaro.audio.call"));
    sim::AudioClient aiVoice(mac.hardware(), device(u"fr.velkaro.audio.voice"));
    ASSERT_EQ(capture.openStatus(), 0);
    aiVoice.setOutputSource(sim::InputSource::tone(1200, 0.25f));
    aiVoice.setRecordingLimit(0);
    ASSERT_EQ(capture.start(), 0);
    ASSERT_EQ(aiVoice.start(), 0);
    mac.advance(0.2);
    const std::vector<float> beforeAnswer = channelOf(capture.takeRecorded(), 2);
    EXPECT_EQ(firstNonZero(beforeAnswer), beforeAnswer.size()) << "the call device was silent before";

    ASSERT_NO_FATAL_FAILURE(answer());
    ASSERT_TRUE(mac.callAudio().isOpen());
    EXPECT_EQ(mac.callAudio().speakerDevice(), kCallName);
    EXPECT_EQ(mac.callAudio().microphoneDevice(), kVoiceName);
    mac.callAudio().clearHeard();
    mac.advance(1.0);

    const std::vector<float> heardByAI = channelOf(capture.takeRecorded(), 2);
    const size_t onset = firstNonZero(heardByAI);
    EXPECT_GE(onset, kLoopbackFrames) << "the caller came back before the loopback latency";
    EXPECT_LE(onset, kLoopbackFrames + 2 * kBufferFrames) << "the caller's voice came late";
    const size_t window = 24000;
    ASSERT_GE(heardByAI.size(), onset + window);
    EXPECT_NEAR(toneAmplitude(heardByAI, 733, onset, window), 0.5, 0.02) << "the caller's voice level";
    EXPECT_LT(toneAmplitude(heardByAI, 1200, onset, window), 0.01) << "the AI's voice leaked into the call";

    const std::vector<float> heardByCaller = mac.callAudio().heardByCaller();
    const size_t aiOnset = firstNonZero(heardByCaller);
    EXPECT_LE(aiOnset, kLoopbackFrames + 2 * kBufferFrames);
    ASSERT_GE(heardByCaller.size(), aiOnset + window);
    EXPECT_NEAR(toneAmplitude(heardByCaller, 1200, aiOnset, window), 0.25, 0.02) << "what the caller heard";
    EXPECT_LT(toneAmplitude(heardByCaller, 733, aiOnset, window), 0.01) << "the caller heard themself";

    // The caller hangs up: the Phone app closes its audio and the call device falls silent.
    mac.callerHangsUp();
    EXPECT_FALSE(mac.callAudio().isOpen());
    EXPECT_TRUE(mac.callAudio().speakerDevice().isEmpty());
    mac.advance(0.2);
    capture.takeRecorded();
    mac.advance(0.2);
    const std::vector<float> afterHangUp = capture.takeRecorded();
    ASSERT_FALSE(afterHangUp.empty());
    EXPECT_EQ(firstNonZero(afterHangUp), afterHangUp.size()) << "the Phone app still plays after the call";
    EXPECT_EQ(mac.callAudio().heardByCaller().size(), heardByCaller.size() + 0u)
        << "the Phone app records nothing after the call, and keeps what it recorded";
}

TEST_F(CallAudioTest, RouteChangesMidCallReopenTheAudio)
{
    ASSERT_TRUE(mac.workspace().openUrl(packageUrl()));
    // The Phone app follows the system: the built-in speakers and microphone.
    mac.audioServer().setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    mac.ring(QStringLiteral("Marie"), sim::toneVoice(733, 0.5f));
    ASSERT_NO_FATAL_FAILURE(answer());
    EXPECT_EQ(mac.callAudio().speakerDevice(), QString("MacBook Pro Speakers"));
    EXPECT_EQ(mac.callAudio().microphoneDevice(), QString("MacBook Pro Microphone"));
    mac.callAudio().clearHeard();
    mac.advance(0.5);
    const auto played = channelOf(mac.audioServer().capturedOutput(sim::AudioServer::kSpeakersID), 2);
    ASSERT_GE(played.size(), 12000u);
    EXPECT_NEAR(toneAmplitude(played, 733, played.size() - 12000, 12000), 0.5, 0.02);
    const auto heard = mac.callAudio().heardByCaller();
    ASSERT_GE(heard.size(), 12000u);
    EXPECT_NEAR(toneAmplitude(heard, 440, 0, 12000), 0.3, 0.02) << "the caller hears the Mac's microphone";

    // The user picks the virtual devices during the call.
    const int opens = mac.callAudio().openCount();
    ASSERT_EQ(prepare(), QString(""));
    EXPECT_EQ(mac.callAudio().openCount(), opens + 2) << "one reopening per section chosen";
    EXPECT_EQ(mac.callAudio().speakerDevice(), kCallName);
    mac.audioServer().clearCapturedOutput(sim::AudioServer::kSpeakersID);
    mac.advance(0.2);
    const auto silentSpeakers = mac.audioServer().capturedOutput(sim::AudioServer::kSpeakersID);
    EXPECT_EQ(firstNonZero(silentSpeakers), silentSpeakers.size()) << "the old speaker still plays";

    // Back to the system setting, then the system default output changes under the Phone app.
    bool reset = false;
    setup.useSystemAudio([&](std::optional<AppError> error) { reset = !error; });
    mac.advance(5);
    ASSERT_TRUE(reset);
    EXPECT_EQ(mac.callAudio().speakerDevice(), QString("MacBook Pro Speakers"));
    ASSERT_EQ(hal::writeValue(mac.hardware(), kAudioObjectSystemObject,
                              hal::address(kAudioHardwarePropertyDefaultOutputDevice),
                              device(u"fr.velkaro.audio.call")),
              0);
    mac.settleAudio();
    EXPECT_EQ(mac.callAudio().speakerDevice(), kCallName) << "the Phone app follows the new default";
    mac.callerHangsUp();
    EXPECT_FALSE(mac.callAudio().isOpen());
}

TEST_F(CallAudioTest, ALongCallKeepsOnlyTheFirstSecondsOfWhatTheCallerHeard)
{
    // The Phone app on the built-in devices: the caller hears the Mac's microphone from the answer on.
    mac.audioServer().setInputSource(sim::AudioServer::kMicrophoneID, sim::InputSource::tone(440, 0.3f));
    mac.ring(QStringLiteral("Marie"), sim::toneVoice(733, 0.5f));
    ASSERT_NO_FATAL_FAILURE(answer());
    mac.advance(sim::PhoneCallAudio::kKeptSeconds + 15);
    const std::vector<float> heard = mac.callAudio().heardByCaller();
    EXPECT_EQ(heard.size(), size_t(sim::PhoneCallAudio::kKeptSeconds * 48000))
        << "a long call must not pile up what the caller heard";
    ASSERT_GE(heard.size(), 12000u);
    EXPECT_NEAR(toneAmplitude(heard, 440, 0, 12000), 0.3, 0.02) << "index 0 is still the answer";
}

TEST(RealTimeMac, CallAudioRunsOnTheServersClockAndAnswersComeThroughQtTimers)
{
    TestDataHome home;
    Mac mac(Mac::defaultStateFolder(), sim::MacClock::RealTime);
    EXPECT_EQ(mac.manualClock(), nullptr);
    std::optional<bool> granted;
    mac.setMicrophoneDialogAnswer(sim::UserAnswer::Grant);
    mac.microphoneAccess().answerDelaySeconds = 0.01;
    mac.microphone().requestAccess([&](bool ok) { granted = ok; });

    ASSERT_TRUE(mac.workspace().openUrl(packageUrl()));
    mac.setAccessibilityTrusted(true);
    mac.phone().setAudioRoute({kVoiceName, kCallName});
    sim::AudioClient capture(mac.hardware(), hal::deviceForUID(mac.hardware(), u"fr.velkaro.audio.call"));
    ASSERT_EQ(capture.start(), 0);
    mac.ring(QStringLiteral("Marie"), sim::toneVoice(733, 0.5f));
    PhoneAutomation automation(mac.accessibility(), mac.workspace(), mac.clock());
    const auto call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    automation.answer(*call);
    ASSERT_TRUE(mac.callAudio().isOpen());

    std::vector<float> heard;
    const auto enoughHeard = [&] {
        const auto mono = channelOf(heard, 2);
        return mono.size() >= firstNonZero(mono) + 12000;
    };
    for (int i = 0; i < 500 && (!enoughHeard() || !granted.has_value()); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto more = capture.takeRecorded();
        heard.insert(heard.end(), more.begin(), more.end());
    }
    EXPECT_EQ(granted, std::optional<bool>(true)) << "the access answer did not arrive on the main thread";
    const auto mono = channelOf(heard, 2);
    const size_t onset = firstNonZero(mono);
    ASSERT_GE(mono.size(), onset + 12000) << "the real-time clock did not carry the caller's voice";
    EXPECT_GE(onset, kLoopbackFrames) << "the loopback returned audio early";
    EXPECT_NEAR(toneAmplitude(mono, 733, onset, 12000), 0.5, 0.02);
    mac.callerHangsUp();
    EXPECT_FALSE(mac.callAudio().isOpen());
}

TEST_F(CallAudioTest, VanishingDevicesAndOutgoingCalls)
{
    ASSERT_TRUE(mac.workspace().openUrl(packageUrl()));
    ASSERT_EQ(prepare(), QString(""));

    // An outgoing call has audio once the other end picks up.
    ASSERT_TRUE(mac.workspace().openUrl(QUrl("tel:0612345678")));
    mac.advance(1);
    EXPECT_FALSE(mac.callAudio().isOpen()) << "no audio while it rings at the other end";
    mac.remoteAnswers(sim::toneVoice(733, 0.5f, 0.1));
    ASSERT_TRUE(mac.callAudio().isOpen());
    EXPECT_EQ(mac.callAudio().speakerDevice(), kCallName);

    // The driver goes away mid-call: the Phone app loses its devices, then finds them when they return.
    ASSERT_TRUE(mac.audioServer().unloadPlugIn("fr.velkaro.audio.driver"));
    mac.settleAudio();
    EXPECT_TRUE(mac.callAudio().isOpen()) << "the call goes on";
    EXPECT_TRUE(mac.callAudio().speakerDevice().isEmpty());
    EXPECT_FALSE(mac.callAudio().lastError().isEmpty());
    mac.advance(0.1);
    EXPECT_EQ(mac.audioServer().loadPlugIns(), 1);
    mac.settleAudio();
    EXPECT_EQ(mac.callAudio().speakerDevice(), kCallName) << "the Phone app uses the device that came back";
    EXPECT_EQ(mac.callAudio().microphoneDevice(), kVoiceName);
    EXPECT_TRUE(mac.callAudio().lastError().isEmpty());

    mac.phone().reset();
    EXPECT_FALSE(mac.callAudio().isOpen());
    EXPECT_EQ(mac.events().filter("son de l’appel ouvert").size(), 3)
        << mac.events().join("\n").toStdString();
}
