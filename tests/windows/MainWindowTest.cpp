#include "tests/windows/RecordsTestSupport.h"
#include "tests/windows/WindowTestSupport.h"

#include "app/windows/AgentSetupWindow.h"
#include "app/windows/ConversationListModel.h"
#include "app/windows/ConversationsPage.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/DossiersPage.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/MainWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/SetupAssistantWindow.h"
#include "app/windows/Theme.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>

class MainWindowTest : public ModelTest {};

TEST_F(MainWindowTest, ThePageFollowsTheModelAndTheSidebar)
{
    auto model = makeModel();
    MainWindow window(*model);
    EXPECT_EQ(window.windowTitle(), "Orlea");
    EXPECT_EQ(window.size(), QSize(1120, 780));
    EXPECT_EQ(window.minimumSize(), QSize(1020, 720));

    model->setPage("Une page qui n’existe pas");
    settle();
    EXPECT_EQ(window.currentPage(), window.page("Le standard")) << "an unknown page shows the dashboard";
    ASSERT_NE(findButton(window, "Le standard"), nullptr);
    EXPECT_TRUE(findButton(window, "Le standard")->isChecked()) << "and highlights its button";

    for (const QString& title : MainWindow::pageTitles()) {
        QAbstractButton* button = findButton(window, title);
        ASSERT_NE(button, nullptr) << title.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
        EXPECT_EQ(model->page(), title);
        EXPECT_EQ(window.currentPage(), window.page(title)) << title.toStdString();
        EXPECT_TRUE(button->isChecked()) << title.toStdString();
        for (const QString& other : MainWindow::pageTitles()) {
            if (other != title) {
                EXPECT_FALSE(findButton(window, other)->isChecked()) << other.toStdString();
            }
        }
    }
    EXPECT_TRUE(showsText(window, "Conçu pour votre Mac"));
    EXPECT_TRUE(showsText(window, "Un Mac, un iPhone,\nun accueil plus simple."));
    EXPECT_TRUE(showsText(window, "VOTRE ESPACE ORLEA"));
    EXPECT_TRUE(showsText(window, "Stockage local"));
    model->setPage("Le standard");
    settle();
    saveSnapshot(window, "main-window-empty");
}

TEST_F(MainWindowTest, TheErrorAlertShowsOneMessageAndCompriClearsIt)
{
    auto model = makeModel();
    MainWindow window(*model);
    window.show();
    settle();
    model->setShowSetupAssistant(false);
    settle();

    model->setError(QString("Première erreur."));
    settle();
    QPointer<QMessageBox> alert = window.errorAlert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Orlea");
    EXPECT_EQ(alert->text(), "Première erreur.");
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text(), "Compris");

    model->setError(QString("Seconde erreur."));
    settle();
    EXPECT_EQ(window.errorAlert(), alert.data()) << "one alert at a time";
    EXPECT_EQ(alert->text(), "Seconde erreur.");

    QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(model->error().has_value());
    EXPECT_FALSE(alert) << "the alert is gone";
    EXPECT_EQ(window.errorAlert(), nullptr);

    model->setError(QString("Une autre."));
    settle();
    ASSERT_NE(window.errorAlert(), nullptr) << "a later error opens a new alert";
    model->setError(std::nullopt);
    settle();
    EXPECT_EQ(window.errorAlert(), nullptr) << "cleared by the model, the alert closes";
}

