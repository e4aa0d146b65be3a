// The device catalog and the system route over the simulated Mac with the real driver installed.

#include "tests/sim_audio/InstalledServer.h"

#include "app/audio/AudioDevices.h"
#include "app/audio/MacAudioRoute.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"

#include <map>

namespace {

using sim::AudioServer;

SoundDevice device(AudioObjectID id, const QString& uid, bool input, bool output)
{
    return {id, QStringLiteral("Appareil %1").arg(id), uid, input, output};
}

AudioObjectID defaultDevice(hal::AudioHardware& hardware, AudioObjectPropertySelector selector)
{
    AudioObjectID id = 0;
    EXPECT_EQ(hal::readValue(hardware, kAudioObjectSystemObject, hal::address(selector), id), 0);
    return id;
}

void setDefault(hal::AudioHardware& hardware, AudioObjectPropertySelector selector, AudioObjectID id)
{
    ASSERT_EQ(hal::writeValue(hardware, kAudioObjectSystemObject, hal::address(selector), id), 0);
}

TEST(DeviceCatalog, ListsBuiltInsAndTheVirtualPairOverTheSimulatedMac)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    const QList<SoundDevice> devices = AudioDevices::all(server);
    ASSERT_EQ(devices.size(), 4);
    std::map<QString, SoundDevice> byUID;
    for (const SoundDevice& device : devices)
        byUID[device.uid] = device;
    ASSERT_EQ(byUID.size(), 4u) << "every device has its own UID";

    const SoundDevice microphone = byUID["BuiltInMicrophoneDevice"];
    EXPECT_EQ(microphone.id, AudioServer::kMicrophoneID);
    EXPECT_EQ(microphone.name, QStringLiteral("MacBook Pro Microphone"));
    EXPECT_TRUE(microphone.input);
    EXPECT_FALSE(microphone.output);
    const SoundDevice speakers = byUID["BuiltInSpeakerDevice"];
    EXPECT_EQ(speakers.name, QStringLiteral("MacBook Pro Speakers"));
    EXPECT_FALSE(speakers.input);
    EXPECT_TRUE(speakers.output);
    for (const QString& uid : {VelkaroDevices::kCallUID, VelkaroDevices::kVoiceUID}) {
        SCOPED_TRACE(uid.toStdString());
        EXPECT_TRUE(byUID[uid].input);
        EXPECT_TRUE(byUID[uid].output);
    }
    EXPECT_EQ(byUID[VelkaroDevices::kCallUID].name, QStringLiteral("Velkaro — Appel vers IA"));
    EXPECT_EQ(byUID[VelkaroDevices::kVoiceUID].name, QStringLiteral("Velkaro — IA vers appel"));

    const auto pair = VelkaroDevices::pair(devices);
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->call, byUID[VelkaroDevices::kCallUID]);
    EXPECT_EQ(pair->voice, byUID[VelkaroDevices::kVoiceUID]);

    // The voice device vanishing takes the pair with it.
    server.removeDevice(pair->voice.id);
    EXPECT_EQ(AudioDevices::all(server).size(), 3);
    EXPECT_FALSE(VelkaroDevices::pair(AudioDevices::all(server)).has_value());
}

TEST(DeviceCatalog, UnreadablePropertiesGiveEmptyFields)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    server.injectPropertyFault(AudioServer::kSpeakersID, kAudioObjectPropertyName,
                               kAudioHardwareUnspecifiedError);
    server.injectPropertyFault(AudioServer::kMicrophoneID, kAudioDevicePropertyDeviceUID,
                               kAudioHardwareUnspecifiedError);
    auto devices = AudioDevices::all(server);
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices[0].uid, QString());
    EXPECT_EQ(devices[0].name, QStringLiteral("MacBook Pro Microphone"));
    EXPECT_EQ(devices[1].name, QString());
    EXPECT_TRUE(devices[1].output);

    server.injectPropertyFault(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
                               kAudioHardwareUnspecifiedError);
    EXPECT_TRUE(AudioDevices::all(server).isEmpty())
        << "an unreadable device list is an empty list, not an error";
}

