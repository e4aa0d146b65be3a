#include "app/audio/AudioRouteProbe.h"

#include "app/audio/AudioBridge.h"
#include "app/audio/CallAudioRecorder.h"
#include "app/audio/ProbeMeter.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"

#include <QDir>
#include <QUuid>
#include <cmath>
#include <future>
#include <numbers>
#include <sndfile.h>

namespace {

constexpr int kSettleMilliseconds = 300;
constexpr int kListenMilliseconds = 6000;
constexpr int kSliceMilliseconds = 100;
constexpr int64_t kCompleteFrames = 120'000;
constexpr int64_t kDetectSamples = 8'000;
constexpr double kDetectAmplitude = 0.012;
constexpr double kMacLimitSeconds = 15.0;
constexpr int kMacRestarts = 3;

// Stops the bridge and removes the circuit's folder on every way out.
struct CircuitCleanup {
    AudioBridge& bridge;
    QString folder;
    ~CircuitCleanup()
    {
        bridge.stop();
        bridge.onPCM = nullptr;
        bridge.recorder.reset();
        QDir(folder).removeRecursively();
    }
};

int64_t fileFrames(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (file == nullptr)
        throw AppError(QStringLiteral("Impossible d’ouvrir l’enregistrement du test audio."));
    sf_close(file);
    return info.frames;
}

} // namespace

AudioRouteProbe::AudioRouteProbe(hal::AudioHardware& hardware, ProbeTiming timing)
    : m_hardware(hardware), m_timing(std::move(timing))
{
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

void AudioRouteProbe::wait(AudioBridge& bridge, int milliseconds)
{
    for (int done = 0; done < milliseconds; done += kSliceMilliseconds) {
        m_timing.wait(std::min(kSliceMilliseconds, milliseconds - done));
        bridge.synchronize();
    }
}

void AudioRouteProbe::run(const QList<SoundDevice>& devices)
{
    const auto pair = VelkaroDevices::pair(devices);
    if (!pair)
        throw AppError(
            QStringLiteral("Le module audio Orlea n’est pas chargé. Installez-le puis redémarrez le Mac."));
    runCircuit(pair->call, kCallToneHz);
    runCircuit(pair->voice, kVoiceToneHz);
}

void AudioRouteProbe::runCircuit(const SoundDevice& device, double frequencyHz)
{
    AudioBridge bridge(m_hardware);
    auto meter = std::make_shared<ProbeMeter>(frequencyHz);
    const QString folder = QDir::tempPath() + QStringLiteral("/velkaro-probe-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    CircuitCleanup cleanup{bridge, folder};
    auto recorder = std::make_shared<CallAudioRecorder>(folder + QStringLiteral("/probe.wav"));
    bridge.recorder = recorder;
    bridge.onPCM = [meter](const QByteArray& pcm) { meter->append(pcm); };
    bridge.start(device.id, device.id, false);
    if (bridgeStarted)
        bridgeStarted(bridge);
    wait(bridge, kSettleMilliseconds);
    bridge.enqueue(tone(frequencyHz));
    wait(bridge, kListenMilliseconds);

    const bool needsRestart = bridge.needsRestart();
    const AudioFlowHealth::Counters counters = bridge.health().snapshot();
    const QString status = bridge.flowStatus();
    bridge.stop();
    std::promise<CallAudioRecorder::Result> finished;
    recorder->finish([&finished](const CallAudioRecorder::Result& result) { finished.set_value(result); });
    const CallAudioRecorder::Result result = finished.get_future().get();
    if (const AppError* error = std::get_if<AppError>(&result))
        throw *error;
    const int64_t frames = fileFrames(std::get<QString>(result));

    if (needsRestart || counters.inputFrames < kCompleteFrames || counters.outputFrames < kCompleteFrames ||
        frames < kCompleteFrames)
        throw AppError(QStringLiteral("Test incomplet de « ") + device.name + QStringLiteral(" » : ") +
                       status + QStringLiteral(", enregistrement ") +
                       QString::asprintf("%.1f", double(frames) / 24000.0) +
                       QStringLiteral(" s sur 6 s attendues. Le standard reste désactivé."));
    if (meter->count() < kDetectSamples || meter->amplitude() <= kDetectAmplitude)
        throw AppError(
            QStringLiteral("Le signal de test ne traverse pas « ") + device.name +
            QStringLiteral(" ». Le pilote est visible mais son transport audio doit être corrigé. Le "
                           "standard reste désactivé."));
}

void AudioRouteProbe::runMac(AudioObjectID inputID, AudioObjectID outputID, const Progress& progress)
{
    AudioBridge bridge(m_hardware);
    struct Stop {
        AudioBridge& bridge;
        ~Stop() { bridge.stop(); }
    } stopOnExit{bridge};
    bridge.start(inputID, outputID, true);
    if (bridgeStarted)
        bridgeStarted(bridge);
    const QByteArray silence(960'000, '\0');
    bridge.enqueue(silence);
    const double started = m_timing.uptimeSeconds();
    int restarts = 0;
    while (m_timing.uptimeSeconds() - started < kMacLimitSeconds) {
        if (!bridge.enginesRunning() && restarts < kMacRestarts) {
            bridge.resumeStoppedEngines();
            bridge.enqueue(silence);
            ++restarts;
            wait(bridge, kSliceMilliseconds);
            continue;
        }
        const AudioBridge::Levels levels = bridge.inputLevels();
        if (progress)
            progress(QStringLiteral("Parlez maintenant : « Bonjour, test du microphone. »\n") +
                         bridge.flowStatus(),
                     levels.raw, levels.converted);
        const AudioFlowHealth::Counters counters = bridge.health().snapshot();
        if (!bridge.needsRestart() && counters.signalFrames >= 2400 && counters.inputFrames >= 48'000 &&
            counters.outputFrames >= 48'000)
            return;
        wait(bridge, kSliceMilliseconds);
    }
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
