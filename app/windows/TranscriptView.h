#pragma once

#include "app/records/CallRecord.h"

#include <QWidget>

// The lines of one conversation, speaker then text, growing as they arrive; `placeholder` when empty.
class TranscriptView : public QWidget {
    Q_OBJECT
public:
    explicit TranscriptView(const QString& placeholder, QWidget* parent = nullptr);

    void setLines(const QList<TranscriptLine>& lines);

private:
    QString m_placeholder;
};
