#include "app/desktop/DemoStandIn.h"

#include "tools/realtime-standin/RealtimeStandIn.h"
#include "tools/realtime-standin/StandInAgent.h"
#include "tools/realtime-standin/StandInScript.h"

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

DemoStandIn::DemoStandIn()
{
    m_thread.setObjectName(QStringLiteral("demo-ai"));
}

DemoStandIn::~DemoStandIn()
{
    stop();
}

bool DemoStandIn::start()
{
    stop();
    m_firstSoundNs = -1;
    m_anchor = new QObject;
    m_anchor->moveToThread(&m_thread);
    m_thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        m_anchor,
        [&] {
            auto* server = new RealtimeStandIn(m_anchor);
            auto* agent = new StandInAgent(*server, StandInScript::builtIn(), m_anchor);
            agent->setSpeed(1.0);
            QObject::connect(
                server, &RealtimeStandIn::eventReceived, m_anchor, [this](const QJsonObject& event) {
                    if (m_firstSoundNs.load() >= 0 || event.value(QLatin1String("type")).toString() !=
                                                          QLatin1String("input_audio_buffer.append"))
                        return;
                    const QByteArray pcm =
                        QByteArray::fromBase64(event.value(QLatin1String("audio")).toString().toLatin1());
                    if (holdsSound(pcm))
                        m_firstSoundNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count();
                });
            listening = server->listen();
            m_errorString = server->errorString();
            m_url = server->url();
        },
        Qt::BlockingQueuedConnection);
    if (!listening)
        stop();
    return listening;
}

void DemoStandIn::stop()
{
    if (!m_anchor)
        return;
    QObject* anchor = m_anchor;
    m_anchor = nullptr;
    // The server's sockets must die on the thread that owns them.
    QMetaObject::invokeMethod(
        anchor, [anchor] { delete anchor; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

std::optional<std::chrono::steady_clock::time_point> DemoStandIn::firstSoundReceived() const
{
    const std::int64_t ns = m_firstSoundNs.load();
    if (ns < 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}
