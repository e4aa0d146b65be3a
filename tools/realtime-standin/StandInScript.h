#pragma once

#include <QByteArray>
#include <QJsonObject>
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
    // One thing the stand-in learnt from a caller line: a field of the after-call draft and its value.
    struct Fact {
        int callerLine = 0; // index in callerLines
        QString field;
        QString value;
    };
    QList<Prompt> prompts;
    QStringList callerLines;
    QList<Fact> followUpFacts;

    // The draft an AI would write after a conversation in which these caller lines (indices) were heard:
    // the facts of those lines over the defaults of a call that said nothing in particular.
    QJsonObject followUpDraft(const QList<int>& heardCallerLines) const;

    // The prompts compiled into the library.
    static StandInScript builtIn();
    // A folder laid out like prompts/: assistant.txt (name, tab, sentence), <name>.wav, caller.txt, and
    // optionally follow-up.txt (caller line from 1, tab, field, tab, value; "#" starts a comment).
    // nullopt when a file is missing or malformed, or a WAV file is not 24 kHz mono 16-bit PCM.
    static std::optional<StandInScript> load(const QString& folder);
    // The samples of a 24 kHz mono 16-bit PCM WAV file; nullopt for anything else.
    static std::optional<QByteArray> readWav(const QByteArray& file);
};
