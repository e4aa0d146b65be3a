#include "app/desktop/QuitGuard.h"

#include "tests/model/ModelTestSupport.h"

#include <QApplication>
#include <QWidget>
#include <csignal>

namespace {

class QuitGuardTest : public ModelTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    QList<int> exits;
    QStringList reasons;

    void watch(QuitGuard& guard)
    {
        guard.onFinished = [this](int code) { exits << code; };
        QObject::connect(&guard, &QuitGuard::quitRequested, [this](const QString& why) { reasons << why; });
    }
};

} // namespace

TEST_F(QuitGuardTest, ClosingTheGuardedWindowQuitsOnceAndOtherWindowsJustClose)
{
    QWidget main;
    QWidget simulator;
    main.show();
    simulator.show();
    QuitGuard guard(*model);
    watch(guard);
    guard.guardWindow(&main);

    simulator.close();
    EXPECT_FALSE(simulator.isVisible());
    EXPECT_FALSE(guard.quitting()) << "another window closing is no quit";

    EXPECT_FALSE(main.close()) << "the close waits for the conversation to be saved";
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(exits, QList<int>{0}) << "idle: the model reports at once";
    EXPECT_EQ(reasons, QStringList{"Fenêtre fermée"});
    main.close();
    EXPECT_EQ(exits.size(), 1) << "a finished guard lets the window close and quits no more";
}

TEST_F(QuitGuardTest, ThePlatformQuitRequestAndSignalsGoThroughTheModel)
{
    {
        QuitGuard guard(*model);
        watch(guard);
        guard.watchApplicationQuit();
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        EXPECT_EQ(exits, QList<int>{0});
        EXPECT_EQ(reasons, QStringList{"Fermeture demandée par le système"});
    }
    exits.clear();
    reasons.clear();
    {
        QuitGuard guard(*model);
        watch(guard);
        ASSERT_TRUE(guard.watchSignals());
        std::raise(SIGTERM);
        for (int turn = 0; turn < 50 && exits.isEmpty(); ++turn)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(exits, QList<int>{0}) << "SIGTERM must reach the guard, not kill the process";
        EXPECT_EQ(reasons, QStringList{"Signal SIGTERM reçu"});
        std::raise(SIGINT);
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(exits.size(), 1) << "a second signal while quitting changes nothing";
    }
    // A second guard may take the signals over once the first is gone.
    QuitGuard again(*model);
    EXPECT_TRUE(again.watchSignals());
}
