#include "app/common/TextFolding.h"

#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

using namespace TextFolding;

TEST(TextFolding, LabelsFoldCaseAccentsAndBlanks)
{
    EXPECT_EQ(normalizedLabel("Répondre à l’appel"), QString("repondre a l’appel"));
    EXPECT_EQ(normalizedLabel("  Décrocher \n"), QString("decrocher"));
    EXPECT_EQ(normalizedLabel("RÉPONDRE À L'APPEL"), QString("repondre a l'appel"));
    EXPECT_EQ(normalizedLabel("Téléphone"), QString("telephone"));
    EXPECT_EQ(normalizedLabel("FaceTime"), QString("facetime"));
    EXPECT_EQ(normalizedLabel("Ça"), QString("ca"));
    EXPECT_EQ(fold("  Non classé "), QString("  non classe ")) << "fold alone keeps blanks";
}

TEST(TextFolding, ContainmentIgnoresCaseAndAccents)
{
    EXPECT_TRUE(localizedStandardContains("Appel · Non classé", "non classe"));
    EXPECT_TRUE(localizedStandardContains("fuite sous évier", "EVIER"));
    EXPECT_TRUE(localizedStandardContains("a b", " "));
    EXPECT_FALSE(localizedStandardContains("fuite", "fuites"));
    EXPECT_FALSE(localizedStandardContains("fuite", ""));
}

TEST(TextFolding, StandardOrderIsCaseInsensitiveAndNumeric)
{
    QStringList names{"Lot 10", "lot 2", "Écluse", "eau", "Lot 1"};
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return localizedStandardCompare(a, b) < 0; });
    EXPECT_EQ(names, (QStringList{"eau", "Écluse", "Lot 1", "lot 2", "Lot 10"}));
}
