#include "app/ui/DesktopServices.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

bool QtClipboard::setText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr)
        return false;
    clipboard->clear();
    clipboard->setText(text);
    // The clipboard gives no status; reading the text back is the only sign it was accepted.
    return clipboard->text() == text;
}

QString QtSavePanel::filterFor(ExportType type)
{
    switch (type) {
    case ExportType::PlainText:
        return QStringLiteral("Texte brut (*.txt)");
    case ExportType::WAVAudio:
        return QStringLiteral("Audio WAV (*.wav)");
    }
    return {};
}

QString QtSavePanel::suffixFor(ExportType type)
{
    return type == ExportType::WAVAudio ? QStringLiteral("wav") : QStringLiteral("txt");
}

std::optional<QString> QtSavePanel::askSaveURL(const QString& proposedName, ExportType allowedType)
{
    QFileDialog dialog(m_parent, QString(), QDir::home().filePath(proposedName), filterFor(allowedType));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffixFor(allowedType));
    dialog.selectFile(proposedName);
    dialog.setWindowModality(m_parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return chosen.first();
}

void QtFileRevealer::reveal(const QString& path)
{
    const QFileInfo info(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}
