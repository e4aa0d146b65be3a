#include "app/audio/AudioRouteProbe.h"

#include "app/audio/AudioBridge.h"
#include "app/audio/CallAudioRecorder.h"
#include "app/audio/ProbeMeter.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/Clock.h"
#include "app/common/Scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QUuid>
#include <cmath>
#include <numbers>
#include <sndfile.h>

namespace {

constexpr double kSettleSeconds = 0.3;
constexpr double kStepSeconds = 0.1;
constexpr int kListenSteps = 60; // 6 s, less than the tone, so it still plays when measured
constexpr int64_t kCompleteFrames = 120'000;
constexpr int64_t kDetectSamples = 8'000;
constexpr double kDetectAmplitude = 0.012;
constexpr double kMacLimitSeconds = 15.0;
constexpr int kMacRestarts = 3;

int64_t fileFrames(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (file == nullptr)
        throw AppError(QStringLiteral("Impossible d’ouvrir l’enregistrement du test audio."));
    sf_close(file);
    return info.frames;
}

bool isAlive(hal::AudioHardware& hardware, AudioObjectID device)
{
    UInt32 alive = 0;
    return hal::readValue(hardware, device, hal::address(kAudioDevicePropertyDeviceIsAlive), alive) ==
               kAudioHardwareNoError &&
           alive != 0;
}

AudioObjectID systemDefault(hal::AudioHardware& hardware, AudioObjectPropertySelector selector)
{
    AudioObjectID device = kAudioObjectUnknown;
    hal::readValue(hardware, kAudioObjectSystemObject, hal::address(selector), device);
    return device;
}

const QByteArray& macSilence()
{
    static const QByteArray silence(960'000, '\0'); // 20 s of wire PCM
    return silence;
}

} // namespace

struct AudioRouteProbe::Run {
    Done done;
    TaskHandle next;
    std::unique_ptr<AudioBridge> bridge;

    // The virtual circuits, in order.
    QList<std::pair<SoundDevice, double>> circuits;
    int circuit = 0;
    std::shared_ptr<ProbeMeter> meter;
    std::shared_ptr<CallAudioRecorder> recorder;
    QString folder;
    int listened = 0;
    bool awaitingRecording = false;
    QString recordedFile;
    bool needsRestart = false;
    AudioFlowHealth::Counters counters;
    QString status;

