/* The main window procedure: creation, layout, commands, teardown. */
#include <string.h>
#include "app/app.h"
#include <commdlg.h>
#include <cderr.h>
#include "app/shell.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

#define MIN_CLIENT_HEIGHT  320

/* Measures the font, keeps the client height at least 320, takes the menu
   and allocates the two wave headers. The window is created whatever
   happens here. */
static void OnCreate(HWND hwnd)
{
    HDC dc = GetDC(hwnd);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm = {};
    RECT client, outer;

    GetTextMetricsA(dc, &tm);
    App.AverageCharWidth = tm.tmAveCharWidth;
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd, dc);

    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &outer);
    App.ClientWidth = client.right;
    if (client.bottom < MIN_CLIENT_HEIGHT)
        SetWindowPos(hwnd, NULL, 0, 0, outer.right - outer.left,
                     (outer.bottom - outer.top) - client.bottom + MIN_CLIENT_HEIGHT,
                     SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);

    App.Menu = GetMenu(hwnd);
    App.TornDown = 0;
    AllocWaveHeaders();
}

static void MoveChild(HWND hwnd, int id, int x, int y, int width, int height)
{
    HWND child = GetDlgItem(hwnd, id);
    if (child)
        MoveWindow(child, x, y, width, height, TRUE);
}

/* The layout factors are the doubles 0.9, 0.8, 0.1 and 0.2, each a hair
   above its decimal value; a product plus a whole offset is truncated
   toward zero. Worked in integers so that the result does not depend on
   the precision the FPU happens to run at: the hair only shows when the
   exact result is a negative whole number, which it lifts toward zero. */
static int Scaled(int tenths, int value, int offset)
{
    int n = tenths * value + 10 * offset;

    if (n < 0 && value > 0 && n % 10 == 0)
        return n / 10 + 1;
    return n / 10;
}

/* Lays the children out for a client area of w by h pixels; children not
   created yet are skipped. */
static void OnSize(HWND hwnd, int w, int h)
{
    int column = Scaled(9, w, 0);
    int columnWidth = Scaled(1, w, 0);
    int room = w - 20;
    HWND view;

    App.ClientWidth = w;
    MoveChild(hwnd, IDC_SEGMENTLIST, 0, 0, Scaled(9, w, -2), Scaled(8, h, 0));
    MoveChild(hwnd, IDM_OPEN,   column, 0,   columnWidth, 40);
    MoveChild(hwnd, IDM_SAVE,   column, 40,  columnWidth, 40);
    MoveChild(hwnd, IDM_LOOP,   Scaled(9, w, 5), 80, columnWidth, 30);
    MoveChild(hwnd, IDM_PLAY,   column, 110, columnWidth, 40);
    MoveChild(hwnd, IDM_STOP,   column, 150, columnWidth, 40);
    MoveChild(hwnd, IDM_DIVIDE, column, 200, columnWidth, 40);
    MoveChild(hwnd, IDM_JOIN,   column, 240, columnWidth, 40);
    MoveChild(hwnd, IDM_ERASE,  column, 280, columnWidth, 40);

    PlaybackState.WaveViewHeight = Scaled(2, h, -20);
    PlaybackState.WaveViewTop    = Scaled(8, h, 10);
    PlaybackState.WaveViewWidth  = room > 1024 ? 1024 : room > 512 ? 512 : 256;
    MoveChild(hwnd, IDC_WAVEVIEW, 10, PlaybackState.WaveViewTop,
              PlaybackState.WaveViewWidth, PlaybackState.WaveViewHeight);
    /* The move keeps the view's old pixels where they were valid, but the
       main window's background erase paints over them, and the drawing
       depends on the view's size anyway: the whole view is drawn again. */
    view = GetDlgItem(hwnd, IDC_WAVEVIEW);
    if (view)
        InvalidateRect(view, NULL, TRUE);
}

/* The list takes the keyboard; should it be missing, the main window keeps
   the focus so that the accelerator keys still arrive. */