TEST_F(MainWindowTest, EachFlagOpensItsSheetWindowModalAndClosingClearsIt)
{
    auto model = makeModel();
    MainWindow window(*model);
    window.show();
    settle();
    model->setShowSetupAssistant(false);
    settle();

    struct Case {
        const char* name;
        std::function<void(bool)> set;
        std::function<bool()> flag;
        std::function<QDialog*()> sheet;
        std::function<bool(QDialog*)> isRightKind;
    };
    const QList<Case> cases{
        {"assistant", [&](bool on) { model->setShowSetupAssistant(on); },
         [&] { return model->showSetupAssistant(); }, [&] { return window.setupSheet(); },
         [](QDialog* d) { return qobject_cast<SetupAssistantWindow*>(d); }},
        {"agent", [&](bool on) { model->setShowAgentSetup(on); }, [&] { return model->showAgentSetup(); },
         [&] { return window.agentSheet(); }, [](QDialog* d) { return qobject_cast<AgentSetupWindow*>(d); }},
        {"mac test", [&](bool on) { model->setShowMacTest(on); }, [&] { return model->showMacTest(); },
         [&] { return window.macTestSheet(); },
         [](QDialog* d) { return qobject_cast<MacConversationTestWindow*>(d); }},
        {"outgoing", [&](bool on) { model->setShowOutgoingTest(on); },
         [&] { return model->showOutgoingTest(); }, [&] { return window.outgoingSheet(); },
         [](QDialog* d) { return qobject_cast<OutgoingCallTestWindow*>(d); }},
    };
    for (const Case& sheetCase : cases) {
        SCOPED_TRACE(sheetCase.name);
        sheetCase.set(true);
        settle();
        QPointer<QDialog> sheet = sheetCase.sheet();
        ASSERT_TRUE(sheet);
        EXPECT_TRUE(sheetCase.isRightKind(sheet));
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        EXPECT_EQ(sheet->parentWidget(), &window);
        EXPECT_LE(sheet->width(), 1120);
        EXPECT_LE(sheet->height(), 780);

        sheet->reject(); // what "Fermer" does
        settle();
        EXPECT_FALSE(sheetCase.flag()) << "a finished sheet clears its flag";
        EXPECT_EQ(sheetCase.sheet(), nullptr);
        EXPECT_FALSE(sheet) << "and is released";

        sheetCase.set(true);
        settle();
        sheet = sheetCase.sheet();
        ASSERT_TRUE(sheet) << "the flag set again opens a new sheet";
        sheetCase.set(false);
        settle();
        EXPECT_FALSE(sheet) << "the flag cleared by the model closes the sheet";
        EXPECT_EQ(sheetCase.sheet(), nullptr);
    }
}

TEST_F(MainWindowTest, FirstAppearanceOffersTheAssistantAndActivationRefreshesOncePerActivation)
{
    auto model = makeModel();
    MainWindow window(*model);
    EXPECT_FALSE(model->showSetupAssistant());
    window.show();
    settle();
    EXPECT_TRUE(model->showSetupAssistant()) << "an unfinished setup opens the assistant on first appearance";
    EXPECT_NE(window.setupSheet(), nullptr);
    window.setupSheet()->reject();
    settle();
    window.hide();
    window.show();
    settle();
    EXPECT_FALSE(model->showSetupAssistant()) << "only on the first appearance";

    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    mac.setAccessibilityTrusted(true);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(model->accessibility()) << "becoming active re-reads the permissions";
    mac.setAccessibilityTrusted(false);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(model->accessibility()) << "once per activation";
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(model->accessibility()) << "the next activation reads them again";
}

TEST_F(MainWindowTest, TheCloseHandlerCanKeepTheWindowOpen)
{
    auto model = makeModel();
    MainWindow window(*model);
    window.show();
    settle();
    bool allow = false;
    int asked = 0;
    window.setCloseHandler([&] {
        ++asked;
        return allow;
    });
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    allow = true;
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(asked, 2);

    MainWindow plain(*model);
    plain.show();
    EXPECT_TRUE(plain.close()) << "without a handler the window closes";
}

TEST_F(MainWindowTest, EveryPageFitsTheSmallestWindowWithoutSidewaysScrolling)
{
    // Measured with the product's style sheet, whose paddings decide the widths.
    Theme::apply(*qApp);
    auto model = makeModel();
    MainWindow window(*model);
    window.resize(window.minimumSize());
    window.show();
    settle();
    // The page area of the smallest window, less a vertical scroll bar.
    const int available = window.minimumWidth() - MainWindow::kSidebarWidthPx - 16;
    for (const char* title :
         {"Le standard", "Conversations", "Dossiers", "Mon agent", "Connexions", "Premiers pas"}) {
        model->setPage(QString::fromUtf8(title));
        settle();
        // A scrolling page must fit its content across; another page must fit as a whole.
        if (auto* scroll = window.currentPage()->findChild<QScrollArea*>())
            EXPECT_LE(scroll->widget()->minimumSizeHint().width(), available) << title;
        else
            EXPECT_LE(window.currentPage()->minimumSizeHint().width(), available + 16) << title;
    }
}