    // The Mac route.
    AudioObjectID input = kAudioObjectUnknown;
    AudioObjectID output = kAudioObjectUnknown;
    Progress progress;
    double startedSeconds = 0;
    int restarts = 0;
};

AudioRouteProbe::AudioRouteProbe(hal::AudioHardware& hardware, Scheduler& scheduler, const Clock& clock)
    : m_hardware(hardware), m_scheduler(scheduler), m_clock(clock)
{
}

AudioRouteProbe::~AudioRouteProbe()
{
    cancel();
}

QByteArray AudioRouteProbe::tone(double frequencyHz)
{
    QByteArray bytes(kToneSamples * 2, Qt::Uninitialized);
    auto* samples = reinterpret_cast<int16_t*>(bytes.data());
    for (int n = 0; n < kToneSamples; ++n) {
        const double ramp = std::min({double(n) / 240.0, double(kToneSamples - 1 - n) / 240.0, 1.0});
        samples[n] =
            int16_t(std::trunc(std::sin(2.0 * std::numbers::pi * frequencyHz * n / 24000.0) * 3276.0 * ramp));
    }
    return bytes;
}

void AudioRouteProbe::after(double seconds, Step step)
{
    std::weak_ptr<Run> run = m_run;
    m_run->next = m_scheduler.after(seconds, [this, run, step] {
        if (!run.expired())
            attempt(step);
    });
}

void AudioRouteProbe::attempt(Step step)
{
    try {
        (this->*step)();
    } catch (const AppError& failure) {
        finish(failure);
    }
}

void AudioRouteProbe::finish(const std::optional<AppError>& failure)
{
    if (!m_run)
        return;
    cleanUp();
    Done done = std::move(m_run->done);
    m_run.reset();
    // Last: `done` may start another run.
    if (done)
        done(failure);
}

void AudioRouteProbe::cancel()
{
    if (!m_run)
        return;
    cleanUp();
    m_run.reset();
}

// Every way out of a circuit or of the Mac route: the bridge stops, the recording and its folder go.
void AudioRouteProbe::cleanUp()
{
    Run& run = *m_run;
    run.next.cancel();
    if (run.bridge) {
        run.bridge->stop();
        run.bridge->onPCM = nullptr;
        run.bridge->recorder.reset();
        run.bridge.reset();
    }
    if (run.recorder) {
        // Its queue may still be writing into the folder.
        run.recorder->waitUntilIdle();
        run.recorder.reset();
    }
    if (!run.folder.isEmpty())
        QDir(run.folder).removeRecursively();
    run.folder.clear();
    run.meter.reset();
}

bool AudioRouteProbe::isAwaitingRecording() const
{
    return m_run && m_run->awaitingRecording;
}

void AudioRouteProbe::run(const QList<SoundDevice>& devices, Done done)
{
    cancel();
    m_run = std::make_shared<Run>();
    m_run->done = std::move(done);
    if (const auto pair = VelkaroDevices::pair(devices)) {
        m_run->circuits = {{pair->call, kCallToneHz}, {pair->voice, kVoiceToneHz}};
        after(0, &AudioRouteProbe::startCircuit);
    } else {
        after(0, &AudioRouteProbe::driverMissing);
    }
}

void AudioRouteProbe::driverMissing()
{
    throw AppError(
        QStringLiteral("Le module audio Orlea n’est pas chargé. Installez-le puis redémarrez le Mac."));
}

void AudioRouteProbe::startCircuit()
{
    Run& run = *m_run;
    const auto& [device, frequencyHz] = run.circuits[run.circuit];
    run.bridge = std::make_unique<AudioBridge>(m_hardware);
    run.meter = std::make_shared<ProbeMeter>(frequencyHz);
    run.folder = QDir::tempPath() + QStringLiteral("/velkaro-probe-") +
                 QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    run.recorder = std::make_shared<CallAudioRecorder>(run.folder + QStringLiteral("/probe.wav"));
    run.bridge->recorder = run.recorder;
    run.bridge->onPCM = [meter = run.meter](const QByteArray& pcm) { meter->append(pcm); };
    run.bridge->start(device.id, device.id, false);
    if (bridgeStarted)
        bridgeStarted(*run.bridge);
    after(kSettleSeconds, &AudioRouteProbe::playTone);
}

void AudioRouteProbe::playTone()
{
    Run& run = *m_run;
    run.bridge->synchronize();
    run.bridge->enqueue(tone(run.circuits[run.circuit].second));
    run.listened = 0;
    after(kStepSeconds, &AudioRouteProbe::listen);
}

void AudioRouteProbe::listen()
{
    Run& run = *m_run;
    // Slices keep the taps up to date, and a circuit whose device went away is not waited for.
    run.bridge->synchronize();
    ++run.listened;
    const SoundDevice& device = run.circuits[run.circuit].first;
    if (run.listened < kListenSteps && run.bridge->enginesRunning() && isAlive(m_hardware, device.id)) {
        after(kStepSeconds, &AudioRouteProbe::listen);
        return;
    }
    run.needsRestart = run.bridge->needsRestart();
    run.counters = run.bridge->health().snapshot();
    run.status = run.bridge->flowStatus();
    run.bridge->stop();
    // The recording is mixed on the recorder's queue; its result comes back to this thread.
    run.awaitingRecording = true;
    std::weak_ptr<Run> weak = m_run;
    run.recorder->finish([this, weak](const CallAudioRecorder::Result& result) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, weak, result] {
                if (weak.expired())
                    return;
                m_run->awaitingRecording = false;
                if (const AppError* failure = std::get_if<AppError>(&result)) {
                    finish(*failure);
                    return;
                }
                m_run->recordedFile = std::get<QString>(result);
                attempt(&AudioRouteProbe::checkCircuit);
            },
            Qt::QueuedConnection);
    });
}

