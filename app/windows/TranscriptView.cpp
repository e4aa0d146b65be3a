#include "app/windows/TranscriptView.h"

TranscriptView::TranscriptView(const QString& placeholder, QWidget* parent)
    : QWidget(parent), m_placeholder(placeholder)
{
}

void TranscriptView::setLines(const QList<TranscriptLine>&) {}
