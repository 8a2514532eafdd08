#include "support/seghelp.h"
#include <string>
#include <commctrl.h>
#include "app/app.h"
#include "app/controls.h"
#include "segments/segments.h"
#include "wavefile/wavefile.h"

static void ShowDocument(const char *title, const char *firstRowName)
{
    lstrcpynA(WaveDocument.DocumentTitle, title, sizeof(WaveDocument.DocumentTitle));
    SendMessageA(App.SegmentList, LVM_DELETEALLITEMS, 0, 0);
    if (!firstRowName)
        return;
    LVITEMA row = {};
    row.mask = LVIF_TEXT;
    row.pszText = (LPSTR)firstRowName;
    SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&row);
    row.iItem = 1;
    row.pszText = (LPSTR) "later";
    SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&row);
}

class IdleControls : public AppTest {};

TEST_F(IdleControls, SaveFollowsTheFirstRowAgainstTheCutTitle)
{
    struct { const char *title, *row; int enable; bool save; } cases[] = {
        { "a.b.wav", "a.b", 1, false },
        { "a.b.wav", "a", 1, true },
        { "a.b.wav", "a.b.wav", 1, true },
        { "voice.wav", "voice", 1, false },
        { "Voice.wav", "voice", 1, true },
        { "voice.wav", "voice-2", 1, true },
        { "voice.wav", "NUL", 1, true },
        { "noext", "noext", 1, false },
        { "noext", "noext-1", 1, true },
        { "録音.wav", "録音", 1, false },
        { "voice.wav", "voice-2", 0, false },
        { "voice.wav", "voice", 0, false },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.title << " / " << c.row << " / " << c.enable);
        ShowDocument(c.title, c.row);
        EnableCommand(IDM_SAVE, !c.save);
        SetIdleControls(c.enable);
        EXPECT_COMMAND(IDM_SAVE, c.save);
    }
}

TEST_F(IdleControls, EmptyListLeavesNothingToSave)
{
    ShowDocument("voice.wav", NULL);
    EnableCommand(IDM_SAVE, 1);
    SetIdleControls(1);
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_PLAY, true }, { IDM_OPEN, true } });
}

TEST_F(IdleControls, PlayAndOpenFollowTheArgumentAndStopStaysAsItWas)
{
    ShowDocument("voice.wav", "voice");
    EnableCommand(IDM_STOP, 1);
    SetIdleControls(0);
    EXPECT_COMMANDS({ { IDM_PLAY, false }, { IDM_OPEN, false }, { IDM_STOP, true } });

    EnableCommand(IDM_STOP, 0);
    SetIdleControls(1);
    EXPECT_COMMANDS({ { IDM_PLAY, true }, { IDM_OPEN, true }, { IDM_STOP, false } });
}

TEST_F(IdleControls, OthersAreLeftAlone)
{
    ShowDocument("voice.wav", "voice-1");
    const int ids[] = { IDM_DIVIDE, IDM_JOIN, IDM_ERASE, IDM_RENAME };
    for (int id : ids)
        EnableCommand(id, 1);
    SetIdleControls(0);
    for (int id : ids)
        EXPECT_COMMAND(id, true);
    for (int id : ids)
        EnableCommand(id, 0);
    SetIdleControls(1);
    for (int id : ids)
        EXPECT_COMMAND(id, false);
    EXPECT_COMMANDS({ { IDM_EXIT, true }, { IDM_ABOUT, true }, { IDM_WAVE, true }, { IDM_LEVEL, true } });
}

TEST_F(IdleControls, LoopIsSwitchedOnlyBeforeVersion5)
{
    struct { WORD version; bool follows; } cases[] = {
        { 0x0400, true }, { 0x04FF, true }, { 0x0500, false }, { 0x0601, false },
    };
    ShowDocument("voice.wav", "voice");
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version);
        App.PlatformVersion = c.version;
        EnableCommand(IDM_LOOP, 1);
        SetIdleControls(0);
        EXPECT_COMMAND(IDM_LOOP, !c.follows);
        SetIdleControls(1);
        EXPECT_COMMAND(IDM_LOOP, true);
        EnableCommand(IDM_LOOP, 0);
        SetIdleControls(1);
        EXPECT_COMMAND(IDM_LOOP, c.follows);
    }
}

class StopControl : public AppTest {};

TEST_F(StopControl, SwitchesStopAlone)
{
    SetStopControl(1);
    EXPECT_COMMANDS({ { IDM_STOP, true }, { IDM_PLAY, false }, { IDM_OPEN, true } });
    SetStopControl(0);
    EXPECT_COMMANDS({ { IDM_STOP, false }, { IDM_OPEN, true } });
}

class Title : public AppTest {};

TEST_F(Title, CaptionIsProgramNameColonTitle)
{
    std::string longest = std::string(251, 'x') + ".wav";
    struct { std::string title, caption; } cases[] = {
        { "voice.wav", "PELNOR:voice.wav" },
        { "録音 1.WAV", "PELNOR:録音 1.WAV" },
        { "", "PELNOR:" },
        { longest, "PELNOR:" + longest },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.caption);
        SetTitle(App.MainWindow, c.title.c_str());
        EXPECT_EQ(c.caption, WindowText(App.MainWindow));
    }
}

class ControlEvents : public AppTest {};

static void AfterDivideIdle(void) { ControlsAfterDivide(0); }
static void AfterDivideWhilePlaying(void) { ControlsAfterDivide(1); }
static void SaveStarts(void) { ControlsDuringSave(1); }
static void SaveEnds(void) { ControlsDuringSave(0); }
static void FirstRow(void) { ControlsForRow(0); }
static void LaterRow(void) { ControlsForRow(1); }

/* Each event from all commands on and from all off: what it switches, and
   that it leaves the rest as they were. */
TEST_F(ControlEvents, EachEventSetsItsCommandsAndLeavesTheRest)
{
    enum { Off = 0, On = 1, Kept = 2 };
    static const int ids[] = { IDM_OPEN, IDM_SAVE, IDM_PLAY, IDM_STOP, IDM_DIVIDE,
                               IDM_JOIN, IDM_ERASE, IDM_RENAME };
    struct { const char *event; void (*run)(void); int expect[8]; } cases[] = {
        { "failed load", ControlsAfterFailedLoad, { Kept, Off, Off, Kept, Off, Off, Off, Off } },
        { "load", ControlsAfterLoad, { On, Off, On, Kept, On, Kept, Off, Off } },
        { "row 0", FirstRow, { Kept, Kept, Kept, Kept, Kept, Off, Kept, Kept } },
        { "row 1", LaterRow, { Kept, Kept, Kept, Kept, Kept, On, Kept, Kept } },
        { "divide", AfterDivideIdle, { Kept, On, Kept, Kept, Kept, Kept, On, On } },
        { "divide playing", AfterDivideWhilePlaying, { Kept, Kept, Kept, Kept, Kept, Kept, On, On } },
        { "save starts", SaveStarts, { Off, Off, Off, Kept, Off, Off, Kept, Kept } },
        { "save ends", SaveEnds, { On, On, On, Kept, On, Off, Kept, Kept } },
    };
    ShowDocument("voice.wav", "voice-1");
    SelectOnly(0);
    for (const auto &c : cases)
        for (int from = 0; from <= 1; from++)
        {
            SCOPED_TRACE(testing::Message() << c.event << " from " << (from ? "on" : "off"));
            for (int id : ids)
                EnableCommand(id, from);
            c.run();
            for (int i = 0; i < 8; i++)
                EXPECT_COMMAND(ids[i], c.expect[i] == Kept ? from : c.expect[i]);
        }
}
