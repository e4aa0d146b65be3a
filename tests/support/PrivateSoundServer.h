#pragma once

// A PulseAudio daemon of the test's own: no system configuration, its runtime folder and socket in a
// temporary folder, no idle exit. Its devices stand in for a computer's: "speakers" (a null sink, 48 kHz
// stereo, the default output) and "microphone" (the default input, 48 kHz mono), which hears whatever is
// played into the null sink "micfeed". Stopped by its process id when the object goes.
//
// Where no daemon can start (no `pulseaudio` program), `available()` is false and tests skip, unless
// ORLEA_REQUIRE_SOUND_SERVER=1 (set by the test command wherever the program exists): then they fail.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool available() const { return m_running; }
    // Why it is not available, for the skip or failure message.
    QString why() const { return m_why; }
    static bool required();

    // The libpulse server string of this daemon ("unix:…/native").
    QString serverString() const;
    qint64 pid() const { return m_daemon.processId(); }

    // Runs pactl against this daemon; returns its standard output (trimmed), empty on failure.
    QString pactl(const QStringList& arguments) const;
    // Plays a sound file into a sink with paplay; returns once it has played.
    bool play(const QString& sink, const QString& wavFile) const;
    // Kills the daemon now, as a crashing server would go.
    void kill();

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    bool m_running = false;
    QString m_why;
};

// In a test body: skip (or fail when the server is required) unless the daemon runs.
#define REQUIRE_SOUND_SERVER(server)                                                                         \
    do {                                                                                                     \
        if (!(server).available()) {                                                                         \
            if (PrivateSoundServer::required())                                                              \
                FAIL() << "no private sound server: " << (server).why().toStdString();                       \
            GTEST_SKIP() << "no private sound server: " << (server).why().toStdString();                     \
        }                                                                                                    \
    } while (false)