TEST(DeviceCatalog, PairNeedsBothDirectionsAndTwoDistinctDevices)
{
    const QString call = VelkaroDevices::kCallUID, voice = VelkaroDevices::kVoiceUID;
    EXPECT_FALSE(
        VelkaroDevices::pair({device(2, call, true, true), device(5, voice, true, false)}).has_value())
        << "a voice device listed as input-only is no pair";
    EXPECT_FALSE(VelkaroDevices::pair({device(2, call, true, true)}).has_value());
    EXPECT_FALSE(
        VelkaroDevices::pair({device(2, call, true, true), device(2, voice, true, true)}).has_value());
    EXPECT_FALSE(VelkaroDevices::pair({device(2, call.toUpper(), true, true), device(5, voice, true, true)})
                     .has_value())
        << "UIDs compare exactly";

    const auto found = VelkaroDevices::pair({device(7, call, false, true), device(8, voice, true, true),
                                             device(9, call, true, true), device(10, call, true, true)});
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->call.id, 9u) << "the first call device with both directions wins";
    EXPECT_EQ(found->voice.id, 8u);
}

TEST(MacAudioRouteOverSimulator, ChangesAndRestoresTheDefaultsButKeepsTheUsersChoice)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    const auto pair = VelkaroDevices::pair(AudioDevices::all(server));
    ASSERT_TRUE(pair.has_value());
    setDefault(server, kAudioHardwarePropertyDefaultInputDevice, pair->call.id);
    setDefault(server, kAudioHardwarePropertyDefaultOutputDevice, pair->voice.id);
    {
        MacAudioRoute route(server);
        route.prepare(AudioDevices::all(server));
        EXPECT_EQ(defaultDevice(server, kAudioHardwarePropertyDefaultInputDevice),
                  AudioServer::kMicrophoneID);
        EXPECT_EQ(defaultDevice(server, kAudioHardwarePropertyDefaultOutputDevice), AudioServer::kSpeakersID);
        ASSERT_EQ(route.previous().size(), 2);
        EXPECT_EQ(route.previous()[0], (RouteChange{kAudioHardwarePropertyDefaultInputDevice, pair->call.id,
                                                    AudioServer::kMicrophoneID}));

        // A second prepare while in force changes nothing, even with other devices.
        route.prepare(pair->voice.id, pair->call.id);
        EXPECT_EQ(defaultDevice(server, kAudioHardwarePropertyDefaultInputDevice),
                  AudioServer::kMicrophoneID);

        // The user picks another output during the test.
        setDefault(server, kAudioHardwarePropertyDefaultOutputDevice, pair->call.id);
    }
    EXPECT_EQ(defaultDevice(server, kAudioHardwarePropertyDefaultInputDevice), pair->call.id)
        << "destroying the route restores the input";
    EXPECT_EQ(defaultDevice(server, kAudioHardwarePropertyDefaultOutputDevice), pair->call.id)
        << "the output the user chose is left alone";

    MacAudioRoute onlyBuiltIns(server);
    server.removeDevice(AudioServer::kSpeakersID);
    try {
        onlyBuiltIns.prepare(AudioDevices::all(server));
        FAIL() << "no built-in output: prepare must fail";
    } catch (const AppError& error) {
        EXPECT_EQ(
            error.message(),
            QStringLiteral("Le micro et les haut-parleurs intégrés du Mac sont nécessaires pour ce test."));
    }
    EXPECT_TRUE(onlyBuiltIns.previous().isEmpty());
}

