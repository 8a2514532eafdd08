/* The segment list: columns, loading a document as one row, and the
   selection that sets the play range. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/controls.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

SEGMENTSTATE InitialSegments(void)
{
    SEGMENTSTATE state = {};
    state.LastHandledRow = -1;
    return state;
}

SEGMENTSTATE Segments = InitialSegments();

int FirstSelectedRow(void)
{
    return (int)SendMessageA(App.SegmentList, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

int RowCount(void)
{
    return (int)SendMessageA(App.SegmentList, LVM_GETITEMCOUNT, 0, 0);
}

void GetRowText(int row, int column, char *text, int capacity)
{
    LVITEMA item = {};

    if (capacity <= 0)
        return;
    text[0] = '\0';
    item.iSubItem   = column;
    item.pszText    = text;
    item.cchTextMax = capacity;
    SendMessageA(App.SegmentList, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

void SetRowText(int row, int column, const char *text)
{
    LVITEMA item = {};

    item.iSubItem = column;
    item.pszText  = (LPSTR)text;
    SendMessageA(App.SegmentList, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

void SelectRow(int row)
{
    LVITEMA item = {};

    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state     = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(App.SegmentList, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)&item);
}

double RowSeconds(int row, int column)
{
    char text[TIME_CHARS];

    GetRowText(row, column, text, sizeof(text));
    return ParseSeconds(text);
}

/* Playback, the graph and the cursor all work on the play range. */
static void SetPlayRange(int row)
{
    PlaybackState.SegmentEnd   = SecondsToOffset(RowSeconds(row, COL_END));
    PlaybackState.PlayStart    = SecondsToOffset(RowSeconds(row, COL_START));
    PlaybackState.SegmentStart = PlaybackState.PlayStart;
    PlaybackState.RangeBytesPerSec = WaveDocument.BytesPerSec;
    WaveDocument.BytesLeft = (DWORD)(PlaybackState.SegmentEnd - PlaybackState.SegmentStart);
}

/* A selection made while the source was refused took its range at no
   byte rate, or at another one: such a range is taken again from the
   selected row (the first when none is). */
void RefreshPlayRange(void)
{
    int row = FirstSelectedRow();

    if (PlaybackState.RangeBytesPerSec != WaveDocument.BytesPerSec && RowCount() > 0)
        SetPlayRange(row >= 0 ? row : 0);
}

static void InsertColumn(HWND list, int position, const char *caption, int format, int width)
{
    LVCOLUMNA column = {};

    column.mask     = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt      = format;
    column.cx       = width;
    column.pszText  = (LPSTR)caption;
    column.iSubItem = position;
    SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)position, (LPARAM)&column);
}

/* In a very narrow window the name column's share comes out zero or
   negative; it keeps a minimum width so the names stay reachable. */
void InitSegmentColumns(HWND list)
{
    int a = App.AverageCharWidth;
    int nameWidth = (int)(App.ClientWidth * 0.9 - 42 * a - 2);

    if (nameWidth < 10 * a)
        nameWidth = 10 * a;
    SendMessageA(list, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), TRUE);
    InsertColumn(list, 0, "名前",  LVCFMT_LEFT,  nameWidth);
    InsertColumn(list, 1, "start", LVCFMT_RIGHT, 14 * a);
    InsertColumn(list, 2, "end",   LVCFMT_RIGHT, 14 * a);
    InsertColumn(list, 3, "time",  LVCFMT_RIGHT, 14 * a);
}

void LoadDocument(HWND window, const char *path, const char *title)
{
    LVITEMA item = {};
    char name[NAME_CHARS];
    char duration[64];

    (void)path;
    SetTitle(window, title);
    SendMessageA(App.SegmentList, LVM_DELETEALLITEMS, 0, 0);
    InvalidateRect(App.WaveView, NULL, TRUE);

    /* a fresh open: nothing to compare the file with, no end yet */
    WaveDocument.LoadedSize = 0;
    WaveDocument.EndSeconds = 0.0;
    if (!OpenWaveFile())
    {
        ControlsAfterFailedLoad();
        return;
    }
    KeepLoadedFile();

    PlaybackState.SegmentStart = 0;
    PlaybackState.PlayStart    = 0;
    PlaybackState.SegmentEnd   = (LONG)WaveDocument.DataSize;
    PlaybackState.RangeBytesPerSec = WaveDocument.BytesPerSec;

    CutAtLastDot(title, name, sizeof(name));
    item.mask    = LVIF_TEXT;
    item.iItem   = 0;
    item.pszText = name;
    SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&item);
    SetRowText(0, COL_START, "0.00000");
    snprintf(duration, sizeof(duration), "%.5f",
             (double)WaveDocument.DataSize / (double)WaveDocument.BytesPerSec);
    WaveDocument.EndSeconds = ParseSeconds(duration);
    SetRowText(0, COL_END, duration);
    SetRowText(0, COL_TIME, duration);

    ControlsAfterLoad();
    SelectRow(0);
}

LRESULT OnListNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    const NMHDR *header = (const NMHDR *)lParam;
    int row;

    if (PlaybackState.Playing &&
        (header->code == LVN_ITEMCHANGING || header->code == LVN_INSERTITEM))
        return DefWindowProcA(window, WM_NOTIFY, wParam, lParam);

    row = FirstSelectedRow();
    if (row < 0 || row == Segments.LastHandledRow)
        return DefWindowProcA(window, WM_NOTIFY, wParam, lParam);

    ControlsForRow(row);
    SetPlayRange(row);

    InvalidateRect(App.WaveView, NULL, TRUE);
    ResetPlayCursor();

    /* Taken as handled before the list repaints: its painting notifies
       again, and must not seek the playback once more. */
    Segments.LastHandledRow = row;
    if (PlaybackState.Playing)
    {
        InvalidateRect(App.SegmentList, NULL, TRUE);
        UpdateWindow(App.SegmentList);
        UpdateWindow(App.WaveView);
        SeekPlayback(PlaybackState.SegmentStart);
    }
    return DefWindowProcA(window, WM_NOTIFY, wParam, lParam);
}

/* An empty range while playing: stop, let the notifications of the stop
   be handled, take the range from the selected row again and restart.
   With no row selected there is no range: playback stays stopped and
   the result is 0. */
int RestartEmptyRange(void)
{
    MSG msg;
    int row;

    StopPlayback();
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
            ExitProcess(1);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    row = FirstSelectedRow();
    if (row < 0)
        return 0;
    ControlsForRow(row);
    SetPlayRange(row);
    StartPlayback();
    return 1;
}
