#include "support/harness.h"
#include "support/wavbuild.h"
#include "support/imports.h"
#include <algorithm>
#include <string>
#include <vector>
#include <commctrl.h>
#include <dlgs.h>
#include "app/app.h"
#include "app/controls.h"
#include "app/shell.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "wavefile/wavefile.h"

/* Closes the fixture's window and starts a fresh one, after the test has
   had a chance to arm the memory double. */
static void RestartMainWindow(void (*arm)(void) = NULL)
{
    CloseMainWindow();
    ResetProgramState();
    FakeMemoryReset();
    ClearBoxes();
    if (arm)
        arm();
    StartMainWindow();
}

/* A child's rectangle in the main window's client coordinates. */
static RECT ChildRect(int id)
{
    RECT r = {};
    HWND child = GetDlgItem(App.MainWindow, id);
    GetWindowRect(child, &r);
    MapWindowPoints(NULL, App.MainWindow, (POINT *)&r, 2);
    return r;
}

#define EXPECT_RECT(...) CALLED_HERE(ExpectRect(__VA_ARGS__))
static void ExpectRect(int id, int x, int y, int width, int height)
{
    SCOPED_TRACE(testing::Message() << "child " << id);
    RECT r = ChildRect(id);
    EXPECT_EQ(x, r.left);
    EXPECT_EQ(y, r.top);
    /* the platform shows a negative size as zero */
    EXPECT_EQ(std::max(0, width), r.right - r.left);
    EXPECT_EQ(std::max(0, height), r.bottom - r.top);
}

static void SendSize(int w, int h)
{
    SendMessageA(App.MainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w, h));
}

static int LoopBoxState(void)
{
    return (int)SendMessageA(GetDlgItem(App.MainWindow, IDM_LOOP), BM_GETCHECK, 0, 0);
}

static bool QuitPosted(WPARAM *code)
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        return false;
    *code = msg.wParam;
    return true;
}

/* What the program's loop still dispatches before the quit message: the
   posted messages, and no repaint. */
static void DispatchPosted(void)
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
}

/* ---- start-up ---- */

class StartUp : public AppTest {};

TEST_F(StartUp, CaptionIsProgramName)
{
    EXPECT_EQ("PELNOR", WindowText(App.MainWindow));
    char cls[64];
    GetClassNameA(App.MainWindow, cls, sizeof(cls));
    EXPECT_STREQ("GenericWClass", cls);
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

TEST_F(StartUp, LoopAndWaveformCarryCheckMarks)
{
    EXPECT_TRUE(MenuChecked(IDM_LOOP));
    EXPECT_TRUE(MenuChecked(IDM_WAVE));
    EXPECT_FALSE(MenuChecked(IDM_LEVEL));
    EXPECT_EQ(BST_CHECKED, LoopBoxState());
    EXPECT_EQ(1, App.LoopFlag);
    EXPECT_EQ(IDM_WAVE, App.ViewMode);
}

TEST_F(StartUp, EachWaveHeaderBlockHoldsAWholeWaveHeader)
{
    /* the device reads and playback writes sizeof(WAVEHDR): 48 bytes on x64 */
    for (int i = 0; i < 2; i++)
        EXPECT_GE(GlobalSize(PlaybackState.HeaderBlocks[i]), sizeof(WAVEHDR)) << "block " << i;
}

TEST_F(StartUp, ChildControlsCarryTheirClassCaptionAndStyle)
{
    const DWORD button = WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON;
    struct { int id; const char *cls; const char *caption; DWORD style; } children[] = {
        { IDC_SEGMENTLIST, "SysListView32", "", WS_CHILD | WS_VISIBLE | LVS_REPORT },
        { IDC_WAVEVIEW, "tpz_childWClass", "", WS_CHILD | WS_VISIBLE },
        { IDM_PLAY, "Button", "再生", button },
        { IDM_STOP, "Button", "停止", button },
        { IDM_OPEN, "Button", "開く", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON },
        { IDM_SAVE, "Button", "保存", button },
        { IDM_DIVIDE, "Button", "分割", button },
        { IDM_JOIN, "Button", "結合", button },
        { IDM_ERASE, "Button", "消去", button },
        { IDM_LOOP, "Button", "Loop", WS_CHILD | WS_VISIBLE | BS_CHECKBOX },
    };
    for (const auto &c : children)
    {
        SCOPED_TRACE(c.id);
        HWND child = GetDlgItem(App.MainWindow, c.id);
        ASSERT_TRUE(child != NULL);
        char cls[64];
        GetClassNameA(child, cls, sizeof(cls));
        EXPECT_EQ(0, lstrcmpiA(c.cls, cls)) << cls;
        EXPECT_EQ(c.caption, WindowText(child));
        DWORD style = (DWORD)GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ(c.style, style & (0xFFFF0000 | (c.id == IDC_SEGMENTLIST ? LVS_TYPEMASK : 0x0F)));
    }
}

TEST_F(StartUp, KeyboardFocusIsOnTheList)
{
    EXPECT_EQ(App.SegmentList, GetFocus());
}

TEST_F(StartUp, PlatformVersionIsMajorTimes256PlusMinor)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion * 256 + info.dwMinorVersion, App.PlatformVersion);
}

