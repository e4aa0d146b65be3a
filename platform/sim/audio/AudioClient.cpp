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
        self.m_recorded.insert(self.m_recorded.end(), samples,
                               samples + input->mBuffers[0].mDataByteSize / sizeof(float));
    }
    if (output != nullptr && output->mNumberBuffers > 0 && output->mBuffers[0].mData != nullptr) {
        auto* samples = static_cast<float*>(output->mBuffers[0].mData);
        const size_t count =
            std::min<size_t>(output->mBuffers[0].mDataByteSize / sizeof(float), self.m_queue.size());
        std::copy_n(self.m_queue.begin(), count, samples);
        self.m_queue.erase(self.m_queue.begin(), self.m_queue.begin() + std::ptrdiff_t(count));
    }
    return 0;
}

} // namespace sim
