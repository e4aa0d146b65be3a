#pragma once

#include "app/records/CallRecord.h"
#include "app/records/TranscriptFiles.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>
#include <functional>
#include <vector>

class Clock;

// The call history: the records, newest first, mirrored into the history file and one transcript file
// per record. Failures never throw: their French text goes to the error sink, which the application
// model points at its `error`.
//
// Every save rewrites the whole file, so each record's JSON and transcript digest are kept until the
// record changes; every change goes through this class, which is what keeps those caches honest.
class HistoryStore {
public:
    using ErrorSink = std::function<void(const QString& message)>;

    HistoryStore(const Clock& clock, ErrorSink errorSink);

    const QList<CallRecord>& records() const { return m_records; }
    // The first record with that id, or nullptr.
    const CallRecord* find(const QUuid& id) const;
    // Moves on every change of the list (load, insert, update): views compare it to what they last
    // showed. Each record carries the revision of its own last change.
    quint64 revision() const { return m_revision; }
    quint64 revisionOf(qsizetype index) const { return m_cache[size_t(index)].revision; }
    // True once the history file was found present but unreadable or undecodable at load: nothing is
    // written for the rest of the run.
    bool historyReadFailed() const { return m_historyReadFailed; }

    // Reads the history file. Missing: silently empty. Present but unreadable or undecodable: empty,
    // reported, and saving disabled so the file is never overwritten.
    void load();

    // Writes the history file, then refreshes the transcript files. Returns true when both succeeded.
    bool saveHistory();
    // Does ahead, for at most `count` more records, what the first save of a run would do for each
    // record of a long history: its transcript's digest and the check of its transcript file. Writes
    // nothing. Returns true while records are left, so that it can be called between events.
    bool prepareSave(qsizetype count);

    // A finished conversation: inserted at the top, then saved.
    void insert(CallRecord record);
    // Changes the first record with that id and saves; false (and no save) when no record has it.
    bool update(const QUuid& id, const std::function<void(CallRecord&)>& change);

    // Adds a new demonstration record at the top, saves, and returns its id for selection.
    QUuid addDemo();
    // The note verbatim; false when no record has that id.
    bool updateNote(const QUuid& id, const QString& note);
    // The trimmed name, or no dossier for a blank name; false when no record has that id.
    bool updateDossier(const QUuid& id, const QString& name);
    // Only one of the three follow-up states is accepted; false when nothing was changed.
    bool updateFollowUpStatus(const QUuid& id, const QString& status);
    // The AI's suggestion taken: the call goes into the suggested dossier, waits "À traiter", and the
    // request becomes the note only when the note is empty. False when there was no waiting suggestion.
    bool applyFollowUpDraft(const QUuid& id);
    // The suggestion set aside; the draft stays as the call's summary.
    bool ignoreFollowUpDraft(const QUuid& id);

    // The history file's bytes for the current records, built from each record's cached JSON.
    const QByteArray& encodedHistory();

    // Makes the record's transcript file current and returns its path. Throws AppError. Works even when
    // history saving is disabled, since it touches only this one file.
    QString writeTranscriptFile(const CallRecord& record);

    // The demonstration record, without identity or date.
    static CallRecord demoRecord();

    static const QString kUnreadableMessage;
    static const QString kSavingDisabledMessage;
    static const QString kSaveFailedPrefix;
    static const QString kTranscriptFailedPrefix;

private:
    struct Cache {
        QByteArray json;           // the record's JSON object, empty when stale
        QByteArray documentDigest; // digest of its transcript document, empty when stale
        quint64 revision = 0;      // the store's revision when the record last changed
    };
    void report(const QString& message) const;
    void changed(qsizetype index);
    qsizetype indexOf(const QUuid& id) const;
    void refreshTranscripts();

    const Clock& m_clock;
    ErrorSink m_errorSink;
    QList<CallRecord> m_records;
    std::vector<Cache> m_cache; // parallel to m_records
    QByteArray m_encoded;
    quint64 m_revision = 0;
    qsizetype m_preparedFromEnd = 0; // records at the end of the list prepareSave has been through
    bool m_historyReadFailed = false;
    TranscriptFiles m_files;
};
