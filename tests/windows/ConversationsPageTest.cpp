#include "tests/windows/RecordsTestSupport.h"
#include "tests/windows/WindowTestSupport.h"

#include "app/windows/Theme.h"

#include "app/ui/RecordingView.h"
#include "app/windows/ConversationsPage.h"

#include <QPlainTextEdit>
#include <QPushButton>

class ConversationsPageTest : public ModelTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();

    std::unique_ptr<ConversationsPage> openPage()
    {
        Theme::apply(*qApp); // the look the window gives every page
        auto page = std::make_unique<ConversationsPage>(*model);
        page->resize(880, 780);
        page->show();
        page->activateWindow();
        (void)QTest::qWaitForWindowActive(page.get());
        settle();
        return page;
    }

    QString noteOf(const QUuid& id) { return model->history().find(id)->note; }
};

TEST_F(ConversationsPageTest, EmptyStateOffersOneExample)
{
    auto page = openPage();
    EXPECT_TRUE(showsText(*page, QStringLiteral("Conversations")));
    EXPECT_TRUE(showsText(*page, QStringLiteral("Transcriptions et notes conservées sur ce Mac.")));
    EXPECT_TRUE(showsText(*page, QStringLiteral("Votre première conversation apparaîtra ici.")));
    EXPECT_FALSE(page->picker()->isVisibleTo(page.get()));
    saveSnapshot(*page, QStringLiteral("conversations-empty"));

    QAbstractButton* discover = findButton(*page, QStringLiteral("Découvrir un exemple fictif"));
    ASSERT_NE(discover, nullptr);
    discover->click();
    settle();
    ASSERT_EQ(model->records().size(), 1) << "exactly one demonstration record";
    const CallRecord& demo = model->records().first();
    EXPECT_FALSE(showsText(*page, QStringLiteral("Votre première conversation apparaîtra ici.")));
    EXPECT_EQ(page->picker()->count(), 1);
    EXPECT_TRUE(page->picker()->currentText().contains(demo.caller));
    EXPECT_EQ(page->noteEditor()->toPlainText(), demo.note);
    EXPECT_EQ(page->recordingView()->state(), RecordingView::State::NoRecording);
    EXPECT_TRUE(
        showsText(*page, QStringLiteral("Note rédigée par vous. Le résumé automatique sera ajouté après "
                                        "validation des appels.")));

    findButton(*page, QStringLiteral("Copier"))->click();
    settle();
    EXPECT_EQ(clipboard.text, demo.transcriptDocument());
    EXPECT_TRUE(showsText(*page, QStringLiteral("Transcription de l’appel ") + demo.reference() +
                                     QStringLiteral(" copiée.")));
    findButton(*page, QStringLiteral("Exporter"))->click();
    EXPECT_EQ(savePanel.proposed,
              QStringList{QStringLiteral("Conversation-") + demo.reference() + QStringLiteral(".txt")});
    saveSnapshot(*page, QStringLiteral("conversations-populated"));
}

TEST_F(ConversationsPageTest, PickerFollowsTheSelectedRecordAndTheNewestByDefault)
{
    const QUuid older = insertCall(
        *model,
        {QStringLiteral("Jean Dupont 06 98 76 54 32"), day(3), std::nullopt, {QStringLiteral("Bonjour")}});
    const QUuid newer = insertCall(*model, {QStringLiteral("Élodie Martin"), day(5), std::nullopt, {}});
    auto page = openPage();
    EXPECT_EQ(page->picker()->count(), 2);
    EXPECT_EQ(page->shownRecord(), newer) << "with nothing selected, the newest call is shown";
    EXPECT_EQ(page->picker()->currentIndex(), 0);

    ASSERT_TRUE(pick(page->picker(), page->picker()->itemText(1)));
    settle();
    EXPECT_EQ(model->selectedRecord(), older) << "choosing sets the model's selection";
    EXPECT_EQ(page->shownRecord(), older);

    model->setSelectedRecord(newer);
    settle();
    EXPECT_EQ(page->picker()->currentIndex(), 0) << "the picker follows the model";
    EXPECT_EQ(page->shownRecord(), newer);
}

TEST_F(ConversationsPageTest, NotesAreSavedToTheirOwnRecord)
{
    const QUuid older = insertCall(*model, {QStringLiteral("Jean Dupont"), day(3), std::nullopt, {}});
    const QUuid newer = insertCall(*model, {QStringLiteral("Élodie Martin"), day(5), std::nullopt, {}});
    model->updateNote(older, QStringLiteral("Déjà rappelé."));
    auto page = openPage();
    QPlainTextEdit* editor = page->noteEditor();
    QPushButton* save = page->saveNoteButton();
    EXPECT_FALSE(save->isEnabled()) << "nothing typed yet";

    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("Rappeler demain"));
    EXPECT_TRUE(save->isEnabled());
    save->click();
    settle();
    EXPECT_EQ(noteOf(newer), QStringLiteral("Rappeler demain"));
    EXPECT_FALSE(save->isEnabled());

    // Typed but not saved, then another call is chosen: the text goes to its own record only.
    QTest::keyClicks(editor, QStringLiteral(" a 9 h"));
    ASSERT_TRUE(pick(page->picker(), page->picker()->itemText(1)));
    settle();
    EXPECT_EQ(noteOf(newer), QStringLiteral("Rappeler demain a 9 h")) << "switching keeps what was typed";
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Déjà rappelé.")) << "the other call shows its own note";
    EXPECT_EQ(noteOf(older), QStringLiteral("Déjà rappelé."));

    // Leaving the editor saves too.
    editor->setFocus();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral(" Devis OK."));
    page->picker()->setFocus();
    settle();
    EXPECT_EQ(noteOf(older), QStringLiteral("Déjà rappelé. Devis OK."));

    // A note changed elsewhere shows when nothing is being typed.
    model->updateNote(older, QStringLiteral("Clos."));
    settle();
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Clos."));
}

TEST_F(ConversationsPageTest, ACallEndingWhileTypingNeitherStealsNorLosesTheNote)
{
    const QUuid first = insertCall(*model, {QStringLiteral("Jean Dupont"), day(3), std::nullopt, {}});
    auto page = openPage();
    ASSERT_FALSE(model->selectedRecord().has_value());
    ASSERT_EQ(page->shownRecord(), first);

    QPlainTextEdit* editor = page->noteEditor();
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("Fuite au 2e"));
    const QUuid arriving = insertCall(*model, {QStringLiteral("Nouvel appel"), day(9), std::nullopt, {}});
    settle();

    EXPECT_EQ(page->picker()->itemText(0).contains(QStringLiteral("Nouvel appel")), true)
        << "the new call comes first in the picker";
    EXPECT_EQ(page->shownRecord(), first) << "the call being annotated stays shown";
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Fuite au 2e")) << "typed text survives the model change";
    EXPECT_TRUE(noteOf(arriving).isEmpty());

    page->saveNoteButton()->click();
    settle();
    EXPECT_EQ(noteOf(first), QStringLiteral("Fuite au 2e"));
    EXPECT_TRUE(noteOf(arriving).isEmpty());
}
