#include "tests/windows/WindowTestSupport.h"

#include "app/windows/AgentDraft.h"
#include "app/windows/AgentPage.h"
#include "app/windows/AgentSetupWindow.h"
#include "app/windows/Theme.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace {
const QString kCalm = QStringLiteral("Calme et rassurant");
const QString kMission = QStringLiteral("Prends un message.\nDemande le numéro de rappel.");

template <typename T> T* child(QWidget& root, const char* name)
{
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no widget named " << name;
    return found;
}

void pick(QComboBox* picker, const QString& text)
{
    const int index = picker->findText(text);
    ASSERT_GE(index, 0) << "the picker does not offer " << text.toStdString();
    picker->setCurrentIndex(index);
}

// Types over the whole text; QTest only types ASCII, so accented text is entered as one input.
void replaceText(QLineEdit* field, const QString& text)
{
    field->selectAll();
    if (text.toLatin1() == text.toUtf8())
        QTest::keyClicks(field, text);
    else
        field->insert(text);
}

void replaceText(QPlainTextEdit* editor, const QString& text)
{
    editor->selectAll();
    if (text.toLatin1() == text.toUtf8())
        QTest::keyClicks(editor, text);
    else
        editor->insertPlainText(text);
}

QStringList itemTexts(QComboBox* picker)
{
    QStringList texts;
    for (int i = 0; i < picker->count(); ++i)
        texts << picker->itemText(i) + QLatin1Char('=') + picker->itemData(i).toString();
    return texts;
}
} // namespace

class AgentViewsTest : public ModelTest {
protected:
    void SetUp() override { Theme::apply(*static_cast<QApplication*>(QCoreApplication::instance())); }
};

TEST_F(AgentViewsTest, TheDraftStoresTheToneAsAFirstLineAndSplitsItOffAgain)
{
    auto model = makeModel();
    AgentDraft draft;
    EXPECT_EQ(draft.voice, QStringLiteral("marin"));
    EXPECT_EQ(draft.tone, QStringLiteral("Chaleureux et naturel"));
    EXPECT_EQ(draft.templateName, QStringLiteral("Personnalisé"));
    EXPECT_EQ(draft.templates, (QStringList{"Personnalisé", "Accueil", "Gestion locative", "Commercial",
                                            "SAV / Support", "Administratif"}));

    draft.company = QStringLiteral("Résidences du Port");
    draft.voice = QStringLiteral("sage");
    draft.tone = kCalm;
    draft.instructions = kMission;
    draft.saveDraft(*model);
    EXPECT_EQ(model->customInstructions(), QStringLiteral("Ton : Calme et rassurant.\n") + kMission);

    // Read back from the stored settings, not from the model that wrote them.
    auto reopened = makeModel();
    EXPECT_EQ(reopened->company(), QStringLiteral("Résidences du Port"));
    EXPECT_EQ(reopened->voice(), QStringLiteral("sage"));
    AgentDraft loaded;
    loaded.load(*reopened);
    EXPECT_EQ(loaded.tone, kCalm);
    EXPECT_EQ(loaded.instructions, kMission);
    EXPECT_EQ(loaded.company, QStringLiteral("Résidences du Port"));
    EXPECT_EQ(loaded.voice, QStringLiteral("sage"));

    // A mission that itself opens with a tone line survives a save and a load unchanged.
    loaded.tone = QStringLiteral("Professionnel et concis");
    loaded.instructions = QStringLiteral("Ton : Calme et rassurant.\nSuite");
    loaded.saveDraft(*reopened);
    AgentDraft again;
    again.load(*reopened);
    EXPECT_EQ(again.tone, QStringLiteral("Professionnel et concis"));
    EXPECT_EQ(again.instructions, QStringLiteral("Ton : Calme et rassurant.\nSuite"));
}

TEST_F(AgentViewsTest, TheDraftShowsUnrecognisedToneLinesWhole)
{
    auto model = makeModel();
    const QStringList whole{
        QStringLiteral("Ton : Joyeux et enlevé.\nPrends un message."),   // a tone we do not offer
        QStringLiteral("Ton : Calme et rassurant."),                     // no line feed after the full stop
        QStringLiteral("Ton : calme et rassurant.\nPrends un message."), // case counts
        QStringLiteral(" Ton : Calme et rassurant.\nPrends un message."),
        QStringLiteral("Prends un message."),
        QString(),
    };
    for (const QString& stored : whole) {
        model->setCustomInstructions(stored);
        AgentDraft draft;
        draft.load(*model);
        EXPECT_EQ(draft.instructions, stored) << stored.toStdString();
        EXPECT_EQ(draft.tone, QStringLiteral("Chaleureux et naturel")) << stored.toStdString();
    }
    model->setCustomInstructions(QStringLiteral("Ton : Professionnel et concis.\n"));
    AgentDraft draft;
    draft.load(*model);
    EXPECT_EQ(draft.tone, QStringLiteral("Professionnel et concis"));
    EXPECT_EQ(draft.instructions, QString());
}

