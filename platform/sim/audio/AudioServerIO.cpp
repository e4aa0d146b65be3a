// IO of the simulated server: IO procs, the per-device cycle (as the real server runs it for a plug-in:
// zero time stamps, Begin/Do/End of ReadInput and WriteMix) and the two ways of pacing the clocks.

#include "platform/sim/audio/AudioServerPrivate.h"

#include "driver/HostClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace sim {

OSStatus AudioServer::createIOProcID(AudioObjectID id, hal::IOProc proc, void* clientData,
                                     hal::IOProcID& procID)
{
    if (proc == nullptr)
        return kAudioHardwareIllegalOperationError;
    Guard guard(*this);
    Device* found = device(id);
    if (found == nullptr)
        return kAudioHardwareBadDeviceError;
    auto record = std::make_unique<Proc>();
    record->id = reinterpret_cast<hal::IOProcID>(m_nextProcToken++);
    record->proc = proc;
    record->clientData = clientData;
    record->clientID = m_nextClientID++;
    if (found->plugIn != nullptr) {
        const AudioServerPlugInClientInfo client = {record->clientID, 0, true, nullptr};
        const OSStatus status =
            (*found->plugIn->driver)->AddDeviceClient(found->plugIn->driver, found->driverID, &client);
        if (status != kAudioHardwareNoError)
            return status;
    }
    procID = record->id;
    found->procs.push_back(std::move(record));
    return kAudioHardwareNoError;
}

OSStatus AudioServer::destroyIOProcID(AudioObjectID id, hal::IOProcID procID)
{
    Guard guard(*this);
    Device* found = device(id);
    if (found == nullptr)
        return kAudioHardwareBadDeviceError;
    const auto it = found->liveProc(procID);
    if (it == found->procs.end())
        return kAudioHardwareIllegalOperationError;
    if ((*it)->running)
        stop(id, procID);
    if (found->plugIn != nullptr) {
        const AudioServerPlugInClientInfo client = {(*it)->clientID, 0, true, nullptr};
        (*found->plugIn->driver)->RemoveDeviceClient(found->plugIn->driver, found->driverID, &client);
    }
    // A proc may destroy itself from inside a cycle: it is then only marked and swept after the cycle.
    if (found->cycling > 0)
        (*it)->destroyed = true;
    else
        found->procs.erase(it);
    return kAudioHardwareNoError;
}

OSStatus AudioServer::start(AudioObjectID id, hal::IOProcID procID)
{
    Guard guard(*this);
    Device* found = device(id);
    if (found == nullptr)
        return kAudioHardwareBadDeviceError;
    const auto it = found->liveProc(procID);
    if (it == found->procs.end())
        return kAudioHardwareIllegalOperationError;
    if ((*it)->running)
        return kAudioHardwareNoError;
    if (found->runningProcs == 0) {
        const OSStatus status = startDevice(*found);
        if (status != kAudioHardwareNoError)
            return status;
    }
    (*it)->running = true;
    ++found->runningProcs;
    return kAudioHardwareNoError;
}

OSStatus AudioServer::stop(AudioObjectID id, hal::IOProcID procID)
{
    Guard guard(*this);
    Device* found = device(id);
    if (found == nullptr)
        return kAudioHardwareBadDeviceError;
    const auto it = found->liveProc(procID);
    if (it == found->procs.end())
        return kAudioHardwareIllegalOperationError;
    if (!(*it)->running)
        return kAudioHardwareNoError;
    (*it)->running = false;
    if (--found->runningProcs == 0)
        stopDevice(*found);
    return kAudioHardwareNoError;
}

bool AudioServer::isRunning(AudioObjectID id) const
{
    Guard guard(*this);
    const Device* found = device(id);
    return found != nullptr && found->runningProcs > 0;
}

