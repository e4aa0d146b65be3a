#include "tests/windows/WindowTestSupport.h"

#include "app/audio/VelkaroDevices.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/windows/DashboardPage.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QUrl>

// A configured Mac with the stand-in AI, so the dashboard can really arm the switchboard.
class DashboardArmingTest : public ModelTest {
protected:
    RealtimeStandInThread standIn;
    std::unique_ptr<AppModel> model;

    void SetUp() override
    {
        RealtimeStandInThread::Options options;
        options.agent = false;
        options.speed = 0.0;
        ASSERT_TRUE(standIn.start(options)) << standIn.errorString().toStdString();
        qputenv("ORLEA_REALTIME_URL", standIn.url().toString().toUtf8());
        const QString package = qEnvironmentVariable("ORLEA_BUILD_DIR", ORLEA_TEST_BUILD_DIR) +
                                QStringLiteral("/lib/VelkaroAudio-0.2.0.pkg");
        ASSERT_TRUE(mac.workspace().openUrl(QUrl::fromLocalFile(package)));
        mac.setAccessibilityTrusted(true);
        ASSERT_TRUE(mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true));
        model = makeModel();
        model->saveKey("demo");
        model->setInputUID(VelkaroDevices::kCallUID);
        model->setOutputUID(VelkaroDevices::kVoiceUID);
        std::optional<QString> setupResult;
        model->audioSetup().prepare(
            [&](std::optional<AppError> error) { setupResult = error ? error->message() : QString(); });
        mac.advance(5);
        ASSERT_EQ(setupResult, std::optional<QString>(QString()));
        model->setRoutingConfirmed(true);
    }

    void TearDown() override
    {
        model.reset();
        standIn.stop();
        qunsetenv("ORLEA_REALTIME_URL");
    }

    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        return condition();
    }
};

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
