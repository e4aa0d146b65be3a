// The simulated audio server hosting the real VelkaroAudio module, seen through the HAL interface.

#include "tests/sim_audio/InstalledServer.h"

#include "platform/hal/HalString.h"
#include "platform/sim/audio/AudioClient.h"

#include <QFile>
#include <chrono>
#include <cmath>
#include <sndfile.h>
#include <thread>

namespace {

using sim::AudioServer;

std::vector<AudioObjectID> devices(hal::AudioHardware& hardware)
{
    AudioObjectID ids[16];
    UInt32 size = sizeof ids;
    if (hardware.getPropertyData(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDevices), 0,
                                 nullptr, size, ids) != 0)
        return {};
    return std::vector<AudioObjectID>(ids, ids + size / sizeof(AudioObjectID));
}

std::u16string stringOf(hal::AudioHardware& hardware, AudioObjectID object,
                        AudioObjectPropertySelector selector)
{
    std::u16string text = u"<unreadable>";
    hal::readString(hardware, object, hal::address(selector), text);
    return text;
}

UInt32 u32(hal::AudioHardware& hardware, AudioObjectID object, AudioObjectPropertySelector selector,
           AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal)
{
    UInt32 value = 0xFFFFFFFF;
    hal::readValue(hardware, object, hal::address(selector, scope), value);
    return value;
}

// Records what one listener hears, from the server's notification thread, until it goes: then it
// stops listening and lets the calls already matched to it land first.
struct Recorder {
    Recorder(AudioServer& server, AudioObjectID object, const AudioObjectPropertyAddress& address)
        : server(server), object(object), address(address)
    {
        EXPECT_EQ(server.addPropertyListener(object, address, listener, this), 0);
    }
    ~Recorder()
    {
        server.removePropertyListener(object, address, listener, this);
        server.flushNotifications();
    }
    static void listener(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* addresses,
                         void* data)
    {
        for (UInt32 i = 0; i < count; ++i)
            static_cast<Recorder*>(data)->seen.push_back({object, addresses[i].mSelector});
    }
    AudioServer& server;
    const AudioObjectID object;
    const AudioObjectPropertyAddress address;
    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> seen;
};

TEST(SimAudioServer, BuiltInDevicesAndSystemDefaults)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    EXPECT_EQ(devices(server),
              (std::vector<AudioObjectID>{AudioServer::kMicrophoneID, AudioServer::kSpeakersID}));
    EXPECT_EQ(stringOf(server, AudioServer::kMicrophoneID, kAudioObjectPropertyName),
              u"MacBook Pro Microphone");
    EXPECT_EQ(stringOf(server, AudioServer::kSpeakersID, kAudioObjectPropertyName), u"MacBook Pro Speakers");
    EXPECT_EQ(u32(server, AudioServer::kMicrophoneID, kAudioDevicePropertyTransportType),
              kAudioDeviceTransportTypeBuiltIn);
    UInt32 size = 99;
    EXPECT_EQ(
        server.getPropertyDataSize(AudioServer::kMicrophoneID,
                                   hal::address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput),
                                   0, nullptr, size),
        0);
    EXPECT_EQ(size, 0u) << "the microphone has no output stream";
    Float64 rate = 0;
    EXPECT_EQ(hal::readValue(server, AudioServer::kSpeakersID,
                             hal::address(kAudioDevicePropertyNominalSampleRate), rate),
              0);
    EXPECT_EQ(rate, 48000.0);

    EXPECT_EQ(u32(server, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice),
              AudioServer::kMicrophoneID);
    EXPECT_EQ(u32(server, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice),
              AudioServer::kSpeakersID);
    Recorder recorder(server, kAudioObjectSystemObject,
                      hal::address(kAudioObjectPropertySelectorWildcard, kAudioObjectPropertyScopeWildcard,
                                   kAudioObjectPropertyElementWildcard));
    const auto output = hal::address(kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ(hal::writeValue(server, kAudioObjectSystemObject, output, AudioServer::kMicrophoneID),
              kAudioHardwareBadDeviceError)
        << "a device without output cannot be the default output";
    EXPECT_EQ(hal::writeValue(server, kAudioObjectSystemObject, output, AudioObjectID(999)),
              kAudioHardwareBadDeviceError);
    EXPECT_EQ(server.setPropertyData(kAudioObjectSystemObject, output, 0, nullptr, 2, &size),
              kAudioHardwareBadPropertySizeError);
    server.flushNotifications();
    EXPECT_TRUE(recorder.seen.empty());

    const hal::StringRef uid(u"BuiltInSpeakerDevice");
    EXPECT_EQ(hal::deviceForUID(server, u"BuiltInSpeakerDevice"), AudioServer::kSpeakersID);
    EXPECT_EQ(hal::deviceForUID(server, u"fr.velkaro.audio.call"), 0u) << "no driver installed yet";
    EXPECT_EQ(server.getPropertyData(99, hal::address(kAudioObjectPropertyName), 0, nullptr, size, &size),
              kAudioHardwareBadObjectError);
}

