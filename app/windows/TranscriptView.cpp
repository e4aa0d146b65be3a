#include "app/windows/TranscriptView.h"

#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>

#include <algorithm>

const QString TranscriptView::kInterruptedMark = QStringLiteral(" — coupé par l’appelant");

namespace {
QColor speakerColor(const QString& speaker)
{
    if (speaker == QStringLiteral("Orlea"))
        return Theme::kAccent;
    if (speaker == QStringLiteral("Interlocuteur"))
        return Theme::kText;
    return Theme::kSecondaryText;
}
} // namespace

TranscriptView::TranscriptView(const QString& placeholder, QWidget* parent)
    : QWidget(parent), m_placeholder(placeholder)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_placeholderLabel = Theme::caption(placeholder, this);
    m_placeholderLabel->setObjectName(QStringLiteral("transcriptPlaceholder"));
    m_placeholderLabel->setAlignment(Qt::AlignCenter);
    m_placeholderLabel->setMinimumHeight(72);
    layout->addWidget(m_placeholderLabel);

    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("transcriptText"));
    m_text->setOpenLinks(false);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setMinimumHeight(120);
    m_text->document()->setDocumentMargin(6);
    m_text->hide();
    layout->addWidget(m_text, 1);

    QScrollBar* scroll = m_text->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this,
            [this, scroll](int value) { m_followNewest = value >= scroll->maximum() - 4; });
    // Lines wrap again when the view narrows or shortens: the newest must not slip below the edge.
    connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int maximum) {
        if (m_followNewest)
            scroll->setValue(maximum);
    });
}

void TranscriptView::setLines(const QList<TranscriptLine>& lines)
{
    if (lines == m_lines)
        return;
    QScrollBar* scroll = m_text->verticalScrollBar();
    const bool followNewest = m_lines.isEmpty() || m_followNewest;
    const bool grows =
        lines.size() > m_lines.size() && std::equal(m_lines.begin(), m_lines.end(), lines.begin());
    if (!grows) {
        m_text->clear();
        m_lines.clear();
    }
    for (qsizetype index = m_lines.size(); index < lines.size(); ++index)
        appendLine(lines[index]);
    m_lines = lines;

    m_placeholderLabel->setVisible(m_lines.isEmpty());
    m_text->setVisible(!m_lines.isEmpty());
    if (followNewest) {
        m_followNewest = true;
        scroll->setValue(scroll->maximum());
        // The document lays out lazily: scroll again once the new lines have their height.
        QMetaObject::invokeMethod(
            this, [scroll] { scroll->setValue(scroll->maximum()); }, Qt::QueuedConnection);
    }
}

void TranscriptView::appendLine(const TranscriptLine& line)
{
    QTextCursor cursor(m_text->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_lines.isEmpty() || !m_text->document()->isEmpty())
        cursor.insertBlock();
    QTextBlockFormat spacing;
    spacing.setBottomMargin(6);
    cursor.setBlockFormat(spacing);

    QTextCharFormat speaker;
    speaker.setFontWeight(QFont::Bold);
    speaker.setForeground(speakerColor(line.speaker));
    cursor.insertText(line.speaker + QStringLiteral(" : "), speaker);
    QTextCharFormat text;
    text.setForeground(Theme::kText);
    cursor.insertText(line.text, text);
    if (line.interrupted) {
        QTextCharFormat mark;
        mark.setForeground(Theme::kSecondaryText);
        mark.setFontItalic(true);
        cursor.insertText(kInterruptedMark, mark);
    }
}

QString TranscriptView::plainText() const
{
    return m_lines.isEmpty() ? QString() : m_text->toPlainText();
}

bool TranscriptView::showsPlaceholder() const
{
    return m_lines.isEmpty();
}