TEST_F(StartUp, MenuBarHoldsTheCommandsInOrder)
{
    struct Item { int id; const char *caption; };
    struct { const char *caption; std::vector<Item> items; } popups[] = {
        { "ファイル(&F)", { { IDM_OPEN, "開く(&O)..." }, { IDM_SAVE, "保存(&S)" }, { 0, "" },
                           { IDM_EXIT, "終了(&X)" } } },
        { "操作(&O)", { { IDM_PLAY, "再生(&P)" }, { IDM_STOP, "停止(&S)" }, { 0, "" },
                       { IDM_LOOP, "ループ(&L)" }, { 0, "" }, { IDM_DIVIDE, "分割(&D)" },
                       { IDM_JOIN, "結合(&J)" }, { IDM_ERASE, "消去(&E)" },
                       { IDM_RENAME, "リネーム(&R)" } } },
        { "表示(&V)", { { IDM_WAVE, "波形(&W)" }, { IDM_LEVEL, "レベル(&L)" } } },
        { "ヘルプ(&H)", { { IDM_ABOUT, "バージョン情報(&A)...\tF1" } } },
    };
    char text[128];

    ASSERT_EQ(4, GetMenuItemCount(App.Menu));
    for (int p = 0; p < 4; p++)
    {
        SCOPED_TRACE(popups[p].caption);
        GetMenuStringA(App.Menu, p, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(popups[p].caption, text);
        HMENU sub = GetSubMenu(App.Menu, p);
        ASSERT_EQ((int)popups[p].items.size(), GetMenuItemCount(sub));
        for (int i = 0; i < (int)popups[p].items.size(); i++)
        {
            const Item &item = popups[p].items[i];
            if (!item.id)
            {
                EXPECT_TRUE(GetMenuState(sub, i, MF_BYPOSITION) & MF_SEPARATOR) << i;
                continue;
            }
            EXPECT_EQ((UINT)item.id, GetMenuItemID(sub, i));
            GetMenuStringA(sub, i, text, sizeof(text), MF_BYPOSITION);
            EXPECT_STREQ(item.caption, text);
        }
    }
}

TEST_F(StartUp, FirstShowingLaysOutEveryChild)
{
    CloseMainWindow();
    ResetProgramState();
    ASSERT_EQ(1, CreateMainWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL));

    RECT client;
    GetClientRect(App.MainWindow, &client);
    ASSERT_GE(client.bottom, 320);
    EXPECT_EQ(client.right, App.ClientWidth);
    RECT list = ChildRect(IDC_SEGMENTLIST);
    EXPECT_EQ(client.right * 9 / 10 - 2, list.right - list.left);
    EXPECT_EQ(client.bottom * 8 / 10, list.bottom - list.top);
    RECT view = ChildRect(IDC_WAVEVIEW);
    EXPECT_EQ(client.bottom * 8 / 10 + 10, view.top);
    EXPECT_EQ(PlaybackState.WaveViewWidth, view.right - view.left);
    EXPECT_GT(ChildRect(IDM_ERASE).bottom, 0);
}

TEST_F(StartUp, ShortWindowGrowsToClientHeight320AtCreation)
{
    CloseMainWindow();
    ResetProgramState();
    HWND window = CreateWindowExA(0, "GenericWClass", "PELNOR", WS_OVERLAPPEDWINDOW,
                                  40, 30, 640, 150, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(window != NULL);
    App.MainWindow = window;

    RECT client, outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(320, client.bottom);
    EXPECT_EQ(40, outer.left);
    EXPECT_EQ(30, outer.top);
    EXPECT_EQ(640, outer.right - outer.left);
    EXPECT_EQ(client.right, App.ClientWidth);
    EXPECT_GT(App.AverageCharWidth, 0);
}

TEST_F(StartUp, FailedClassRegistrationEndsWithZeroSilently)
{
    HWND before = App.MainWindow;
    WPARAM code;
    /* ends the loop should the program go on to run it */
    PostQuitMessage(9);
    /* the classes are registered already, so registering them again fails */
    EXPECT_EQ(0, AppMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWNORMAL));
    EXPECT_EQ(before, App.MainWindow);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(QuitPosted(&code));
}

