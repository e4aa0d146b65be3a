#include "tests/windows/RecordsTestSupport.h"
#include "tests/windows/WindowTestSupport.h"

#include "app/windows/Theme.h"

#include "app/records/Dossiers.h"
#include "app/ui/RecordingView.h"
#include "app/windows/DossierAssignment.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/DossiersPage.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace {
const QString kNoMatch = QStringLiteral("Aucun appel ne correspond aux filtres.");
const QString kSelectHint =
    QStringLiteral("Sélectionnez un appel dans le tableau pour lire, copier ou exporter sa transcription.");

QString countsText(int folders, int calls)
{
    return Dossiers::countsLine(folders, calls);
}

// Types into the search field as the manager does, then waits for the pause that applies it.
void type(DossiersPage& page, const QString& text)
{
    QTest::keyClicks(page.searchField(), text);
    QTRY_VERIFY(!page.searchPending());
    settle();
}
} // namespace

class DossiersPageTest : public ModelTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();

    std::unique_ptr<DossiersPage> openPage()
    {
        Theme::apply(*qApp); // the look the window gives every page
        auto page = std::make_unique<DossiersPage>(*model);
        page->resize(880, 780);
        page->show();
        page->activateWindow();
        (void)QTest::qWaitForWindowActive(page.get());
        settle();
        return page;
    }

    // Three calls: two filed under dossiers that differ only by case, one unfiled without a number.
    void fileThreeCalls()
    {
        insertCall(*model, {QStringLiteral("Élodie Martin +33 6 12 34 56 78"),
                            day(3),
                            QStringLiteral("SCI Lilas"),
                            {QStringLiteral("La chaudière fait un bruit étrange.")}});
        insertCall(*model, {QStringLiteral("Jean Dupont 06 98 76 54 32"),
                            day(5),
                            QStringLiteral("lilas"),
                            {QStringLiteral("Je voudrais un rendez-vous pour l’état des lieux.")}});
        insertCall(*model, {QStringLiteral("Appel masqué"),
                            day(7),
                            std::nullopt,
                            {QStringLiteral("Le chauffe-eau ne chauffe plus.")}});
        settle();
    }
};

TEST_F(DossiersPageTest, EmptyHistoryOffersTheExampleThenListsIt)
{
    auto page = openPage();
    EXPECT_TRUE(showsText(*page, QStringLiteral("Aucun appel enregistré pour le moment.")));
    EXPECT_TRUE(showsText(
        *page, QStringLiteral("Les appels pris en charge par Orlea apparaissent ici une fois terminés.")));
    EXPECT_FALSE(page->table()->isVisibleTo(page.get())) << "no table without any call";
    saveSnapshot(*page, QStringLiteral("dossiers-empty"));

    QAbstractButton* example = findButton(*page, QStringLiteral("Voir un exemple fictif"));
    ASSERT_NE(example, nullptr);
    example->click();
    settle();
    ASSERT_EQ(model->records().size(), 1) << "exactly one demonstration record";
    EXPECT_EQ(model->records().first().kind, QStringLiteral("Démonstration"));
    EXPECT_EQ(model->page(), QStringLiteral("Dossiers")) << "the example keeps the manager on this page";
    EXPECT_FALSE(showsText(*page, QStringLiteral("Aucun appel enregistré pour le moment.")));
    EXPECT_TRUE(page->table()->isVisibleTo(page.get()));
    EXPECT_EQ(page->tableModel()->rowCount(), 1);
    EXPECT_TRUE(showsText(*page, countsText(0, 1)));
    EXPECT_TRUE(showsText(*page, kSelectHint));

    clickRow(page->table(), 0);
    settle();
    const CallRecord& demo = model->records().first();
    EXPECT_TRUE(
        showsText(*page, QStringLiteral("Appel ") + demo.reference() + QStringLiteral(" · ") + demo.caller));
    EXPECT_TRUE(showsText(*page, QStringLiteral("Démonstration · Non communiqué")));
    EXPECT_FALSE(page->recordingView()->isVisibleTo(page.get())) << "a demonstration has no recording";
    saveSnapshot(*page, QStringLiteral("dossiers-populated"));
}

