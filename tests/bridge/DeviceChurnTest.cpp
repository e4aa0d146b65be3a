// Devices come and go while engines run on them: the server tells the engines' listeners on its own
// notification thread, as a Mac does, whichever thread made the change.

#include "tests/bridge/BridgeSupport.h"

#include "app/common/AppError.h"

#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using sim::AudioServer;

const sim::DeviceDescription kHeadset{u"Casque USB", u"usb-headset", 1, 2, fourCharCode("usb ")};

AudioObjectID systemDefault(hal::AudioHardware& hardware, AudioObjectPropertySelector selector)
{
    AudioObjectID id = kAudioObjectUnknown;
    hal::readValue(hardware, kAudioObjectSystemObject, hal::address(selector), id);
    return id;
}

} // namespace

TEST(DeviceAudioEngine, LateNotificationsReachNothingFreed)
{
    // The change is matched to the engine's listeners when the headset goes; they hear of it only
    // after the engine stopped, freed what they used and started again elsewhere.
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString(), sim::NotificationDelivery::Manual);
    const AudioObjectID headset = server.addDevice(kHeadset);
    DeviceAudioEngine device(server);
    AudioEngine& engine = device.engine();
    ASSERT_EQ(device.setOutputDevice(headset), 0);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
    device.start();
    server.advanceFrames(2048);
    ASSERT_TRUE(server.removeDevice(headset));
    device.stop();
    ASSERT_EQ(device.setOutputDevice(AudioServer::kSpeakersID), 0);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
    device.start();
    server.flushNotifications();
    EXPECT_TRUE(device.isRunning()) << "a late call about the old headset stopped the new run";
    EXPECT_FALSE(device.wasStoppedBySystem());
    device.stop();
}

TEST(AudioBridge, SurvivesDevicesComingAndGoingOnAnotherThread)
{
    // A sound server's thread plugs a headset in, makes it the default input and output and pulls it
    // out again, a thousand times at least, while the main thread runs the bridge on whatever is the
    // default and the devices' clocks run in real time.
    InstalledServer installed;
    AudioServer& server = *installed.server;
    server.startRealTime();
    constexpr int kCycles = 1000;
    constexpr int kRuns = 50;
    std::atomic<int> runs{0};
    std::atomic<bool> churning{true};
    std::thread soundServer([&] {
        // However slow the bridge (under a sanitizer), it gets to run on both kinds of device.
        for (int cycle = 0; cycle < kCycles || (runs < kRuns && cycle < 100 * kCycles); ++cycle) {
            const AudioObjectID headset = server.addDevice(kHeadset);
            hal::writeValue(server, kAudioObjectSystemObject,
                            hal::address(kAudioHardwarePropertyDefaultOutputDevice), headset);
            hal::writeValue(server, kAudioObjectSystemObject,
                            hal::address(kAudioHardwarePropertyDefaultInputDevice), headset);
            std::this_thread::sleep_for(std::chrono::microseconds(cycle % 3 == 0 ? 2000 : 300));
            server.removeDevice(headset);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        churning = false;
    });

    AudioBridge bridge(server);
    while (churning) {
        const AudioObjectID input = systemDefault(server, kAudioHardwarePropertyDefaultInputDevice);
        const AudioObjectID output = systemDefault(server, kAudioHardwarePropertyDefaultOutputDevice);
        try {
            bridge.start(input, output, false);
        } catch (const AppError&) {
            continue; // the device went between the read and the start
        }
        ++runs;
        bridge.enqueue(wireTone(440, 0.1, 2400));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        bridge.interrupt();
        bridge.synchronize();
        (void)bridge.needsRestart();
        bridge.stop();
    }
    soundServer.join();
    EXPECT_GE(runs.load(), kRuns);

    // The last headset leaves under a running bridge: the engines hear of it and stop.
    const AudioObjectID headset = server.addDevice(kHeadset);
    bridge.start(headset, headset, false);
    ASSERT_TRUE(server.removeDevice(headset));
    server.flushNotifications();
    EXPECT_TRUE(bridge.needsRestart());
    EXPECT_TRUE(bridge.playbackEngine().wasStoppedBySystem());
    bridge.stop();
    server.stopRealTime();
}
