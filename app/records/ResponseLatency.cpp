#include "app/records/ResponseLatency.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000.0));
}

double median(const QList<double>& sorted)
{
    const qsizetype middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
}

} // namespace

std::optional<ResponseLatency> ResponseLatency::summarize(const QList<double>& seconds)
{
    if (seconds.isEmpty())
        return std::nullopt;
    QList<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype rank = (9 * sorted.size() + 9) / 10; // ⌈0.9 n⌉ without rounding surprises
    return ResponseLatency{int(sorted.size()), milliseconds(median(sorted)), milliseconds(sorted[rank - 1])};
}

QString ResponseLatency::secondsText(double seconds)
{
    // The interface is French whatever the system's locale.
    return QLocale(QLocale::French, QLocale::France).toString(seconds, 'f', 1) + QStringLiteral(" s");
}

QString ResponseLatency::label() const
{
    QString text = QStringLiteral("Réactivité : médiane ") + secondsText(medianMs / 1000.0);
    // Below ten answers the 90th percentile is the slowest one: say so rather than "9 sur 10".
    if (turns >= 10)
        text += QStringLiteral(" · 9 réponses sur 10 en ") + secondsText(p90Ms / 1000.0) +
                QStringLiteral(" ou moins");
    else if (turns >= 2)
        text += QStringLiteral(" · la plus lente en ") + secondsText(p90Ms / 1000.0);
    text += turns == 1 ? QStringLiteral(" · 1 réponse mesurée")
                       : QStringLiteral(" · %1 réponses mesurées").arg(turns);
    return text;
}

QString ResponseLatency::liveLabel(const QList<double>& seconds)
{
    if (seconds.isEmpty())
        return QString();
    QString text = QStringLiteral("Réactivité : ") + secondsText(seconds.last());
    if (seconds.size() >= 2) {
        QList<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        text += QStringLiteral(" · médiane ") + secondsText(median(sorted));
    }
    return text;
}