OSStatus AudioServer::startDevice(Device& device)
{
    if (!device.alive)
        return kAudioHardwareBadDeviceError;
    // What a computer's microphone heard before the IO started is not this IO's input.
    if (device.host && device.inputChannels > 0)
        device.host->read(nullptr, device.host->queuedFrames());
    // Buffers are sized once here so that cycles never allocate.
    device.inputBuffer.assign(size_t(kBufferFrames) * std::max<UInt32>(device.inputChannels, 1), 0.0f);
    device.mixBuffer.assign(size_t(kBufferFrames) * std::max<UInt32>(device.outputChannels, 1), 0.0f);
    device.procBuffer.assign(device.mixBuffer.size(), 0.0f);
    device.pendingFrames = 0;
    device.cycleCounter = 0;
    if (device.plugIn == nullptr) {
        if (!device.host)
            device.captured.reserve(size_t(device.sampleRateHz) * 10 * device.outputChannels);
        device.zeroSampleTime = 0;
        device.zeroHostTime = hostClockNow();
        device.sampleTime = 0;
        return kAudioHardwareNoError;
    }
    AudioServerPlugInDriverInterface& driver = **device.plugIn->driver;
    OSStatus status = driver.StartIO(device.plugIn->driver, device.driverID, kAudioServerPlugInHostClientID);
    if (status != kAudioHardwareNoError)
        return status;
    status = driver.GetZeroTimeStamp(device.plugIn->driver, device.driverID, kAudioServerPlugInHostClientID,
                                     &device.zeroSampleTime, &device.zeroHostTime, &device.seed);
    if (status != kAudioHardwareNoError) {
        driver.StopIO(device.plugIn->driver, device.driverID, kAudioServerPlugInHostClientID);
        return status;
    }
    device.sampleTime = device.zeroSampleTime;
    return kAudioHardwareNoError;
}

void AudioServer::stopDevice(Device& device)
{
    for (auto& proc : device.procs)
        proc->running = false;
    device.runningProcs = 0;
    if (device.plugIn != nullptr)
        (*device.plugIn->driver)
            ->StopIO(device.plugIn->driver, device.driverID, kAudioServerPlugInHostClientID);
}

void AudioServer::fillTimeStamp(const Device& device, Float64 sampleTime, AudioTimeStamp& stamp) const
{
    stamp = {};
    stamp.mSampleTime = sampleTime;
    const Float64 offset = (sampleTime - device.zeroSampleTime) * ticksPerFrame(device);
    stamp.mHostTime = device.zeroHostTime + UInt64(std::max(offset, 0.0));
    stamp.mRateScalar = 1.0;
    stamp.mFlags =
        kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid | kAudioTimeStampRateScalarValid;
}

