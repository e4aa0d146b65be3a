#pragma once

#include "app/records/TranscriptExport.h"

#include <QPointer>
#include <QWidget>

// The desktop's clipboard, save panel and file manager behind the records' small interfaces.

class QtClipboard : public Clipboard {
public:
    bool setText(const QString& text) override;
};

class QtSavePanel : public SavePanel {
public:
    // The panel is window-modal over `parent` (application-modal when there is none).
    explicit QtSavePanel(QWidget* parent = nullptr) : m_parent(parent) {}
    std::optional<QString> askSaveURL(const QString& proposedName, ExportType allowedType) override;

    // The file-dialog filter offering only `type`.
    static QString filterFor(ExportType type);
    static QString suffixFor(ExportType type);

private:
    QPointer<QWidget> m_parent;
};

class QtFileRevealer : public FileRevealer {
public:
    // Without a D-Bus binding in our dependencies there is no portable "show selected" call on Linux,
    // so the containing folder is opened instead.
    void reveal(const QString& path) override;
};