TEST_F(AgentViewsTest, ExamplesReplaceTheMissionExceptTheCustomOne)
{
    AgentDraft draft;
    draft.instructions = kMission;
    for (const QString& name : {QStringLiteral("Personnalisé"), QStringLiteral("Inconnu")}) {
        draft.templateName = name;
        draft.applyTemplate();
        EXPECT_EQ(draft.instructions, kMission) << name.toStdString();
    }
    for (const QString& name : AgentDraft::kTemplates.mid(1)) {
        draft.instructions = kMission;
        draft.templateName = name;
        draft.applyTemplate();
        EXPECT_NE(draft.instructions, kMission) << name.toStdString();
        EXPECT_EQ(draft.instructions, *AgentDraft::templateText(name));
    }
    draft.templateName = QStringLiteral("Accueil");
    draft.applyTemplate();
    EXPECT_EQ(draft.instructions,
              QStringLiteral("Accueille les appelants. Demande leur nom, la raison de leur "
                             "appel et leur numéro de rappel. Reformule le message pour le "
                             "responsable."));
}

TEST_F(AgentViewsTest, TheSheetOpensOnTheStoredToneAndSavesWhatTheUserChose)
{
    auto model = makeModel();
    model->setCompany(QStringLiteral("Foncière des Tilleuls"));
    model->setCustomInstructions(QStringLiteral("Ton : Calme et rassurant.\n") + kMission);
    AgentSetupWindow sheet(*model);
    sheet.resize(760, 690);
    sheet.show();
    settle();

    auto* tone = child<QComboBox>(sheet, "tonePicker");
    auto* voice = child<QComboBox>(sheet, "voicePicker");
    auto* company = child<QLineEdit>(sheet, "companyField");
    auto* mission = child<QPlainTextEdit>(sheet, "missionEditor");
    ASSERT_TRUE(tone && voice && company && mission);
    EXPECT_EQ(tone->currentText(), kCalm);
    EXPECT_EQ(mission->toPlainText(), kMission) << "the tone line belongs to the tone picker";
    EXPECT_EQ(company->text(), QStringLiteral("Foncière des Tilleuls"));
    EXPECT_EQ(voice->currentText(), QStringLiteral("marin"));
    EXPECT_EQ(voice->count(), 10);
    EXPECT_LE(mission->height(), 190);
    EXPECT_GT(mission->height(), 170) << "about 190 points, in whole lines";
    saveSnapshot(sheet, QStringLiteral("agent-setup-sheet"));

    // The custom-voice details stay folded until asked for.
    EXPECT_FALSE(
        showsText(sheet, QStringLiteral("Cette fonction n’est pas encore connectée dans Orlea."), false));
    findButton(sheet, QStringLiteral("Utiliser ma propre voix"))->click();
    EXPECT_TRUE(
        showsText(sheet, QStringLiteral("Cette fonction n’est pas encore connectée dans Orlea."), false));
    EXPECT_TRUE(findButton(sheet, QStringLiteral("Conditions des voix personnalisées"))->isVisible());
    saveSnapshot(sheet, QStringLiteral("agent-setup-sheet-own-voice"));
    settle();
    if (auto* scroll = sheet.findChild<QScrollArea*>()) {
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        saveSnapshot(sheet, QStringLiteral("agent-setup-sheet-bottom"));
    }

    pick(tone, QStringLiteral("Professionnel et concis"));
    pick(voice, QStringLiteral("verse"));
    replaceText(company, QStringLiteral("Cabinet Martin"));
    replaceText(mission, QStringLiteral("Note la demande."));
    EXPECT_EQ(model->company(), QStringLiteral("Foncière des Tilleuls"))
        << "nothing is written before saving";

    findButton(sheet, QStringLiteral("Enregistrer"))->click();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.isVisible());
    auto reopened = makeModel();
    EXPECT_EQ(reopened->company(), QStringLiteral("Cabinet Martin"));
    EXPECT_EQ(reopened->voice(), QStringLiteral("verse"));
    EXPECT_EQ(reopened->customInstructions(),
              QStringLiteral("Ton : Professionnel et concis.\nNote la demande."));
}

