#include "app/desktop/DemoCaller.h"

#include "platform/sim/window/CallerPhrases.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kBeepTurns = 4;

// Beeps in the rhythm of the phrases: the same first pause, turns of 1.5 s, the same pauses.
std::shared_ptr<sim::InputSource> beeps()
{
    const double rate = DemoCaller::kSampleRateHz;
    std::vector<float> samples(size_t(sim::CallerPhrases::kFirstPauseSeconds * rate), 0.0f);
    for (int turn = 0; turn < kBeepTurns; ++turn) {
        if (turn > 0)
            samples.resize(samples.size() + size_t(sim::CallerPhrases::kPauseSeconds * rate), 0.0f);
        for (size_t i = 0; i < size_t(1.5 * rate); ++i)
            samples.push_back(0.3f * float(std::sin(2 * std::numbers::pi * 440.0 * double(i) / rate)));
    }
    return sim::InputSource::samples(std::move(samples));
}

} // namespace

std::shared_ptr<DemoCaller> DemoCaller::make(const QString& cacheFolder)
{
    QString why;
    if (!sim::CallerPhrases::available()) {
        why = QStringLiteral("espeak-ng, sox ou les phrases de l’appelant sont introuvables");
    } else if (auto voice = sim::CallerPhrases::voice(cacheFolder, &why)) {
        return std::shared_ptr<DemoCaller>(
            new DemoCaller(std::move(voice), int(sim::CallerPhrases::lines().size()), QString()));
    }
    return std::shared_ptr<DemoCaller>(new DemoCaller(beeps(), kBeepTurns, why));
}

std::shared_ptr<sim::InputSource> DemoCaller::personAtTheMac(const QString& cacheFolder)
{
    const QString path = cacheFolder + QStringLiteral("/test-du-micro.wav");
    const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    if (!QFileInfo::exists(path) && !espeak.isEmpty() && QDir().mkpath(cacheFolder)) {
        const QString partial = path + QStringLiteral(".part.wav");
        QProcess speak;
        speak.start(espeak, {QStringLiteral("-v"), QStringLiteral("fr"), QStringLiteral("-w"), partial,
                             QStringLiteral("Bonjour, test du microphone.")});
        if (speak.waitForFinished(20000) && speak.exitStatus() == QProcess::NormalExit &&
            speak.exitCode() == 0)
            QFile::rename(partial, path);
        QFile::remove(partial);
    }
    if (QFileInfo::exists(path)) {
        if (auto voice = sim::InputSource::wavFile(QFile::encodeName(path).toStdString(), true))
            return voice;
    }
    return sim::InputSource::tone(330, 0.2f);
}

DemoCaller::DemoCaller(std::shared_ptr<sim::InputSource> voice, int turns, QString fallbackReason)
    : m_voice(std::move(voice)), m_turns(turns), m_fallbackReason(std::move(fallbackReason)),
      m_leadInFrames(uint64_t(kLeadInSeconds * kSampleRateHz))
{
}

void DemoCaller::render(float* out, uint32_t frames, uint32_t channels)
{
    const uint32_t quiet = uint32_t(std::min<uint64_t>(frames, m_leadInFrames));
    std::fill(out, out + size_t(quiet) * channels, 0.0f);
    m_leadInFrames -= quiet;
    if (quiet < frames)
        m_voice->render(out + size_t(quiet) * channels, frames - quiet, channels);
    if (m_firstSoundNs.load(std::memory_order_relaxed) >= 0)
        return;
    for (size_t i = size_t(quiet) * channels; i < size_t(frames) * channels; ++i) {
        if (std::fabs(out[i]) >= kSoundLevel) {
            // The buffer plays from now on; its frame i / channels a little later.
            const auto at = std::chrono::steady_clock::now() +
                            std::chrono::nanoseconds(int64_t(double(i / channels) / kSampleRateHz * 1e9));
            m_firstSoundNs.store(
                std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
            return;
        }
    }
}

std::optional<std::chrono::steady_clock::time_point> DemoCaller::firstSound() const
{
    const int64_t ns = m_firstSoundNs.load();
    if (ns < 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}
