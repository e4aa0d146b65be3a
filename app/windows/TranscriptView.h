#pragma once

#include "app/records/CallRecord.h"

#include <QWidget>

class QLabel;
class QTextBrowser;

// The lines of one conversation, speaker then text, growing as they arrive; `placeholder` when empty.
// While the reader is at the bottom, new lines keep the newest one in view.
class TranscriptView : public QWidget {
    Q_OBJECT
public:
    explicit TranscriptView(const QString& placeholder, QWidget* parent = nullptr);

    // After the text of an answer the caller cut short.
    static const QString kInterruptedMark;

    void setLines(const QList<TranscriptLine>& lines);

    const QList<TranscriptLine>& lines() const { return m_lines; }
    // What the reader sees, as plain text ("Orlea : Bonjour…" one line each).
    QString plainText() const;
    bool showsPlaceholder() const;

private:
    void appendLine(const TranscriptLine& line);

    QString m_placeholder;
    QList<TranscriptLine> m_lines;
    QLabel* m_placeholderLabel = nullptr;
    QTextBrowser* m_text = nullptr;
    // The view shows the newest line and keeps it in view through new lines and resizes, until the
    // user scrolls up to read.
    bool m_followNewest = true;
};
