#include "app/records/HistoryStore.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/PrivateFile.h"
#include "app/records/HistoryCodec.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

const QString HistoryStore::kUnreadableMessage =
    QStringLiteral("Historique illisible. Le fichier existant n’a pas été modifié.");
const QString HistoryStore::kSavingDisabledMessage =
    QStringLiteral("L’historique existant est illisible. Exportez les nouvelles conversations avant de "
                   "quitter ; le fichier existant est conservé.");
const QString HistoryStore::kSaveFailedPrefix = QStringLiteral("Impossible de sauvegarder l’historique : ");
const QString HistoryStore::kTranscriptFailedPrefix =
    QStringLiteral("Historique enregistré, mais un fichier de transcription n’a pas pu être mis à jour : ");

HistoryStore::HistoryStore(const Clock& clock, ErrorSink errorSink)
    : m_clock(clock), m_errorSink(std::move(errorSink))
{
}

void HistoryStore::report(const QString& message) const
{
    if (m_errorSink)
        m_errorSink(message);
}

const CallRecord* HistoryStore::find(const QUuid& id) const
{
    const qsizetype index = indexOf(id);
    return index < 0 ? nullptr : &m_records[index];
}

qsizetype HistoryStore::indexOf(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_records.size(); ++i) {
        if (m_records[i].id == id)
            return i;
    }
    return -1;
}

void HistoryStore::changed(qsizetype index)
{
    m_cache[size_t(index)] = Cache{{}, {}, ++m_revision};
}

void HistoryStore::load()
{
    const QString path = AppPaths::historyFile();
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return; // first start: nothing to show, nothing to say
    std::optional<HistoryCodec::Decoded> records;
    std::optional<QByteArray> bytes;
    try {
        if ((bytes = PrivateFile::read(path)))
            records = HistoryCodec::decodeKeepingJson(*bytes);
        else
            return;
    } catch (const AppError&) {
        // A file that is there but cannot be read now (permissions, I/O) may hold the whole history:
        // overwriting it with this run's calls would lose it, so it is protected like an undecodable one.
    }
    if (!records) {
        m_historyReadFailed = true;
        report(kUnreadableMessage);
        return;
    }
    m_records = std::move(records->records);
    m_cache.assign(size_t(m_records.size()), Cache{{}, {}, ++m_revision});
    // Records read in the form the encoder writes keep their bytes: the first save copies them.
    for (qsizetype i = 0; i < m_records.size(); ++i)
        m_cache[size_t(i)].json = std::move(records->json[i]);
    // The file's bytes become the buffer that saves fill: already in memory, they spare the first save
    // touching tens of megabytes for the first time. The room for the calls to come is only mapped.
    m_encoded = std::move(*bytes);
    m_encoded.reserve(m_encoded.size() + m_encoded.size() / 8);
}

const QByteArray& HistoryStore::encodedHistory()
{
    qsizetype total = 2;
    for (qsizetype i = 0; i < m_records.size(); ++i) {
        Cache& cache = m_cache[size_t(i)];
        if (cache.json.isEmpty())
            cache.json = HistoryCodec::encodeRecord(m_records[i]);
        total += cache.json.size() + 1;
    }
    // The buffer keeps its pages from one save to the next: refilling it is a copy, not a fresh
    // allocation whose every page faults in.
    const qsizetype size = total - (m_records.isEmpty() ? 0 : 1);
    if (m_encoded.capacity() < size)
        m_encoded.reserve(size + size / 8);
    m_encoded.resize(size);
    char* p = m_encoded.data();
    *p++ = '[';
    for (qsizetype i = 0; i < m_records.size(); ++i) {
        if (i > 0)
            *p++ = ',';
        const QByteArray& json = m_cache[size_t(i)].json;
        std::memcpy(p, json.constData(), size_t(json.size()));
        p += json.size();
    }
    *p++ = ']';
    Q_ASSERT(p == m_encoded.constData() + m_encoded.size());
    return m_encoded;
}

bool HistoryStore::saveHistory()
{
    if (m_historyReadFailed) {
        report(kSavingDisabledMessage);
        return false;
    }
    try {
        PrivateFile::ensureFolder(AppPaths::dataFolder());
        // Created 0600 before any byte is written, then renamed over the old file.
        PrivateFile::write(AppPaths::historyFile(), encodedHistory());
    } catch (const AppError& error) {
        report(kSaveFailedPrefix + error.localizedDescription());
        return false;
    }
    try {
        refreshTranscripts();
    } catch (const AppError& error) {
        report(kTranscriptFailedPrefix + error.localizedDescription());
        return false;
    }
    return true;
}

void HistoryStore::refreshTranscripts()
{
    m_files.ensureFolder();
    for (qsizetype i = 0; i < m_records.size(); ++i) {
        const CallRecord& record = m_records[i];
        Cache& cache = m_cache[size_t(i)];
        QByteArray content;
        if (cache.documentDigest.isEmpty()) {
            content = record.transcriptDocument().toUtf8();
            cache.documentDigest = TranscriptFiles::digest(content);
        }
        if (m_files.refreshIfCurrent(record.id, cache.documentDigest))
            continue;
        if (content.isNull())
            content = record.transcriptDocument().toUtf8();
        m_files.write(record.id, content, cache.documentDigest);
    }
}