TEST(SimAudioServer, InstallerLoadsTheDriverAndPropertiesAreForwarded)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    EXPECT_TRUE(
        QFile::exists(installed.folder.path() + "/HAL/VelkaroAudio.driver/Contents/MacOS/VelkaroAudio"));
    EXPECT_TRUE(server.isPlugInLoaded("fr.velkaro.audio.driver"));

    const auto list = devices(server);
    ASSERT_EQ(list.size(), 4u);
    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    const AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
    ASSERT_NE(call, 0u);
    ASSERT_NE(voice, 0u);
    EXPECT_NE(call, voice);
    EXPECT_NE(std::find(list.begin(), list.end(), call), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), voice), list.end());
    EXPECT_EQ(stringOf(server, call, kAudioObjectPropertyName), u"Velkaro — Appel vers IA");
    EXPECT_EQ(stringOf(server, voice, kAudioDevicePropertyDeviceUID), u"fr.velkaro.audio.voice");
    EXPECT_EQ(u32(server, voice, kAudioDevicePropertyTransportType), kAudioDeviceTransportTypeVirtual);
    EXPECT_EQ(u32(server, call, kAudioDevicePropertyLatency, kAudioObjectPropertyScopeInput), 2048u);

    // Object ids cross the boundary translated: the stream list and owners use server ids.
    const AudioObjectID input =
        u32(server, call, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput);
    const AudioObjectID output =
        u32(server, call, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput);
    EXPECT_NE(input, 0u);
    EXPECT_NE(output, input);
    EXPECT_EQ(u32(server, input, kAudioObjectPropertyOwner), call);
    EXPECT_EQ(u32(server, input, kAudioStreamPropertyDirection), 1u);
    EXPECT_EQ(u32(server, output, kAudioStreamPropertyDirection), 0u);
    EXPECT_EQ(stringOf(server, input, kAudioObjectPropertyName), u"Entrée stéréo");

    // The driver's own change reports come back under the server's ids.
    Recorder recorder(server, input, hal::address(kAudioStreamPropertyIsActive));
    EXPECT_EQ(hal::writeValue(server, input, hal::address(kAudioStreamPropertyIsActive), UInt32(0)), 0);
    server.flushNotifications();
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].first, input);
    EXPECT_EQ(u32(server, input, kAudioStreamPropertyIsActive), 0u);
    EXPECT_EQ(hal::writeValue(server, input, hal::address(kAudioStreamPropertyIsActive), UInt32(1)), 0);
    EXPECT_TRUE(server.hasProperty(input, hal::address(kAudioStreamPropertyIsActive)));
    EXPECT_FALSE(server.hasProperty(call, hal::address(kAudioStreamPropertyIsActive)));

    const Float64 rate = 44100.0;
    EXPECT_EQ(hal::writeValue(server, call, hal::address(kAudioDevicePropertyNominalSampleRate), rate),
              kAudioHardwareUnsupportedOperationError)
        << "the driver's answer comes through";
    EXPECT_EQ(hal::writeValue(server, kAudioObjectSystemObject,
                              hal::address(kAudioHardwarePropertyDefaultInputDevice), call),
              0);
    EXPECT_EQ(u32(server, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice), call);
}

