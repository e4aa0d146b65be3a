#include "app/audio/ProbeTiming.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

ProbeTiming ProbeTiming::system()
{
    ProbeTiming timing;
    timing.wait = [](int milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    };
    timing.uptimeSeconds = [] {
        static QElapsedTimer timer = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return double(timer.nsecsElapsed()) / 1e9;
    };
    return timing;
}
