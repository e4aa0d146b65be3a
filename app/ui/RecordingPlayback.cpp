#include "app/ui/RecordingPlayback.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

RecordingPlayback::RecordingPlayback(QObject* parent) : QObject(parent)
{
    // Qt 6.4's GStreamer backend crashes while building its pipeline on machines without the full
    // GStreamer plugin set (no audio sink); the FFmpeg backend plays our WAV files everywhere. The choice
    // is read once, when the first media object is made, and a user's own choice is kept.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

RecordingPlayback::~RecordingPlayback()
{
    release();
}

void RecordingPlayback::release()
{
    if (m_player != nullptr) {
        m_player->stop();
        // Deleted later: the player may be the sender of the signal that brought us here.
        m_player->deleteLater();
        m_output->deleteLater();
    }
    m_player = nullptr;
    m_output = nullptr;
}

void RecordingPlayback::load(const std::optional<QString>& path)
{
    release();
    m_path = path;
    if (path) {
        m_player = new QMediaPlayer(this);
        m_output = new QAudioOutput(this);
        m_player->setAudioOutput(m_output);
        m_player->setSource(QUrl::fromLocalFile(*path));
    }
    emit playerChanged();
}
