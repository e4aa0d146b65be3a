#include "app/records/TranscriptExport.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "app/records/HistoryStore.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>

namespace TranscriptExport {

QString copyTranscript(const CallRecord& record, Clipboard& clipboard)
{
    if (!clipboard.setText(record.transcriptDocument()))
        return QStringLiteral("La copie n’a pas abouti. Réessayez.");
    return QStringLiteral("Transcription de l’appel ") + record.reference() + QStringLiteral(" copiée.");
}

QString proposedTranscriptName(const CallRecord& record)
{
    return QStringLiteral("Conversation-") + record.reference() + QStringLiteral(".txt");
}

std::optional<QString> exportTranscript(const CallRecord& record, SavePanel& panel)
{
    const auto target = panel.askSaveURL(proposedTranscriptName(record), ExportType::PlainText);
    if (!target || target->isEmpty())
        return std::nullopt;
    try {
        PrivateFile::write(*target, record.transcriptDocument().toUtf8());
    } catch (const AppError& error) {
        return error.localizedDescription();
    }
    return std::nullopt;
}

std::optional<QString> revealTranscript(const CallRecord& record, HistoryStore& store, FileRevealer& revealer)
{
    QString path;
    try {
        path = store.writeTranscriptFile(record);
    } catch (const AppError& error) {
        return QStringLiteral("Impossible de préparer la transcription : ") + error.localizedDescription();
    }
    revealer.reveal(path);
    return std::nullopt;
}

QString recordingsFolder()
{
    return AppPaths::recordingsFolder();
}

std::optional<QString> recordingURL(const CallRecord& record)
{
    if (!record.recordingFile)
        return std::nullopt;
    const QString& name = *record.recordingFile;
    // A bare name only: no folder part, and neither "." nor ".." (which would name a folder).
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return std::nullopt;
    const QString path = recordingsFolder() + QLatin1Char('/') + name;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return path;
}

std::optional<QString> exportRecording(const CallRecord& record, SavePanel& panel)
{
    const auto source = recordingURL(record);
    if (!source)
        return QStringLiteral("L’enregistrement audio est introuvable.");
    const auto target = panel.askSaveURL(*record.recordingFile, ExportType::WAVAudio);
    if (!target || target->isEmpty())
        return std::nullopt;
    try {
        const auto bytes = PrivateFile::read(*source);
        if (!bytes)
            throw fileError(ENOENT, FileOperation::Read, *source);
        PrivateFile::write(*target, *bytes);
    } catch (const AppError& error) {
        return QStringLiteral("Export audio impossible : ") + error.localizedDescription();
    }
    return std::nullopt;
}

} // namespace TranscriptExport