TEST(SimAudioServer, ClientsHearEachOtherThroughTheLoopbackAfter2048Frames)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    Recorder recorder(server, call, hal::address(kAudioDevicePropertyDeviceIsRunning));

    sim::AudioClient phone(server, call);  // plays the caller into the device
    sim::AudioClient bridge(server, call); // records it
    ASSERT_EQ(phone.openStatus(), 0);
    ASSERT_EQ(phone.outputChannels(), 2u);
    ASSERT_EQ(bridge.inputChannels(), 2u);
    std::vector<float> ramp(2 * 4096);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(i + 1) / 65536.0f;
    phone.play(ramp);
    ASSERT_EQ(bridge.start(), 0);
    ASSERT_EQ(phone.start(), 0);
    EXPECT_TRUE(server.isRunning(call));
    EXPECT_EQ(u32(server, call, kAudioDevicePropertyDeviceIsRunning), 1u);
    server.flushNotifications();
    ASSERT_EQ(recorder.seen.size(), 1u)
        << "the driver's 'goin' change reaches listeners once for two clients";

    server.advanceFrames(16 * 512);
    const std::vector<float> heard = bridge.takeRecorded();
    ASSERT_EQ(heard.size(), 2u * 16 * 512);
    // The first cycle plays at output time 512; the loopback returns it at input time 512 + 2048.
    const size_t delayFrames = 512 + 2048;
    for (size_t i = 0; i < heard.size(); ++i) {
        const bool played = i >= 2 * delayFrames && i - 2 * delayFrames < ramp.size();
        const float expected = played ? ramp[i - 2 * delayFrames] : 0.0f;
        ASSERT_EQ(heard[i], expected) << "sample " << i;
    }
    EXPECT_EQ(bridge.lastInputSampleTime(), 15.0 * 512);
    EXPECT_EQ(bridge.lastOutputSampleTime(), 16.0 * 512);

    ASSERT_EQ(phone.stop(), 0);
    EXPECT_TRUE(server.isRunning(call));
    ASSERT_EQ(bridge.stop(), 0);
    EXPECT_FALSE(server.isRunning(call));
    EXPECT_EQ(u32(server, call, kAudioDevicePropertyDeviceIsRunning), 0u);
    server.flushNotifications();
    EXPECT_EQ(recorder.seen.size(), 2u);
}

