/* Drawing the waveform and level graph of the selected segment, read
   straight from the source file one pixel column at a time. */
#include <math.h>
#include <string.h>
#include <immintrin.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

/* 1 / ln(128^2) and 1 / ln(32768^2): a full-scale column has level 1. */
#define LEVEL_SCALE_8   0.10304964575483744
#define LEVEL_SCALE_16  0.04808983473514721

/* One column's samples, offset to be unsigned (8-bit: 0..255, 16-bit:
   0..65535): how many, the first, the last, the smallest and the largest.
   A column read in pieces is scanned piece by piece. */
struct COLUMNSCAN
{
    LONG Count, First, Last, Min, Max;
};

/* What every column of one drawing shares. */
struct GRAPH
{
    HDC    Dc;
    int    Level;            /* level graph, else waveform */
    int    Wide;             /* 16-bit samples */
    LONG   Height;
    LONG   Step;             /* pixels per column */
    LONG   Divisor;          /* 16-bit waveform: 65536 / Height */
    LONG   Centre;           /* the offset value of silence */
    double Scale;            /* level per ln(peak) */
};

static void AddPiece(COLUMNSCAN *scan, const COLUMNSCAN *piece)
{
    if (scan->Count == 0)
    {
        *scan = *piece;
        return;
    }
    scan->Count += piece->Count;
    scan->Last = piece->Last;
    scan->Min = piece->Min < scan->Min ? piece->Min : scan->Min;
    scan->Max = piece->Max > scan->Max ? piece->Max : scan->Max;
}

/* Every repaint scans the whole segment, so the extremes are taken a
   vector at a time, four vectors a step folded into one running low and
   high: 128 bytes a step with AVX2 where the processor and Windows offer
   it, else 64 with SSE2, which every x86 processor Windows runs on has;
   as unsigned bytes, or with Wide as signed 16-bit words. Each takes
   whole steps from the start of the run, leaves the lanes' extremes in
   low and high and returns the number of bytes it took. */
template <int Wide>
__attribute__((target("sse2")))
static __m128i Lower128(__m128i a, __m128i b)
{
    return Wide ? _mm_min_epi16(a, b) : _mm_min_epu8(a, b);
}

template <int Wide>
__attribute__((target("sse2")))
static __m128i Higher128(__m128i a, __m128i b)
{
    return Wide ? _mm_max_epi16(a, b) : _mm_max_epu8(a, b);
}

template <int Wide>
__attribute__((target("avx2")))
static __m256i Lower256(__m256i a, __m256i b)
{
    return Wide ? _mm256_min_epi16(a, b) : _mm256_min_epu8(a, b);
}

template <int Wide>
__attribute__((target("avx2")))
static __m256i Higher256(__m256i a, __m256i b)
{
    return Wide ? _mm256_max_epi16(a, b) : _mm256_max_epu8(a, b);
}

/* The empty asm statements keep each loaded vector in its register: GCC
   otherwise reads every vector twice, once for the min and once for the
   max, and the loads, not the comparisons, then set the pace. */
template <int Wide>
__attribute__((target("sse2")))
static LONG VectorSse2(const BYTE *p, LONG count, __m128i *low, __m128i *high)
{
    __m128i lo = *low, hi = *high;
    LONG i;

    for (i = 0; i + 64 <= count; i += 64)
    {
        __m128i a = _mm_loadu_si128((const __m128i *)(p + i));
        __m128i b = _mm_loadu_si128((const __m128i *)(p + i + 16));
        __m128i c = _mm_loadu_si128((const __m128i *)(p + i + 32));
        __m128i d = _mm_loadu_si128((const __m128i *)(p + i + 48));
        __asm__("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
        lo = Lower128<Wide>(lo, Lower128<Wide>(Lower128<Wide>(a, b), Lower128<Wide>(c, d)));
        hi = Higher128<Wide>(hi, Higher128<Wide>(Higher128<Wide>(a, b), Higher128<Wide>(c, d)));
    }
    *low = lo;
    *high = hi;
    return i;
}

template <int Wide>
__attribute__((target("avx2")))
static LONG VectorAvx2(const BYTE *p, LONG count, __m128i *low, __m128i *high)
{
    __m256i lo = _mm256_broadcastsi128_si256(*low), hi = _mm256_broadcastsi128_si256(*high);
    LONG i;

    for (i = 0; i + 128 <= count; i += 128)
    {
        __m256i a = _mm256_loadu_si256((const __m256i *)(p + i));
        __m256i b = _mm256_loadu_si256((const __m256i *)(p + i + 32));
        __m256i c = _mm256_loadu_si256((const __m256i *)(p + i + 64));
        __m256i d = _mm256_loadu_si256((const __m256i *)(p + i + 96));
        __asm__("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
        lo = Lower256<Wide>(lo, Lower256<Wide>(Lower256<Wide>(a, b), Lower256<Wide>(c, d)));
        hi = Higher256<Wide>(hi, Higher256<Wide>(Higher256<Wide>(a, b), Higher256<Wide>(c, d)));
    }
    *low = Lower128<Wide>(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1));
    *high = Higher128<Wide>(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1));
    return i;
}

