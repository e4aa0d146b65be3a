#pragma once

#include "app/records/CallRecord.h"

#include <QString>
#include <optional>

class HistoryStore;

// The desktop services the export actions need, kept behind small interfaces so the actions can be
// tested without a screen; the user interface supplies the real ones.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard's content with `text`; false when the system refused it.
    virtual bool setText(const QString& text) = 0;
};

enum class ExportType { PlainText, WAVAudio };

class SavePanel {
public:
    virtual ~SavePanel() = default;
    // A modal save panel proposing `proposedName` and allowing only `allowedType`: the chosen path, or
    // nullopt when the user cancels.
    virtual std::optional<QString> askSaveURL(const QString& proposedName, ExportType allowedType) = 0;
};

class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    // Shows the file selected in the file manager.
    virtual void reveal(const QString& path) = 0;
};

// The ways a record leaves the application. Each action returns the French text for the model's
// `error`, or nullopt when there is nothing to report.
namespace TranscriptExport {
// The new `transcriptCopyStatus`, success or failure.
QString copyTranscript(const CallRecord& record, Clipboard& clipboard);
std::optional<QString> exportTranscript(const CallRecord& record, SavePanel& panel);
std::optional<QString> revealTranscript(const CallRecord& record, HistoryStore& store,
                                        FileRevealer& revealer);

QString proposedTranscriptName(const CallRecord& record);
// Where recordings are kept; not created here.
QString recordingsFolder();
// The record's recording when its stored name is a bare file name of an existing file in the
// Recordings folder; a stored value can never point elsewhere.
std::optional<QString> recordingURL(const CallRecord& record);
std::optional<QString> exportRecording(const CallRecord& record, SavePanel& panel);
} // namespace TranscriptExport