TEST_F(DossiersPageTest, FiltersAndSearchNarrowTheTable)
{
    fileThreeCalls();
    auto page = openPage();
    EXPECT_EQ(entries(page->folderFilter()),
              (QStringList{Dossiers::kAllFolders, Dossiers::kUnfiled, Dossiers::kUrgent,
                           QStringLiteral("lilas"), QStringLiteral("SCI Lilas")}))
        << "dossier names differing by case are two dossiers";
    EXPECT_EQ(entries(page->statusFilter()),
              (QStringList{Dossiers::kAllStates, QStringLiteral("À traiter"), QStringLiteral("En cours"),
                           QStringLiteral("Terminé")}));
    EXPECT_TRUE(showsText(*page, countsText(2, 3)));

    ASSERT_TRUE(pick(page->folderFilter(), QStringLiteral("lilas")));
    settle();
    EXPECT_EQ(column(page->table(), DossierTableModel::Caller),
              QStringList{QStringLiteral("Jean Dupont 06 98 76 54 32")})
        << "the dossier filter matches the exact letters only";
    EXPECT_TRUE(showsText(*page, countsText(2, 1))) << "the dossier count ignores the filters";

    ASSERT_TRUE(pick(page->folderFilter(), Dossiers::kUnfiled));
    settle();
    EXPECT_EQ(column(page->table(), DossierTableModel::Caller), QStringList{QStringLiteral("Appel masqué")});

    ASSERT_TRUE(pick(page->statusFilter(), QStringLiteral("Terminé")));
    settle();
    EXPECT_TRUE(showsText(*page, kNoMatch));
    EXPECT_FALSE(page->table()->isVisibleTo(page.get()));

    ASSERT_TRUE(pick(page->statusFilter(), QStringLiteral("À traiter")));
    settle();
    EXPECT_EQ(page->tableModel()->rowCount(), 1) << "a call without follow-up state counts as « À traiter »";
    EXPECT_FALSE(showsText(*page, kNoMatch));

    ASSERT_TRUE(pick(page->folderFilter(), Dossiers::kAllFolders));
    ASSERT_TRUE(pick(page->statusFilter(), Dossiers::kAllStates));
    QLineEdit* search = page->searchField();
    EXPECT_EQ(search->placeholderText(),
              QStringLiteral("Rechercher un numéro, un nom, un dossier ou une phrase"));

    search->setFocus();
    type(*page, QStringLiteral("chaudiere"));
    EXPECT_EQ(column(page->table(), DossierTableModel::Caller),
              QStringList{QStringLiteral("Élodie Martin +33 6 12 34 56 78")})
        << "a query typed without accents finds accented text";

    search->clear();
    type(*page, QStringLiteral("non classe"));
    EXPECT_EQ(column(page->table(), DossierTableModel::Caller), QStringList{QStringLiteral("Appel masqué")});

    search->clear();
    type(*page, QStringLiteral("non communique"));
    EXPECT_EQ(page->tableModel()->rowCount(), 1) << "only the masked call has no number";

    search->clear();
    type(*page, QStringLiteral(" "));
    EXPECT_EQ(page->draft().filter.search, QStringLiteral(" "));
    EXPECT_EQ(page->tableModel()->rowCount(), 3) << "one blank matches every call";

    search->clear();
    type(*page, QStringLiteral("introuvable"));
    EXPECT_TRUE(showsText(*page, kNoMatch));
    EXPECT_TRUE(showsText(*page, countsText(2, 0)));
}

TEST_F(DossiersPageTest, HeaderClicksSortAndReverse)
{
    insertCall(*model, {QStringLiteral("Bernard"), day(3), QStringLiteral("Dossier 10"), {}});
    insertCall(*model, {QStringLiteral("alice"), day(9), QStringLiteral("Dossier 2"), {}});
    insertCall(*model, {QStringLiteral("Chloé"), day(5), std::nullopt, {}});
    settle();
    auto page = openPage();
    QTableView* table = page->table();
    EXPECT_EQ(column(table, DossierTableModel::Caller),
              (QStringList{QStringLiteral("alice"), QStringLiteral("Chloé"), QStringLiteral("Bernard")}))
        << "newest first by default";

    clickHeader(table, DossierTableModel::Caller);
    settle();
    EXPECT_EQ(column(table, DossierTableModel::Caller),
              (QStringList{QStringLiteral("alice"), QStringLiteral("Bernard"), QStringLiteral("Chloé")}))
        << "a header click sorts ascending, case-insensitively";
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), int(DossierTableModel::Caller));

    clickHeader(table, DossierTableModel::Caller);
    settle();
    EXPECT_EQ(column(table, DossierTableModel::Caller),
              (QStringList{QStringLiteral("Chloé"), QStringLiteral("Bernard"), QStringLiteral("alice")}))
        << "a second click reverses";

    clickHeader(table, DossierTableModel::Transcript);
    settle();
    EXPECT_EQ(column(table, DossierTableModel::Caller),
              (QStringList{QStringLiteral("Chloé"), QStringLiteral("Bernard"), QStringLiteral("alice")}))
        << "the transcript column does not sort";
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), int(DossierTableModel::Caller));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    clickHeader(table, DossierTableModel::Folder);
    settle();
    EXPECT_EQ(column(table, DossierTableModel::Folder),
              (QStringList{QStringLiteral("Dossier 2"), QStringLiteral("Dossier 10"),
                           QStringLiteral("Non classé")}))
        << "digit runs compare by value";

    clickHeader(table, DossierTableModel::Date);
    settle();
    EXPECT_EQ(column(table, DossierTableModel::Caller),
              (QStringList{QStringLiteral("Bernard"), QStringLiteral("Chloé"), QStringLiteral("alice")}))
        << "dates ascending after one click";
}

