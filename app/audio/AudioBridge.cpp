#include "app/audio/AudioBridge.h"

#include "app/audio/AudioDevices.h"
#include "app/audio/CallAudioRecorder.h"
#include "app/audio/ClockSkewGuard.h"
#include "app/audio/InputAudioConversion.h"
#include "app/common/AppError.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A capture block is about 43 ms and the lead 100 ms: two to three blocks wait in a steady queue.
const ClockSkewGuard kSkewGuard(2, 4);

QString deviceName(const QList<SoundDevice>& devices, AudioObjectID id)
{
    for (const SoundDevice& device : devices)
        if (device.id == id)
            return device.name;
    return QString::number(id);
}

QString selectionFailure(OSStatus status)
{
    return QStringLiteral("Impossible de sélectionner le périphérique audio (%1).").arg(qint32(status));
}

} // namespace

AudioBridge::AudioBridge(hal::AudioHardware& hardware)
    : m_hardware(hardware), m_playback(std::make_unique<DeviceAudioEngine>(hardware)),
      m_player(std::make_shared<AudioPlayerNode>()), m_operatorPlayer(std::make_shared<AudioPlayerNode>()),
      m_interventionRoute(hardware)
{
    m_capture = std::make_unique<DeviceAudioEngine>(hardware);
}

AudioBridge::~AudioBridge()
{
    stop();
}

void AudioBridge::start(AudioObjectID inputID, AudioObjectID outputID, bool conversationOnMac)
{
    stop();
    m_health.reset();
    m_playback = std::make_unique<DeviceAudioEngine>(m_hardware);
    m_capture = conversationOnMac ? nullptr : std::make_unique<DeviceAudioEngine>(m_hardware);
    m_voicePlayedBase += m_player->playedFrames();
    m_voiceQueuedEnd = m_voicePlayedBase;
    m_player = std::make_shared<AudioPlayerNode>();
    m_operatorPlayer = std::make_shared<AudioPlayerNode>();
    m_microphoneMixer.reset();
    m_voiceOutput.reset();
    m_captureFormat.reset();
    m_mixerFormat.reset();
    m_inputConverter.reset();
    m_outputConverter.reset();
    m_macMode = conversationOnMac;

    DeviceAudioEngine& capture = captureEngine();
    AudioEngine& playback = m_playback->engine();
    if (OSStatus status = capture.setInputDevice(inputID); status != kAudioHardwareNoError)
        throw AppError(selectionFailure(status));
    if (OSStatus status = m_playback->setOutputDevice(outputID); status != kAudioHardwareNoError)
        throw AppError(selectionFailure(status));

    const QList<SoundDevice> devices = AudioDevices::all(m_hardware);
    if (conversationOnMac) {
        const auto isDefault = [&](AudioObjectPropertySelector selector, AudioObjectID expected, bool input) {
            AudioObjectID current = kAudioObjectUnknown;
            if (hal::readValue(m_hardware, kAudioObjectSystemObject, hal::address(selector), current) !=
                    kAudioHardwareNoError ||
                current != expected)
                return false;
            return std::any_of(devices.begin(), devices.end(), [&](const SoundDevice& device) {
                return device.id == current && (input ? device.input : device.output);
            });
        };
        if (!isDefault(kAudioHardwarePropertyDefaultInputDevice, inputID, true) ||
            !isDefault(kAudioHardwarePropertyDefaultOutputDevice, outputID, false))
            throw AppError(QStringLiteral(
                "Le périphérique audio du Mac a changé. Relancez la vérification audio du Mac."));
        AudioInputNode& input = playback.inputNode();
        input.setVoiceProcessingEnabled(true);
        input.setVoiceProcessingInputMuted(false);
        input.setVoiceProcessingAGC(true);
    }

    const AudioFormat inputFormat = capture.engine().inputNode().outputFormat();
    const AudioFormat target = conversationOnMac ? playFormat() : wireFormat();
    auto limiter = std::make_unique<MicrophoneLimiter>(24000.0);
    std::unique_ptr<AudioConverter> inputConverter;
    if (inputFormat.sampleRateHz > 0 && inputFormat.channels > 0)
        inputConverter = InputAudioConversion::make(inputFormat, target);
    if (!inputConverter)
        throw AppError(QStringLiteral("Format du microphone incompatible."));

    const AudioFormat deviceOutput = playback.outputNode().outputFormat();
    const AudioFormat mixerFormat = AudioFormat::standard(deviceOutput.sampleRateHz, deviceOutput.channels);
    if (!(deviceOutput.sampleRateHz > 0) || deviceOutput.channels <= 0 || !mixerFormat.isValid())
        throw AppError(
            QStringLiteral("Le périphérique de sortie ne fournit pas de format audio utilisable."));

    AudioMixerNode& mainMixer = playback.mainMixerNode();
    playback.connect(mainMixer, playback.outputNode(), 0, mixerFormat);
    playback.attach(m_player);
    playback.attach(m_operatorPlayer);
    m_voiceOutput = std::make_unique<VoiceOutputChain>();
    m_voiceOutput->wire(playback, *m_player, mainMixer, 0, playFormat());
    m_voiceOutput->headroom()->setOutputVolume(kVoiceHeadroom);
    playback.connect(*m_operatorPlayer, mainMixer, 1, playFormat());
    m_voiceOutput->apply(m_voiceEQ);

    if (conversationOnMac) {
        // Pulls the microphone through the graph (so voice processing runs) without it being heard.
        m_microphoneMixer = std::make_shared<AudioMixerNode>();
        playback.attach(m_microphoneMixer);
        playback.connect(playback.inputNode(), *m_microphoneMixer, 0, inputFormat);
        playback.connect(*m_microphoneMixer, mainMixer, 2, inputFormat);
        m_microphoneMixer->setOutputVolume(0);
    }

    m_routeDescription = QStringLiteral("entrée : ") + deviceName(devices, inputID) +
                         QStringLiteral(" / sortie : ") + deviceName(devices, outputID) +
                         QStringLiteral(" · source : %1 canaux, %2 Hz")
                             .arg(inputFormat.channels)
                             .arg(qint64(inputFormat.sampleRateHz));

    std::unique_ptr<AudioConverter> outputConverter = AudioConverter::make(mixerFormat, wireFormat());
    if (!outputConverter)
        throw AppError(QStringLiteral("Impossible de préparer le son envoyé au téléphone."));

    m_captureFormat = inputFormat;
    m_mixerFormat = mixerFormat;
    m_inputConverter = std::move(inputConverter);
    m_outputConverter = std::move(outputConverter);
    m_limiter = std::move(limiter);
    m_tapRecorder = recorder;

    m_tapped = capture.engine().installTap(
        capture.engine().inputNode(), 0, kTapBufferFrames, inputFormat,
        [this](const std::shared_ptr<PcmBlock>& block, double) { captureBlock(*block); });
    m_outputTapped =
        playback.installTap(mainMixer, 0, kTapBufferFrames, mixerFormat,
                            [this](const std::shared_ptr<PcmBlock>& block, double) { outputBlock(*block); });
    try {
        m_playback->start();
        if (m_capture)
            m_capture->start();
        m_player->play();
    } catch (...) {
        stop();
        throw;
    }
}

