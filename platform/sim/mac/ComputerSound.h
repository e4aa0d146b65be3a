#pragma once

#include "platform/linux/sound/SoundServer.h"
#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/audio/ClockBridge.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

namespace sim {

class AudioServer;
class InputSource;
class PhoneCallAudio;

// The computer's own inputs and outputs (through the desktop's sound server) behind the simulated Mac's
// "MacBook Pro Microphone" and "MacBook Pro Speakers". A backed device takes the computer's device's
// native format and runs on its clock; when that device goes, the simulated one dies. The choices are
// part of the Mac's state and come back with it.
//
// The caller can be the person too: their voice from one of the computer's inputs, what the caller
// hears on one of its outputs, both through clock bridges (the computer's clock is not the simulated
// server's), with the echo of what they hear cancelled when both are on one card. One physical
// microphone never feeds both the caller and the Mac's microphone.
//
// Threads: main thread. The sound server's loop thread only posts "the devices changed" here; the
// samples cross between its streams and the simulated devices' IO cycles through lock-free rings.
class ComputerSound final : public QObject {
    Q_OBJECT
public:
    ComputerSound(AudioServer& server, PhoneCallAudio& callAudio, const QString& stateFile);
    ~ComputerSound() override;

    // Connects to the sound server (`server` empty: the desktop's own) and restores the saved choices.
    // False with reason() set when none answers; the simulated devices are then kept.
    bool connect(const QString& server = {});
    bool isConnected() const;
    QString reason() const { return m_reason; }
    // Whether this Mac's choices were ever saved (a new Mac has none).
    bool hasSavedChoices() const { return m_hasSaved; }
    hostsound::SoundServer* soundServer() { return m_client.get(); }

    // The computer's inputs or outputs, as listed last.
    QList<hostsound::Device> devices(hostsound::Direction direction) const;
    // The default input or output; empty when there is none.
    QString defaultDevice(hostsound::Direction direction) const;

    // The computer's device behind the built-in microphone (Input) or speakers (Output); empty: the
    // simulated hardware. Saved in the Mac's state.
    QString backing(hostsound::Direction direction) const;
    // False when the device is not there (the choice is left as it was).
    bool setBacking(hostsound::Direction direction, const QString& deviceName);
    // Whether the backed built-in device is still alive (true when simulated).
    bool isBackingAlive(hostsound::Direction direction) const;
    // The caller is the person at the computer: their voice from `input`, what the caller hears played
    // on `output` (empty: a simulated voice, heard nowhere). Taking the Mac microphone's physical
    // microphone moves the Mac's to its simulated sound. False when a device is not there.
    bool setCaller(const QString& input, const QString& output);
    QString callerInput() const { return m_callerInput; }
    QString callerOutput() const { return m_callerOutput; }
    // The person's voice for the Phone app's caller while the caller is the person; null otherwise.
    std::shared_ptr<InputSource> callerVoice() const { return m_callerVoice; }
    // What hears the call for the person while their output is chosen; null otherwise.
    std::shared_ptr<AudioClient::InputTap> callerEar() const { return m_callerEar; }
    // The delay the computer's side adds to the caller's voice (Input) or to what they hear (Output):
    // the clock bridge's queue and what the sound server holds, in milliseconds; -1 when not in use.
    double callerDelayMs(hostsound::Direction direction) const;
    // The sound server stream of that direction while the caller is the person (null otherwise).
    std::shared_ptr<const hostsound::Stream> callerStream(hostsound::Direction direction) const
    {
        return m_callerStreams[direction == hostsound::Direction::Input ? 0 : 1];
    }
    // The echo of what the caller hears is taken out of their voice (input and output on one card).
    bool cancelsCallerEcho() const { return m_cancelsEcho; }
    // One French line about the last move the no-howling rule made, or advice; empty when none.
    QString notice() const { return m_notice; }
    // The description of a device of the computer, or its name when unknown.
    QString describe(const QString& deviceName) const;

signals:
    void changed();

private:
    bool apply(hostsound::Direction direction, const QString& deviceName);
    // The same physical microphone: the same device, or two devices of one card.
    bool samePhysical(const QString& a, const QString& b) const;
    QString cardOf(const QString& deviceName) const;
    void updateAdvice();
    void load();
    void save();

    AudioServer& m_server;
    PhoneCallAudio& m_callAudio;
    QString m_stateFile;
    std::unique_ptr<hostsound::SoundServer> m_client;
    QString m_reason;
    QString m_backing[2];
    QString m_saved[2];
    bool m_hasSaved = false;
    QString m_callerInput;
    QString m_callerOutput;
    std::shared_ptr<InputSource> m_callerVoice;
    std::shared_ptr<AudioClient::InputTap> m_callerEar;
    std::shared_ptr<const ClockBridge> m_callerBridges[2];
    std::shared_ptr<hostsound::Stream> m_callerStreams[2];
    bool m_cancelsEcho = false;
    QString m_notice;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
