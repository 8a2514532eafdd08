/* The play cursor: an inverted bar in the graph that moves one buffer
   per returned buffer, or a one-pixel mark at the chosen play position. */
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"

/* Before the graph has painted once there is no column scale yet; take
   the one the painting will compute. */
static LONG ColumnBlocks(void)
{
    LONG width = PlaybackState.WaveViewWidth > 0 ? PlaybackState.WaveViewWidth : 1;
    LONG blocks;

    if (PlaybackState.BlocksPerColumn >= 1)
        return PlaybackState.BlocksPerColumn;
    blocks = (PlaybackState.SegmentEnd - PlaybackState.SegmentStart) / WaveDocument.blockalign;
    blocks = (blocks + width - 1) / width;
    PlaybackState.BlocksPerColumn = blocks >= 1 ? blocks : 1;
    return PlaybackState.BlocksPerColumn;
}

/* Columns covered by one buffer's playing time. */
static LONG BarWidth(LONG perColumn)
{
    LONG w;

    if (WaveDocument.KiloHertz % 11 == 0)
        w = (LONG)(WaveDocument.KiloHertz / 11) * BufferUnit / perColumn;
    else
        w = (LONG)(WaveDocument.KiloHertz * 0.125 * BufferUnit / perColumn);
    if (!PlaybackState.Playing || w == 0)
        w = 1;
    return w;
}

static void InvertBand(HDC dc, LONG x, LONG width)
{
    PatBlt(dc, x, 0, width, PlaybackState.WaveViewHeight, DSTINVERT);
}

/* Removes the mark of the previous call, if one is on the screen. */
static void EraseLastMark(HDC dc)
{
    LONG column = PlaybackState.CursorColumn;

    if (PlaybackState.CursorWidth > 0 && column >= 1 && column <= PlaybackState.WaveViewWidth)
        InvertBand(dc, PlaybackState.WaveViewWidth - column, PlaybackState.CursorWidth);
}

void DrawPlayCursor(int erase)
{
    LONG perColumn;
    LONG c, w, d;
    HDC dc;

    if (PlaybackState.CursorSkip != 0)
    {
        PlaybackState.CursorSkip--;
        return;
    }

    perColumn = ColumnBlocks();
    c = PlaybackState.RemainingBlocks / perColumn;
    if (c != PlaybackState.CursorColumn)
    {
        dc = GetDC(App.WaveView);
        if (erase)
            EraseLastMark(dc);
        if (PlaybackState.CursorColumn == 0)
            PlaybackState.CursorColumn = PlaybackState.WaveViewWidth + 1;
        w = BarWidth(perColumn);
        d = PlaybackState.Playing ? PlaybackState.CursorColumn - c : 0;
        InvertBand(dc, PlaybackState.WaveViewWidth - c - d, w + d);
        ReleaseDC(App.WaveView, dc);
        PlaybackState.CursorColumn = c;
        PlaybackState.CursorWidth = w;
    }

    if (PlaybackState.RemainingBlocks > 0)
        PlaybackState.RemainingBlocks -= (LONG)(PlaybackState.BytesPerBuffer / (DWORD)WaveDocument.blockalign);
    else
        PlaybackState.RemainingBlocks =
            (PlaybackState.SegmentEnd - PlaybackState.SegmentStart) / WaveDocument.blockalign;
    if (PlaybackState.RemainingBlocks <= 0)
        PlaybackState.RemainingBlocks = 0;
}

/* A painting of the view wipes the mark where it paints: a later press
   must not invert that place again. */
void ForgetPlayCursor(HDC paint)
{
    RECT band;

    if (PlaybackState.CursorWidth <= 0)
        return;
    band.left = PlaybackState.WaveViewWidth - PlaybackState.CursorColumn;
    band.top = 0;
    band.right = band.left + PlaybackState.CursorWidth;
    band.bottom = PlaybackState.WaveViewHeight;
    if (RectVisible(paint, &band))
        PlaybackState.CursorWidth = 0;
}