TEST(SimAudioServer, BuiltInMicrophoneAndSpeakers)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    server.setInputSource(AudioServer::kMicrophoneID, sim::InputSource::tone(1000.0, 0.5f));
    sim::AudioClient microphone(server, AudioServer::kMicrophoneID);
    sim::AudioClient speakers(server, AudioServer::kSpeakersID);
    ASSERT_EQ(microphone.inputChannels(), 1u);
    ASSERT_EQ(speakers.outputChannels(), 2u);
    speakers.play(std::vector<float>(2 * 1024, 0.25f));
    ASSERT_EQ(microphone.start(), 0);
    ASSERT_EQ(speakers.start(), 0);
    server.advanceFrames(2048 + 100);

    const auto heard = microphone.takeRecorded();
    ASSERT_EQ(heard.size(), 2048u) << "whole cycles only; the rest waits for the next advance";
    float peak = 0;
    for (float sample : heard)
        peak = std::max(peak, std::fabs(sample));
    EXPECT_NEAR(peak, 0.5f, 0.01f);
    EXPECT_NEAR(heard[12], 0.5f * std::sin(2 * M_PI * 1000.0 * 12 / 48000.0), 1e-5);

    const auto played = server.capturedOutput(AudioServer::kSpeakersID);
    ASSERT_EQ(played.size(), 2u * 2048);
    EXPECT_EQ(played[0], 0.25f);
    EXPECT_EQ(played[2 * 1024 - 1], 0.25f);
    EXPECT_EQ(played[2 * 1024], 0.0f) << "after the queue runs dry the speakers play silence";

    const std::string wav = (folder.path() + "/missing.wav").toStdString();
    std::string error;
    EXPECT_EQ(sim::InputSource::wavFile(wav, false, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(SimAudioServer, ClientPlaysItsSourceAfterTheQueueAndKeepsABoundedRecording)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    server.setInputSource(AudioServer::kMicrophoneID, sim::InputSource::samples({0.5f, 0.25f}, true));
    sim::AudioClient speakers(server, AudioServer::kSpeakersID);
    speakers.play(std::vector<float>(2 * 100, 0.75f));
    speakers.setOutputSource(sim::InputSource::tone(1000.0, 0.5f));
    sim::AudioClient microphone(server, AudioServer::kMicrophoneID);
    microphone.setRecordingLimit(1000);
    ASSERT_EQ(speakers.start(), 0);
    ASSERT_EQ(microphone.start(), 0);
    server.advanceFrames(4 * 512);

    const auto played = server.capturedOutput(AudioServer::kSpeakersID);
    ASSERT_EQ(played.size(), 2u * 4 * 512);
    EXPECT_EQ(played[2 * 99 + 1], 0.75f) << "the queue plays first";
    EXPECT_EQ(played[2 * 100], 0.0f) << "the source starts at its own beginning";
    EXPECT_NEAR(played[2 * 112], 0.5f * std::sin(2 * M_PI * 1000.0 * 12 / 48000.0), 1e-5);
    EXPECT_EQ(played[2 * 112], played[2 * 112 + 1]) << "both channels carry the source";

    const auto heard = microphone.takeRecorded();
    ASSERT_EQ(heard.size(), 1000u) << "only the last 1000 samples are kept";
    EXPECT_EQ(heard.back(), 0.25f) << "the newest sample is last";
    EXPECT_EQ(heard[998], 0.5f);
    speakers.setOutputSource(nullptr);
    server.clearCapturedOutput(AudioServer::kSpeakersID);
    server.advanceFrames(512);
    for (float sample : server.capturedOutput(AudioServer::kSpeakersID))
        ASSERT_EQ(sample, 0.0f) << "without a source the client plays silence";
}

TEST(SimAudioServer, MicrophonePlaysAWavFileAt48kHz)
{
    QTemporaryDir folder;
    const std::string path = (folder.path() + "/voix.wav").toStdString();
    SF_INFO info{};
    info.samplerate = 24000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> frames;
    for (int i = 0; i < 1000; ++i) {
        frames.push_back(short(i * 16)); // left: a ramp
        frames.push_back(-12345);        // right: ignored by the microphone
    }
    sf_writef_short(file, frames.data(), 1000);
    sf_close(file);

    AudioServer server(folder.path().toStdString());
    std::string error;
    auto source = sim::InputSource::wavFile(path, false, &error);
    ASSERT_NE(source, nullptr) << error;
    server.setInputSource(AudioServer::kMicrophoneID, source);
    sim::AudioClient microphone(server, AudioServer::kMicrophoneID);
    ASSERT_EQ(microphone.start(), 0);
    server.advanceFrames(2560);
    const auto heard = microphone.takeRecorded();
    ASSERT_EQ(heard.size(), 2560u);
    // 1000 frames at 24 kHz last 2000 frames at 48 kHz; the in-between frames are interpolated.
    EXPECT_FLOAT_EQ(heard[0], 0.0f);
    EXPECT_NEAR(heard[200], 100 * 16 / 32768.0f, 1e-4);
    EXPECT_NEAR(heard[201], 100.5f * 16 / 32768.0f, 1e-4);
    EXPECT_EQ(heard[2100], 0.0f) << "after the file the microphone is silent";
}

TEST(SimAudioServer, DevicesVanishAndComeBack)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    const AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
    ASSERT_EQ(hal::writeValue(server, kAudioObjectSystemObject,
                              hal::address(kAudioHardwarePropertyDefaultOutputDevice), voice),
              0);
    sim::AudioClient client(server, voice);
    ASSERT_EQ(client.start(), 0);
    Recorder recorder(server, kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDevices));

    ASSERT_TRUE(server.removeDevice(voice));
    EXPECT_EQ(devices(server).size(), 3u);
    server.flushNotifications();
    EXPECT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(u32(server, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice),
              AudioServer::kSpeakersID)
        << "the default output falls back when its device vanishes";
    UInt32 size = 0;
    EXPECT_EQ(server.getPropertyDataSize(voice, hal::address(kAudioObjectPropertyName), 0, nullptr, size),
              kAudioHardwareBadObjectError);
    EXPECT_EQ(client.start(), kAudioHardwareBadDeviceError);
    EXPECT_EQ(hal::deviceForUID(server, u"fr.velkaro.audio.voice"), 0u);
    EXPECT_EQ(hal::deviceForUID(server, u"fr.velkaro.audio.call"), call);

    ASSERT_TRUE(server.unloadPlugIn("fr.velkaro.audio.driver"));
    EXPECT_EQ(devices(server).size(), 2u);
    EXPECT_EQ(hal::deviceForUID(server, u"fr.velkaro.audio.call"), 0u);
    EXPECT_FALSE(server.isPlugInLoaded("fr.velkaro.audio.driver"));

    EXPECT_EQ(server.loadPlugIns(), 1);
    EXPECT_EQ(devices(server).size(), 4u);
    const AudioObjectID newCall = hal::deviceForUID(server, u"fr.velkaro.audio.call");
    EXPECT_NE(newCall, 0u);
    EXPECT_NE(newCall, call) << "a device that came back has a new id";
    EXPECT_EQ(server.loadPlugIns(), 0) << "loaded bundles are not loaded twice";
}