/* ---- keys ---- */

static std::vector<int> Issued;
static WNDPROC MainProc;

/* Records the commands that reach the main window and keeps them from
   acting, so that a key's mapping is seen on its own. */
static LRESULT CALLBACK RecordCommands(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND)
    {
        Issued.push_back(LOWORD(wParam));
        return 0;
    }
    return CallWindowProcA(MainProc, hwnd, msg, wParam, lParam);
}

class Keys : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        Issued.clear();
        MainProc = (WNDPROC)SetWindowLongPtrA(App.MainWindow, GWLP_WNDPROC, (LONG_PTR)RecordCommands);
    }
    void TearDown() override
    {
        SetWindowLongPtrA(App.MainWindow, GWLP_WNDPROC, (LONG_PTR)MainProc);
        AppTest::TearDown();
    }
};

struct KeyPress { UINT vk; bool shift = false, ctrl = false; };

static void PressAll(const std::vector<KeyPress> &keys)
{
    for (const KeyPress &k : keys)
        PressKey(k.vk, k.shift, k.ctrl);
}

TEST_F(Keys, RightAfterStartUpOnlyCtrlOLAndF1Act)
{
    PressAll({ { 'P' }, { 'D' }, { 'J' }, { 'R' }, { 'L' }, { 'S', true }, { 'S' },
               { 'S', false, true }, { VK_F1 }, { 'O', false, true } });
    EXPECT_EQ(std::vector<int>({ IDM_LOOP, IDM_ABOUT, IDM_OPEN }), Issued);
}

TEST_F(Keys, EveryKeyGivesItsCommandOnceAvailable)
{
    const int ids[] = { IDM_SAVE, IDM_PLAY, IDM_STOP, IDM_RENAME, IDM_DIVIDE, IDM_JOIN };
    for (int id : ids)
        EnableCommand(id, 1);
    PressAll({ { VK_F1 }, { 'P' }, { 'S', true }, { 'S' }, { 'L' }, { 'D' }, { 'J' }, { 'R' },
               { 'O', false, true }, { 'S', false, true } });
    EXPECT_EQ(std::vector<int>({ IDM_ABOUT, IDM_PLAY, IDM_STOP, IDM_STOP, IDM_LOOP, IDM_DIVIDE,
                                 IDM_JOIN, IDM_RENAME, IDM_OPEN, IDM_SAVE }),
              Issued);
}

TEST_F(Keys, UpperAndLowerCaseSBothStop)
{
    EnableCommand(IDM_STOP, 1);
    PressKey('S', true);
    PressKey('S');
    EXPECT_EQ(std::vector<int>({ IDM_STOP, IDM_STOP }), Issued);
}

TEST_F(Keys, ShiftPDoesNotPlay)
{
    EnableCommand(IDM_PLAY, 1);
    PressKey('P', true);
    EXPECT_TRUE(Issued.empty());
    PressKey('P');
    EXPECT_EQ(std::vector<int>({ IDM_PLAY }), Issued);
}

TEST_F(Keys, KeysActWhileTheListHasTheFocus)
{
    EnableCommand(IDM_PLAY, 1);
    SetFocus(App.SegmentList);
    ASSERT_EQ(App.SegmentList, GetFocus());
    PressKey('P');
    PressKey('L');
    EXPECT_EQ(std::vector<int>({ IDM_PLAY, IDM_LOOP }), Issued);
}

TEST_F(Keys, WithoutTheListTheMainWindowKeepsTheFocusAndKeysStillAct)
{
    DestroyWindow(App.SegmentList);
    App.SegmentList = NULL;
    SetFocus(App.MainWindow);
    EXPECT_EQ(App.MainWindow, GetFocus());
    PressKey('L');
    EXPECT_EQ(std::vector<int>({ IDM_LOOP }), Issued);
}

/* The program's own loop, not the harness's pump: keys addressed to any
   window of the thread go past the main window's accelerators; without a
   table they reach their window unchanged. */
TEST_F(Keys, ProgramLoopTurnsKeysForAnyWindowIntoCommandsAndReturnsTheQuitCode)
{
    struct { bool table; std::vector<int> issued; } cases[] = {
        { true, { IDM_PLAY, IDM_LOOP } },
        { false, {} },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.table ? "table loaded" : "no table");
        Issued.clear();
        EnableCommand(IDM_PLAY, 1);
        HACCEL accel = c.table ? LoadAcceleratorsA(GetModuleHandleA(NULL), "Accel") : NULL;
        ASSERT_EQ(c.table, accel != NULL);
        PostMessageA(App.SegmentList, WM_KEYDOWN, 'P', 1 | (MapVirtualKeyA('P', 0) << 16));
        PostMessageA(GetDlgItem(App.MainWindow, IDM_PLAY), WM_KEYDOWN, 'L', 1 | (MapVirtualKeyA('L', 0) << 16));
        PostQuitMessage(7);
        EXPECT_EQ(7, MessageLoop(accel));
        EXPECT_EQ(c.issued, Issued);
    }
}

