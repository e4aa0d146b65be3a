#include "app/ui/MicrophoneLevelView.h"

#include "app/ui/LevelMeter.h"

#include <algorithm>

#include <QVBoxLayout>

const QString MicrophoneLevelView::kRawTitle = QStringLiteral("Votre microphone");
const QString MicrophoneLevelView::kConvertedTitle = QStringLiteral("Son préparé pour l’IA");
const QString MicrophoneLevelView::kHotWarning =
    QStringLiteral("Niveau capté très élevé. Si le son grésille, éloignez-vous un peu du micro.");
const QString MicrophoneLevelView::kCaption =
    QStringLiteral("Micro du Mac : niveau automatique et limitation des pics.");

MicrophoneLevelView::MicrophoneLevelView(QWidget* parent)
    : QWidget(parent), m_raw(new LevelMeter(kRawTitle, this)),
      m_converted(new LevelMeter(kConvertedTitle, this)), m_warning(new QLabel(kHotWarning, this)),
      m_caption(new QLabel(kCaption, this))
{
    m_warning->setObjectName(QStringLiteral("levelWarning"));
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("color: #c0650f;"));
    m_warning->hide();
    m_caption->setObjectName(QStringLiteral("levelCaption"));
    m_caption->setWordWrap(true);
    m_caption->setStyleSheet(QStringLiteral("color: #6b7280;"));
    // The two bars start at the same place even when one name is longer than the usual column.
    const int nameWidth = std::max(m_raw->nameWidth(), m_converted->nameWidth());
    m_raw->setNameWidth(nameWidth);
    m_converted->setNameWidth(nameWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(m_raw);
    column->addWidget(m_converted);
    column->addWidget(m_warning);
    column->addWidget(m_caption);
}

void MicrophoneLevelView::setLevels(double rawLevel, double convertedLevel)
{
    m_raw->setLevel(rawLevel);
    m_converted->setLevel(convertedLevel);
    m_warning->setVisible(m_raw->isHot());
}
