/* Start-up: window classes, the main window with its children, and the
   message loop. */
#include "app/app.h"
#include "app/shell.h"
#include <commctrl.h>
#include "segments/segments.h"
#include "waveview/waveview.h"

APPSHELL InitialShell(void)
{
    APPSHELL shell = {};
    shell.LoopFlag = 1;
    shell.ViewMode = IDM_WAVE;
    return shell;
}

APPSHELL App = InitialShell();

/* Every message goes past the main window's accelerators first, whichever
   window it is for, so the keys work while the list has the focus. */
int MessageLoop(HACCEL accel)
{
    MSG msg;

    while (GetMessageA(&msg, NULL, 0, 0))
    {
        if (!TranslateAcceleratorA(App.MainWindow, accel, &msg))
        {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return (int)msg.wParam;
}

int WINAPI AppMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdline, int show)
{
    HACCEL accel;

    (void)cmdline;
    accel = LoadAcceleratorsA(instance, "Accel");
    if (!previous && !RegisterClasses(instance))
        return 0;
    if (!CreateMainWindow(instance, show))
        return 0;
    return MessageLoop(accel);
}

int RegisterClasses(HINSTANCE instance)
{
    WNDCLASSA wc = {};

    wc.style         = 0;
    wc.lpfnWndProc   = MainWindowProc;
    wc.hInstance     = instance;
    wc.hIcon         = LoadIconA(instance, "ICON");
    wc.hCursor       = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
    wc.lpszMenuName  = "Menu";
    wc.lpszClassName = MAIN_CLASS;
    if (!RegisterClassA(&wc))
        return 0;

    wc.lpfnWndProc   = WaveViewProc;
    wc.hIcon         = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    wc.hCursor       = LoadCursorA(NULL, (LPCSTR)IDC_CROSS);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName  = NULL;
    wc.lpszClassName = WAVEVIEW_CLASS;
    return RegisterClassA(&wc) ? 1 : 0;
}

/* The buttons carry their command's id and are found by it. */
static void CreateButton(int id, const char *caption, DWORD style)
{
    CreateWindowExA(0, "BUTTON", caption, style, 0, 0, 0, 0,
                    App.MainWindow, (HMENU)(INT_PTR)id, App.Instance, NULL);
}

/* The version query gives the major version in the low byte; swapped so
   that versions compare as one number (4.0 is 1024, 5.0 is 1280). */
static WORD ReadPlatformVersion(void)
{
    DWORD version = GetVersion();
    return (WORD)((LOBYTE(LOWORD(version)) << 8) | HIBYTE(LOWORD(version)));
}

int CreateMainWindow(HINSTANCE instance, int show)
{
    const DWORD buttonStyle = WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON;
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES };

    App.Instance = instance;
    App.PlatformVersion = ReadPlatformVersion();

    App.MainWindow = CreateWindowExA(0, MAIN_CLASS, "PELNOR", WS_OVERLAPPEDWINDOW,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     NULL, NULL, instance, NULL);
    if (!App.MainWindow)
        return 0;

    InitCommonControlsEx(&icc);
    App.SegmentList = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT,
                                      0, 0, 0, 0, App.MainWindow,
                                      (HMENU)(INT_PTR)IDC_SEGMENTLIST, instance, NULL);
    InitSegmentColumns(App.SegmentList);

    App.WaveView = CreateWindowExA(0, WAVEVIEW_CLASS, "", WS_CHILD, 0, 0, 0, 0,
                                   App.MainWindow, (HMENU)(INT_PTR)IDC_WAVEVIEW, instance, NULL);
    if (!App.WaveView)
        return 0;

    CreateButton(IDM_PLAY,   "再生", buttonStyle);
    CreateButton(IDM_STOP,   "停止", buttonStyle);
    CreateButton(IDM_OPEN,   "開く", buttonStyle);
    CreateButton(IDM_SAVE,   "保存", buttonStyle);
    CreateButton(IDM_DIVIDE, "分割", buttonStyle);
    CreateButton(IDM_JOIN,   "結合", buttonStyle);
    CreateButton(IDM_ERASE,  "消去", buttonStyle);
    /* A plain check box: the Loop command sets its state, a click does not. */
    CreateButton(IDM_LOOP,   "Loop", WS_CHILD | WS_VISIBLE | BS_CHECKBOX);

    CheckDlgButton(App.MainWindow, IDM_LOOP, App.LoopFlag ? BST_CHECKED : BST_UNCHECKED);
    CheckMenuItem(App.Menu, IDM_LOOP, MF_BYCOMMAND | (App.LoopFlag ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(App.Menu, App.ViewMode == IDM_WAVE ? IDM_WAVE : IDM_LEVEL,
                  MF_BYCOMMAND | MF_CHECKED);
    EnableWindow(GetDlgItem(App.MainWindow, IDM_OPEN), TRUE);

    ShowWindow(App.MainWindow, show);
    ShowWindow(App.WaveView, SW_SHOW);
    SetFocus(App.MainWindow);
    UpdateWindow(App.MainWindow);
    return 1;
}