class CloseKey : public AppTest {};

TEST_F(CloseKey, EOrETypedToTheMainWindowClosesIt)
{
    for (char ch : { 'E', 'e' })
    {
        SCOPED_TRACE(ch);
        RestartMainWindow();
        TypeChar(App.MainWindow, ch);
        EXPECT_FALSE(IsWindow(App.MainWindow));
        EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
    }
}

TEST_F(CloseKey, EOrETypedInTheListDoesNotClose)
{
    TypeChar(App.SegmentList, 'E');
    TypeChar(App.SegmentList, 'e');
    EXPECT_TRUE(IsWindow(App.MainWindow));
}

/* ---- layout ---- */

class Layout : public AppTest {};

TEST_F(Layout, WidthsPlaceListButtonColumnAndGraph)
{
    struct { int w, list, column, columnWidth, loopX, view; } cases[] = {
        { 1000, 898, 900, 100, 905, 512 },
        { 1044, 937, 939, 104, 944, 512 },
        { 1045, 938, 940, 104, 945, 1024 },
        { 532, 476, 478, 53, 483, 256 },
        { 533, 477, 479, 53, 484, 512 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.w);
        SendSize(c.w, 500);
        EXPECT_EQ(c.w, App.ClientWidth);
        EXPECT_EQ(c.view, PlaybackState.WaveViewWidth);
        EXPECT_RECT(IDC_SEGMENTLIST, 0, 0, c.list, 400);
        EXPECT_RECT(IDM_OPEN, c.column, 0, c.columnWidth, 40);
        EXPECT_RECT(IDM_SAVE, c.column, 40, c.columnWidth, 40);
        EXPECT_RECT(IDM_LOOP, c.loopX, 80, c.columnWidth, 30);
        EXPECT_RECT(IDM_PLAY, c.column, 110, c.columnWidth, 40);
        EXPECT_RECT(IDM_STOP, c.column, 150, c.columnWidth, 40);
        EXPECT_RECT(IDM_DIVIDE, c.column, 200, c.columnWidth, 40);
        EXPECT_RECT(IDM_JOIN, c.column, 240, c.columnWidth, 40);
        EXPECT_RECT(IDM_ERASE, c.column, 280, c.columnWidth, 40);
        EXPECT_RECT(IDC_WAVEVIEW, 10, 410, c.view, 80);
    }
}

TEST_F(Layout, HeightsPlaceListAndGraph)
{
    struct { int h, list, top, view; } cases[] = {
        { 500, 400, 410, 80 }, { 50, 40, 50, -9 },
        { 95, 76, 86, 0 }, { 96, 76, 86, 0 }, { 97, 77, 87, 0 }, { 98, 78, 88, 0 },
        { 99, 79, 89, 0 }, { 100, 80, 90, 0 }, { 101, 80, 90, 0 }, { 102, 81, 91, 0 },
        { 103, 82, 92, 0 }, { 104, 83, 93, 0 }, { 105, 84, 94, 1 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.h);
        SendSize(1000, c.h);
        EXPECT_EQ(c.top, PlaybackState.WaveViewTop);
        EXPECT_EQ(c.view, PlaybackState.WaveViewHeight);
        EXPECT_RECT(IDC_SEGMENTLIST, 0, 0, 898, c.list);
        EXPECT_RECT(IDC_WAVEVIEW, 10, c.top, 512, c.view);
    }
}

TEST_F(Layout, ZeroSizeThenNormalSizeLaysOutAgain)
{
    SendSize(0, 0);
    EXPECT_EQ(0, App.ClientWidth);
    EXPECT_EQ(256, PlaybackState.WaveViewWidth);
    EXPECT_EQ(10, PlaybackState.WaveViewTop);
    EXPECT_EQ(-20, PlaybackState.WaveViewHeight);
    EXPECT_RECT(IDC_SEGMENTLIST, 0, 0, -2, 0);
    EXPECT_RECT(IDM_OPEN, 0, 0, 0, 40);
    EXPECT_RECT(IDM_LOOP, 5, 80, 0, 30);

    SendSize(1000, 500);
    EXPECT_RECT(IDC_SEGMENTLIST, 0, 0, 898, 400);
    EXPECT_RECT(IDM_OPEN, 900, 0, 100, 40);
    EXPECT_RECT(IDC_WAVEVIEW, 10, 410, 512, 80);
}

