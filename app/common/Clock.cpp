#include "app/common/Clock.h"

#include <cmath>
#include <ctime>

namespace {
const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}
} // namespace

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

double SystemClock::uptimeSeconds() const
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

ManualClock::ManualClock(QDateTime start, double uptimeSeconds)
    : m_base(std::move(start)), m_uptimeSeconds(uptimeSeconds)
{
}

QDateTime ManualClock::now() const
{
    return m_base.addMSecs(qint64(std::llround(m_wallOffsetSeconds * 1000.0)));
}

void ManualClock::advance(double seconds)
{
    m_uptimeSeconds += seconds;
    m_wallOffsetSeconds += seconds;
}

void ManualClock::setNow(const QDateTime& now)
{
    m_base = now;
    m_wallOffsetSeconds = 0;
}

double secondsSinceReferenceDate(const QDateTime& date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toLocalTime();
}
