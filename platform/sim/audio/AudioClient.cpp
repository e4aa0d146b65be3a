#include "platform/sim/audio/AudioClient.h"

#include <algorithm>

namespace sim {
namespace {

UInt32 streamChannels(hal::AudioHardware& hardware, AudioObjectID device, AudioObjectPropertyScope scope)
{
    AudioObjectID streams[4] = {};
    UInt32 size = sizeof streams;
    if (hardware.getPropertyData(device, hal::address(kAudioDevicePropertyStreams, scope), 0, nullptr, size,
                                 streams) != 0 ||
        size < sizeof(AudioObjectID))
        return 0;
    AudioStreamBasicDescription format{};
    if (hal::readValue(hardware, streams[0], hal::address(kAudioStreamPropertyVirtualFormat), format) != 0)
        return 0;
    return format.mChannelsPerFrame;
}

} // namespace

AudioClient::AudioClient(hal::AudioHardware& hardware, AudioObjectID device)
    : m_hardware(hardware), m_device(device)
{
    m_inputChannels = streamChannels(hardware, device, kAudioObjectPropertyScopeInput);
    m_outputChannels = streamChannels(hardware, device, kAudioObjectPropertyScopeOutput);
    m_status = hardware.createIOProcID(device, ioProc, this, m_proc);
}

AudioClient::~AudioClient()
{
    if (m_status == 0)
        m_hardware.destroyIOProcID(m_device, m_proc);
}

OSStatus AudioClient::start()
{
    return m_status != 0 ? m_status : m_hardware.start(m_device, m_proc);
}

OSStatus AudioClient::stop()
{
    return m_status != 0 ? m_status : m_hardware.stop(m_device, m_proc);
}

void AudioClient::play(const std::vector<float>& interleaved)
{
    std::lock_guard lock(m_mutex);
    m_queue.insert(m_queue.end(), interleaved.begin(), interleaved.end());
}

void AudioClient::setOutputSource(std::shared_ptr<InputSource> source)
{
    std::lock_guard lock(m_mutex);
    m_outputSource = std::move(source);
}

void AudioClient::setInputTap(std::shared_ptr<InputTap> tap)
{
    std::lock_guard lock(m_mutex);
    m_tap = std::move(tap);
}

void AudioClient::setRecordingLimit(size_t samples)
{
    std::lock_guard lock(m_mutex);
    m_recordingLimit = samples;
    if (m_recorded.size() > samples)
        m_recorded.erase(m_recorded.begin(), m_recorded.end() - std::ptrdiff_t(samples));
}

size_t AudioClient::queuedSamples() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::vector<float> AudioClient::takeRecorded()
{
    std::lock_guard lock(m_mutex);
    std::vector<float> recorded;
    recorded.swap(m_recorded);
    if (recorded.size() > m_recordingLimit)
        recorded.erase(recorded.begin(), recorded.end() - std::ptrdiff_t(m_recordingLimit));
    return recorded;
}

Float64 AudioClient::lastInputSampleTime() const
{
    std::lock_guard lock(m_mutex);
    return m_inputSampleTime;
}

Float64 AudioClient::lastOutputSampleTime() const
{
    std::lock_guard lock(m_mutex);
    return m_outputSampleTime;
}

// Runs on the server's IO thread. A simulated process may lock and allocate: it stands for another program.
OSStatus AudioClient::ioProc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input,
                             const AudioTimeStamp* inputTime, AudioBufferList* output,
                             const AudioTimeStamp* outputTime, void* clientData)
{
    auto& self = *static_cast<AudioClient*>(clientData);
    std::lock_guard lock(self.m_mutex);
    self.m_inputSampleTime = inputTime ? inputTime->mSampleTime : -1;
    self.m_outputSampleTime = outputTime ? outputTime->mSampleTime : -1;
    if (input != nullptr && input->mNumberBuffers > 0 && input->mBuffers[0].mData != nullptr) {
        const auto* samples = static_cast<const float*>(input->mBuffers[0].mData);
        if (self.m_tap) {
            const unsigned channels = std::max<UInt32>(input->mBuffers[0].mNumberChannels, 1);
            self.m_tap->heard(samples, input->mBuffers[0].mDataByteSize / sizeof(float) / channels, channels);
        }
        self.m_recorded.insert(self.m_recorded.end(), samples,
                               samples + input->mBuffers[0].mDataByteSize / sizeof(float));
        // Trimmed once half a limit over, so that a long recording is not shifted on every cycle.
        const size_t limit = self.m_recordingLimit;
        if (self.m_recorded.size() > limit && self.m_recorded.size() - limit > limit / 2)
            self.m_recorded.erase(self.m_recorded.begin(), self.m_recorded.end() - std::ptrdiff_t(limit));
    }
    if (output != nullptr && output->mNumberBuffers > 0 && output->mBuffers[0].mData != nullptr) {
        auto* samples = static_cast<float*>(output->mBuffers[0].mData);
        const size_t count =
            std::min<size_t>(output->mBuffers[0].mDataByteSize / sizeof(float), self.m_queue.size());
        std::copy_n(self.m_queue.begin(), count, samples);
        self.m_queue.erase(self.m_queue.begin(), self.m_queue.begin() + std::ptrdiff_t(count));
        const UInt32 channels = std::max<UInt32>(output->mBuffers[0].mNumberChannels, 1);
        const size_t total = output->mBuffers[0].mDataByteSize / sizeof(float);
        if (self.m_outputSource && count < total)
            self.m_outputSource->render(samples + count, UInt32((total - count) / channels), channels);
    }
    return 0;
}

} // namespace sim
