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
    : m_now(std::move(start)), m_uptimeSeconds(uptimeSeconds)
{
}

void ManualClock::advance(double seconds)
{
    m_uptimeSeconds += seconds;
    m_now = m_now.addMSecs(qint64(std::llround(seconds * 1000.0)));
}

double secondsSinceReferenceDate(const QDateTime& date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toLocalTime();
}
