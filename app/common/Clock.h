#pragma once

#include <QDateTime>

// Wall date and uptime. Production reads the system; tests move a manual clock by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Seconds since an arbitrary fixed origin, never going back (the system uptime in production).
    virtual double uptimeSeconds() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    double uptimeSeconds() const override;
};

class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC),
                         double uptimeSeconds = 1000.0);

    QDateTime now() const override;
    double uptimeSeconds() const override { return m_uptimeSeconds; }

    void advance(double seconds);
    // Moves the wall date alone, as when the user changes the system clock.
    void setNow(const QDateTime& now);

private:
    // The wall date is kept as an exact offset from a base, so many small steps add up without
    // millisecond rounding drifting it away from the uptime.
    QDateTime m_base;
    double m_wallOffsetSeconds = 0;
    double m_uptimeSeconds;
};

// Dates are stored as seconds since 2001-01-01 00:00:00 UTC, the platform's reference date.
double secondsSinceReferenceDate(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);