TEST_F(AgentViewsTest, ClosingTheSheetKeepsTheSettings)
{
    auto model = makeModel();
    const QString company = model->company();
    const QString instructions = model->customInstructions();
    AgentSetupWindow sheet(*model);
    sheet.show();
    settle();
    // The default instructions carry no tone line: shown whole.
    EXPECT_EQ(child<QPlainTextEdit>(sheet, "missionEditor")->toPlainText(), instructions);

    replaceText(child<QLineEdit>(sheet, "companyField"), QStringLiteral("Autre société"));
    pick(child<QComboBox>(sheet, "tonePicker"), kCalm);
    pick(child<QComboBox>(sheet, "voicePicker"), QStringLiteral("ash"));
    findButton(sheet, QStringLiteral("Fermer"))->click();
    settle();
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    EXPECT_EQ(model->company(), company);
    EXPECT_EQ(model->voice(), QStringLiteral("marin"));
    EXPECT_EQ(model->customInstructions(), instructions);
    auto reopened = makeModel();
    EXPECT_EQ(reopened->company(), company);
    EXPECT_EQ(reopened->customInstructions(), instructions);
}

TEST_F(AgentViewsTest, TheExampleButtonFillsTheMissionEditor)
{
    auto model = makeModel();
    model->setCustomInstructions(kMission);
    AgentSetupWindow sheet(*model);
    auto* templates = child<QComboBox>(sheet, "templatePicker");
    auto* mission = child<QPlainTextEdit>(sheet, "missionEditor");
    ASSERT_TRUE(templates && mission);
    EXPECT_EQ(templates->currentText(), QStringLiteral("Personnalisé"));
    findButton(sheet, QStringLiteral("Utiliser cet exemple"))->click();
    EXPECT_EQ(mission->toPlainText(), kMission);

    pick(templates, QStringLiteral("SAV / Support"));
    findButton(sheet, QStringLiteral("Utiliser cet exemple"))->click();
    EXPECT_EQ(mission->toPlainText(), *AgentDraft::templateText(QStringLiteral("SAV / Support")));
    EXPECT_EQ(sheet.draft().instructions, mission->toPlainText());
    EXPECT_EQ(model->customInstructions(), kMission) << "an example is only a draft until saved";
}

TEST_F(AgentViewsTest, AVoiceSetElsewhereIsKeptBySheetAndPage)
{
    auto model = makeModel();
    model->setVoice(QStringLiteral("nova"));
    {
        AgentSetupWindow sheet(*model);
        EXPECT_EQ(child<QComboBox>(sheet, "voicePicker")->currentText(), QStringLiteral("nova"));
        findButton(sheet, QStringLiteral("Enregistrer"))->click();
        EXPECT_EQ(model->voice(), QStringLiteral("nova"));
    }
    model->setVoice(QStringLiteral("ash"));
    AgentPage page(*model);
    auto* voice = child<QComboBox>(page, "voicePicker");
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->currentData().toString(), QStringLiteral("ash"));
    EXPECT_EQ(voice->currentText(), QStringLiteral("Ash"));
    findButton(page, QStringLiteral("Enregistrer"))->click();
    EXPECT_EQ(model->voice(), QStringLiteral("ash"));

    // Once a choice of the page is saved, the extra entry goes away.
    pick(voice, QStringLiteral("Coral"));
    findButton(page, QStringLiteral("Enregistrer"))->click();
    EXPECT_EQ(model->voice(), QStringLiteral("coral"));
    EXPECT_EQ(itemTexts(voice), (QStringList{"Marin=marin", "Cedar=cedar", "Coral=coral"}));
}

TEST_F(AgentViewsTest, SaveAndTalkPresentsTheMacTestOverTheSheet)
{
    auto model = makeModel();
    AgentSetupWindow sheet(*model);
    sheet.show();
    settle();
    pick(child<QComboBox>(sheet, "tonePicker"), kCalm);
    replaceText(child<QPlainTextEdit>(sheet, "missionEditor"), QStringLiteral("Essai"));
    findButton(sheet, QStringLiteral("Enregistrer et parler avec l’IA"))->click();
    EXPECT_EQ(model->customInstructions(), QStringLiteral("Ton : Calme et rassurant.\nEssai"));
    QDialog* test = sheet.conversationTest();
    ASSERT_NE(test, nullptr);
    EXPECT_TRUE(test->isVisible());
    EXPECT_EQ(test->parentWidget(), &sheet);
    EXPECT_EQ(test->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet.isVisible()) << "the sheet stays under the test";
    EXPECT_TRUE(sheet.draft().showTest);

    findButton(sheet, QStringLiteral("Enregistrer et parler avec l’IA"))->click();
    EXPECT_EQ(sheet.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly).size(), 1)
        << "a second press reuses the open test";
    test->reject();
    EXPECT_FALSE(sheet.draft().showTest);
}

