#include "harness.h"
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/shell.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

static std::vector<BoxSeen> SeenBoxes;
static std::vector<int> Answers;
static HHOOK BoxHook;
static DIALOGHANDLER DialogHandler;
static HACCEL Accel;
static std::string Scratch;

std::vector<BoxSeen> &Boxes(void) { return SeenBoxes; }
void ClearBoxes(void) { SeenBoxes.clear(); }
void QueueBoxAnswer(int id) { Answers.push_back(id); }
void SetDialogHandler(DIALOGHANDLER handler) { DialogHandler = handler; }

std::vector<std::string> BoxTexts(void)
{
    std::vector<std::string> texts;
    for (const BoxSeen &box : SeenBoxes)
        texts.push_back(box.Text);
    return texts;
}

static BOOL CALLBACK FindIcon(HWND child, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(child, cls, sizeof(cls));
    if (!lstrcmpiA(cls, "Static") && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
    {
        HICON shown = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
        if (shown && shown == LoadIconA(NULL, (LPCSTR)IDI_WARNING))
            *(bool *)lParam = true;
    }
    return TRUE;
}

static LRESULT CALLBACK BoxWatcher(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE)
    {
        HWND box = (HWND)wParam;
        char cls[32], text[1024], caption[256];
        GetClassNameA(box, cls, sizeof(cls));
        /* a message box has its text in static 0xFFFF and no edit or
           combo box; the open dialog has its file-name box (0x47C or 0x480) */
        bool isDialog = !strcmp(cls, "#32770");
        bool fileDialog = isDialog && (GetDlgItem(box, 0x47C) || GetDlgItem(box, 0x480));
        if (fileDialog && DialogHandler)
            DialogHandler(box);
        else if (isDialog && !fileDialog && GetDlgItem(box, 0xFFFF))
        {
            BoxSeen seen = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            GetWindowTextA(box, caption, sizeof(caption));
            seen.Text = text;
            seen.Caption = caption;
            seen.Ok = GetDlgItem(box, IDOK) != NULL;
            seen.Yes = GetDlgItem(box, IDYES) != NULL;
            seen.No = GetDlgItem(box, IDNO) != NULL;
            seen.Cancel = GetDlgItem(box, IDCANCEL) != NULL;
            seen.Owner = GetWindow(box, GW_OWNER);
            EnumChildWindows(box, FindIcon, (LPARAM)&seen.Warning);
            SeenBoxes.push_back(seen);

            int answer = seen.Ok ? IDOK : IDNO;
            if (!Answers.empty())
            {
                answer = Answers.front();
                Answers.erase(Answers.begin());
            }
            PostMessageA(box, WM_COMMAND, answer, 0);
        }
    }
    return CallNextHookEx(BoxHook, code, wParam, lParam);
}

void InstallBoxHook(void)
{
    Answers.clear();
    if (!BoxHook)
        BoxHook = SetWindowsHookExA(WH_CBT, BoxWatcher, NULL, GetCurrentThreadId());
}

void RemoveBoxHook(void)
{
    if (BoxHook)
        UnhookWindowsHookEx(BoxHook);
    BoxHook = NULL;
}

void ResetProgramState(void)
{
    App = InitialShell();
    WaveDocument = InitialDocument();
    PlaybackState = PLAYBACKSTATE();
    Segments = InitialSegments();
}

