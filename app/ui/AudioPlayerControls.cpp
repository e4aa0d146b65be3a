#include "app/ui/AudioPlayerControls.h"

#include "app/ui/Icons.h"

#include <QHBoxLayout>
#include <QMediaPlayer>

AudioPlayerControls::AudioPlayerControls(QWidget* parent)
    : QWidget(parent), m_play(new QToolButton(this)), m_position(new QSlider(Qt::Horizontal, this)),
      m_time(new QLabel(this))
{
    m_play->setObjectName(QStringLiteral("playButton"));
    m_play->setAutoRaise(true);
    m_play->setIconSize(QSize(22, 22));
    m_position->setObjectName(QStringLiteral("positionSlider"));
    m_position->setAccessibleName(QStringLiteral("Position de lecture"));
    m_time->setObjectName(QStringLiteral("timeText"));
    m_time->setMinimumWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")) + 4);
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(m_play);
    row->addWidget(m_position, 1);
    row->addWidget(m_time);

    connect(m_play, &QToolButton::clicked, this, &AudioPlayerControls::togglePlayback);
    // Seek while dragging, so the user hears where the thumb is.
    connect(m_position, &QSlider::sliderMoved, this, [this](int positionMs) {
        if (m_player)
            m_player->setPosition(positionMs);
    });
    connect(m_position, &QSlider::actionTriggered, this, [this](int) {
        if (m_player && !m_position->isSliderDown())
            m_player->setPosition(m_position->sliderPosition());
    });
    setPlayer(nullptr);
}

void AudioPlayerControls::setPlayer(QMediaPlayer* player)
{
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    m_position->setRange(0, player ? int(player->duration()) : 0);
    m_position->setValue(player ? int(player->position()) : 0);
    setEnabled(player != nullptr);
    if (player) {
        connect(player, &QMediaPlayer::durationChanged, this, [this](qint64 durationMs) {
            m_position->setRange(0, int(durationMs));
            updateTime();
        });
        connect(player, &QMediaPlayer::positionChanged, this, [this](qint64 positionMs) {
            if (!m_position->isSliderDown())
                m_position->setValue(int(positionMs));
            updateTime();
        });
        connect(player, &QMediaPlayer::playbackStateChanged, this, &AudioPlayerControls::updateButton);
    }
    updateButton();
    updateTime();
}

void AudioPlayerControls::togglePlayback()
{
    if (!m_player)
        return;
    if (m_player->playbackState() == QMediaPlayer::PlayingState)
        m_player->pause();
    else
        m_player->play();
}

void AudioPlayerControls::updateButton()
{
    const bool playing = m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
    m_play->setIcon(Icons::get(playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill")));
    m_play->setToolTip(playing ? QStringLiteral("Pause") : QStringLiteral("Lire"));
    m_play->setAccessibleName(m_play->toolTip());
}

void AudioPlayerControls::updateTime()
{
    const qint64 positionMs = m_player ? m_player->position() : 0;
    const qint64 durationMs = m_player ? m_player->duration() : 0;
    m_time->setText(clockText(positionMs) + QStringLiteral(" / ") + clockText(durationMs));
}

QString AudioPlayerControls::clockText(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(0, milliseconds) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