void AudioBridge::captureBlock(const PcmBlock& block)
{
    const AudioFormat& format = block.format();
    const int frames = block.frameLength();
    m_health.update([&](AudioFlowHealth::Counters& counters, double) {
        if (format.sampleRateHz > 0)
            counters.rawInputSeconds += double(frames) / format.sampleRateHz;
    });
    const AudioFormat target = m_inputConverter->outputFormat();
    auto converted = PcmBlock::make(
        target, AudioConverter::outputCapacity(frames, format.sampleRateHz, target.sampleRateHz));
    if (!converted)
        return;
    if (!m_inputConverter->convert(block, *converted)) {
        m_health.update([](AudioFlowHealth::Counters& counters, double) { ++counters.inputErrors; });
        return;
    }
    const int produced = converted->frameLength();
    if (produced == 0)
        return;

    QByteArray wire(produced * 2, Qt::Uninitialized);
    auto* samples = reinterpret_cast<int16_t*>(wire.data());
    if (m_macMode) {
        const float* voice = converted->floatChannelData(0);
        for (int i = 0; i < produced; ++i)
            samples[i] = Pcm::floatToInt16(m_limiter->process(voice[i]));
    } else {
        std::memcpy(samples, converted->bytes(), size_t(produced) * 2);
    }

    double rawPeak = 0;
    if (const float* raw = block.floatChannelData(0)) {
        const int stride = block.stride();
        for (int i = 0; i < frames; ++i)
            rawPeak = std::max(rawPeak, double(std::fabs(raw[size_t(i) * size_t(stride)])));
    }
    int peak = 0;
    for (int i = 0; i < produced; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    m_health.inputSignal(rawPeak, double(peak) / 32768.0, produced);
    m_health.update([&](AudioFlowHealth::Counters& counters, double now) {
        counters.inputTime = now;
        counters.inputFrames += produced;
    });
    if (m_tapRecorder)
        m_tapRecorder->append(wire, 0);
    if (AudioBridge* monitor = m_monitorForTap.load(std::memory_order_acquire)) {
        // The call and the operator's speakers run on two clocks: the guard keeps the queue between them.
        const auto action =
            kSkewGuard.decide(monitor->m_player->queuedBlocks(), peak <= ClockSkewGuard::kQuietPeak);
        auto play = action == ClockSkewGuard::Action::Drop ? nullptr : playbackBuffer(wire);
        if (play && action == ClockSkewGuard::Action::PlayTwice)
            schedule(*monitor->m_player, monitor->m_health, play);
        if (play)
            schedule(*monitor->m_player, monitor->m_health, std::move(play));
    }
    if (onPCM)
        onPCM(wire);
}

void AudioBridge::outputBlock(const PcmBlock& block)
{
    const double rate = block.format().sampleRateHz;
    const int frames = block.frameLength();
    m_health.update([&](AudioFlowHealth::Counters& counters, double) {
        if (rate > 0)
            counters.rawOutputSeconds += double(frames) / rate;
    });
    auto converted = PcmBlock::make(wireFormat(), AudioConverter::outputCapacity(frames, rate, 24000.0));
    if (!converted)
        return;
    if (!m_outputConverter->convert(block, *converted)) {
        m_health.update([](AudioFlowHealth::Counters& counters, double) { ++counters.outputErrors; });
        return;
    }
    const int produced = converted->frameLength();
    if (converted->int16ChannelData(0) == nullptr || produced < 1)
        return;
    m_health.update([&](AudioFlowHealth::Counters& counters, double now) {
        counters.outputTime = now;
        counters.outputFrames += produced;
    });
    if (m_tapRecorder)
        m_tapRecorder->append(QByteArray(static_cast<const char*>(converted->bytes()), produced * 2), 1);
}

std::shared_ptr<PcmBlock> AudioBridge::playbackBuffer(const QByteArray& pcm)
{
    if (pcm.size() < 2 || pcm.size() >= kMaxPlayBytes)
        return nullptr;
    const int frames = int(pcm.size() / 2);
    auto block = PcmBlock::make(playFormat(), frames);
    if (!block)
        return nullptr;
    block->setFrameLength(frames);
    float* out = block->floatChannelData(0);
    for (int i = 0; i < frames; ++i) {
        int16_t sample;
        std::memcpy(&sample, pcm.constData() + 2 * i, 2);
        out[i] = Pcm::int16ToFloat(sample);
    }
    return block;
}

void AudioBridge::schedule(AudioPlayerNode& player, AudioFlowHealth& health, std::shared_ptr<PcmBlock> block)
{
    const int64_t generation = health.update([](AudioFlowHealth::Counters& counters, double now) {
        if (counters.pending == 0)
            counters.demandTime = now;
        ++counters.pending;
        return counters.generation;
    });
    AudioFlowHealth* counters = &health;
    const bool scheduled = player.scheduleBuffer(std::move(block), [counters, generation] {
        counters->update([&](AudioFlowHealth::Counters& c, double) {
            if (c.generation == generation)
                c.pending = std::max<int64_t>(0, c.pending - 1);
        });
    });
    if (!scheduled)
        health.update([&](AudioFlowHealth::Counters& c, double) {
            if (c.generation == generation)
                c.pending = std::max<int64_t>(0, c.pending - 1);
        });
}

void AudioBridge::enqueue(const QByteArray& pcm)
{
    auto block = playbackBuffer(pcm);
    if (!block)
        return;
    m_voiceQueuedEnd = voiceQueuedFrames() + block->frameLength();
    schedule(*m_player, m_health, std::move(block));
}

int64_t AudioBridge::voicePlayedFrames() const
{
    return m_voicePlayedBase + m_player->playedFrames();
}

void AudioBridge::interrupt()
{
    m_health.update([](AudioFlowHealth::Counters& counters, double) {
        counters.pending = 0;
        ++counters.generation;
    });
    m_player->stop();
    m_voiceQueuedEnd = voicePlayedFrames();
    if (m_playback->isRunning())
        m_player->play();
}

void AudioBridge::stop()
{
    stopIntervention();
    if (m_tapped) {
        captureEngine().engine().removeTap(captureEngine().engine().inputNode(), 0);
        m_tapped = false;
    }
    if (m_outputTapped) {
        m_playback->engine().removeTap(m_playback->engine().mainMixerNode(), 0);
        m_outputTapped = false;
    }
    if (m_capture)
        m_capture->stop();
    m_player->stop();
    m_playback->stop();
    m_voiceQueuedEnd = voicePlayedFrames();
    m_health.update([](AudioFlowHealth::Counters& counters, double) {
        counters.pending = 0;
        ++counters.generation;
    });
}

void AudioBridge::startIntervention(AudioObjectID microphoneID, AudioObjectID listeningID, AudioObjectID)
{
    stopIntervention();
    if (!m_playback->isRunning())
        throw AppError(QStringLiteral("Le son de l’appel doit fonctionner avant d’intervenir."));
    try {
        m_interventionRoute.prepare(microphoneID, listeningID);
    } catch (...) {
        stopIntervention();
        throw;
    }
    auto monitor = std::make_unique<AudioBridge>(m_hardware);
    AudioPlayerNode* operatorPlayer = m_operatorPlayer.get();
    // The operator's voice goes to the phone; this bridge outlives its monitor.
    // The operator's microphone and the call run on two clocks: the guard keeps the queue between them.
    monitor->onPCM = [operatorPlayer](const QByteArray& pcm) {
        const auto action = kSkewGuard.decide(
            operatorPlayer->queuedBlocks(),
            ClockSkewGuard::isQuiet(reinterpret_cast<const short*>(pcm.constData()), int(pcm.size() / 2)));
        if (action == ClockSkewGuard::Action::Drop)
            return;
        if (auto block = playbackBuffer(pcm)) {
            if (action == ClockSkewGuard::Action::PlayTwice)
                operatorPlayer->scheduleBuffer(block);
            operatorPlayer->scheduleBuffer(std::move(block));
        }
    };
    try {
        monitor->start(microphoneID, listeningID, true);
    } catch (...) {
        monitor.reset();
        stopIntervention();
        throw;
    }
    // The caller's blocks reach the monitor's player one capture block at a time; a lead of silence
    // keeps its queue from running dry between two of them.
    monitor->m_player->scheduleBuffer(playbackBuffer(QByteArray(kMonitorLeadFrames * 2, '\0')));
    m_operatorPlayer->scheduleBuffer(playbackBuffer(QByteArray(kMonitorLeadFrames * 2, '\0')));
    m_monitor = std::move(monitor);
    m_monitorForTap.store(m_monitor.get(), std::memory_order_release);
    interrupt();
    m_operatorPlayer->play();
}

void AudioBridge::stopIntervention()
{
    if (m_monitor) {
        m_monitorForTap.store(nullptr, std::memory_order_release);
        // No capture block of ours may still be scheduling on the monitor's player.
        if (m_tapped)
            captureEngine().synchronize();
        m_monitor->stop();
        m_monitor->onPCM = nullptr;
        m_monitor.reset();
    }
    m_operatorPlayer->stop();
    m_interventionRoute.restore();
}

bool AudioBridge::enginesRunning() const
{
    return captureEngine().isRunning() && m_playback->isRunning();
}

bool AudioBridge::needsRestart() const
{
    return !enginesRunning() || m_health.stalled() || (m_monitor && m_monitor->needsRestart());
}

void AudioBridge::resumeStoppedEngines()
{
    if (enginesRunning())
        return;
    if (!m_tapped || !m_outputTapped)
        return;
    const AudioFormat input = captureEngine().currentInputFormat();
    const AudioFormat output = m_playback->currentOutputFormat();
    if (!m_captureFormat || !m_mixerFormat || !(*m_captureFormat == input) ||
        !(*m_mixerFormat == AudioFormat::standard(output.sampleRateHz, output.channels)))
        throw AppError(QStringLiteral(
            "macOS a modifié le format audio. Relancez la vérification pour reconstruire le circuit."));
    m_player->stop();
    m_health.reset();
    if (!m_playback->isRunning())
        m_playback->start();
    if (m_capture && !m_capture->isRunning())
        m_capture->start();
    m_player->play();
}

QString AudioBridge::flowStatus() const
{
    const auto state = [](bool running) {
        return running ? QStringLiteral("actif") : QStringLiteral("arrêté");
    };
    return m_health.description() + QStringLiteral(" · ") + m_health.signalDescription() +
           QStringLiteral(" · ") + m_routeDescription + QStringLiteral(" · moteurs entrée/sortie : ") +
           state(captureEngine().isRunning()) + QStringLiteral("/") + state(m_playback->isRunning());
}

AudioBridge::Levels AudioBridge::inputLevels() const
{
    return m_health.update([](AudioFlowHealth::Counters& counters, double now) {
        if (now - counters.signalTime < 0.5)
            return Levels{counters.latestRaw, counters.latestPCM};
        return Levels{};
    });
}

void AudioBridge::applyVoiceEQ(const VoiceEQSettings& settings)
{
    m_voiceEQ = settings;
    if (m_voiceOutput)
        m_voiceOutput->apply(settings);
}

void AudioBridge::synchronize()
{
    if (m_capture)
        m_capture->synchronize();
    m_playback->synchronize();
    if (m_monitor)
        m_monitor->synchronize();
}
