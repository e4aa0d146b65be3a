#include "app/ui/DesktopServices.h"

#include <QClipboard>
#include <QGuiApplication>
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