TEST(MacAudioRouteOverSimulator, SystemAccessorFailuresSpeakFrench)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    server.injectPropertyFault(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
                               kAudioHardwareBadObjectError);
    MacAudioRoute route(server);
    try {
        route.prepare(AudioServer::kMicrophoneID, AudioServer::kSpeakersID);
        FAIL() << "reading the default output fails";
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Impossible de lire le réglage audio du Mac (560947818)."));
    }
    try {
        route.writeSystem(kAudioHardwarePropertyDefaultInputDevice, 999);
        FAIL() << "an unknown device cannot become the default";
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("Impossible de préparer le micro ou les haut-parleurs du Mac (560227702)."));
    }
    server.injectPropertyFault(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice,
                               OSStatus(0x80000004u));
    try {
        route.readSystem(kAudioHardwarePropertyDefaultInputDevice);
        FAIL();
    } catch (const AppError& error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("Impossible de lire le réglage audio du Mac (-2147483644)."))
            << "the status is printed as a signed number";
    }
}

// An in-memory system for the injected accessors, with writes that can be made to fail.
struct FakeSystem {
    std::map<AudioObjectPropertySelector, AudioObjectID> values{
        {kAudioHardwarePropertyDefaultInputDevice, 1}, {kAudioHardwarePropertyDefaultOutputDevice, 2}};
    AudioObjectPropertySelector failingWrite = 0;
    AudioObjectPropertySelector failingRead = 0;
    std::vector<std::pair<AudioObjectPropertySelector, AudioObjectID>> writes;

    MacAudioRoute::ReadFunction read()
    {
        return [this](AudioObjectPropertySelector selector) {
            if (selector == failingRead)
                throw AppError(QStringLiteral("lecture"));
            return values[selector];
        };
    }
    MacAudioRoute::WriteFunction write()
    {
        return [this](AudioObjectPropertySelector selector, AudioObjectID device) {
            if (selector == failingWrite)
                throw AppError(QStringLiteral("écriture"));
            writes.push_back({selector, device});
            values[selector] = device;
        };
    }
};

TEST(MacAudioRouteInjected, RecordsOnlyRealChangesAndUndoesOnFailure)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    const auto in = kAudioHardwarePropertyDefaultInputDevice, out = kAudioHardwarePropertyDefaultOutputDevice;
    {
        FakeSystem system;
        MacAudioRoute route(server, system.read(), system.write());
        route.prepare(1, 7);
        ASSERT_EQ(route.previous().size(), 1) << "the input already was the default";
        EXPECT_EQ(route.previous()[0], (RouteChange{out, 2, 7}));
        route.restore();
        EXPECT_EQ(system.writes, (std::vector<std::pair<UInt32, AudioObjectID>>{{out, 7}, {out, 2}}))
            << "restore touches only the output";
        EXPECT_TRUE(route.previous().isEmpty());
        route.prepare(1, 2);
        EXPECT_TRUE(route.previous().isEmpty()) << "nothing to change: the route stays idle";
    }
    {
        FakeSystem system;
        system.failingWrite = out;
        MacAudioRoute route(server, system.read(), system.write());
        EXPECT_THROW(route.prepare(5, 6), AppError);
        EXPECT_EQ(system.values[in], 1u) << "a failing output write puts the input back";
        EXPECT_EQ(system.values[out], 2u);
        EXPECT_TRUE(route.previous().isEmpty());
    }
    {
        FakeSystem system;
        system.failingRead = out;
        MacAudioRoute route(server, system.read(), system.write());
        try {
            route.prepare(5, 6);
            FAIL();
        } catch (const AppError& error) {
            EXPECT_EQ(error.message(), QStringLiteral("lecture")) << "the read's own error is passed on";
        }
        EXPECT_EQ(system.values[in], 1u);
    }
    {
        FakeSystem system;
        auto route = std::make_unique<MacAudioRoute>(server, system.read(), system.write());
        route->prepare(5, 6);
        system.failingRead = in; // restore skips what it cannot read and goes on
        route.reset();
        EXPECT_EQ(system.values[in], 5u);
        EXPECT_EQ(system.values[out], 2u);
    }
}

} // namespace
