/* Drawing a 10-minute 44.1 kHz 16-bit stereo segment, in both graphs and
   both view widths, against a plain sequential read of the same bytes in
   4 MB reads. Prints figures only. The measurements take turns, round
   after round, and the best of each counts, so that a busy machine shows
   in all of them alike. Link with the program's core library and run
   through tools/winerun. */
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "waveview/waveview.h"
#include "bench/benchlib.h"

#define SECONDS      600
#define RATE         44100
#define BLOCK        4
#define DATA_BYTES   ((DWORD)SECONDS * RATE * BLOCK)
#define VIEW_HEIGHT  80
#define ROUNDS       25
#define BIG_READ     (4 * 1024 * 1024)

static int WriteSource(const char *path)
{
    return WriteBenchSource(path, 2, RATE, 16, DATA_BYTES, [](BYTE *piece, DWORD offset, DWORD count) {
        for (DWORD i = 0; i < count; i += 2)
        {
            DWORD k = (offset + i) / 2;
            short v = (short)(((k * 2654435761u) >> 17) - 16384 + ((k % 3000) * 10));
            piece[i] = (BYTE)v;
            piece[i + 1] = (BYTE)(v >> 8);
        }
    });
}

static int OpenSource(const char *path)
{
    MMCKINFO fmt = {};

    WaveDocument.ReadHandle = mmioOpenA((LPSTR)path, NULL, MMIO_READ | MMIO_ALLOCBUF);
    if (!WaveDocument.ReadHandle)
        return 0;
    WaveDocument.RiffChunk.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(WaveDocument.ReadHandle, &WaveDocument.RiffChunk, NULL, MMIO_FINDRIFF))
        return 0;
    fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(WaveDocument.ReadHandle, &fmt, &WaveDocument.RiffChunk, MMIO_FINDCHUNK))
        return 0;
    mmioAscend(WaveDocument.ReadHandle, &fmt, 0);
    WaveDocument.DataChunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(WaveDocument.ReadHandle, &WaveDocument.DataChunk, &WaveDocument.RiffChunk, MMIO_FINDCHUNK))
        return 0;
    WaveDocument.FormatTag   = 1;
    WaveDocument.blockalign  = BLOCK;
    WaveDocument.BytesPerSec = RATE * BLOCK;
    WaveDocument.KiloHertz   = 44;
    WaveDocument.DrawBits    = 16;
    WaveDocument.ChannelCode = 3;
    WaveDocument.DataSize    = WaveDocument.DataChunk.cksize;
    return 1;
}

static double TimePlainRead(const char *path, BYTE *buffer, DWORD *total)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD got;
    double t;

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    t = Now();
    SetFilePointer(file, 44, NULL, FILE_BEGIN);
    *total = 0;
    while (ReadFile(file, buffer, BIG_READ, &got, NULL) && got > 0)
        *total += got;
    t = Now() - t;
    CloseHandle(file);
    return t;
}

int main(void)
{
    static const int widths[2] = { 512, 1024 };
    static const int modes[2] = { IDM_WAVE, IDM_LEVEL };
    char dir[MAX_PATH], path[MAX_PATH];
    double drawing[2][2] = { { 1e9, 1e9 }, { 1e9, 1e9 } }, plain = 1e9;
    BITMAPINFO info = {};
    HDC dcs[2];
    HBITMAP bitmaps[2];
    BYTE *buffer;
    DWORD total = 0;
    void *bits;
    int i, w, m;

    GetTempPathA(sizeof(dir), dir);
    snprintf(path, sizeof(path), "%sdraw_bench_%lu.wav", dir, GetCurrentProcessId());
    buffer = (BYTE *)malloc(BIG_READ);
    if (!buffer || !WriteSource(path) || !OpenSource(path))
    {
        printf("draw_bench: cannot prepare %s\n", path);
        DeleteFileA(path);
        return 1;
    }

    for (w = 0; w < 2; w++)
    {
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = widths[w];
        info.bmiHeader.biHeight = -VIEW_HEIGHT;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dcs[w] = CreateCompatibleDC(NULL);
        bitmaps[w] = CreateDIBSection(dcs[w], &info, DIB_RGB_COLORS, &bits, NULL, 0);
        SelectObject(dcs[w], bitmaps[w]);
    }
    PlaybackState.WaveViewHeight = VIEW_HEIGHT;
    PlaybackState.SegmentStart = 0;
    PlaybackState.SegmentEnd = (LONG)DATA_BYTES;

    for (i = 0; i < ROUNDS; i++)
    {
        Keep(&plain, TimePlainRead(path, buffer, &total));
        for (w = 0; w < 2; w++)
            for (m = 0; m < 2; m++)
            {
                PlaybackState.WaveViewWidth = widths[w];
                Keep(&drawing[w][m], TimeDrawing(dcs[w], modes[m]));
            }
    }

    printf("segment: %u bytes (%d s of 44.1 kHz 16-bit stereo), best of %d rounds\n",
           (unsigned)DATA_BYTES, SECONDS, ROUNDS);
    printf("plain ReadFile, 4 MB reads: %8.1f ms  (%u bytes)\n", plain * 1000, (unsigned)total);
    printf("graph     view    drawing   / plain read\n");
    for (w = 0; w < 2; w++)
        for (m = 0; m < 2; m++)
            printf("%-8s  %4d  %6.1f ms   %5.2f\n", m == 0 ? "waveform" : "level", widths[w],
                   drawing[w][m] * 1000, drawing[w][m] / plain);

    for (w = 0; w < 2; w++)
    {
        DeleteDC(dcs[w]);
        DeleteObject(bitmaps[w]);
    }
    free(buffer);
    mmioClose(WaveDocument.ReadHandle, 0);
    DeleteFileA(path);
    return 0;
}