bool HistoryStore::prepareSave(qsizetype count)
{
    if (m_historyReadFailed)
        return false;
    // Counted from the end: calls arrive at the top and leave the oldest where they are.
    for (; count > 0 && m_preparedFromEnd < m_records.size(); --count, ++m_preparedFromEnd) {
        const qsizetype index = m_records.size() - 1 - m_preparedFromEnd;
        Cache& cache = m_cache[size_t(index)];
        if (!cache.documentDigest.isEmpty())
            continue;
        const QByteArray content = m_records[index].transcriptDocument().toUtf8();
        cache.documentDigest = TranscriptFiles::digest(content);
        m_files.verify(m_records[index].id, content, cache.documentDigest);
    }
    return m_preparedFromEnd < m_records.size();
}

QString HistoryStore::writeTranscriptFile(const CallRecord& record)
{
    m_files.ensureFolder();
    const QByteArray content = record.transcriptDocument().toUtf8();
    return m_files.write(record.id, content, TranscriptFiles::digest(content));
}

void HistoryStore::insert(CallRecord record)
{
    m_records.prepend(std::move(record));
    m_cache.insert(m_cache.begin(), Cache{{}, {}, ++m_revision});
    saveHistory();
}

bool HistoryStore::update(const QUuid& id, const std::function<void(CallRecord&)>& change)
{
    const qsizetype index = indexOf(id);
    if (index < 0)
        return false;
    change(m_records[index]);
    changed(index);
    saveHistory();
    return true;
}

CallRecord HistoryStore::demoRecord()
{
    CallRecord record;
    record.caller = QStringLiteral("Camille Laurent · exemple fictif");
    record.kind = QStringLiteral("Démonstration");
    const QString orlea = QStringLiteral("Orlea");
    const QString caller = QStringLiteral("Interlocuteur");
    record.transcript = {
        TranscriptLine::make(orlea, QStringLiteral("Bonjour, vous êtes bien au service de gestion locative. "
                                                   "Comment puis-je vous aider ?")),
        TranscriptLine::make(caller, QStringLiteral("Il y a une fuite sous mon évier depuis ce matin, au 12 "
                                                    "rue des Lilas, appartement 4.")),
        TranscriptLine::make(orlea, QStringLiteral("Est-ce que l’eau coule encore et pouvez-vous fermer le "
                                                   "robinet d’arrêt sans risque ?")),
        TranscriptLine::make(
            caller, QStringLiteral("J’ai fermé le robinet. Ça ne coule plus. J’ai pris des photos.")),
        TranscriptLine::make(orlea, QStringLiteral("Je note la fuite et le robinet fermé. Le gestionnaire "
                                                   "prendra connaissance de votre message pour organiser la "
                                                   "suite.")),
    };
    record.note =
        QStringLiteral("Exemple : fuite sous évier, robinet fermé. Logement et identité à confirmer. "
                       "Photos disponibles, non reçues. Rappel et intervention à organiser par le "
                       "gestionnaire.");
    return record;
}

QUuid HistoryStore::addDemo()
{
    CallRecord record = demoRecord();
    record.id = QUuid::createUuid();
    record.date = secondsSinceReferenceDate(m_clock.now());
    const QUuid id = record.id;
    insert(std::move(record));
    return id;
}

bool HistoryStore::updateNote(const QUuid& id, const QString& note)
{
    return update(id, [&](CallRecord& record) { record.note = note; });
}

bool HistoryStore::updateDossier(const QUuid& id, const QString& name)
{
    const QString trimmed = name.trimmed();
    return update(id, [&](CallRecord& record) {
        if (trimmed.isEmpty())
            record.dossier.reset();
        else
            record.dossier = trimmed;
    });
}

bool HistoryStore::updateFollowUpStatus(const QUuid& id, const QString& status)
{
    if (!FollowUp::isValid(status))
        return false;
    return update(id, [&](CallRecord& record) { record.followUpStatus = status; });
}

bool HistoryStore::applyFollowUpDraft(const QUuid& id)
{
    const CallRecord* record = find(id);
    if (!record || !record->followUpDraft || record->followUpDraft->decision)
        return false;
    return update(id, [](CallRecord& changed) {
        FollowUpDraft& draft = *changed.followUpDraft;
        const QString dossier = draft.dossier.trimmed();
        if (!dossier.isEmpty())
            changed.dossier = dossier;
        changed.followUpStatus = FollowUp::kToDo;
        // The manager's own words are never replaced.
        if (changed.note.trimmed().isEmpty())
            changed.note = draft.request;
        draft.decision = FollowUpDraft::Decision::Applied;
    });
}

bool HistoryStore::ignoreFollowUpDraft(const QUuid& id)
{
    const CallRecord* record = find(id);
    if (!record || !record->followUpDraft || record->followUpDraft->decision)
        return false;
    return update(
        id, [](CallRecord& changed) { changed.followUpDraft->decision = FollowUpDraft::Decision::Ignored; });
}