void AudioRouteProbe::checkCircuit()
{
    Run& run = *m_run;
    const SoundDevice& device = run.circuits[run.circuit].first;
    const int64_t frames = fileFrames(run.recordedFile);
    if (run.needsRestart || run.counters.inputFrames < kCompleteFrames ||
        run.counters.outputFrames < kCompleteFrames || frames < kCompleteFrames)
        throw AppError(QStringLiteral("Test incomplet de « ") + device.name + QStringLiteral(" » : ") +
                       run.status + QStringLiteral(", enregistrement ") +
                       QString::asprintf("%.1f", double(frames) / 24000.0) +
                       QStringLiteral(" s sur 6 s attendues. Le standard reste désactivé."));
    if (run.meter->count() < kDetectSamples || run.meter->amplitude() <= kDetectAmplitude)
        throw AppError(
            QStringLiteral("Le signal de test ne traverse pas « ") + device.name +
            QStringLiteral(" ». Le pilote est visible mais son transport audio doit être corrigé. Le "
                           "standard reste désactivé."));
    cleanUp();
    if (++run.circuit < run.circuits.size())
        startCircuit();
    else
        finish(std::nullopt);
}

void AudioRouteProbe::runMac(AudioObjectID inputID, AudioObjectID outputID, Progress progress, Done done)
{
    cancel();
    m_run = std::make_shared<Run>();
    m_run->done = std::move(done);
    m_run->progress = std::move(progress);
    m_run->input = inputID;
    m_run->output = outputID;
    after(0, &AudioRouteProbe::startMac);
}

void AudioRouteProbe::startMac()
{
    Run& run = *m_run;
    run.bridge = std::make_unique<AudioBridge>(m_hardware);
    run.bridge->start(run.input, run.output, true);
    if (bridgeStarted)
        bridgeStarted(*run.bridge);
    run.bridge->enqueue(macSilence());
    run.startedSeconds = m_clock.uptimeSeconds();
    run.restarts = 0;
    pollMac();
}

void AudioRouteProbe::pollMac()
{
    Run& run = *m_run;
    AudioBridge& bridge = *run.bridge;
    bridge.synchronize();
    if (m_clock.uptimeSeconds() - run.startedSeconds >= kMacLimitSeconds) {
        const AudioFlowHealth::Counters counters = bridge.health().snapshot();
        const QString status = bridge.flowStatus();
        if (counters.rawPeak > 0.003 && counters.pcmPeak == 0)
            throw AppError(
                QStringLiteral("Le micro capte du son, mais la conversion pour l’IA produit du silence. Ce "
                               "problème vient du circuit audio de Orlea. ") +
                status);
        throw AppError(QStringLiteral("Le test Mac ne peut pas valider le microphone : parlez pendant la "
                                      "vérification, puis réessayez. ") +
                       status);
    }
    // Someone chose other devices, or ours went away: this check no longer measures anything.
    if (systemDefault(m_hardware, kAudioHardwarePropertyDefaultInputDevice) != run.input ||
        systemDefault(m_hardware, kAudioHardwarePropertyDefaultOutputDevice) != run.output ||
        !isAlive(m_hardware, run.input) || !isAlive(m_hardware, run.output))
        throw AppError(
            QStringLiteral("Le périphérique audio du Mac a changé. Relancez la vérification audio du Mac."));
    if (!bridge.enginesRunning() && run.restarts < kMacRestarts) {
        bridge.resumeStoppedEngines();
        bridge.enqueue(macSilence());
        ++run.restarts;
        after(kStepSeconds, &AudioRouteProbe::pollMac);
        return;
    }
    const AudioBridge::Levels levels = bridge.inputLevels();
    if (run.progress) {
        const Run* current = m_run.get();
        run.progress(QStringLiteral("Parlez maintenant : « Bonjour, test du microphone. »\n") +
                         bridge.flowStatus(),
                     levels.raw, levels.converted);
        if (m_run.get() != current)
            return; // the report cancelled this run
    }
    const AudioFlowHealth::Counters counters = bridge.health().snapshot();
    if (!bridge.needsRestart() && counters.signalFrames >= 2400 && counters.inputFrames >= 48'000 &&
        counters.outputFrames >= 48'000) {
        finish(std::nullopt);
        return;
    }
    after(kStepSeconds, &AudioRouteProbe::pollMac);
}