TEST_F(MainWindowTest, AnErrorRaisedInASheetShowsOverThatSheet)
{
    auto model = makeModel();
    MainWindow window(*model);
    window.show();
    settle();
    model->setShowSetupAssistant(false);
    model->setShowOutgoingTest(true);
    settle();
    QPointer<QDialog> sheet = window.outgoingSheet();
    ASSERT_TRUE(sheet);
    QTest::mouseClick(findButton(*sheet, "2. Brancher l’IA sur l’appel"), Qt::LeftButton);
    settle();
    QPointer<QMessageBox> alert = window.errorAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->parentWidget(), sheet.data());
    EXPECT_TRUE(sheet->isVisible()) << "the sheet stays open behind its alert";

    sheet->reject();
    settle();
    EXPECT_FALSE(alert) << "the alert left with its sheet";
    ASSERT_TRUE(model->error().has_value()) << "but the error is still to be read";
    ASSERT_NE(window.errorAlert(), nullptr);
    EXPECT_EQ(window.errorAlert()->parentWidget(), &window);
    QTest::mouseClick(window.errorAlert()->buttons().first(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(model->error().has_value());
}

// A live call changes the model many times a second (each transcript line, each usage figure). The
// pages over the history must not filter, sort or rebuild anything for that, shown or hidden; a hidden
// page catches up with a new call when it is shown.
TEST_F(MainWindowTest, ALiveCallCostsThePagesOverTheHistoryNothing)
{
    auto model = makeModel();
    for (int i = 0; i < 30; ++i)
        insertCall(*model,
                   {QStringLiteral("Locataire %1").arg(i),
                    day(1 + i % 28),
                    i % 3 ? std::optional<QString>() : QStringLiteral("SCI Lilas"),
                    {i % 2 ? QStringLiteral("Le chauffage est en panne.") : QStringLiteral("Une fuite.")}});
    MainWindow window(*model);
    window.show();
    settle();
    auto* dossiers = qobject_cast<DossiersPage*>(window.page("Dossiers"));
    auto* conversations = qobject_cast<ConversationsPage*>(window.page("Conversations"));
    ASSERT_TRUE(dossiers && conversations);
    model->setPage("Dossiers");
    settle();
    QTest::keyClicks(dossiers->searchField(), QStringLiteral("chauffage"));
    QTRY_VERIFY(!dossiers->searchPending());
    settle();
    ASSERT_EQ(dossiers->tableModel()->rowCount(), 15);

    QSignalSpy tableResets(dossiers->tableModel(), &QAbstractItemModel::modelReset);
    QSignalSpy tableInsertions(dossiers->tableModel(), &QAbstractItemModel::rowsInserted);
    QSignalSpy tableRemovals(dossiers->tableModel(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy pickerResets(conversations->pickerModel(), &QAbstractItemModel::modelReset);
    const qsizetype filterRuns = dossiers->filterRuns();
    auto liveCall = [&](const QString& caller) {
        CallRecord live = makeCall({caller, day(28, 18), std::nullopt, {}});
        model->setCurrent(live);
        settle();
        for (int line = 0; line < 12; ++line) {
            live.transcript << TranscriptLine::make(QStringLiteral("Interlocuteur"),
                                                    QStringLiteral("Le chauffage, ligne %1").arg(line));
            model->setCurrent(live);
            model->setConversationUsage(
                ConversationUsage{100 * line, 50 * line, 0.01 * line, 0, "gpt-realtime"});
            settle();
        }
        return live;
    };

    liveCall(QStringLiteral("Appelant vu sur la page des dossiers"));
    EXPECT_EQ(dossiers->filterRuns(), filterRuns) << "shown, the table is not filtered again for a live call";

    model->setPage("Le standard");
    settle();
    const CallRecord ended = liveCall(QStringLiteral("Appelant pendant que les dossiers sont cachés"));
    EXPECT_EQ(dossiers->filterRuns(), filterRuns) << "hidden, nothing either";
    EXPECT_EQ(tableResets.count() + tableInsertions.count() + tableRemovals.count(), 0);
    EXPECT_EQ(pickerResets.count(), 0) << "the picker is not rebuilt for a live call";

    // The call ends: hidden pages note it and catch up once shown.
    model->history().insert(ended);
    model->setCurrent(std::nullopt);
    settle();
    EXPECT_EQ(dossiers->filterRuns(), filterRuns) << "a hidden page waits to be shown";
    EXPECT_EQ(pickerResets.count(), 0);
    model->setPage("Dossiers");
    settle();
    EXPECT_EQ(dossiers->filterRuns(), filterRuns + 1);
    EXPECT_EQ(dossiers->tableModel()->rowCount(), 16) << "the new call is listed when the page is shown";
    EXPECT_EQ(dossiers->tableModel()->record(0).id, ended.id);
    model->setPage("Conversations");
    settle();
    EXPECT_EQ(pickerResets.count(), 1);
    EXPECT_EQ(conversations->picker()->count(), 31);
    EXPECT_EQ(conversations->picker()->itemText(0), ConversationListModel::label(ended));
}