void StartMainWindow(int clientWidth, int clientHeight)
{
    static bool registered;
    HINSTANCE instance = GetModuleHandleA(NULL);

    if (!registered)
    {
        ASSERT_EQ(1, RegisterClasses(instance));
        registered = true;
    }
    Accel = LoadAcceleratorsA(instance, "Accel");
    ASSERT_EQ(1, CreateMainWindow(instance, SW_SHOWNORMAL));
    RECT client = { 0, 0, clientWidth, clientHeight };
    AdjustWindowRect(&client, WS_OVERLAPPEDWINDOW, TRUE);
    SetWindowPos(App.MainWindow, NULL, 0, 0, client.right - client.left,
                 client.bottom - client.top, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
}

void CloseMainWindow(void)
{
    MSG msg;

    if (App.MainWindow && IsWindow(App.MainWindow))
        DestroyWindow(App.MainWindow);
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
}

void PumpMessages(void)
{
    MSG msg;

    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
            continue;
        if (!App.MainWindow || !TranslateAcceleratorA(App.MainWindow, Accel, &msg))
        {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

static void SetModifiers(bool shift, bool ctrl)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    keys[VK_CONTROL] = ctrl ? 0x80 : 0;
    SetKeyboardState(keys);
}

void PressKey(UINT vk, bool shift, bool ctrl)
{
    HWND target = GetFocus() ? GetFocus() : App.MainWindow;
    UINT scan = MapVirtualKeyA(vk, 0);

    SetModifiers(shift, ctrl);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PumpMessages();
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000);
    PumpMessages();
    SetModifiers(false, false);
}

void TypeChar(HWND target, char ch)
{
    PostMessageA(target, WM_CHAR, (BYTE)ch, 1);
    PumpMessages();
}

LRESULT SendCommand(int id)
{
    return SendMessageA(App.MainWindow, WM_COMMAND, id, 0);
}

bool MenuEnabled(int id)
{
    UINT state = GetMenuState(App.Menu, id, MF_BYCOMMAND);
    return state != (UINT)-1 && !(state & (MF_GRAYED | MF_DISABLED));
}

bool MenuChecked(int id)
{
    UINT state = GetMenuState(App.Menu, id, MF_BYCOMMAND);
    return state != (UINT)-1 && (state & MF_CHECKED);
}

bool ButtonEnabled(int id)
{
    HWND button = GetDlgItem(App.MainWindow, id);
    return button && IsWindowEnabled(button);
}

void ExpectCommand(const char *file, int line, int id, bool on)
{
    /* the push buttons, and Loop's check box */
    static const int buttons[] = { IDM_PLAY, IDM_STOP, IDM_OPEN, IDM_SAVE, IDM_DIVIDE,
                                   IDM_JOIN, IDM_ERASE, IDM_LOOP };
    if (MenuEnabled(id) != on)
        ADD_FAILURE_AT(file, line) << "menu item " << id << (on ? " disabled" : " enabled");
    for (int button : buttons)
        if (button == id && ButtonEnabled(id) != on)
            ADD_FAILURE_AT(file, line) << "button " << id << (on ? " disabled" : " enabled");
}

void ExpectCommands(const char *file, int line, const std::vector<CommandState> &expected)
{
    for (const CommandState &c : expected)
        ExpectCommand(file, line, c.Id, c.Enabled);
}

std::string WindowText(HWND window)
{
    char text[1024];
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string RowText(int row, int column)
{
    char text[512];
    GetRowText(row, column, text, sizeof(text));
    return text;
}

int RowTotal(void)
{
    return RowCount();
}

static void RemoveTree(const std::string &dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
            {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string ScratchDir(void)
{
    if (Scratch.empty())
    {
        char temp[MAX_PATH], dir[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        snprintf(dir, sizeof(dir), "%spelnor-%lu-%s-%s", temp, GetCurrentProcessId(),
                 info ? info->test_suite_name() : "x", info ? info->name() : "x");
        for (char *p = dir + strlen(temp); *p; p++)
            if (*p == '/' || *p == '\\' || *p == ':')
                *p = '_';
        RemoveTree(dir);
        CreateDirectoryA(dir, NULL);
        Scratch = dir;
    }
    SetCurrentDirectoryA(Scratch.c_str());
    return Scratch;
}

static void LeaveScratchDir(void)
{
    if (Scratch.empty())
        return;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    SetCurrentDirectoryA(temp);
    RemoveTree(Scratch);
    Scratch.clear();
}

void AppTest::SetUp()
{
    ResetProgramState();
    FakeWaveReset(true);
    FakeMemoryReset();
    ClearBoxes();
    InstallBoxHook();
    SetDialogHandler(NULL);
    ScratchDir();
    StartMainWindow();
}

void AppTest::TearDown()
{
    CloseMainWindow();
    RemoveBoxHook();
    LeaveScratchDir();
}
