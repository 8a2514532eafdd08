#include "support/harness.h"
#include "app/app.h"

class StartUp : public AppTest {};

TEST_F(StartUp, CaptionIsProgramName)
{
    EXPECT_EQ("PELNOR", WindowText(App.MainWindow));
}

TEST_F(StartUp, OnlyOpenLoopViewsExitAndAboutAreAvailable)
{
    struct { int id; bool menu; bool button; } expected[] = {
        { IDM_OPEN, true, true },    { IDM_SAVE, false, false },  { IDM_EXIT, true, false },
        { IDM_ABOUT, true, false },  { IDM_PLAY, false, false },  { IDM_STOP, false, false },
        { IDM_RENAME, false, false },{ IDM_DIVIDE, false, false },{ IDM_JOIN, false, false },
        { IDM_LOOP, true, true },    { IDM_LEVEL, true, false },  { IDM_WAVE, true, false },
        { IDM_ERASE, false, false },
    };
    for (const auto &e : expected)
    {
        SCOPED_TRACE(e.id);
        EXPECT_EQ(e.menu, MenuEnabled(e.id));
        EXPECT_EQ(e.button, ButtonEnabled(e.id));
    }
}

TEST_F(StartUp, AboutBoxTextCaptionAndNoIcon)
{
    PressKey(VK_F1);
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("PELNOR 0.02α", Boxes()[0].Text);
    EXPECT_EQ("バージョン情報", Boxes()[0].Caption);
    EXPECT_TRUE(Boxes()[0].Ok);
    EXPECT_FALSE(Boxes()[0].Warning);
    EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
}
