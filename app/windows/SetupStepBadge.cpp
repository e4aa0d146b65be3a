#include "app/windows/SetupStepBadge.h"

#include "app/windows/Theme.h"

#include <QPainter>
#include <QPainterPath>

SetupStepBadge::SetupStepBadge(int number, QWidget* parent) : QWidget(parent), m_number(number)
{
    setFixedSize(kSizePx, kSizePx);
}

void SetupStepBadge::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    update();
}

void SetupStepBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    if (m_state == State::Done) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::kSuccess);
        painter.drawEllipse(ring);
        QPainterPath tick;
        const double s = ring.width();
        tick.moveTo(ring.left() + s * 0.28, ring.top() + s * 0.52);
        tick.lineTo(ring.left() + s * 0.44, ring.top() + s * 0.68);
        tick.lineTo(ring.left() + s * 0.73, ring.top() + s * 0.36);
        painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
        return;
    }
    const bool current = m_state == State::Current;
    QPen pen(current ? Theme::kAccent : Theme::kSecondaryText, current ? 2.0 : 1.4);
    if (!current)
        pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(current ? QBrush(Theme::kAccentSoft) : QBrush(Qt::NoBrush));
    painter.drawEllipse(ring);
    QFont font = painter.font();
    font.setBold(current);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(current ? Theme::kAccent : Theme::kSecondaryText);
    painter.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
}
