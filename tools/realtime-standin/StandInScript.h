#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What the demo AI says and what it pretends to hear. The prompts are recorded French sentences of a
// property-management receptionist (see make-prompts.sh); the caller lines are the transcriptions it
// reports for each turn of the caller, whatever was actually said.
struct StandInScript {
    struct Prompt {
        QString name;
        QString text;
        QByteArray pcm; // 24 kHz mono PCM16 little-endian
    };
    QList<Prompt> prompts;
    QStringList callerLines;

    // The prompts compiled into the library.
    static StandInScript builtIn();
    // A folder laid out like prompts/: assistant.txt (name, tab, sentence), <name>.wav, caller.txt.
    // nullopt when a file is missing or a WAV file is not 24 kHz mono 16-bit PCM.
    static std::optional<StandInScript> load(const QString& folder);
    // The samples of a 24 kHz mono 16-bit PCM WAV file; nullopt for anything else.
    static std::optional<QByteArray> readWav(const QByteArray& file);
};
