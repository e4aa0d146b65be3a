#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// What the AI drafts for the manager once a call is over, from the conversation it just held: who called,
// how to call back, which home, what is needed and whether it cannot wait, and where to file the call.
// It is a suggestion: the manager applies it (the call is filed and flagged to handle) or ignores it.
struct FollowUpDraft {
    QString callerName;     // empty when the caller did not say
    QString callbackNumber; // empty when none was said
    QString address;        // the address or the home concerned; may be empty
    QString request;        // one French sentence
    bool urgent = false;
    QString urgencyReason;
    QString dossier; // an existing dossier name or a new short one; never blank nor a reserved name
    // What the manager did with the suggestion; absent while it waits.
    enum class Decision { Applied, Ignored };
    std::optional<Decision> decision;

    // "urgent" or "normal", as the AI and the history file write it.
    QString urgencyWord() const;
    // "Urgent · fuite d’eau en cours" / "Normal · simple demande d’information".
    QString urgencyLabel() const;
    // The name to show for the caller: the one they gave, else the text the Phone app showed.
    QString callerLabel(const QString& callerText) const;
    // (label, value) pairs in reading order, empty values left out.
    QList<std::pair<QString, QString>> fields() const;

    bool operator==(const FollowUpDraft&) const = default;

    // Limits of what the AI may send back: past them the answer is not used at all.
    static constexpr int kMaxCharacters = 4000;
    static constexpr int kMaxFieldCharacters = 500;

    // The draft in the AI's answer `text`, checked against the limits above; the suggested dossier is
    // spelt like an existing one it matches but for case and accents. Otherwise the French reason it is
    // refused (for the session log).
    static std::variant<FollowUpDraft, QString> fromAnswer(const QString& text,
                                                           const QStringList& existingDossiers);
};
