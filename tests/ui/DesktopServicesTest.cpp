#include "app/ui/DesktopServices.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QObject>
#include <QUrl>
#include <gtest/gtest.h>

TEST(QtClipboard, ReplacesTheTextAndReadsItBack)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("ancien contenu"));
    QtClipboard clipboard;
    const QString document = QStringLiteral("TRANSCRIPTION D’APPEL — ORLEA\nRéférence : « test » · fin");
    ASSERT_TRUE(clipboard.setText(document)) << "the offscreen clipboard should accept text";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), document);
    ASSERT_TRUE(clipboard.setText(QString())) << "an empty document is still a successful copy";
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty()) << "the previous content must be gone";
}

TEST(QtSavePanel, OffersOnlyTheRequestedType)
{
    EXPECT_EQ(QtSavePanel::filterFor(ExportType::PlainText), QStringLiteral("Texte brut (*.txt)"));
    EXPECT_EQ(QtSavePanel::filterFor(ExportType::WAVAudio), QStringLiteral("Audio WAV (*.wav)"));
    EXPECT_EQ(QtSavePanel::suffixFor(ExportType::WAVAudio), QStringLiteral("wav"));
}

namespace {
// Stands in for the file manager: records what the desktop was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};
} // namespace

TEST(QtFileRevealer, OpensTheFolderHoldingTheFile)
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    QtFileRevealer revealer;
    revealer.reveal(QStringLiteral("/tmp/Velkaro/Transcriptions/Appel-ABC.txt"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/Velkaro/Transcriptions")))
        << "the folder is opened, never the file itself (which would launch an editor)";
}

#include "DesktopServicesTest.moc"
