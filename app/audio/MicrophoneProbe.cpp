#include "app/audio/MicrophoneProbe.h"

#include "app/audio/DeviceAudioEngine.h"
#include "app/audio/ProbeMeter.h"
#include "app/common/AppError.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <memory>

MicrophoneProbe::MicrophoneProbe(hal::AudioHardware& hardware, ProbeTiming timing)
    : m_hardware(hardware), m_timing(std::move(timing))
{
}

bool MicrophoneProbe::run(AudioObjectID deviceID, const std::function<void(double level)>& level)
{
    DeviceAudioEngine device(m_hardware);
    AudioEngine& engine = device.engine();
    if (device.setInputDevice(deviceID) != kAudioHardwareNoError)
        throw AppError(QStringLiteral("Impossible d’ouvrir le microphone."));
    const AudioFormat format = engine.inputNode().outputFormat();
    if (!(format.sampleRateHz > 0) || format.channels <= 0)
        throw AppError(QStringLiteral("Le microphone ne fournit pas de format audio."));

    auto meter = std::make_shared<PeakMeter>();
    // Level reports hop to the main thread; ones still queued after the run are dropped.
    auto alive = std::make_shared<bool>(true);
    auto report = [level, alive](double value) {
        if (!level)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [level, alive, value] {
                if (*alive)
                    level(value);
            },
            Qt::QueuedConnection);
    };
    engine.installTap(
        engine.inputNode(), 0, 2048, format, [meter, report](const std::shared_ptr<PcmBlock>& block, double) {
            double peak = 0;
            if (const float* samples = block->floatChannelData(0))
                for (int i = 0; i < block->frameLength(); ++i)
                    peak = std::max(peak, double(std::fabs(samples[size_t(i) * size_t(block->stride())])));
            meter->add(peak);
            report(std::min(peak * 5.0, 1.0));
        });
    const auto finish = [&] {
        engine.removeTap(engine.inputNode(), 0);
        device.stop();
        *alive = false;
        if (level)
            level(0);
    };
    try {
        device.start();
        for (int done = 0; done < kListenMilliseconds; done += 100) {
            m_timing.wait(100);
            device.synchronize();
        }
    } catch (...) {
        finish();
        throw;
    }
    const double value = meter->value();
    finish();
    return value > kSoundThreshold;
}