/* ---- commands ---- */

class Commands : public AppTest {};

TEST_F(Commands, LoopTogglesFlagMenuCheckAndCheckBox)
{
    SendCommand(IDM_LOOP);
    EXPECT_EQ(0, App.LoopFlag);
    EXPECT_FALSE(MenuChecked(IDM_LOOP));
    EXPECT_EQ(BST_UNCHECKED, LoopBoxState());

    SendCommand(IDM_LOOP);
    EXPECT_EQ(1, App.LoopFlag);
    EXPECT_TRUE(MenuChecked(IDM_LOOP));
    EXPECT_EQ(BST_CHECKED, LoopBoxState());
}

TEST_F(Commands, ClickOnLoopCheckBoxGoesThroughTheCommand)
{
    SendMessageA(GetDlgItem(App.MainWindow, IDM_LOOP), BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(0, App.LoopFlag);
    EXPECT_FALSE(MenuChecked(IDM_LOOP));
    EXPECT_EQ(BST_UNCHECKED, LoopBoxState());
}

TEST_F(Commands, ViewChoiceMovesCheckMarkAndRedrawsGraph)
{
    for (int id : { IDM_WAVE, IDM_LEVEL, IDM_LEVEL, IDM_WAVE })
    {
        SCOPED_TRACE(id);
        PumpMessages();
        ValidateRect(App.WaveView, NULL);
        SendCommand(id);
        EXPECT_EQ(id, App.ViewMode);
        EXPECT_TRUE(MenuChecked(id));
        EXPECT_FALSE(MenuChecked(id == IDM_WAVE ? IDM_LEVEL : IDM_WAVE));
        RECT update;
        EXPECT_TRUE(GetUpdateRect(App.WaveView, &update, FALSE));
    }
}

TEST_F(Commands, FocusReturnsToTheListAfterACommandButNotAfterAViewChoice)
{
    SetFocus(GetDlgItem(App.MainWindow, IDM_OPEN));
    SendCommand(IDM_LEVEL);
    EXPECT_EQ(GetDlgItem(App.MainWindow, IDM_OPEN), GetFocus());
    SendCommand(IDM_LOOP);
    EXPECT_EQ(App.SegmentList, GetFocus());
}

TEST_F(Commands, MainWindowHandsItsFocusToTheList)
{
    SetFocus(GetDlgItem(App.MainWindow, IDM_OPEN));
    SetFocus(App.MainWindow);
    EXPECT_EQ(App.SegmentList, GetFocus());
}

TEST_F(Commands, AboutBoxTextCaptionAndNoIcon)
{
    PressKey(VK_F1);
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("PELNOR 0.02α", Boxes()[0].Text);
    EXPECT_EQ("バージョン情報", Boxes()[0].Caption);
    EXPECT_TRUE(Boxes()[0].Ok);
    EXPECT_FALSE(Boxes()[0].Warning);
    EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
}

TEST_F(Commands, ExitClosesTheWindowAndEndsTheLoopWithZero)
{
    SendCommand(IDM_EXIT);
    EXPECT_FALSE(IsWindow(App.MainWindow));
    WPARAM code = 99;
    EXPECT_TRUE(QuitPosted(&code));
    EXPECT_EQ(0u, code);
}

/* ---- open dialog ---- */

static std::string ChosenPath;
struct DialogSeen
{
    DWORD size, flags, filterIndex, maxFile, maxTitle;
    HWND owner;
    std::vector<std::string> filters;
};
static DialogSeen Seen;

/* The record the program hands to the dialog, copied on its way there. */
static OPENFILENAMEA Handed;
static BOOL WINAPI HandOnGetOpenFileNameA(OPENFILENAMEA *ofn)
{
    typedef BOOL (WINAPI *OPENCALL)(OPENFILENAMEA *);
    Handed = *ofn;
    static HMODULE comdlg = LoadLibraryA("comdlg32.dll");
    return ((OPENCALL)(void *)GetProcAddress(comdlg, "GetOpenFileNameA"))(ofn);
}
IMPORT_DOUBLE(GetOpenFileNameA, 4, HandOnGetOpenFileNameA);

/* The record as the dialog got it; the type list is read once the
   dialog's loop runs, since it is filled after activation. */
static void ReadDialog(HWND dialog)
{
    const OPENFILENAMEA &ofn = Handed;

    Seen = DialogSeen();
    Seen.size = ofn.lStructSize;
    Seen.flags = ofn.Flags;
    Seen.filterIndex = ofn.nFilterIndex;
    Seen.maxFile = ofn.nMaxFile;
    Seen.maxTitle = ofn.nMaxFileTitle;
    Seen.owner = GetWindow(dialog, GW_OWNER);
}

static void CALLBACK ReadTypesAndCancel(HWND dialog, UINT, UINT_PTR timer, DWORD)
{
    char text[128];
    HWND types = GetDlgItem(dialog, cmb1);
    int count = (int)SendMessageA(types, CB_GETCOUNT, 0, 0);

    KillTimer(dialog, timer);
    for (int i = 0; i < count; i++)
    {
        SendMessageA(types, CB_GETLBTEXT, i, (LPARAM)text);
        Seen.filters.push_back(text);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

static void CancelDialog(HWND dialog)
{
    ReadDialog(dialog);
    SetTimer(dialog, 1, 10, ReadTypesAndCancel);
}

static void ChooseFile(HWND dialog)
{
    ReadDialog(dialog);
    int box = GetDlgItem(dialog, cmb13) ? cmb13 : edt1;
    SetDlgItemTextA(dialog, box, ChosenPath.c_str());
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

class OpenDialog : public AppTest {};

TEST_F(OpenDialog, OffersWavAndAllFilesWithMustExistAndHiddenReadOnly)
{
    SetDialogHandler(CancelDialog);
    SendCommand(IDM_OPEN);
    EXPECT_EQ((DWORD)OPENFILENAME_SIZE_VERSION_400A, Seen.size);  /* 76 bytes on x86 */
    /* the dialog itself adds OFN_PATHMUSTEXIST to a must-exist request */
    EXPECT_EQ(4100u, Seen.flags & ~OFN_PATHMUSTEXIST);
    EXPECT_EQ(1u, Seen.filterIndex);
    EXPECT_EQ(260u, Seen.maxFile);
    EXPECT_EQ(256u, Seen.maxTitle);
    EXPECT_EQ(App.MainWindow, Seen.owner);
    EXPECT_EQ(std::vector<std::string>({ "ｻｳﾝﾄﾞ(*.WAV)", "全ファイル(*.*)" }), Seen.filters);
}

TEST_F(OpenDialog, CancelLeavesPathCaptionAndListAsTheyWere)
{
    lstrcpynA(WaveDocument.DocumentPath, "C:\\earlier\\take.wav", MAX_PATH);
    lstrcpynA(WaveDocument.DocumentTitle, "take.wav", 256);
    SetTitle(App.MainWindow, "take.wav");
    LVITEMA row = {};
    row.mask = LVIF_TEXT;
    row.pszText = (LPSTR) "take";
    SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&row);

    SetDialogHandler(CancelDialog);
    SendCommand(IDM_OPEN);

    EXPECT_STREQ("C:\\earlier\\take.wav", WaveDocument.DocumentPath);
    EXPECT_STREQ("take.wav", WaveDocument.DocumentTitle);
    EXPECT_EQ("PELNOR:take.wav", WindowText(App.MainWindow));
    ASSERT_EQ(1, RowTotal());
    EXPECT_EQ("take", RowText(0, COL_NAME));
    EXPECT_EQ(App.SegmentList, GetFocus());
}

TEST_F(OpenDialog, ChosenFileIsLoadedUnderItsTitle)
{
    ChosenPath = ScratchDir() + "\\voice.wav";
    WriteBytes(ChosenPath, PcmWav(1, 8000, 8, PatternBytes(800)));
    SetDialogHandler(ChooseFile);
    SendCommand(IDM_OPEN);

    EXPECT_EQ(0, lstrcmpiA(ChosenPath.c_str(), WaveDocument.DocumentPath)) << WaveDocument.DocumentPath;
    EXPECT_STREQ("voice.wav", WaveDocument.DocumentTitle);
    EXPECT_EQ("PELNOR:voice.wav", WindowText(App.MainWindow));
    ASSERT_EQ(1, RowTotal());
    EXPECT_EQ("voice", RowText(0, COL_NAME));
    EXPECT_TRUE(MenuEnabled(IDM_PLAY));
}

/* Saving writes into the current folder: after a choice it is the chosen
   file's folder, wherever the process stood before. */
TEST_F(OpenDialog, ChosenFilesFolderBecomesCurrent)
{
    std::string folder = ScratchDir() + "\\sources";
    CreateDirectoryA(folder.c_str(), NULL);
    ChosenPath = folder + "\\take.wav";
    WriteBytes(ChosenPath, PcmWav(1, 8000, 8, PatternBytes(800)));
    char temp[MAX_PATH], current[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    SetCurrentDirectoryA(temp);

    SetDialogHandler(ChooseFile);
    SendCommand(IDM_OPEN);

    GetCurrentDirectoryA(sizeof(current), current);
    EXPECT_EQ(0, lstrcmpiA(folder.c_str(), current)) << current;
    ScratchDir();
}

/* Wine's dialog never fails for a buffer too small, as Windows does */
static DWORD DialogError;
static DWORD WINAPI FakeCommDlgExtendedError(void) { return DialogError; }
IMPORT_DOUBLE(CommDlgExtendedError, 0, FakeCommDlgExtendedError);

/* A path too long for the buffer comes back from Wine cut short, without
   its end when the cut fills the buffer (with one of the three folders),
   or from Windows as a failure: refused, the earlier file kept. */
TEST_F(OpenDialog, PathCutShortIsRefusedAndEarlierPathKept)
{
    std::string name;
    while (name.size() < 70 * 3)
        name += "音";
    for (const char *folder : { "\\d", "\\dd", "\\ddd", "" })
    {
        CreateDirectoryA((ScratchDir() + folder).c_str(), NULL);
        ChosenPath = ScratchDir() + folder + "\\" + name + ".wav";
        WriteBytes(ChosenPath, PcmWav(1, 8000, 8, PatternBytes(800)));
        lstrcpynA(WaveDocument.DocumentPath, "C:\\earlier\\take.wav", MAX_PATH);
        lstrcpynA(WaveDocument.DocumentTitle, "take.wav", 256);
        ClearBoxes();
        DialogError = *folder ? 0 : FNERR_BUFFERTOOSMALL;
        SetDialogHandler(*folder ? ChooseFile : CancelDialog);
        SendCommand(IDM_OPEN);
        DialogError = 0;
        EXPECT_EQ(std::vector<std::string>{ "ファイル名が長すぎます。" }, BoxTexts()) << folder;
        EXPECT_STREQ("C:\\earlier\\take.wav", WaveDocument.DocumentPath);
        EXPECT_STREQ("take.wav", WaveDocument.DocumentTitle);
        EXPECT_EQ(0, RowTotal());
    }
}

/* ---- teardown ---- */

class Teardown : public AppTest {};

TEST_F(Teardown, ShutdownQueryThenDestructionReleasesEachHeaderOnce)
{
    ASSERT_EQ(2u, FakeMemory.LiveGlobal.size());
    EXPECT_TRUE(SendMessageA(App.MainWindow, WM_QUERYENDSESSION, 0, 0));
    EXPECT_EQ(2, FakeMemory.GlobalUnlocks);
    EXPECT_EQ(2, FakeMemory.GlobalFrees);
    EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
    EXPECT_EQ(NULL, PlaybackState.WaveHeaders[0]);
    EXPECT_EQ(NULL, PlaybackState.WaveHeaders[1]);
    WPARAM code = 99;
    EXPECT_TRUE(QuitPosted(&code));
    EXPECT_EQ(0u, code);

    DestroyWindow(App.MainWindow);
    EXPECT_EQ(2, FakeMemory.GlobalUnlocks);
    EXPECT_EQ(2, FakeMemory.GlobalFrees);
    EXPECT_EQ(0, FakeMemory.LockedGlobal);
}

TEST_F(Teardown, ClosesSourceFileAndDevice)
{
    std::string path = ScratchDir() + "\\open.wav";
    WriteBytes(path, PcmWav(1, 8000, 8, PatternBytes(800)));
    WaveDocument.ReadHandle = mmioOpenA((LPSTR)path.c_str(), NULL, MMIO_READ);
    ASSERT_TRUE(WaveDocument.ReadHandle != NULL);
    WAVEFORMATEX format = { WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0 };
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutOpen(&PlaybackState.OutputDevice, WAVE_MAPPER, &format,
                                            (DWORD_PTR)App.MainWindow, 0, CALLBACK_WINDOW));

    DestroyWindow(App.MainWindow);
    EXPECT_EQ(NULL, WaveDocument.ReadHandle);
    EXPECT_EQ(NULL, PlaybackState.OutputDevice);
    EXPECT_FALSE(FakeWave.IsOpen);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(Teardown, ClosesDeviceLeftOpenWithoutSourceFile)
{
    WAVEFORMATEX format = { WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0 };
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutOpen(&PlaybackState.OutputDevice, WAVE_MAPPER, &format,
                                            (DWORD_PTR)App.MainWindow, 0, CALLBACK_WINDOW));
    DestroyWindow(App.MainWindow);
    EXPECT_FALSE(FakeWave.IsOpen);
    EXPECT_EQ(NULL, PlaybackState.OutputDevice);
}

/* ---- wave headers failing at creation ---- */

static int FailAllocAt, FailLockAt;
static void ArmHeaderFailure(void)
{
    FakeMemory.FailGlobalAllocAt = FailAllocAt;
    FakeMemory.FailGlobalLockAt = FailLockAt;
}

class HeaderFailure : public AppTest {};

TEST_F(HeaderFailure, WarnsReleasesWhatItTookAndStartsAnyway)
{
    struct { int allocAt, lockAt; const char *text; int taken, freedAtCreation, held; } cases[] = {
        { 1, 0, "ヘッダー確保失敗", 0, 0, 0 },
        { 2, 0, "ヘッダー確保失敗", 1, 0, 1 },
        { 0, 1, "ヘッダーロック失敗", 1, 1, 0 },
        { 0, 2, "ヘッダーロック失敗", 2, 2, 0 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "alloc " << c.allocAt << " lock " << c.lockAt);
        FailAllocAt = c.allocAt;
        FailLockAt = c.lockAt;
        RestartMainWindow(ArmHeaderFailure);

        ASSERT_EQ(1u, Boxes().size());
        EXPECT_EQ(c.text, Boxes()[0].Text);
        EXPECT_TRUE(Boxes()[0].Warning);
        EXPECT_TRUE(Boxes()[0].Ok);
        EXPECT_EQ(NULL, Boxes()[0].Owner);
        EXPECT_EQ(c.freedAtCreation, FakeMemory.GlobalFrees);
        EXPECT_EQ((size_t)c.held, FakeMemory.LiveGlobal.size());
        EXPECT_EQ(c.held, FakeMemory.LockedGlobal);
        EXPECT_EQ(c.held > 0, PlaybackState.WaveHeaders[0] != NULL);
        EXPECT_EQ(NULL, PlaybackState.WaveHeaders[1]);

        EXPECT_TRUE(IsWindowVisible(App.MainWindow));
        EXPECT_EQ("PELNOR", WindowText(App.MainWindow));
        EXPECT_COMMAND(IDM_OPEN, true);

        DestroyWindow(App.MainWindow);
        EXPECT_EQ(c.taken, FakeMemory.GlobalFrees);
        EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
        EXPECT_EQ(0, FakeMemory.LockedGlobal);
    }
}

/* ---- teardown during a real playback ---- */

class TeardownWhilePlaying : public AppTest {};


TEST_F(TeardownWhilePlaying, ShutdownQueryReleasesEverythingOnceAndLeavesTheControls)
{
    for (bool fake : { true, false })
    {
        SCOPED_TRACE(fake ? "test device" : "real device");
        RestartMainWindow();
        FakeWaveReset(fake);
        ChosenPath = ScratchDir() + "\\long.wav";
        WriteBytes(ChosenPath, PcmWav(2, 44100, 16, PatternBytes(44100 * 4 * 3)));
        SetDialogHandler(ChooseFile);
        SendCommand(IDM_OPEN);
        ASSERT_EQ(1, RowTotal());
        SendCommand(IDM_PLAY);
        ASSERT_TRUE(PlaybackState.Playing);
        ASSERT_EQ(4u, FakeMemory.LiveGlobal.size());
        ASSERT_TRUE(!fake || FakeWave.Queue.size() == 2);
        FakeWave.Calls.clear();
        int freesBefore = FakeMemory.GlobalFrees;

        SendMessageA(App.MainWindow, WM_QUERYENDSESSION, 0, 0);
        DispatchPosted();

        if (fake)
        {
            std::vector<std::string> calls;
            for (const FakeWaveCall &call : FakeWave.Calls)
                calls.push_back(call.What);
            EXPECT_EQ(std::vector<std::string>({ "reset", "unprepare", "unprepare", "close" }), calls);
            EXPECT_FALSE(FakeWave.IsOpen);
            EXPECT_EQ(0, FakeWave.ClosedWhileQueued);
        }
        EXPECT_EQ(NULL, PlaybackState.OutputDevice);
        EXPECT_EQ(NULL, WaveDocument.ReadHandle);
        EXPECT_EQ(4, FakeMemory.GlobalFrees - freesBefore);
        EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
        EXPECT_TRUE(FakeMemory.LiveLocal.empty());
        EXPECT_TRUE(Boxes().empty()) << (Boxes().empty() ? "" : Boxes()[0].Text);
        EXPECT_COMMAND(IDM_STOP, true);
        EXPECT_FALSE(MenuEnabled(IDM_PLAY));
        EXPECT_FALSE(ButtonEnabled(IDM_OPEN));

        DestroyWindow(App.MainWindow);
        EXPECT_EQ(4, FakeMemory.GlobalFrees - freesBefore);
        EXPECT_TRUE(DeleteFileA(ChosenPath.c_str()));
    }
}
