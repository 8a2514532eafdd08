/* Drawing the waveform and level graph of the selected segment, read
   straight from the source file one pixel column at a time. */
#include <math.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

/* 1 / ln(128^2) and 1 / ln(32768^2): a full-scale column has level 1. */
#define LEVEL_SCALE_8   0.10304964575483744
#define LEVEL_SCALE_16  0.04808983473514721

/* What every column of one drawing shares. */
struct GRAPH
{
    int    Level;            /* level graph, else waveform */
    int    Wide;             /* 16-bit samples */
    LONG   Height;
    LONG   Step;             /* pixels per column */
    LONG   Divisor;          /* 16-bit waveform: 65536 / Height */
    LONG   Centre;           /* the offset value of silence */
    double Scale;            /* level per ln(peak) */
};

static int ToY(const GRAPH *g, LONG v)
{
    if (g->Wide)
        return (int)((DWORD)v / (DWORD)g->Divisor);
    return (int)(v * g->Height / 256);
}

/* The peak of a column is the larger square of its two extremes; a silent
   column (level -1) lies wholly below the view. */
static void DrawLevelColumn(const GRAPH *g, PICTURE *p, LONG x, const COLUMNSCAN *scan)
{
    LONG low = scan->Min - g->Centre;
    LONG high = scan->Max - g->Centre;
    LONG peak = low * low > high * high ? low * low : high * high;
    double level = peak > 0 ? log((double)peak) * g->Scale : -1.0;
    LONG top = (LONG)((1.0 - level) * g->Height * 2);
    LONG height = (LONG)(g->Height * level);

    Fill(p, x, top, g->Step, height);
}

/* A stroke from the smallest to the largest sample, joined to the last
   sample of the column before. */
static void DrawWaveColumn(const GRAPH *g, PICTURE *p, LONG x, const COLUMNSCAN *scan)
{
    LONG top = ToY(g, scan->Min);

    Line(p, p->LastX, p->LastY, x, ToY(g, scan->First));
    Fill(p, x, top, 1, ToY(g, scan->Max) + 1 - top);
    p->LastX = x;
    p->LastY = ToY(g, scan->Last);
}

/* Scans one column of `size` bytes where it lies in the file service's
   I/O buffer (the direct-access pattern), so no byte is copied; a column
   that runs over the buffer's end is scanned in pieces, buffer by buffer.
   Should a buffer end split a 16-bit sample, the rest of the column is
   read into the column buffer instead. Returns the bytes taken in; fewer
   than asked mean the end of the file. */
static LONG ScanColumn(const GRAPH *g, MMIOINFO *info, BYTE *column, LONG size, COLUMNSCAN *scan)
{
    HMMIO file = WaveDocument.ReadHandle;
    LONG got = 0, n;

    scan->Count = 0;
    while (got < size)
    {
        if (info->pchNext >= info->pchEndRead)
        {
            if (mmioAdvance(file, info, MMIO_READ) != MMSYSERR_NOERROR
                || info->pchNext >= info->pchEndRead)
                break;
        }
        n = (LONG)(info->pchEndRead - info->pchNext);
        if (n > size - got)
            n = size - got;
        if (g->Wide && (n & 1) && got + n < size)
        {
            mmioSetInfo(file, info, 0);
            n = mmioRead(file, (HPSTR)column, size - got);
            mmioGetInfo(file, info, 0);
            if (n <= 0)
                break;
            ScanSamples(g->Wide, column, n, scan);
            got += n;
            break;
        }
        ScanSamples(g->Wide, (const BYTE *)info->pchNext, n, scan);
        info->pchNext += n;
        got += n;
    }
    return got;
}

/* Reads the segment column by column and draws each one. A column is
   always read whole; a short read means the end of the file. */