TEST_F(DossiersPageTest, SelectionSurvivesAFilterThatHidesIt)
{
    fileThreeCalls();
    auto page = openPage();
    EXPECT_TRUE(showsText(*page, kSelectHint));
    clickRow(page->table(), 1); // Jean Dupont, in the middle
    settle();
    const CallRecord jean = model->records().at(1);
    ASSERT_EQ(jean.caller, QStringLiteral("Jean Dupont 06 98 76 54 32"));
    const QString headline =
        QStringLiteral("Appel ") + jean.reference() + QStringLiteral(" · ") + jean.caller;
    EXPECT_TRUE(showsText(*page, headline));
    EXPECT_TRUE(showsText(*page, QStringLiteral("Appel · 06 98 76 54 32")));
    EXPECT_FALSE(showsText(*page, kSelectHint));

    page->assignment()->nameField()->setText(QStringLiteral("Brouillon"));
    ASSERT_TRUE(pick(page->folderFilter(), QStringLiteral("SCI Lilas")));
    settle();
    EXPECT_FALSE(showsText(*page, headline)) << "the hidden call's detail is gone";
    EXPECT_TRUE(showsText(*page, kSelectHint));
    EXPECT_EQ(page->draft().selected, jean.id) << "the selection itself is kept";

    ASSERT_TRUE(pick(page->folderFilter(), Dossiers::kAllFolders));
    settle();
    EXPECT_TRUE(showsText(*page, headline)) << "relaxing the filter brings the call back without a click";
    EXPECT_EQ(page->assignment()->name(), QStringLiteral("lilas"))
        << "a panel shown again starts from the record";
    const QModelIndexList rows = page->table()->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().data(Qt::UserRole).toUuid(), jean.id);

    // A finished call arrives: it comes first, and the selection stays on the same call.
    insertCall(*model, {QStringLiteral("Nouveau +33 7 11 22 33 44"), day(20), std::nullopt, {}});
    settle();
    EXPECT_EQ(page->table()->model()->index(0, DossierTableModel::Caller).data().toString(),
              QStringLiteral("Nouveau +33 7 11 22 33 44"));
    EXPECT_TRUE(showsText(*page, headline));
    EXPECT_EQ(page->table()->selectionModel()->selectedRows().first().data(Qt::UserRole).toUuid(), jean.id);
    EXPECT_TRUE(showsText(*page, countsText(2, 4)));
}

TEST_F(DossiersPageTest, AssignmentSavesOnlyNewAcceptableNames)
{
    fileThreeCalls();
    auto page = openPage();
    clickRow(page->table(), 0); // the unfiled, newest call
    settle();
    const QUuid id = model->records().first().id;
    DossierAssignment* panel = page->assignment();
    QLineEdit* name = panel->nameField();
    QPushButton* save = panel->saveButton();
    EXPECT_EQ(name->placeholderText(), QStringLiteral("Ex. SCI Lilas · logement 4 · fuite"));
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_FALSE(save->isEnabled()) << "an empty name is already what the unfiled call has";

    for (const QString& reserved :
         {QStringLiteral("  Tous les dossiers "), QStringLiteral("Appels non classés\n")}) {
        name->setText(reserved);
        EXPECT_FALSE(save->isEnabled()) << "reserved name accepted: " << reserved.toStdString();
    }

    // The menu only fills the name.
    QMenu* menu = panel->existingButton()->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions().at(0)->data().toString(), QStringLiteral("SCI Lilas")) << "code-point order";
    menu->actions().at(0)->trigger();
    EXPECT_EQ(name->text(), QStringLiteral("SCI Lilas"));
    EXPECT_FALSE(model->records().first().dossier.has_value()) << "choosing an existing name does not save";

    name->clear();
    QTest::keyClicks(name, QStringLiteral("  Residence Iris  "));
    EXPECT_TRUE(save->isEnabled());
    save->click();
    settle();
    EXPECT_EQ(model->records().first().dossier, QStringLiteral("Residence Iris"));
    EXPECT_EQ(name->text(), QStringLiteral("Residence Iris")) << "the name follows the saved dossier";
    EXPECT_FALSE(save->isEnabled()) << "the same name cannot be saved again";
    EXPECT_TRUE(entries(page->folderFilter()).contains(QStringLiteral("Residence Iris")));
    EXPECT_TRUE(showsText(*page, countsText(3, 3)));

    // A change made elsewhere reaches the panel.
    model->updateDossier(id, QStringLiteral("Iris bis"));
    settle();
    EXPECT_EQ(name->text(), QStringLiteral("Iris bis"));

    ASSERT_TRUE(pick(page->folderFilter(), QStringLiteral("Iris bis")));
    settle();
    ASSERT_EQ(page->tableModel()->rowCount(), 1);
    name->clear();
    EXPECT_TRUE(save->isEnabled()) << "clearing a filed call's name takes it out";
    save->click();
    settle();
    EXPECT_FALSE(model->records().first().dossier.has_value());
    EXPECT_FALSE(entries(page->folderFilter()).contains(QStringLiteral("Iris bis")))
        << "the last call out makes the dossier vanish";
    EXPECT_EQ(page->folderFilter()->currentIndex(), -1);
    EXPECT_EQ(page->folderFilter()->placeholderText(), QStringLiteral("Iris bis"))
        << "the picker still names the filter in use";
    EXPECT_TRUE(showsText(*page, kNoMatch));
    EXPECT_TRUE(showsText(*page, countsText(2, 0)));
}