/* The processor's features are read once at start-up by the compiler's
   runtime; AVX2 counts only where Windows also saves its registers. */
static int HaveAvx2(void)
{
    return __builtin_cpu_supports("avx2");
}

/* The vectors start at a 32-byte boundary, so that none of their loads
   straddles two cache lines; the bytes or words before it and after the
   last whole step are taken one at a time. */
static LONG ToBoundary(const void *p, LONG count)
{
    LONG head = (LONG)(-(UINT_PTR)p & 31);

    return head < count ? head : count;
}

static void BytesOneByOne(const BYTE *p, LONG from, LONG to, LONG *lowest, LONG *highest)
{
    for (LONG i = from; i < to; i++)
    {
        *lowest = p[i] < *lowest ? p[i] : *lowest;
        *highest = p[i] > *highest ? p[i] : *highest;
    }
}

static void WordsOneByOne(const short *p, LONG from, LONG to, LONG *lowest, LONG *highest)
{
    for (LONG i = from; i < to; i++)
    {
        *lowest = p[i] < *lowest ? p[i] : *lowest;
        *highest = p[i] > *highest ? p[i] : *highest;
    }
}

static void ScanBytes(const BYTE *p, LONG count, COLUMNSCAN *scan)
{
    __m128i lo = _mm_set1_epi8((char)0xFF), hi = _mm_setzero_si128();
    BYTE lows[16], highs[16];
    COLUMNSCAN piece = { count, p[0], p[count - 1], 255, 0 };
    LONG head = ToBoundary(p, count), n;

    n = HaveAvx2() ? VectorAvx2<0>(p + head, count - head, &lo, &hi)
                   : VectorSse2<0>(p + head, count - head, &lo, &hi);
    _mm_storeu_si128((__m128i *)lows, lo);
    _mm_storeu_si128((__m128i *)highs, hi);
    for (int k = 0; k < 16; k++)
    {
        piece.Min = lows[k] < piece.Min ? lows[k] : piece.Min;
        piece.Max = highs[k] > piece.Max ? highs[k] : piece.Max;
    }
    BytesOneByOne(p, 0, head, &piece.Min, &piece.Max);
    BytesOneByOne(p, head + n, count, &piece.Min, &piece.Max);
    AddPiece(scan, &piece);
}

/* Words at an odd address never reach a boundary whole: they start there. */
static void ScanWords(const short *p, LONG count, COLUMNSCAN *scan)
{
    __m128i lo = _mm_set1_epi16(32767), hi = _mm_set1_epi16(-32768);
    short lows[8], highs[8];
    LONG lowest = 32767, highest = -32768, head, n;
    COLUMNSCAN piece;

    head = (UINT_PTR)p & 1 ? 0 : ToBoundary(p, count * 2) / 2;
    n = HaveAvx2() ? VectorAvx2<1>((const BYTE *)(p + head), (count - head) * 2, &lo, &hi)
                   : VectorSse2<1>((const BYTE *)(p + head), (count - head) * 2, &lo, &hi);
    _mm_storeu_si128((__m128i *)lows, lo);
    _mm_storeu_si128((__m128i *)highs, hi);
    for (int k = 0; k < 8; k++)
    {
        lowest = lows[k] < lowest ? lows[k] : lowest;
        highest = highs[k] > highest ? highs[k] : highest;
    }
    WordsOneByOne(p, 0, head, &lowest, &highest);
    WordsOneByOne(p, head + n / 2, count, &lowest, &highest);
    piece.Count = count;
    piece.First = p[0] + 32768L;
    piece.Last  = p[count - 1] + 32768L;
    piece.Min   = lowest + 32768L;
    piece.Max   = highest + 32768L;
    AddPiece(scan, &piece);
}

