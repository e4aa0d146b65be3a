#include "tests/windows/WindowTestSupport.h"

#include "tests/model/StandInModelTest.h"

#include "app/audio/VelkaroDevices.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/windows/DashboardPage.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QUrl>

// A configured Mac with the stand-in AI, so the dashboard can really arm the switchboard.
class DashboardArmingTest : public StandInModelTest {};

TEST_F(DashboardArmingTest, ActivatingAndPausingFromTheStatusCard)
{
    DashboardPage page(*model);
    settle();
    QAbstractButton* toggle = findButton(page, "Activer le standard");
    ASSERT_NE(toggle, nullptr);
    ASSERT_TRUE(toggle->isEnabled());
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
    settle();
    EXPECT_EQ(page.findChild<QLabel*>("statusLabel")->text(), "STANDARD ACTIF");
    EXPECT_EQ(toggle->text(), "Mettre en pause");
    EXPECT_TRUE(showsText(page, "À l’écoute des appels"));
    EXPECT_FALSE(page.findChild<QWidget*>("readinessBanner")->isVisibleTo(&page))
        << "a ready Mac has no banner";

    QTest::mouseClick(toggle, Qt::LeftButton);
    settle();
    EXPECT_FALSE(model->armed());
    EXPECT_EQ(page.findChild<QLabel*>("statusLabel")->text(), "STANDARD EN PAUSE");
    EXPECT_EQ(toggle->text(), "Activer le standard");
    saveSnapshot(page, "dashboard-ready-paused");
}