TEST_F(DossiersPageTest, DetailActionsReachTheModel)
{
    fileThreeCalls();
    auto page = openPage();
    clickRow(page->table(), 2); // Élodie, the oldest
    settle();
    const CallRecord elodie = model->records().at(2);
    ASSERT_TRUE(elodie.caller.startsWith(QStringLiteral("Élodie")));

    EXPECT_EQ(page->followUpPicker()->currentText(), QStringLiteral("À traiter"));
    ASSERT_TRUE(pick(page->followUpPicker(), QStringLiteral("En cours")));
    settle();
    EXPECT_EQ(model->history().find(elodie.id)->followUpStatus, QStringLiteral("En cours"));
    EXPECT_EQ(page->table()->model()->index(2, DossierTableModel::Status).data().toString(),
              QStringLiteral("En cours"));

    findButton(*page, QStringLiteral("Copier la transcription"))->click();
    settle();
    EXPECT_EQ(clipboard.text, model->history().find(elodie.id)->transcriptDocument());
    EXPECT_TRUE(showsText(*page, QStringLiteral("Transcription de l’appel ") + elodie.reference() +
                                     QStringLiteral(" copiée.")));

    findButton(*page, QStringLiteral("Exporter en .txt"))->click();
    EXPECT_EQ(savePanel.proposed,
              QStringList{QStringLiteral("Conversation-") + elodie.reference() + QStringLiteral(".txt")});

    findButton(*page, QStringLiteral("Voir le fichier"))->click();
    ASSERT_EQ(revealer.shown.size(), 1);
    EXPECT_TRUE(revealer.shown.first().endsWith(QStringLiteral(".txt")));

    // A recorded call shows its recording panel; a missing file is explained there. Its answer times
    // show under its title.
    const QString responsiveness =
        QStringLiteral("Réactivité : médiane 0,9 s · la plus lente en 1,4 s · 6 réponses mesurées");
    EXPECT_FALSE(showsText(*page, responsiveness));
    EXPECT_FALSE(page->findChild<QLabel*>("detailUsage")->isVisibleTo(page.get())) << "no usage stored";
    model->history().update(elodie.id, [](CallRecord& record) {
        record.recordingFile = QStringLiteral("Appel-x.wav");
        record.responseLatency = ResponseLatency{6, 900, 1400};
        record.usage = ConversationUsage{5230, 2140, 0.39, 1, QStringLiteral("gpt-realtime")};
    });
    model->setStatus(QStringLiteral("enregistrement"));
    settle();
    EXPECT_TRUE(page->recordingView()->isVisibleTo(page.get()));
    EXPECT_EQ(page->recordingView()->state(), RecordingView::State::MissingFile);
    EXPECT_TRUE(showsText(*page, responsiveness));
    EXPECT_TRUE(showsText(*page, QStringLiteral("7370 tokens reçus d’OpenAI · budget prudent : 0.39 $ US · "
                                                "provision en cours incluse")))
        << "the stored call's usage shows under its title";
    saveSnapshot(*page, QStringLiteral("dossiers-selected"));
    page->resize(880, 1400); // the whole scrolling content, to look at its bottom too
    settle();
    saveSnapshot(*page, QStringLiteral("dossiers-selected-full"));
    page->resize(880, 780);

    findButton(*page, QStringLiteral("Ouvrir la conversation et ses notes"))->click();
    settle();
    EXPECT_EQ(model->selectedRecord(), elodie.id);
    EXPECT_EQ(model->page(), QStringLiteral("Conversations"));
}
