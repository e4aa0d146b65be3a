#include "tests/windows/WindowTestSupport.h"

#include "app/windows/MainWindow.h"

class WindowTest : public ModelTest {};

TEST_F(WindowTest, TheWindowOpensOverAFreshModel)
{
    auto model = makeModel();
    MainWindow window(*model);
    settle();
    SUCCEED();
}
