#include "app/audio/DeviceAudioEngine.h"

#include "app/common/AppError.h"

namespace {

constexpr AudioObjectPropertyAddress kIsAlive = {
    kAudioDevicePropertyDeviceIsAlive, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kIsRunning = {
    kAudioDevicePropertyDeviceIsRunning, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};

} // namespace

DeviceAudioEngine::DeviceAudioEngine(hal::AudioHardware& hardware) : m_hardware(hardware) {}

DeviceAudioEngine::~DeviceAudioEngine()
{
    stop();
}

AudioFormat DeviceAudioEngine::deviceFormat(hal::AudioHardware& hardware, AudioObjectID device,
                                            AudioObjectPropertyScope scope)
{
    UInt32 size = 0;
    if (hardware.getPropertyDataSize(device, hal::address(kAudioDevicePropertyStreams, scope), 0, nullptr,
                                     size) != kAudioHardwareNoError)
        return {};
    if (size < sizeof(AudioObjectID))
        return AudioFormat::standard(0, 0);
    std::vector<AudioObjectID> streams(size / sizeof(AudioObjectID));
    if (hardware.getPropertyData(device, hal::address(kAudioDevicePropertyStreams, scope), 0, nullptr, size,
                                 streams.data()) != kAudioHardwareNoError ||
        size < sizeof(AudioObjectID))
        return {};
    AudioStreamBasicDescription description{};
    if (hal::readValue(hardware, streams[0], hal::address(kAudioStreamPropertyVirtualFormat), description) !=
        kAudioHardwareNoError)
        return {};
    return AudioFormat::standard(description.mSampleRate, int(description.mChannelsPerFrame));
}

OSStatus DeviceAudioEngine::setInputDevice(AudioObjectID device)
{
    if (!m_hardware.hasProperty(device, kIsAlive))
        return kAudioHardwareBadDeviceError;
    const AudioFormat format = deviceFormat(m_hardware, device, kAudioObjectPropertyScopeInput);
    m_inputDevice = device;
    m_engine.setInputDeviceFormat(format.sampleRateHz, format.channels);
    return kAudioHardwareNoError;
}

OSStatus DeviceAudioEngine::setOutputDevice(AudioObjectID device)
{
    if (!m_hardware.hasProperty(device, kIsAlive))
        return kAudioHardwareBadDeviceError;
    const AudioFormat format = deviceFormat(m_hardware, device, kAudioObjectPropertyScopeOutput);
    m_outputDevice = device;
    m_engine.setOutputDeviceFormat(format.sampleRateHz, format.channels);
    return kAudioHardwareNoError;
}

AudioFormat DeviceAudioEngine::currentInputFormat() const
{
    return deviceFormat(m_hardware, m_inputDevice, kAudioObjectPropertyScopeInput);
}

AudioFormat DeviceAudioEngine::currentOutputFormat() const
{
    return deviceFormat(m_hardware, m_outputDevice, kAudioObjectPropertyScopeOutput);
}

void DeviceAudioEngine::start()
{
    if (isRunning())
        return;
    releaseBindings();
    // Only the directions the graph uses open IO: a capture-only engine leaves the output alone.
    const bool captures =
        m_inputDevice != kAudioObjectUnknown && m_engine.inputNode().outputFormat().isValid();
    const bool renders =
        m_outputDevice != kAudioObjectUnknown && m_engine.outputNode().outputFormat().isValid();
    if (captures) {
        auto binding = std::make_unique<Binding>();
        binding->device = m_inputDevice;
        binding->captures = true;
        binding->inputChannels = m_engine.inputNode().outputFormat().channels;
        m_bindings.push_back(std::move(binding));
    }
    if (renders) {
        if (captures && m_outputDevice == m_inputDevice) {
            m_bindings.back()->renders = true;
            m_bindings.back()->outputChannels = m_engine.outputNode().outputFormat().channels;
        } else {
            auto binding = std::make_unique<Binding>();
            binding->device = m_outputDevice;
            binding->renders = true;
            binding->outputChannels = m_engine.outputNode().outputFormat().channels;
            m_bindings.push_back(std::move(binding));
        }
    }
    m_engine.start();
    OSStatus status = kAudioHardwareNoError;
    for (const auto& binding : m_bindings) {
        binding->owner = this;
        status = m_hardware.createIOProcID(binding->device, ioProc, binding.get(), binding->proc);
        if (status != kAudioHardwareNoError) {
            binding->proc = nullptr;
            break;
        }
        status = m_hardware.start(binding->device, binding->proc);
        if (status != kAudioHardwareNoError)
            break;
        const AudioObjectID device = binding->device;
        binding->watch = std::make_unique<PropertyWatch>(
            m_hardware, device, std::vector<AudioObjectPropertyAddress>{kIsAlive, kIsRunning},
            [this, device] { deviceChanged(device); });
    }
    if (status != kAudioHardwareNoError) {
        stop();
        throw AppError(QStringLiteral("Le périphérique audio n’a pas pu démarrer (%1).").arg(status));
    }
    m_ioStarted.store(true);
}

void DeviceAudioEngine::stop()
{
    m_ioStarted.store(false);
    releaseBindings();
    m_engine.stop();
}

void DeviceAudioEngine::releaseBindings()
{
    for (const auto& binding : m_bindings) {
        binding->watch.reset();
        if (binding->proc != nullptr) {
            // A vanished device refuses both calls; its IO is gone with it.
            m_hardware.stop(binding->device, binding->proc);
            m_hardware.destroyIOProcID(binding->device, binding->proc);
        }
    }
    m_bindings.clear();
}

bool DeviceAudioEngine::deviceStillRuns(AudioObjectID device)
{
    UInt32 alive = 0, running = 0;
    return hal::readValue(m_hardware, device, kIsAlive, alive) == kAudioHardwareNoError && alive != 0 &&
           hal::readValue(m_hardware, device, kIsRunning, running) == kAudioHardwareNoError && running != 0;
}

void DeviceAudioEngine::deviceChanged(AudioObjectID device)
{
    if (m_ioStarted.load() && m_engine.isRunning() && !deviceStillRuns(device))
        m_engine.stopBySystem();
}

// Real-time: runs on the device's IO thread; no allocation, no lock.
OSStatus DeviceAudioEngine::ioProc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input,
                                   const AudioTimeStamp* inputTime, AudioBufferList* output,
                                   const AudioTimeStamp* outputTime, void* clientData)
{
    const auto& binding = *static_cast<const Binding*>(clientData);
    AudioEngine& engine = binding.owner->m_engine;
    if (binding.captures && input != nullptr && input->mNumberBuffers > 0 && input->mBuffers[0].mData &&
        binding.inputChannels > 0) {
        const int frames =
            int(input->mBuffers[0].mDataByteSize / (sizeof(float) * UInt32(binding.inputChannels)));
        engine.captureInput(static_cast<const float*>(input->mBuffers[0].mData), frames,
                            binding.inputChannels, inputTime ? inputTime->mSampleTime : 0.0);
    }
    if (binding.renders && output != nullptr && output->mNumberBuffers > 0 && output->mBuffers[0].mData &&
        binding.outputChannels > 0) {
        const int frames =
            int(output->mBuffers[0].mDataByteSize / (sizeof(float) * UInt32(binding.outputChannels)));
        engine.renderOutput(static_cast<float*>(output->mBuffers[0].mData), frames, binding.outputChannels,
                            outputTime ? outputTime->mSampleTime : 0.0);
    }
    return kAudioHardwareNoError;
}
