#include "tests/windows/RecordsTestSupport.h"
#include "tests/windows/WindowTestSupport.h"

#include "app/records/Dossiers.h"
#include "app/windows/ConversationsPage.h"
#include "app/windows/DashboardPage.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/DossiersPage.h"
#include "app/windows/FollowUpDraftView.h"
#include "app/windows/MainWindow.h"
#include "app/windows/Theme.h"

#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

FollowUpDraft draft(bool urgent, const QString& dossier, const QString& request)
{
    FollowUpDraft made;
    made.callerName = urgent ? QStringLiteral("Claire Martin") : QString();
    made.address = QStringLiteral("12 rue des Lilas, appartement 4");
    made.request = request;
    made.urgent = urgent;
    made.urgencyReason = urgent ? QStringLiteral("Fuite d’eau en cours") : QStringLiteral("Simple question");
    made.dossier = dossier;
    return made;
}

} // namespace

class FollowUpViewsTest : public ModelTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    QUuid leak;
    QUuid question;

    void SetUp() override
    {
        Theme::apply(*qApp);
        CallRecord urgent =
            makeCall({QStringLiteral("06 12 34 56 78"), day(3), std::nullopt, {"Une fuite."}});
        urgent.note = QStringLiteral("Rappeler Mme Martin avant midi");
        urgent.followUpDraft = draft(true, QStringLiteral("Lilas"), QStringLiteral("Fuite sous l’évier."));
        CallRecord calm =
            makeCall({QStringLiteral("07 98 76 54 32"), day(5), std::nullopt, {"Une question."}});
        calm.followUpDraft =
            draft(false, QStringLiteral("Quittances"), QStringLiteral("Demande de quittance."));
        leak = urgent.id;
        question = calm.id;
        model->history().insert(urgent);
        model->history().insert(calm);
        model->setStatus(QStringLiteral("deux appels")); // any change notifies
        settle();
    }

    const CallRecord& record(const QUuid& id) const { return *model->history().find(id); }
};

TEST_F(FollowUpViewsTest, TheSuggestionIsAppliedOrIgnoredWhereTheCallIsRead)
{
    ConversationsPage conversations(*model);
    conversations.resize(880, 900);
    conversations.show();
    model->setSelectedRecord(leak);
    settle();
    FollowUpDraftView* view = conversations.draftView();
    ASSERT_TRUE(view->isVisible());
    EXPECT_TRUE(showsText(*view, "Claire Martin"));
    EXPECT_TRUE(showsText(*view, "Urgent · Fuite d’eau en cours"));
    EXPECT_TRUE(showsText(*view, "URGENT"));
    EXPECT_TRUE(view->applyButton()->isVisible() && view->ignoreButton()->isVisible());

    QTest::mouseClick(view->applyButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(record(leak).dossier, std::optional<QString>("Lilas"));
    EXPECT_EQ(record(leak).statusLabel(), "À traiter");
    EXPECT_EQ(record(leak).note, "Rappeler Mme Martin avant midi") << "the manager's words stay";
    EXPECT_EQ(conversations.noteEditor()->toPlainText(), "Rappeler Mme Martin avant midi");
    EXPECT_FALSE(view->applyButton()->isVisible()) << "taken once";
    EXPECT_TRUE(showsText(*view, "Suggestion appliquée."));

    // The Dossiers table marks the urgent call and has a filter for such calls.
    DossiersPage dossiers(*model);
    dossiers.resize(880, 900);
    dossiers.show();
    settle();
    const DossierTableModel* rows = dossiers.tableModel();
    auto rowOf = [&](const QUuid& id) { return rows->index(rows->rowOf(id), DossierTableModel::Reference); };
    EXPECT_FALSE(rowOf(leak).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(rowOf(leak).data(Qt::ToolTipRole).toString(), "Appel urgent · Fuite d’eau en cours");
    EXPECT_TRUE(rowOf(question).data(Qt::DecorationRole).isNull());
    ASSERT_TRUE(pick(dossiers.folderFilter(), Dossiers::kUrgent));
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->record(0).id, leak);
    ASSERT_TRUE(pick(dossiers.folderFilter(), Dossiers::kAllFolders));

    // Ignored from the detail of the other call: nothing is filed.
    clickRow(dossiers.table(), rows->rowOf(question));
    settle();
    FollowUpDraftView* detail = dossiers.draftView();
    ASSERT_TRUE(detail->isVisible());
    EXPECT_TRUE(showsText(*detail, "Demande de quittance."));
    EXPECT_TRUE(showsText(*detail, "NORMAL"));
    QTest::mouseClick(detail->ignoreButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(record(question).followUpDraft->decision, FollowUpDraft::Decision::Ignored);
    EXPECT_FALSE(record(question).dossier.has_value());
    EXPECT_TRUE(showsText(*detail, "Suggestion ignorée."));
    EXPECT_FALSE(detail->ignoreButton()->isVisible());
}

TEST_F(FollowUpViewsTest, TheLiveCardShowsTheLastCallsDraftAndTheBannerOpensTheCall)
{
    // The draft is still being asked for: the card says so, then shows it, without deciding for the manager.
    CallRecord fresh =
        makeCall({QStringLiteral("06 45 12 78 90"), day(8), std::nullopt, {"Plus de chauffage."}});
    model->history().insert(fresh);
    model->setLastCall(fresh.id);
    model->setFollowUpDraftStatus(QStringLiteral("Résumé de l’appel en préparation…"));
    DashboardPage dashboard(*model);
    dashboard.resize(1000, 1400);
    dashboard.show();
    settle();
    auto* card = dashboard.findChild<FollowUpDraftView*>(QStringLiteral("lastCallDraft"));
    ASSERT_TRUE(card && card->isVisible());
    EXPECT_TRUE(showsText(*card, "Résumé de l’appel en préparation…"));
    model->history().update(fresh.id, [](CallRecord& call) {
        call.followUpDraft = draft(true, QStringLiteral("Lilas"), QStringLiteral("Chauffage en panne."));
    });
    model->setFollowUpDraftStatus(QString());
    settle();
    EXPECT_TRUE(showsText(*card, "Chauffage en panne."));
    EXPECT_FALSE(card->applyButton()->isVisible()) << "decided in Conversations and Dossiers";
    model->setBusy(true); // the next call
    settle();
    EXPECT_FALSE(card->isVisible());
    model->setBusy(false);

    // No notification could tell: the window does, and its button opens the call.
    MainWindow window(*model);
    window.show();
    settle();
    EXPECT_FALSE(window.urgentBanner()->isVisible());
    model->setUrgentBanner(leak);
    settle();
    ASSERT_TRUE(window.urgentBanner()->isVisible());
    EXPECT_TRUE(showsText(*window.urgentBanner(), "Appel urgent · Claire Martin"));
    EXPECT_TRUE(showsText(*window.urgentBanner(), "Fuite sous l’évier."));
    QAbstractButton* open = findButton(*window.urgentBanner(), "Ouvrir l’appel");
    ASSERT_NE(open, nullptr);
    QTest::mouseClick(open, Qt::LeftButton);
    settle();
    EXPECT_EQ(model->page(), "Conversations");
    EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(leak));
    EXPECT_FALSE(window.urgentBanner()->isVisible());
}
