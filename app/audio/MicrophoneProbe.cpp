#include "app/audio/MicrophoneProbe.h"

#include "app/audio/DeviceAudioEngine.h"
#include "app/audio/ProbeMeter.h"
#include "app/common/Scheduler.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kStepSeconds = 0.1;
} // namespace

struct MicrophoneProbe::Run {
    AudioObjectID deviceID = kAudioObjectUnknown;
    Level level;
    Done done;
    TaskHandle next;
    std::unique_ptr<DeviceAudioEngine> device;
    std::shared_ptr<PeakMeter> meter = std::make_shared<PeakMeter>();
    // Main thread only: level reports still queued when the run ends see it false.
    std::shared_ptr<bool> reporting = std::make_shared<bool>(true);
    int listened = 0;
};

MicrophoneProbe::MicrophoneProbe(hal::AudioHardware& hardware, Scheduler& scheduler)
    : m_hardware(hardware), m_scheduler(scheduler)
{
}

MicrophoneProbe::~MicrophoneProbe()
{
    cancel();
}

void MicrophoneProbe::run(AudioObjectID deviceID, Level level, Done done)
{
    cancel();
    m_run = std::make_shared<Run>();
    m_run->deviceID = deviceID;
    m_run->level = std::move(level);
    m_run->done = std::move(done);
    after(0, &MicrophoneProbe::start);
}

void MicrophoneProbe::cancel()
{
    end(std::nullopt);
}

void MicrophoneProbe::after(double seconds, void (MicrophoneProbe::*step)())
{
    std::weak_ptr<Run> run = m_run;
    m_run->next = m_scheduler.after(seconds, [this, run, step] {
        if (run.expired())
            return;
        try {
            (this->*step)();
        } catch (const AppError& failure) {
            end(Result(failure));
        }
    });
}

void MicrophoneProbe::start()
{
    Run& run = *m_run;
    run.device = std::make_unique<DeviceAudioEngine>(m_hardware);
    AudioEngine& engine = run.device->engine();
    if (run.device->setInputDevice(run.deviceID) != kAudioHardwareNoError)
        throw AppError(QStringLiteral("Impossible d’ouvrir le microphone."));
    const AudioFormat format = engine.inputNode().outputFormat();
    if (!(format.sampleRateHz > 0) || format.channels <= 0)
        throw AppError(QStringLiteral("Le microphone ne fournit pas de format audio."));
    auto report = [level = run.level, reporting = run.reporting](double value) {
        if (!level)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [level, reporting, value] {
                if (*reporting)
                    level(value);
            },
            Qt::QueuedConnection);
    };
    engine.installTap(engine.inputNode(), 0, 2048, format,
                      [meter = run.meter, report](const std::shared_ptr<PcmBlock>& block, double) {
                          double peak = 0;
                          if (const float* samples = block->floatChannelData(0))
                              for (int i = 0; i < block->frameLength(); ++i)
                                  peak = std::max(
                                      peak, double(std::fabs(samples[size_t(i) * size_t(block->stride())])));
                          meter->add(peak);
                          report(std::min(peak * 5.0, 1.0));
                      });
    run.device->start();
    run.listened = 0;
    after(kStepSeconds, &MicrophoneProbe::listen);
}

void MicrophoneProbe::listen()
{
    Run& run = *m_run;
    run.device->synchronize();
    // An unplugged microphone stops the engine: nothing more to hear.
    if (!run.device->isRunning())
        throw AppError(QStringLiteral("Microphone indisponible."));
    if (++run.listened < int(std::lround(kListenSeconds / kStepSeconds))) {
        after(kStepSeconds, &MicrophoneProbe::listen);
        return;
    }
    end(Result(run.meter->value() > kSoundThreshold));
}

// Every way out: tap removed, engine stopped, level 0; then `done` with the result, if any.
void MicrophoneProbe::end(const std::optional<Result>& result)
{
    if (!m_run)
        return;
    const std::shared_ptr<Run> run = std::move(m_run);
    run->next.cancel();
    if (run->device) {
        run->device->engine().removeTap(run->device->engine().inputNode(), 0);
        run->device->stop();
        run->device.reset();
    }
    *run->reporting = false;
    if (run->level)
        run->level(0);
    if (result && run->done)
        run->done(*result);
}