/* Scans the whole samples of n bytes; a lone last byte of 16-bit data is
   left out. */
static void ScanPiece(const GRAPH *g, const BYTE *p, LONG n, COLUMNSCAN *scan)
{
    if (g->Wide && n >= 2)
        ScanWords((const short *)p, n / 2, scan);
    else if (!g->Wide && n >= 1)
        ScanBytes(p, n, scan);
}

static int ToY(const GRAPH *g, LONG v)
{
    if (g->Wide)
        return (int)((DWORD)v / (DWORD)g->Divisor);
    return (int)(v * g->Height / 256);
}

/* The drawing is made in memory, a bit per pixel, over the part of the DC
   that can be seen, and handed to GDI in one blit: a GDI call per line
   costs far more than the line's few pixels. A set bit is white. */
struct PICTURE
{
    BYTE *Bits;                  /* top-down rows of Stride bytes */
    LONG Left, Top, Width, Height, Stride;
    LONG LastX, LastY;           /* waveform: where the next join starts */
};

static void Plot(PICTURE *p, LONG x, LONG y)
{
    x -= p->Left;
    y -= p->Top;
    if ((DWORD)x < (DWORD)p->Width && (DWORD)y < (DWORD)p->Height)
        p->Bits[y * p->Stride + (x >> 3)] &= (BYTE)~(0x80 >> (x & 7));
}

/* As PatBlt fills: a negative width or height extends to the left or up.
   Every pixel of the level graph comes through here, so the rectangle is
   clipped once and each column is walked down a byte at a time. */
static void Fill(PICTURE *p, LONG x, LONG y, LONG w, LONG h)
{
    LONG stride = p->Stride, right, bottom, i, j;
    BYTE *bits, mask;

    if (w < 0)
        x += w, w = -w;
    if (h < 0)
        y += h, h = -h;
    right = x + w;
    bottom = y + h;
    if (x < p->Left)
        x = p->Left;
    if (right > p->Left + p->Width)
        right = p->Left + p->Width;
    if (y < p->Top)
        y = p->Top;
    if (bottom > p->Top + p->Height)
        bottom = p->Top + p->Height;
    if (x >= right || y >= bottom)
        return;
    x -= p->Left;
    right -= p->Left;
    bits = p->Bits + (y - p->Top) * stride;
    for (i = x; i < right; i++)
    {
        BYTE *b = bits + (i >> 3);

        mask = (BYTE)~(0x80 >> (i & 7));
        for (j = y; j < bottom; j++, b += stride)
            *b &= mask;
    }
}

/* A line as GDI draws it with a one-pixel pen: a step along the major
   axis per pixel, the minor coordinate rounded to the nearest, ties
   towards the smaller, and the end point left out. */
