#include "platform/sim/mac/PhoneCallAudio.h"

#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/desktop/PhoneApp.h"
#include "platform/sim/mac/ServerDevices.h"

#include <cmath>

namespace sim {
namespace {

constexpr size_t kKeptFrames = size_t(PhoneCallAudio::kKeptSeconds * AudioServer::kSampleRateHz);
constexpr size_t kClientFrames = size_t(PhoneCallAudio::kClientSeconds * AudioServer::kSampleRateHz);

} // namespace

std::shared_ptr<InputSource> toneVoice(double frequencyHz, float amplitude, double seconds)
{
    if (seconds <= 0)
        return InputSource::tone(frequencyHz, amplitude);
    std::vector<float> samples(size_t(seconds * AudioServer::kSampleRateHz));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            amplitude * float(std::sin(2.0 * M_PI * frequencyHz * double(i) / AudioServer::kSampleRateHz));
    return InputSource::samples(std::move(samples));
}

PhoneCallAudio::PhoneCallAudio(AudioServer& server, PhoneApp& phone, Scheduler& scheduler)
    : m_server(server), m_phone(phone), m_scheduler(scheduler)
{
    m_phone.onCallStateChanged = [this](CallState) { update(); };
    m_phone.onAudioRouteChanged = [this](const AudioRoute&) { reopen(); };
}

PhoneCallAudio::~PhoneCallAudio()
{
    m_phone.onCallStateChanged = nullptr;
    m_phone.onAudioRouteChanged = nullptr;
    close();
}

void PhoneCallAudio::setCallerVoice(std::shared_ptr<InputSource> voice)
{
    m_voice = std::move(voice);
    if (m_speaker)
        m_speaker->setOutputSource(m_voice);
}

void PhoneCallAudio::setCallerEar(std::shared_ptr<AudioClient::InputTap> ear)
{
    m_ear = std::move(ear);
    if (m_recorder)
        m_recorder->setInputTap(m_ear);
}

void PhoneCallAudio::update()
{
    const bool active = m_phone.state() == CallState::Active;
    if (active && !m_open) {
        // A new call: what the caller hears is counted from its first frame.
        m_heard.clear();
        open();
    } else if (!active && m_open)
        close();
}

void PhoneCallAudio::reopen()
{
    if (!m_open)
        return;
    close();
    open();
}

void PhoneCallAudio::refresh()
{
    if (!m_open)
        return;
    const AudioObjectID speakerID = deviceNamed(m_server, m_phone.effectiveOutputDevice(), false);
    const AudioObjectID microphoneID = deviceNamed(m_server, m_phone.effectiveInputDevice(), true);
    if (speakerID != m_speakerID || microphoneID != m_microphoneID)
        reopen();
}

void PhoneCallAudio::open()
{
    m_error.clear();
    const QString speakerName = m_phone.effectiveOutputDevice();
    const QString microphoneName = m_phone.effectiveInputDevice();
    const AudioObjectID speakerID = deviceNamed(m_server, speakerName, false);
    const AudioObjectID microphoneID = deviceNamed(m_server, microphoneName, true);

    if (speakerID != 0) {
        m_speaker = std::make_unique<AudioClient>(m_server, speakerID);
        m_speaker->setOutputSource(m_voice);
        m_speaker->setRecordingLimit(0);
        if (m_speaker->start() == 0) {
            m_speakerName = speakerName;
            m_speakerID = speakerID;
        } else {
            m_speaker.reset();
        }
    }
    if (!m_speaker)
        m_error = QStringLiteral("haut-parleur introuvable : ") + speakerName;

    if (microphoneID != 0 && microphoneID == speakerID && m_speaker) {
        m_recorder = m_speaker.get();
        m_microphoneName = microphoneName;
        m_microphoneID = microphoneID;
    } else if (microphoneID != 0) {
        m_microphone = std::make_unique<AudioClient>(m_server, microphoneID);
        if (m_microphone->start() == 0) {
            m_recorder = m_microphone.get();
            m_microphoneName = microphoneName;
            m_microphoneID = microphoneID;
        } else {
            m_microphone.reset();
        }
    }
    if (m_recorder) {
        m_recorderChannels = std::max<UInt32>(m_recorder->inputChannels(), 1);
        m_recorder->setRecordingLimit(kClientFrames * m_recorderChannels);
        m_recorder->setInputTap(m_ear);
        m_collector = m_scheduler.every(kCollectSeconds, [this] { collect(); });
    } else {
        m_error += (m_error.isEmpty() ? QString() : QStringLiteral(" · ")) +
                   QStringLiteral("micro introuvable : ") + microphoneName;
    }
    m_open = true;
    ++m_openCount;
    changed();
}

void PhoneCallAudio::close()
{
    if (!m_open)
        return;
    m_collector.cancel();
    collect();
    if (m_speaker)
        m_speaker->stop();
    if (m_microphone)
        m_microphone->stop();
    m_recorder = nullptr;
    m_speaker.reset();
    m_microphone.reset();
    m_speakerName.clear();
    m_microphoneName.clear();
    m_speakerID = 0;
    m_microphoneID = 0;
    m_open = false;
    changed();
}

void PhoneCallAudio::collect()
{
    if (!m_recorder)
        return;
    const std::vector<float> recorded = m_recorder->takeRecorded();
    const size_t channels = m_recorderChannels;
    const size_t frames =
        std::min(recorded.size() / channels, kKeptFrames - std::min(kKeptFrames, m_heard.size()));
    m_heard.reserve(m_heard.size() + frames);
    for (size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += recorded[i * channels + c];
        m_heard.push_back(sum / float(channels));
    }
}

std::vector<float> PhoneCallAudio::heardByCaller()
{
    collect();
    return m_heard;
}

void PhoneCallAudio::clearHeard()
{
    collect();
    std::vector<float>().swap(m_heard);
}

void PhoneCallAudio::changed()
{
    if (onChanged)
        onChanged();
}

} // namespace sim
