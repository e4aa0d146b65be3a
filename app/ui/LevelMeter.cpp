#include "app/ui/LevelMeter.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {
const QColor kGreen(0x34, 0xa8, 0x53);
const QColor kOrange(0xf0, 0x8a, 0x24);
const QColor kTrack(0xe4, 0xe7, 0xeb);
} // namespace

class LevelMeter::Bar : public QWidget {
public:
    explicit Bar(LevelMeter* meter) : QWidget(meter), m_meter(meter)
    {
        setMinimumSize(80, 10);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {200, 10}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double radius = track.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(kTrack);
        painter.drawRoundedRect(track, radius, radius);
        const double fraction = std::clamp(m_meter->level(), 0.0, 1.0);
        if (!(fraction > 0))
            return;
        QRectF filled = track;
        filled.setWidth(std::max(track.height(), track.width() * fraction));
        painter.setBrush(m_meter->barColor());
        painter.drawRoundedRect(filled, radius, radius);
    }

private:
    LevelMeter* m_meter;
};

LevelMeter::LevelMeter(const QString& name, QWidget* parent)
    : QWidget(parent), m_name(new QLabel(name, this)), m_bar(new Bar(this)), m_value(new QLabel(this))
{
    m_name->setObjectName(QStringLiteral("levelName"));
    m_value->setObjectName(QStringLiteral("levelValue"));
    // Aligned bars in the usual case, but a longer name ("Son préparé pour l’IA") is never cut.
    m_name->setFixedWidth(std::max(kLabelWidthPx, m_name->sizeHint().width()));
    m_value->setFixedWidth(kValueWidthPx);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(10);
    row->addWidget(m_name);
    row->addWidget(m_bar, 1, Qt::AlignVCenter);
    row->addWidget(m_value);
    m_value->setText(levelText(m_level));
}

int LevelMeter::nameWidth() const
{
    return m_name->minimumWidth();
}

void LevelMeter::setNameWidth(int widthPx)
{
    // Never narrower than the name itself.
    m_name->setFixedWidth(std::max(widthPx, m_name->sizeHint().width()));
}

void LevelMeter::setLevel(double level)
{
    // A NaN or negative peak can only come from a fault upstream; show it as silence.
    if (!(level > 0))
        level = 0;
    if (level == m_level)
        return;
    m_level = level;
    m_value->setText(levelText(level));
    m_bar->update();
}

QColor LevelMeter::barColor() const
{
    return isHot() ? kOrange : kGreen;
}

QString LevelMeter::valueText() const
{
    return m_value->text();
}

QString LevelMeter::levelText(double level)
{
    if (!(level > 0))
        return QStringLiteral("Silence");
    double decibels = std::round(20.0 * std::log10(level));
    // Rounding a level just under full scale gives -0; nobody wants to read "-0 dB".
    if (decibels == 0)
        decibels = 0;
    return QString::asprintf("%.0f dB", decibels);
}
