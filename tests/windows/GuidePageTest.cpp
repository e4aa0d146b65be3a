#include "tests/windows/WindowTestSupport.h"

#include "app/windows/GuidePage.h"

#include <QTest>

class GuidePageTest : public ModelTest {};

TEST_F(GuidePageTest, StepsButtonsAndTheSessionLog)
{
    auto model = makeModel();
    GuidePage page(*model);
    page.resize(880, 780);
    settle();
    for (const char* title : {"Votre premier appel.", "Reliez votre iPhone au Mac", "Préparez la voix",
                              "Reliez l’audio de Téléphone", "Testez le décrochage", "Ce pilote sait faire",
                              "À valider avant diffusion", "Journal de cette session"})
        EXPECT_TRUE(showsText(page, QString::fromUtf8(title))) << title;
    saveSnapshot(page, "guide-empty");

    QTest::mouseClick(findButton(page, "Décrocher l’appel présent"), Qt::LeftButton);
    settle();
    EXPECT_EQ(model->error(),
              std::optional<QString>("Aucun bouton Décrocher détecté. Faites sonner la ligne iPhone "
                                     "avec le relais Mac activé."));
    EXPECT_FALSE(model->busy());

    model->event("Standard activé");
    model->event("Appel entrant · 06 12 34 56 78");
    settle();
    auto* log = page.findChild<QLabel*>("sessionLogLines");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->text(), model->log().join('\n'));
    EXPECT_TRUE(log->text().startsWith(model->log().first())) << "newest first, as the model keeps them";
    saveSnapshot(page, "guide-populated");

    model->setError(std::nullopt);
    model->setBusy(true);
    settle();
    EXPECT_FALSE(findButton(page, "Décrocher l’appel présent")->isEnabled()) << "one conversation at a time";
}