static void Line(PICTURE *p, LONG x0, LONG y0, LONG x1, LONG y1)
{
    LONG dx = x1 - x0, dy = y1 - y0;
    LONG ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
    LONG major = ax >= ay ? ax : ay, minor = ax >= ay ? ay : ax;
    LONG majorStep = (ax >= ay ? dx : dy) < 0 ? -1 : 1;
    LONG minorStep = (ax >= ay ? dy : dx) < 0 ? -1 : 1;
    LONG i, q = 0, r = 0, m;
    PICTURE at = *p;    /* no plotted byte can change a local: its fields stay in registers */

    for (i = 0; i < major; i++)
    {
        /* i * minor = q * major + r; a tie rounds up only going down */
        m = q + (2 * r > major || (minorStep < 0 && 2 * r == major));
        if (ax >= ay)
            Plot(&at, x0 + i * majorStep, y0 + m * minorStep);
        else
            Plot(&at, x0 + m * minorStep, y0 + i * majorStep);
        r += minor;
        while (r >= major)
            r -= major, q++;
    }
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

/* The part of the DC the drawing can reach and the clipping lets be seen:
   its size and the bytes of its bits. */
static DWORD PictureBytes(HDC dc, const GRAPH *g, LONG width, PICTURE *p)
{
    RECT clip;
    int kind = GetClipBox(dc, &clip);

    p->Left = -1;
    p->Top = 0;
    p->Width = p->Height = p->Stride = 0;
    if (kind == ERROR || kind == NULLREGION)
        return 0;
    if (clip.left > p->Left)
        p->Left = clip.left;
    if (clip.top > p->Top)
        p->Top = clip.top;
    if (clip.right > width + g->Step)
        clip.right = width + g->Step;
    if (clip.right <= p->Left || clip.bottom <= p->Top)
        return 0;
    p->Width = clip.right - p->Left;
    p->Height = clip.bottom - p->Top;
    p->Stride = (p->Width + 31) / 32 * 4;
    return (DWORD)p->Stride * (DWORD)p->Height;
}

/* Black where the picture is black; the rest of the DC is left as it is. */
static void ShowPicture(HDC dc, const PICTURE *p)
{
    struct
    {
        BITMAPINFOHEADER Header;
        RGBQUAD Colours[2];
    } info = {};

    if (p->Width == 0)
        return;
    info.Header.biSize = sizeof(info.Header);
    info.Header.biWidth = p->Width;
    info.Header.biHeight = -p->Height;
    info.Header.biPlanes = 1;
    info.Header.biBitCount = 1;
    info.Header.biClrUsed = 2;
    info.Colours[1].rgbRed = info.Colours[1].rgbGreen = info.Colours[1].rgbBlue = 255;
    StretchDIBits(dc, (int)p->Left, (int)p->Top, (int)p->Width, (int)p->Height,
                  0, 0, (int)p->Width, (int)p->Height, p->Bits, (BITMAPINFO *)&info,
                  DIB_RGB_COLORS, SRCAND);
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
            ScanPiece(g, column, n, scan);
            got += n;
            break;
        }
        ScanPiece(g, (const BYTE *)info->pchNext, n, scan);
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

/* An empty range while playing: stop, let the notifications of the stop
   be handled, take the range from the selected row again and restart.
   With no row selected there is no range: playback stays stopped and
   the result is 0. */
static int RestartEmptyRange(void)
{
    char startText[100];
    char endText[100];
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
    if (row != 0)
        EnableCommand(IDM_JOIN, 1);
    GetRowText(row, COL_START, startText, sizeof(startText));
    GetRowText(row, COL_END, endText, sizeof(endText));
    PlaybackState.SegmentEnd   = TextToOffset(endText);
    PlaybackState.PlayStart    = TextToOffset(startText);
    PlaybackState.SegmentStart = PlaybackState.PlayStart;
    StartPlayback();
    return 1;
}

void dispwave(HDC dc)
{
    GRAPH g;
    LONG start, range, blocks, width, perColumn, readSize;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;
    LONG resume = 0;
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

    g.Dc      = dc;
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

    /* streaming reads through the same handle: put its position back */
    if (PlaybackState.Playing)
        resume = mmioSeek(file, 0, SEEK_CUR);
    mmioSeek(file, (LONG)WaveDocument.DataChunk.dwDataOffset + start, SEEK_SET);

    if (WaveDocument.DrawBits == 8 || WaveDocument.DrawBits == 16)
    {
        /* whole blocks, whatever the number of channels; the picture's bits
           come first in the same allocation */
        readSize = perColumn * align;
        pictureBytes = PictureBytes(dc, &g, width, &picture);
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

    if (PlaybackState.Playing)
        mmioSeek(file, resume, SEEK_SET);
    else
        mmioSeek(file, (LONG)WaveDocument.DataChunk.dwDataOffset + start, SEEK_SET);
}
