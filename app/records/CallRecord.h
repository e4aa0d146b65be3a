#pragma once

#include "app/realtime/ConversationUsage.h"
#include "app/records/FollowUpDraft.h"
#include "app/records/ResponseLatency.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

// One line of a conversation's transcript.
struct TranscriptLine {
    QUuid id;
    QString speaker; // "Orlea" or "Interlocuteur"
    QString text;
    // An answer of Orlea that the caller cut short: the text is what was received, not all heard.
    bool interrupted = false;

    static TranscriptLine make(QString speaker, QString text);
    bool operator==(const TranscriptLine&) const = default;
};

// One conversation of the history, as the history file stores it.
struct CallRecord {
    QUuid id;
    // Seconds since 2001-01-01 00:00:00 UTC, kept as the double the file holds so it reads back exactly.
    double date = 0;
    QString caller;
    QString kind; // "Appel", "Essai" or "Démonstration"
    QList<TranscriptLine> transcript;
    QString note;
    std::optional<QString> dossier;
    std::optional<QString> recordingFile; // bare file name inside the Recordings folder
    std::optional<QString> recordingError;
    std::optional<ConversationUsage> usage;
    std::optional<QString> followUpStatus;
    std::optional<ResponseLatency> responseLatency;
    // The AI's draft of what follows the call, when it arrived in time and in shape.
    std::optional<FollowUpDraft> followUpDraft;

    // The first 8 characters of the upper-case UUID text: the short reference of lists and file names.
    QString reference() const;
    QString phoneLabel() const;
    QString folderLabel() const;
    QString statusLabel() const;
    // The AI's draft judged the call urgent.
    bool isUrgent() const { return followUpDraft && followUpDraft->urgent; }
    // The plain-text document that is copied, exported and kept next to the history.
    QString transcriptDocument() const;

    bool operator==(const CallRecord&) const = default;
};

namespace FollowUp {
inline const QString kToDo = QStringLiteral("À traiter");
inline const QString kInProgress = QStringLiteral("En cours");
inline const QString kDone = QStringLiteral("Terminé");
// The allowed states, in the order the pickers offer them.
const QStringList& states();
bool isValid(const QString& status);
} // namespace FollowUp

// The 36-character upper-case hyphenated form used in the file and in file names.
QString uuidText(const QUuid& id);
// The record's date in the user's locale: complete date and standard time ("mardi 8 décembre 2026 à
// 14:05:03").
QString documentDateText(double secondsSinceReferenceDate);