// One IO cycle of kBufferFrames frames starting at the device's sample time: the input captured over those
// frames goes to every running proc, and their summed output is played for the period that follows.
void AudioServer::runCycle(Device& device)
{
    constexpr UInt32 frames = kBufferFrames;
    ++device.cycling;
    if (device.plugIn != nullptr) {
        // A new seed means the device's clock restarted: follow it, as the real server does.
        Float64 zeroSample = 0;
        UInt64 zeroHost = 0, seed = 0;
        if ((*device.plugIn->driver)
                    ->GetZeroTimeStamp(device.plugIn->driver, device.driverID, kAudioServerPlugInHostClientID,
                                       &zeroSample, &zeroHost, &seed) == kAudioHardwareNoError &&
            seed != device.seed) {
            device.seed = seed;
            device.zeroSampleTime = zeroSample;
            device.zeroHostTime = zeroHost;
            device.sampleTime = zeroSample;
        }
    }
    AudioTimeStamp now, inputTime, outputTime;
    fillTimeStamp(device, device.sampleTime + frames, now);
    fillTimeStamp(device, device.sampleTime, inputTime);
    fillTimeStamp(device, device.sampleTime + frames, outputTime);

    AudioServerPlugInIOCycleInfo cycle{};
    cycle.mIOCycleCounter = device.cycleCounter++;
    cycle.mNominalIOBufferFrameSize = frames;
    cycle.mCurrentTime = now;
    cycle.mInputTime = inputTime;
    cycle.mOutputTime = outputTime;
    cycle.mMainHostTicksPerFrame = ticksPerFrame(device);
    cycle.mDeviceHostTicksPerFrame = ticksPerFrame(device);

    const UInt32 inputBytes = frames * device.inputChannels * sizeof(float);
    const UInt32 outputBytes = frames * device.outputChannels * sizeof(float);
    if (device.inputChannels > 0) {
        if (device.plugIn != nullptr) {
            auto& driver = **device.plugIn->driver;
            const auto ref = device.plugIn->driver;
            std::memset(device.inputBuffer.data(), 0, inputBytes);
            if (device.willRead) {
                const UInt32 read = kAudioServerPlugInIOOperationReadInput;
                driver.BeginIOOperation(ref, device.driverID, 0, read, frames, &cycle);
                driver.DoIOOperation(ref, device.driverID, device.driverInputStream, 0, read, frames, &cycle,
                                     device.inputBuffer.data(), nullptr);
                driver.EndIOOperation(ref, device.driverID, 0, read, frames, &cycle);
            }
        } else if (device.host) {
            const size_t got = device.host->read(device.inputBuffer.data(), frames);
            std::fill(device.inputBuffer.begin() + std::ptrdiff_t(got * device.inputChannels),
                      device.inputBuffer.end(), 0.0f);
        } else if (device.source) {
            device.source->render(device.inputBuffer.data(), frames, device.inputChannels);
        }
    }
    AudioBufferList input{};
    input.mNumberBuffers = device.inputChannels > 0 ? 1 : 0;
    input.mBuffers[0] = {device.inputChannels, inputBytes,
                         device.inputChannels > 0 ? device.inputBuffer.data() : nullptr};

    std::fill(device.mixBuffer.begin(), device.mixBuffer.end(), 0.0f);
    const size_t outputSamples = size_t(frames) * device.outputChannels;
    for (size_t i = 0; i < device.procs.size(); ++i) {
        Proc& proc = *device.procs[i];
        if (!proc.running || proc.destroyed)
            continue;
        AudioBufferList output{};
        output.mNumberBuffers = device.outputChannels > 0 ? 1 : 0;
        output.mBuffers[0] = {device.outputChannels, outputBytes,
                              device.outputChannels > 0 ? device.procBuffer.data() : nullptr};
        std::fill(device.procBuffer.begin(), device.procBuffer.end(), 0.0f);
        proc.proc(device.id, &now, &input, &inputTime, &output, &outputTime, proc.clientData);
        for (size_t s = 0; s < outputSamples; ++s)
            device.mixBuffer[s] += device.procBuffer[s];
    }

    if (device.outputChannels > 0) {
        if (device.plugIn != nullptr) {
            if (device.willWrite) {
                auto& driver = **device.plugIn->driver;
                const auto ref = device.plugIn->driver;
                const UInt32 write = kAudioServerPlugInIOOperationWriteMix;
                driver.BeginIOOperation(ref, device.driverID, 0, write, frames, &cycle);
                driver.DoIOOperation(ref, device.driverID, device.driverOutputStream, 0, write, frames,
                                     &cycle, device.mixBuffer.data(), nullptr);
                driver.EndIOOperation(ref, device.driverID, 0, write, frames, &cycle);
            }
        } else if (device.host) {
            device.host->write(device.mixBuffer.data(), frames);
        } else {
            // Keep the last few minutes only: a demo may play for hours.
            const size_t limit = size_t(device.sampleRateHz) * kCaptureLimitSeconds * device.outputChannels;
            if (device.captured.size() + outputSamples > 2 * limit)
                device.captured.erase(device.captured.begin(),
                                      device.captured.end() - std::ptrdiff_t(limit - outputSamples));
            device.captured.insert(device.captured.end(), device.mixBuffer.begin(),
                                   device.mixBuffer.begin() + outputSamples);
        }
    }
    device.sampleTime += frames;
    if (--device.cycling == 0)
        std::erase_if(device.procs, [](const auto& proc) { return proc->destroyed; });
}

void AudioServer::advanceFrames(UInt64 frames)
{
    Guard guard(*this);
    std::vector<AudioObjectID> running;
    for (const auto& [id, device] : m_devices)
        if (device->runningProcs > 0)
            running.push_back(id);
    for (AudioObjectID id : running) {
        Device* found = device(id);
        if (found == nullptr)
            continue;
        if (found->host) {
            runHostCycles(*found);
            continue;
        }
        found->pendingFrames += frames;
        while (found->pendingFrames >= kBufferFrames && found->runningProcs > 0) {
            found->pendingFrames -= kBufferFrames;
            runCycle(*found);
            found = device(id); // a proc may have removed its device
            if (found == nullptr)
                break;
        }
    }
}

void AudioServer::startRealTime()
{
    std::lock_guard lock(m_clockMutex);
    if (m_clockThread.joinable())
        return;
    m_clockStop = false;
    m_clockThread = std::thread([this] { realTimeLoop(); });
}

void AudioServer::stopRealTime()
{
    {
        std::lock_guard lock(m_clockMutex);
        m_clockStop = true;
    }
    m_clockWake.notify_all();
    if (m_clockThread.joinable())
        m_clockThread.join();
}

