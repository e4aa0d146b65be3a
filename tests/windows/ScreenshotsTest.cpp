#include "tests/windows/WindowTestSupport.h"

#include "app/desktop/DesktopApp.h"

#include <QImage>
#include <QTemporaryDir>

TEST(ScreenshotsTest, EveryPageAndSheetIsWrittenInBothStates)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray dataHome = qgetenv("ORLEA_DATA_HOME");
    char name[] = "orlea";
    char* argv[] = {name, nullptr};
    ASSERT_EQ(runScreenshots(1, argv, folder.path()), 0);
    EXPECT_EQ(qgetenv("ORLEA_DATA_HOME"), dataHome) << "the caller's data folder is left as it was";

    for (const char* state : {"empty", "populated"}) {
        for (const char* page :
             {"le-standard", "conversations", "dossiers", "mon-agent", "connexions", "premiers-pas"}) {
            const QString path = folder.filePath(QString("%1-%2.png").arg(state, page));
            QImage image(path);
            ASSERT_FALSE(image.isNull()) << path.toStdString();
            EXPECT_EQ(image.size(), QSize(1120, 780)) << path.toStdString();
            const QString smallest = folder.filePath(QString("%1-%2-1020x720.png").arg(state, page));
            EXPECT_EQ(QImage(smallest).size(), QSize(1020, 720)) << smallest.toStdString();
            const QString whole = folder.filePath(QString("%1-%2-1020x720-entier.png").arg(state, page));
            EXPECT_GE(QImage(whole).height(), 720 - 40) << "the page's whole length: " << whole.toStdString();
        }
        for (const char* sheet : {"assistant", "agent", "essai-mac", "appel-sortant", "voix"}) {
            const QString path = folder.filePath(QString("%1-sheet-%2.png").arg(state, sheet));
            QImage image(path);
            ASSERT_FALSE(image.isNull()) << path.toStdString();
            EXPECT_LE(image.width(), 1120) << path.toStdString();
            EXPECT_LE(image.height(), 780) << path.toStdString();
        }
    }
}