TEST(SimAudioServer, RealTimeClockRunsTheSameCycles)
{
    InstalledServer installed;
    AudioServer& server = *installed.server;
    const AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
    sim::AudioClient client(server, voice);
    client.play(std::vector<float>(2 * 48000, 0.125f));
    ASSERT_EQ(client.start(), 0);
    server.startRealTime();
    std::vector<float> heard;
    for (int i = 0; i < 400 && heard.size() < 2 * 4096; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto more = client.takeRecorded();
        heard.insert(heard.end(), more.begin(), more.end());
    }
    server.stopRealTime();
    ASSERT_GE(heard.size(), 2u * 4096) << "the real-time clock did not run";
    const auto first = std::find_if(heard.begin(), heard.end(), [](float sample) { return sample != 0.0f; });
    ASSERT_NE(first, heard.end()) << "nothing came back through the loopback";
    EXPECT_GE(first - heard.begin(), 2 * 2560) << "the loopback returned audio early";
    EXPECT_EQ(*first, 0.125f);
}

// As on a Mac, listeners hear of changes later, on the server's own thread, whichever thread made them.
TEST(SimAudioServer, ListenersHearChangesOnTheNotificationThread)
{
    QTemporaryDir folder;
    AudioServer server(folder.path().toStdString());
    struct Heard {
        AudioObjectPropertySelector selector;
        std::thread::id thread;
    };
    struct Log {
        std::vector<Heard> heard;
        static void listener(AudioObjectID, UInt32 count, const AudioObjectPropertyAddress* addresses,
                             void* data)
        {
            for (UInt32 i = 0; i < count; ++i)
                static_cast<Log*>(data)->heard.push_back(
                    Heard{addresses[i].mSelector, std::this_thread::get_id()});
        }
    } log;
    constexpr UInt32 kUSB = fourCharCode("usb ");
    const auto anything = hal::address(kAudioObjectPropertySelectorWildcard);
    ASSERT_EQ(server.addPropertyListener(kAudioObjectSystemObject, anything, Log::listener, &log), 0);

    // A sound server's thread plugs a headset in, makes it the default output and unplugs it.
    AudioObjectID headset = 0;
    UInt32 transport = 0;
    std::u16string name;
    std::thread soundServer([&] {
        headset = server.addDevice({u"Casque USB", u"usb-headset", 1, 2, kUSB});
        transport = u32(server, headset, kAudioDevicePropertyTransportType);
        name = stringOf(server, headset, kAudioObjectPropertyName);
        hal::writeValue(server, kAudioObjectSystemObject,
                        hal::address(kAudioHardwarePropertyDefaultOutputDevice), headset);
        server.removeDevice(headset);
    });
    const std::thread::id soundServerThread = soundServer.get_id();
    soundServer.join();
    server.flushNotifications();
    EXPECT_EQ(transport, kUSB);
    EXPECT_EQ(name, u"Casque USB");
    EXPECT_EQ(u32(server, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice),
              AudioServer::kSpeakersID)
        << "the default output falls back to the speakers";
    std::vector<AudioObjectPropertySelector> order;
    for (const Heard& heard : log.heard) {
        order.push_back(heard.selector);
        EXPECT_NE(heard.thread, soundServerThread) << "heard on the thread that made the change";
        EXPECT_NE(heard.thread, std::this_thread::get_id()) << "heard on the test's thread";
        EXPECT_EQ(heard.thread, log.heard.front().thread) << "one notification thread";
    }
    EXPECT_EQ(order, (std::vector<AudioObjectPropertySelector>{
                         kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
                         kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice}));
    ASSERT_EQ(server.removePropertyListener(kAudioObjectSystemObject, anything, Log::listener, &log), 0);

    // By hand: nothing arrives before the flush, which delivers on its caller's thread; a listener
    // removed after the change still hears of it once, as it may on a Mac.
    AudioServer manual((folder.path() + "/Manual").toStdString(), sim::NotificationDelivery::Manual);
    log.heard.clear();
    ASSERT_EQ(manual.addPropertyListener(kAudioObjectSystemObject, anything, Log::listener, &log), 0);
    const AudioObjectID dock = manual.addDevice({u"Dock", u"dock", 0, 2, kUSB});
    ASSERT_EQ(manual.removePropertyListener(kAudioObjectSystemObject, anything, Log::listener, &log), 0);
    manual.removeDevice(dock);
    EXPECT_TRUE(log.heard.empty());
    manual.flushNotifications();
    ASSERT_EQ(log.heard.size(), 1u);
    EXPECT_EQ(log.heard[0].thread, std::this_thread::get_id());
}

TEST(SimAudioServer, InstallerRefusesBrokenPackages)
{
    QTemporaryDir folder;
    AudioServer server((folder.path() + "/HAL").toStdString());
    const auto missing = sim::installPackage((folder.path() + "/none.pkg").toStdString(), server);
    EXPECT_FALSE(missing.installed);
    EXPECT_FALSE(missing.error.empty());

    // A tar whose only entry escapes the plug-in folder.
    std::string archive(512, '\0');
    const std::string name = "../evil";
    archive.replace(0, name.size(), name);
    archive.replace(100, 7, "0000644");
    archive.replace(124, 11, "00000000000");
    archive[156] = '0';
    archive += std::string(1024, '\0');
    const QString path = folder.path() + "/evil.pkg";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(archive.data(), qint64(archive.size()));
    file.close();
    const auto evil = sim::installPackage(path.toStdString(), server);
    EXPECT_FALSE(evil.installed);
    EXPECT_FALSE(QFile::exists(folder.path() + "/evil"));
    EXPECT_EQ(devices(server).size(), 2u);
}

} // namespace
