#pragma once

#include <QList>
#include <QString>
#include <optional>

// How quickly the AI answered in one conversation: for each answer, the time from the end of the
// caller's speech to the first sample of the answer delivered to the phone. A record keeps the count,
// the median and the 90th percentile in whole milliseconds.
struct ResponseLatency {
    int turns = 0;
    int medianMs = 0;
    int p90Ms = 0;

    // Nothing for an empty list. Median of the sorted values (mean of the middle two for an even
    // count), 90th percentile by nearest rank (the ⌈0.9 n⌉-th smallest).
    static std::optional<ResponseLatency> summarize(const QList<double>& seconds);

    // "Réactivité : médiane 0,9 s · 9 réponses sur 10 en 1,4 s ou moins · 12 réponses mesurées"
    QString label() const;
    // The live line during a call: "Réactivité : 0,9 s" for the last answer, then " · médiane 1,1 s"
    // once there are two; empty before the first answer.
    static QString liveLabel(const QList<double>& seconds);
    // "0,9 s": seconds with one decimal and a decimal comma.
    static QString secondsText(double seconds);

    bool operator==(const ResponseLatency&) const = default;
};