TEST_F(AgentViewsTest, ThePageSavesItsFieldsAndKeepsWhatTheUserTypes)
{
    auto model = makeModel();
    AgentPage page(*model);
    page.resize(880, 780);
    page.show();
    settle();
    auto* company = child<QLineEdit>(page, "companyField");
    auto* voice = child<QComboBox>(page, "voicePicker");
    auto* instructions = child<QPlainTextEdit>(page, "instructionsEditor");
    ASSERT_TRUE(company && voice && instructions);
    EXPECT_EQ(company->text(), model->company());
    EXPECT_EQ(instructions->toPlainText(), model->customInstructions());
    EXPECT_EQ(itemTexts(voice), (QStringList{"Marin=marin", "Cedar=cedar", "Coral=coral"}));
    EXPECT_TRUE(showsText(page, QStringLiteral("Une voix, votre accueil.")));
    EXPECT_TRUE(showsText(page, QStringLiteral("Reformuler la demande et préparer le suivi humain")));
    saveSnapshot(page, QStringLiteral("agent-page"));

    replaceText(company, QStringLiteral("Gestion Dupont"));
    pick(voice, QStringLiteral("Cedar"));
    replaceText(instructions, QStringLiteral("Prends un message."));
    // Unrelated changes of the model leave the typing alone.
    model->setStatus(QStringLiteral("À l’écoute des appels"));
    model->event(QStringLiteral("Quelque chose"));
    settle();
    EXPECT_EQ(company->text(), QStringLiteral("Gestion Dupont"));
    EXPECT_EQ(voice->currentData().toString(), QStringLiteral("cedar"));
    EXPECT_EQ(instructions->toPlainText(), QStringLiteral("Prends un message."));

    findButton(page, QStringLiteral("Enregistrer"))->click();
    settle();
    auto reopened = makeModel();
    EXPECT_EQ(reopened->company(), QStringLiteral("Gestion Dupont"));
    EXPECT_EQ(reopened->voice(), QStringLiteral("cedar"));
    EXPECT_EQ(reopened->customInstructions(), QStringLiteral("Prends un message."));

    // Saved elsewhere (the full editor): the page shows the new values.
    model->setCompany(QStringLiteral("Cabinet Martin"));
    model->setVoice(QStringLiteral("coral"));
    model->setCustomInstructions(QStringLiteral("Ton : Calme et rassurant.\nAutre"));
    settle();
    EXPECT_EQ(company->text(), QStringLiteral("Cabinet Martin"));
    EXPECT_EQ(voice->currentText(), QStringLiteral("Coral"));
    EXPECT_EQ(instructions->toPlainText(), QStringLiteral("Ton : Calme et rassurant.\nAutre"));

    EXPECT_FALSE(model->showAgentSetup());
    findButton(page, QStringLiteral("Ouvrir mon assistant IA"))->click();
    EXPECT_TRUE(model->showAgentSetup());
}

TEST_F(AgentViewsTest, ThePageIsLockedLikeTheDashboardAndLeavingItDropsWhatWasNotSaved)
{
    auto model = makeModel();
    AgentPage page(*model);
    page.resize(880, 780);
    page.show();
    settle();
    auto* company = child<QLineEdit>(page, "companyField");
    auto* voice = child<QComboBox>(page, "voicePicker");
    auto* instructions = child<QPlainTextEdit>(page, "instructionsEditor");
    ASSERT_TRUE(company && voice && instructions);
    QAbstractButton* save = findButton(page, QStringLiteral("Enregistrer"));
    QAbstractButton* open = findButton(page, QStringLiteral("Ouvrir mon assistant IA"));
    const QList<QWidget*> controls{company, voice, instructions, save, open};

    const struct {
        const char* state;
        bool armed;
        bool busy;
        const char* note;
    } states[] = {
        {"listening", true, false, "Le standard est actif : mettez-le en pause pour modifier votre agent."},
        {"in a conversation", false, true,
         "Une conversation est en cours : votre agent se modifie après l’appel."},
        {"in a conversation while listening", true, true,
         "Une conversation est en cours : votre agent se modifie après l’appel."},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.state);
        model->setArmed(state.armed);
        model->setBusy(state.busy);
        settle();
        for (QWidget* control : controls)
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
        EXPECT_TRUE(showsText(page, QString::fromUtf8(state.note)));
    }
    model->setArmed(false);
    model->setBusy(false);
    settle();
    for (QWidget* control : controls)
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();

    // Typed, not saved, then another page: the page shows the saved agent again.
    const QString savedCompany = model->company();
    const QString savedInstructions = model->customInstructions();
    replaceText(company, QStringLiteral("Gestion Dupont"));
    pick(voice, QStringLiteral("Coral"));
    replaceText(instructions, QStringLiteral("Prends un message."));
    page.hide();
    page.show();
    settle();
    EXPECT_EQ(company->text(), savedCompany);
    EXPECT_EQ(voice->currentData().toString(), model->voice());
    EXPECT_EQ(instructions->toPlainText(), savedInstructions);
    EXPECT_EQ(model->company(), savedCompany) << "nothing was saved on the way";
}
