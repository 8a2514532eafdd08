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

/* One bar (or one mark while stopped) is ever on the screen: the band
   inverted last is inverted back where it was drawn, whatever the bar's
   width and however far it moves, then the new one is drawn. A press
   while stopped (erase set) and playback treat the previous mark alike. */
void DrawPlayCursor(int erase)
{
    LONG perColumn;
    LONG c, w;
    HDC dc;

    (void)erase;
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
        if (PlaybackState.CursorWidth > 0)
            InvertBand(dc, PlaybackState.CursorLeft, PlaybackState.CursorWidth);
        w = BarWidth(perColumn);
        PlaybackState.CursorLeft = PlaybackState.WaveViewWidth - c;
        PlaybackState.CursorWidth = w;
        InvertBand(dc, PlaybackState.CursorLeft, w);
        ReleaseDC(App.WaveView, dc);
        PlaybackState.CursorColumn = c;
    }

    if (PlaybackState.RemainingBlocks > 0)
        PlaybackState.RemainingBlocks -= (LONG)(PlaybackState.BytesPerBuffer / (DWORD)WaveDocument.blockalign);
    else
        PlaybackState.RemainingBlocks =
            (PlaybackState.SegmentEnd - PlaybackState.SegmentStart) / WaveDocument.blockalign;
    if (PlaybackState.RemainingBlocks <= 0)
        PlaybackState.RemainingBlocks = 0;
}

/* A painting of the view wipes the bar: the band is made part of every
   painting, so that it is always wiped whole and never inverted again. */
void ForgetPlayCursor(void)
{
    RECT band;

    if (PlaybackState.CursorWidth <= 0)
        return;
    band.left = PlaybackState.CursorLeft;
    band.top = 0;
    band.right = band.left + PlaybackState.CursorWidth;
    band.bottom = PlaybackState.WaveViewHeight;
    InvalidateRect(App.WaveView, &band, TRUE);
    PlaybackState.CursorWidth = 0;
}
