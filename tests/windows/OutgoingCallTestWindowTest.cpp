#include "tests/windows/WindowTestSupport.h"

#include "app/windows/OutgoingCallTestWindow.h"

#include <QLineEdit>
#include <QTest>

class OutgoingCallTestWindowTest : public ModelTest {};

TEST_F(OutgoingCallTestWindowTest, TheNumberIsBoundAndJoiningWithoutACallOnlySetsTheError)
{
    auto model = makeModel();
    OutgoingCallTestWindow sheet(*model);
    sheet.show();
    settle();
    EXPECT_LE(sheet.width(), 800);
    EXPECT_LE(sheet.height(), 700);
    EXPECT_TRUE(showsText(sheet, "Saisissez le numéro du téléphone de test."));
    saveSnapshot(sheet, "outgoing-test-empty");

    auto* field = sheet.findChild<QLineEdit*>("outgoingNumberField");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "06 12");
    EXPECT_EQ(model->outgoingNumber(), "06 12");
    settle();
    EXPECT_EQ(field->text(), "06 12");

    QTest::mouseClick(findButton(sheet, "1. Appeler ce numéro"), Qt::LeftButton);
    settle();
    EXPECT_TRUE(showsText(sheet, "Saisissez un numéro complet, avec l’indicatif si nécessaire."))
        << "the model's report is shown";

    field->clearFocus();
    model->setOutgoingNumber("07 98 76 54 32");
    settle();
    EXPECT_EQ(field->text(), "07 98 76 54 32") << "the field follows the model when not being edited";

    bool finished = false;
    QObject::connect(&sheet, &QDialog::finished, [&] { finished = true; });
    QTest::mouseClick(findButton(sheet, "2. Brancher l’IA sur l’appel"), Qt::LeftButton);
    settle();
    EXPECT_EQ(model->error(),
              std::optional<QString>("Aucun appel actif détecté. Lancez ou décrochez un appel dans "
                                     "Téléphone."));
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(finished) << "the sheet stays open";
    saveSnapshot(sheet, "outgoing-test-populated");

    QTest::mouseClick(findButton(sheet, "Fermer"), Qt::LeftButton);
    EXPECT_TRUE(finished);
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
}
