#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

void setUpTestEnvironment();

int main(int argc, char** argv)
{
    setUpTestEnvironment();
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