// Real-time pacing: each running device runs the cycles its own clock says are due. A plug-in device's clock
// is the one its driver reports through GetZeroTimeStamp.
void AudioServer::runDueCycles()
{
    Guard guard(*this);
    std::vector<AudioObjectID> running;
    for (const auto& [id, device] : m_devices)
        if (device->runningProcs > 0)
            running.push_back(id);
    for (AudioObjectID id : running) {
        Device* found = device(id);
        if (found == nullptr || found->runningProcs == 0)
            continue;
        if (found->host) {
            runHostCycles(*found);
            continue;
        }
        if (found->plugIn != nullptr) {
            Float64 zeroSample = 0;
            UInt64 zeroHost = 0, seed = 0;
            if ((*found->plugIn->driver)
                    ->GetZeroTimeStamp(found->plugIn->driver, found->driverID, kAudioServerPlugInHostClientID,
                                       &zeroSample, &zeroHost, &seed) != kAudioHardwareNoError)
                continue;
            if (seed != found->seed) {
                found->seed = seed;
                found->sampleTime = zeroSample;
            }
            found->zeroSampleTime = zeroSample;
            found->zeroHostTime = zeroHost;
        }
        const UInt64 now = hostClockNow();
        const Float64 elapsed = now > found->zeroHostTime ? Float64(now - found->zeroHostTime) : 0.0;
        const Float64 deviceNow = found->zeroSampleTime + elapsed / ticksPerFrame(*found);
        // After a long stall, skip ahead rather than run a burst of late cycles.
        if (deviceNow - found->sampleTime > kSampleRateHz)
            found->sampleTime = std::floor((deviceNow - kBufferFrames) / kBufferFrames) * kBufferFrames;
        while (found != nullptr && found->runningProcs > 0 &&
               found->sampleTime + kBufferFrames <= deviceNow) {
            runCycle(*found);
            found = device(id); // a proc may have removed its device
        }
    }
}

Float64 AudioServer::ticksPerFrame(const Device& device) const
{
    return m_ticksPerFrame * kSampleRateHz / device.sampleRateHz;
}

// A device backed by the computer's runs on the computer's clock: an input cycle when a buffer's worth has
// arrived, an output cycle when what is queued has fallen below two buffers. A vanished endpoint kills the
// device, as the HAL does with an unplugged one.
void AudioServer::runHostCycles(Device& device)
{
    const AudioObjectID id = device.id;
    Device* found = &device;
    while (found != nullptr && found->runningProcs > 0 && found->alive) {
        if (!found->host->isAlive()) {
            found->alive = false;
            stopDevice(*found);
            notify(id, hal::address(kAudioDevicePropertyDeviceIsAlive));
            notify(id, hal::address(kAudioDevicePropertyDeviceIsRunning));
            break;
        }
        const size_t queued = found->host->queuedFrames();
        const bool due = found->inputChannels > 0 ? queued >= kBufferFrames : queued < 2 * kBufferFrames;
        if (!due)
            break;
        runCycle(*found);
        found = this->device(id); // a proc may have removed its device
    }
}

bool AudioServer::setHostEndpoint(AudioObjectID id, std::shared_ptr<HostEndpoint> endpoint)
{
    Guard guard(*this);
    Device* found = device(id);
    if (found == nullptr || found->plugIn != nullptr)
        return false;
    if (found->runningProcs > 0) {
        stopDevice(*found);
        notify(id, hal::address(kAudioDevicePropertyDeviceIsRunning));
    }
    UInt32& ownChannels = found->inputChannels > 0 ? found->inputChannels : found->outputChannels;
    if (!found->host)
        found->simulatedChannels = ownChannels;
    const Float64 rate = endpoint ? endpoint->sampleRateHz() : kSampleRateHz;
    const UInt32 channels = endpoint ? endpoint->channels() : found->simulatedChannels;
    const bool formatChanged = rate != found->sampleRateHz || channels != ownChannels;
    found->sampleRateHz = rate;
    ownChannels = channels;
    found->host = std::move(endpoint);
    if (!found->alive) {
        found->alive = true;
        notify(id, hal::address(kAudioDevicePropertyDeviceIsAlive));
    }
    if (formatChanged) {
        notify(id, hal::address(kAudioDevicePropertyNominalSampleRate));
        const AudioObjectID stream = found->inputStream != 0 ? found->inputStream : found->outputStream;
        notify(stream, hal::address(kAudioStreamPropertyVirtualFormat));
        notify(stream, hal::address(kAudioStreamPropertyPhysicalFormat));
    }
    return true;
}

bool AudioServer::isAlive(AudioObjectID id) const
{
    Guard guard(*this);
    const Device* found = device(id);
    return found != nullptr && found->alive;
}

void AudioServer::realTimeLoop()
{
    const auto period = std::chrono::microseconds(UInt64(1e6 * kBufferFrames / kSampleRateHz / 4));
    std::unique_lock lock(m_clockMutex);
    while (!m_clockStop) {
        m_clockWake.wait_for(lock, period, [this] { return m_clockStop; });
        if (m_clockStop)
            break;
        lock.unlock();
        runDueCycles();
        lock.lock();
    }
}

} // namespace sim
