#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QAudioOutput;
class QMediaPlayer;

// Owns the media player of the recording shown in the panel; there is none until a file is loaded.
class RecordingPlayback : public QObject {
    Q_OBJECT
public:
    explicit RecordingPlayback(QObject* parent = nullptr);
    ~RecordingPlayback() override;

    // With a file: a new player for it replaces the previous one. Without: no player.
    void load(const std::optional<QString>& path);
    QMediaPlayer* player() const { return m_player; }
    std::optional<QString> loadedPath() const { return m_path; }

signals:
    void playerChanged();

private:
    void release();

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_output = nullptr;
    std::optional<QString> m_path;
};
