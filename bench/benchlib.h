/* What the benchmarks share: the clock, the best of several rounds, one
   repaint with GDI's queue flushed, and the writer of their sources. */
#ifndef PELNOR_BENCHLIB_H
#define PELNOR_BENCHLIB_H

#include <windows.h>
#include <mmsystem.h>
#include <stdlib.h>
#include <string.h>
#include "app/app.h"
#include "waveview/waveview.h"

static inline double Now(void)
{
    static LARGE_INTEGER rate;
    LARGE_INTEGER count;

    if (!rate.QuadPart)
        QueryPerformanceFrequency(&rate);
    QueryPerformanceCounter(&count);
    return (double)count.QuadPart / (double)rate.QuadPart;
}

static inline void Keep(double *best, double t)
{
    if (t < *best)
        *best = t;
}

static inline double TimeDrawing(HDC dc, int mode)
{
    double t;

    App.ViewMode = mode;
    t = Now();
    dispwave(dc);
    GdiFlush();
    return Now() - t;
}

static inline void PutLe(BYTE *at, DWORD value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        at[i] = (BYTE)(value >> (8 * i));
}

/* The pieces are bounded so that sources of several GB cost no memory. */
#define BENCH_PIECE (1 << 20)

/* A PCM file with the canonical 44-byte header. fill(piece, offset, count)
   writes the count data bytes that start at offset; the pieces come in
   order, so a fill may carry state from one to the next. */
template <class Fill>
static int WriteBenchSource(const char *path, WORD channels, DWORD rate, WORD bits,
                            DWORD dataBytes, Fill fill)
{
    WORD block = (WORD)(channels * ((bits + 7) / 8));
    BYTE header[44];
    DWORD written;

    memcpy(header, "RIFF", 4);
    PutLe(header + 4, 36 + dataBytes, 4);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLe(header + 16, 16, 4);
    PutLe(header + 20, WAVE_FORMAT_PCM, 2);
    PutLe(header + 22, channels, 2);
    PutLe(header + 24, rate, 4);
    PutLe(header + 28, rate * block, 4);
    PutLe(header + 32, block, 2);
    PutLe(header + 34, bits, 2);
    memcpy(header + 36, "data", 4);
    PutLe(header + 40, dataBytes, 4);

    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE *piece = (BYTE *)malloc(BENCH_PIECE);
    int ok = piece && WriteFile(file, header, sizeof(header), &written, NULL) && written == sizeof(header);
    for (DWORD done = 0; ok && done < dataBytes; done += written)
    {
        DWORD n = dataBytes - done < BENCH_PIECE ? dataBytes - done : BENCH_PIECE;
        fill(piece, done, n);
        ok = WriteFile(file, piece, n, &written, NULL) && written == n;
    }
    free(piece);
    return CloseHandle(file) && ok;
}

#endif
