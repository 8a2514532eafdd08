/* The graph window: painting, the play position under the mouse, and
   dividing where the user right-clicks. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

#define READOUT_GAP    20    /* from the view's left edge, past its width */
#define READOUT_LINE   30

/* Two readouts beside the graph: the pointed time from the segment start
   and from the start of the data. */
static void ShowCursorTimes(LPARAM position)
{
    LONG x = LOWORD(position);
    LONG width = PlaybackState.WaveViewWidth;
    double bytesPerSec = (double)WaveDocument.BytesPerSec;
    double offset;
    HDC dc = GetDC(App.MainWindow);

    if (WaveDocument.BytesPerSec != 0 && width > 0)
    {
        offset = (double)(PlaybackState.SegmentEnd - PlaybackState.SegmentStart) * x / width;
        snprintf(App.ScratchText, sizeof(App.ScratchText), "%10.5f  ", offset / bytesPerSec);
        TextOutA(dc, (int)width + READOUT_GAP, (int)PlaybackState.WaveViewTop,
                 App.ScratchText, (int)strlen(App.ScratchText));
        snprintf(App.ScratchText, sizeof(App.ScratchText), "%10.5f  ",
                 (offset + PlaybackState.SegmentStart) / bytesPerSec);
        TextOutA(dc, (int)width + READOUT_GAP, (int)PlaybackState.WaveViewTop + READOUT_LINE,
                 App.ScratchText, (int)strlen(App.ScratchText));
    }
    ReleaseDC(App.MainWindow, dc);
}

/* Only a document that passed its checks is drawn. An open runs message
   loops (the repair question, its warnings) with the file half read: the
   load has emptied the list by then, and the data size is set only at the
   end of the checks (a size beyond the limit is refused, hence signed).
   A load that failed leaves the list empty and the view white. */
static int DocumentShown(void)
{
    return RowCount() > 0 && WaveDocument.ReadHandle && (LONG)WaveDocument.DataSize > 0;
}

static void OnPaint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HCURSOR previous = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
    HDC dc;

    ForgetPlayCursor();
    dc = BeginPaint(hwnd, &ps);

    if (RowCount() > 0 && WaveDocument.DocumentPath[0] && !WaveDocument.ReadHandle)
        OpenWaveFile();
    if (DocumentShown())
    {
        RefreshPlayRange();
        dispwave(dc);
    }
    EndPaint(hwnd, &ps);
    SetCursor(previous);
}

/* A left press sets the play position at the same fraction of the selected
   row's time span; with no row selected the first row's times are used. */
static void OnLeftPress(LPARAM position)
{
    LONG width = PlaybackState.WaveViewWidth;
    double start, end, seconds;
    LONG offset;
    int row;

    if (!WaveDocument.ReadHandle || width < 1 || RowCount() == 0)
        return;
    row = FirstSelectedRow();
    if (row < 0)
        row = 0;
    start = RowSeconds(row, COL_START);
    end = RowSeconds(row, COL_END);
    seconds = start + (end - start) * LOWORD(position) / width;
    offset = SecondsToOffset(seconds);

    SeekPlayback(offset);
    if (!PlaybackState.Playing)
    {
        DrawPlayCursor(1);
        PlaybackState.PlayStart = offset;
    }
}

/* With no segment there is nothing to divide. */
static void OnRightPress(LPARAM position)
{
    LONG width = PlaybackState.WaveViewWidth;
    int paused;

    if (width < 1 || RowCount() == 0)
        return;
    paused = PauseForEdit();
    DivideSegment((double)LOWORD(position) / (double)width);
    SetFocus(App.SegmentList);
    ResumeAfterEdit(paused);
    UpdateWindow(App.WaveView);
    ShowCursorTimes(position);
}

LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_PAINT:
        OnPaint(hwnd);
        return 0;
    case WM_MOUSEMOVE:
        ShowCursorTimes(lParam);
        return 0;
    case WM_LBUTTONDOWN:
        OnLeftPress(lParam);
        return 0;
    case WM_RBUTTONDOWN:
        OnRightPress(lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
