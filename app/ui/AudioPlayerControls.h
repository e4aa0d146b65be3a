#pragma once

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QToolButton>
#include <QWidget>

class QMediaPlayer;

// Play, pause and scrubbing around a media player that someone else owns.
class AudioPlayerControls : public QWidget {
    Q_OBJECT
public:
    explicit AudioPlayerControls(QWidget* parent = nullptr);

    // Null detaches the controls and disables them.
    void setPlayer(QMediaPlayer* player);
    QToolButton* playButton() const { return m_play; }
    QSlider* positionSlider() const { return m_position; }
    QString timeText() const { return m_time->text(); }

    // "m:ss" for a duration in milliseconds.
    static QString clockText(qint64 milliseconds);

private:
    void togglePlayback();
    void updateButton();
    void updateTime();

    QPointer<QMediaPlayer> m_player;
    QToolButton* m_play;
    QSlider* m_position;
    QLabel* m_time;
};
