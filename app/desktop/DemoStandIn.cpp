#include "app/desktop/DemoStandIn.h"

#include <QJsonObject>
#include <QtEndian>
#include <cstdlib>

namespace {

bool holdsSound(const QByteArray& pcm)
{
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
        if (std::abs(int(qFromLittleEndian<qint16>(pcm.constData() + i))) >= DemoStandIn::kSoundPeak)
            return true;
    return false;
}

} // namespace

bool DemoStandIn::start()
{
    m_firstSoundNs = -1;
    RealtimeStandInThread::Options options;
    options.speed = 1.0;
    options.onEvent = [this](const QJsonObject& event) {
        if (m_firstSoundNs.load() >= 0 ||
            event.value(QLatin1String("type")).toString() != QLatin1String("input_audio_buffer.append"))
            return;
        const QByteArray pcm =
            QByteArray::fromBase64(event.value(QLatin1String("audio")).toString().toLatin1());
        if (holdsSound(pcm))
            m_firstSoundNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    };
    return m_server.start(options);
}

std::optional<std::chrono::steady_clock::time_point> DemoStandIn::firstSoundReceived() const
{
    const std::int64_t ns = m_firstSoundNs.load();
    if (ns < 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}