static void DrawColumns(const GRAPH *g, PICTURE *p, BYTE *column, LONG readSize, LONG width, LONG range)
{
    HMMIO file = WaveDocument.ReadHandle;
    MMIOINFO info;
    COLUMNSCAN scan;
    LONG total = 0, x = 0, got;

    p->LastX = -1;
    p->LastY = g->Wide ? g->Height / 2 : g->Height * 128 / 256;
    if (mmioGetInfo(file, &info, 0) != MMSYSERR_NOERROR)
        return;
    while (x < width)
    {
        got = ScanColumn(g, &info, column, readSize, &scan);
        if (got == 0 || scan.Count == 0)
            break;          /* a lone last byte holds no 16-bit sample */
        if (g->Level)
            DrawLevelColumn(g, p, x, &scan);
        else
            DrawWaveColumn(g, p, x, &scan);
        if (got < readSize)
            break;
        total += got;
        if (total >= range)
            break;
        x += g->Step;
    }
    mmioSetInfo(file, &info, 0);
}

void dispwave(HDC dc)
{
    GRAPH g;
    LONG start, range, blocks, width, perColumn, readSize;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;
    LONG resume;
    int haveRange = 1;
    HMMIO file;
    BYTE *buffer;
    PICTURE picture;
    DWORD pictureBytes;

    if (PlaybackState.SegmentEnd == 0 && PlaybackState.Playing)
        haveRange = RestartEmptyRange();

    start  = PlaybackState.SegmentStart;
    range  = PlaybackState.SegmentEnd - start;
    blocks = range / align;
    width  = PlaybackState.WaveViewWidth;
    if (width < 1)
    {
        if (PlaybackState.BlocksPerColumn < 1)
            PlaybackState.BlocksPerColumn = 1;
        return;
    }
    perColumn = (blocks + width - 1) / width;
    if (perColumn < 1)
        perColumn = 1;
    PlaybackState.BlocksPerColumn = perColumn;

    g.Level   = App.ViewMode != IDM_WAVE;
    g.Wide    = WaveDocument.DrawBits == 16;
    g.Height  = PlaybackState.WaveViewHeight;
    g.Step    = blocks > 0 ? width / blocks : 1;
    if (g.Step < 1)
        g.Step = 1;
    g.Divisor = g.Height > 0 && g.Height <= 65536L ? 65536L / g.Height : 1;
    g.Centre  = g.Wide ? 32768L : 128L;
    g.Scale   = g.Wide ? LEVEL_SCALE_16 : LEVEL_SCALE_8;

    /* a view without height has nothing to show, and the file is not moved */
    if (g.Height < 1)
        return;
    BitBlt(dc, 0, 0, (int)width, (int)g.Height, NULL, 0, 0, WHITENESS);
    file = WaveDocument.ReadHandle;
    if (!file || !haveRange)
        return;

    /* Streaming reads through the same handle: its position is put back.
       Refused the larger buffer, the graph reads through the one it has;
       should the file not move to the segment, it shows nothing rather
       than samples from elsewhere. */
    BufferSource(DrawBuffering, &resume);
    if (!SeekData(start))
        return;

    if (WaveDocument.DrawBits == 8 || WaveDocument.DrawBits == 16)
    {
        /* whole blocks, whatever the number of channels; the picture's bits
           come first in the same allocation */
        readSize = perColumn * align;
        pictureBytes = PictureBytes(dc, width + g.Step, &picture);
        buffer = NULL;
        if ((DWORD)readSize <= MAXLONG - pictureBytes)
            buffer = (BYTE *)LocalAlloc(LMEM_FIXED, (SIZE_T)pictureBytes + (SIZE_T)readSize);
        if (!buffer)
        {
            MessageBoxA(App.MainWindow, "dispwave", NULL, MB_OK);
            ExitProcess(1);
        }
        picture.Bits = buffer;
        memset(buffer, 0xFF, pictureBytes);
        DrawColumns(&g, &picture, buffer + pictureBytes, readSize, width, range);
        ShowPicture(dc, &picture);
        LocalFree(buffer);
    }
    else
        TextOutA(dc, 0, 0, "No Support", 10);

    /* Playback reads on from where it was: should that place be lost, the
       source is closed so that the next refill fails and says so. */
    if (PlaybackState.Playing)
    {
        if (resume == -1 || mmioSeek(file, resume, SEEK_SET) != resume)
            CloseSourceFile();
    }
    else
        SeekData(start);
}