static void FocusList(HWND hwnd)
{
    SetFocus(App.SegmentList ? App.SegmentList : hwnd);
}

/* Saved segments go to the current folder, which must be the chosen
   file's own. The dialog moves there itself on Windows, but not always
   under Wine (a typed full path leaves it in the folder it showed). */
static void EnterSourceFolder(const OPENFILENAMEA *ofn)
{
    char folder[MAX_PATH];

    if (ofn->nFileOffset == 0 || ofn->nFileOffset >= sizeof(folder))
        return;
    lstrcpynA(folder, ofn->lpstrFile, ofn->nFileOffset + 1);
    SetCurrentDirectoryA(folder);
}

/* A path too long for the buffer comes back from Wine's dialog as success,
   cut to whole characters and without an end of text; cut short it may
   name some other file. It is taken only when it ends inside the buffer
   with the file title the dialog returned. */
static int PathIsWhole(const OPENFILENAMEA *ofn)
{
    const char *pathEnd = (const char *)memchr(ofn->lpstrFile, '\0', ofn->nMaxFile);
    const char *titleEnd = (const char *)memchr(ofn->lpstrFileTitle, '\0', ofn->nMaxFileTitle);
    size_t pathLength, titleLength;
    const char *name;

    if (!pathEnd || !titleEnd)
        return 0;
    pathLength = pathEnd - ofn->lpstrFile;
    titleLength = titleEnd - ofn->lpstrFileTitle;
    if (titleLength == 0 || titleLength >= pathLength)
        return 0;
    name = ofn->lpstrFile + pathLength - titleLength;
    return (name[-1] == '\\' || name[-1] == '/') && strcmp(name, ofn->lpstrFileTitle) == 0;
}

/* The open dialog; a cancelled dialog leaves path, title and list alone,
   and so does a path that did not fit, which is reported. */
static void OnOpen(HWND hwnd)
{
    static const char filter[] = "ｻｳﾝﾄﾞ(*.WAV)\0*.WAV\0全ファイル(*.*)\0*.*\0";
    OPENFILENAMEA record;
    OPENFILENAMEA *ofn = &record;
    BOOL chosen;

    lstrcpynA(App.PathBackup, WaveDocument.DocumentPath, sizeof(App.PathBackup));
    lstrcpynA(App.TitleBackup, WaveDocument.DocumentTitle, sizeof(App.TitleBackup));
    memset(ofn, 0, sizeof(*ofn));
    ofn->lStructSize    = OPENFILENAME_SIZE_VERSION_400A;
    ofn->hwndOwner      = hwnd;
    ofn->lpstrFilter    = filter;
    ofn->nFilterIndex   = 1;
    /* cleared whole, so that what the dialog leaves is only its own */
    memset(WaveDocument.DocumentPath, 0, sizeof(WaveDocument.DocumentPath));
    memset(WaveDocument.DocumentTitle, 0, sizeof(WaveDocument.DocumentTitle));
    ofn->lpstrFile      = WaveDocument.DocumentPath;
    ofn->nMaxFile       = sizeof(WaveDocument.DocumentPath);
    ofn->lpstrFileTitle = WaveDocument.DocumentTitle;
    ofn->nMaxFileTitle  = sizeof(WaveDocument.DocumentTitle);
    ofn->Flags          = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    chosen = GetOpenFileNameA(ofn);
    if (chosen && PathIsWhole(ofn))
    {
        EnterSourceFolder(ofn);
        LoadDocument(hwnd, WaveDocument.DocumentPath, WaveDocument.DocumentTitle);
        return;
    }
    /* put back before the box, whose loop may paint the graph from the path */
    lstrcpynA(WaveDocument.DocumentPath, App.PathBackup, sizeof(WaveDocument.DocumentPath));
    lstrcpynA(WaveDocument.DocumentTitle, App.TitleBackup, sizeof(WaveDocument.DocumentTitle));
    if (chosen || CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
        ShowWarning("ファイル名が長すぎます。");
}

static void OnJoin(HWND hwnd)
{
    int paused = PauseForEdit();
    JoinSegment();
    FocusList(hwnd);
    ResumeAfterEdit(paused);
}

static void OnLoopToggle(void)
{
    if (App.LoopFlag == 1)
    {
        CheckMenuItem(App.Menu, IDM_LOOP, MF_BYCOMMAND | MF_UNCHECKED);
        App.LoopFlag = 0;
    }
    else
    {
        CheckMenuItem(App.Menu, IDM_LOOP, MF_BYCOMMAND | MF_CHECKED);
        App.LoopFlag = 1;
    }
    CheckDlgButton(App.MainWindow, IDM_LOOP, App.LoopFlag ? BST_CHECKED : BST_UNCHECKED);
}

static void OnViewChoice(int id)
{
    App.ViewMode = id;
    CheckMenuItem(App.Menu, id, MF_BYCOMMAND | MF_CHECKED);
    CheckMenuItem(App.Menu, id == IDM_WAVE ? IDM_LEVEL : IDM_WAVE, MF_BYCOMMAND | MF_UNCHECKED);
    InvalidateRect(App.WaveView, NULL, TRUE);
}

/* Returns 0 when the command was handled, 1 when it goes to the default. */
static int OnCommand(HWND hwnd, int id)
{
    switch (id)
    {
    case IDM_OPEN:   OnOpen(hwnd); break;
    case IDM_SAVE:   SaveSegments(); break;
    case IDM_EXIT:   SendMessageA(hwnd, WM_CLOSE, 0, 0); return 0;
    case IDM_ABOUT:  MessageBoxA(hwnd, "PELNOR 0.02α", "バージョン情報", MB_OK); break;
    case IDM_PLAY:   StartPlayback(); break;
    case IDM_STOP:   StopPlayback(); break;
    case IDM_RENAME: RenameSegments(); break;
    case IDM_DIVIDE: DivideAtPlayPosition(); break;
    case IDM_JOIN:   OnJoin(hwnd); break;
    case IDM_LOOP:   OnLoopToggle(); break;
    case IDM_LEVEL:
    case IDM_WAVE:   OnViewChoice(id); return 0;
    case IDM_ERASE:  EraseSegment(); break;
    default:         return 1;
    }
    FocusList(hwnd);
    return 0;
}

/* Runs on destruction and on the shutdown query; releases each thing once. */
static void Teardown(void)
{
    if (App.TornDown)
        return;
    App.TornDown = 1;

    if (PlaybackState.OutputDevice && PlaybackState.Playing)
        AbandonPlayback();
    CloseDocument();
    FreeWaveHeaders();
    PostQuitMessage(0);
}

/* The device is closed whether or not the file is still open, so that
   nothing stays open at exit. */
void CloseDocument(void)
{
    CloseSourceFile();
    if (PlaybackState.OutputDevice)
    {
        waveOutClose(PlaybackState.OutputDevice);
        PlaybackState.OutputDevice = NULL;
    }
}

static void OnChar(HWND hwnd, WPARAM ch)
{
    if (ch == 'E' || ch == 'e')
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
}

static LRESULT OnNotify(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const NMHDR *header = (const NMHDR *)lParam;

    if (wParam == IDC_SEGMENTLIST && header->hwndFrom == GetDlgItem(hwnd, IDC_SEGMENTLIST))
        return OnListNotify(hwnd, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_CREATE:
        OnCreate(hwnd);
        break;
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        Teardown();
        break;
    case WM_SIZE:
        OnSize(hwnd, LOWORD(lParam), HIWORD(lParam));
        break;
    case WM_SETFOCUS:
        if (App.SegmentList)
            SetFocus(App.SegmentList);
        return 0;
    case WM_NOTIFY:
        return OnNotify(hwnd, msg, wParam, lParam);
    case WM_CHAR:
        OnChar(hwnd, wParam);
        break;
    case WM_COMMAND:
        if (OnCommand(hwnd, LOWORD(wParam)) == 0)
            return 0;
        break;
    case MM_WOM_DONE:
        OnBufferDone((WAVEHDR *)lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
