/* Drawing a 10-minute 44.1 kHz 16-bit stereo segment, in both graphs,
   against plain sequential reads of the same bytes. Prints figures only.
   Link with the program's core library and run through tools/winerun. */
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "waveview/waveview.h"

#define SECONDS      600
#define RATE         44100
#define BLOCK        4
#define DATA_BYTES   ((DWORD)SECONDS * RATE * BLOCK)
#define VIEW_HEIGHT  80
#define ROUNDS       5
#define BIG_READ     (4 * 1024 * 1024)

static double Now(void)
{
    static LARGE_INTEGER frequency;
    LARGE_INTEGER count;

    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return (double)count.QuadPart / (double)frequency.QuadPart;
}

static void PutLe32(BYTE *p, DWORD v)
{
    p[0] = (BYTE)v; p[1] = (BYTE)(v >> 8); p[2] = (BYTE)(v >> 16); p[3] = (BYTE)(v >> 24);
}

static int WriteSource(const char *path)
{
    static const BYTE format[16] = { 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0 };
    BYTE header[44];
    HANDLE file;
    DWORD written, i, done;
    BYTE *chunk;
    int ok = 1;

    memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 36 + DATA_BYTES);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 16);
    memcpy(header + 20, format, 16);
    memcpy(header + 36, "data", 4);
    PutLe32(header + 40, DATA_BYTES);

    file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    chunk = (BYTE *)malloc(BIG_READ);
    ok = chunk && WriteFile(file, header, sizeof(header), &written, NULL);
    for (done = 0; ok && done < DATA_BYTES; done += written)
    {
        DWORD n = DATA_BYTES - done < BIG_READ ? DATA_BYTES - done : BIG_READ;
        for (i = 0; i < n; i += 2)
        {
            DWORD k = (done + i) / 2;
            short v = (short)(((k * 2654435761u) >> 17) - 16384 + ((k % 3000) * 10));
            chunk[i] = (BYTE)v;
            chunk[i + 1] = (BYTE)(v >> 8);
        }
        ok = WriteFile(file, chunk, n, &written, NULL) && written == n;
    }
    free(chunk);
    CloseHandle(file);
    return ok;
}

static int OpenSource(const char *path)
{
    MMCKINFO fmt = {};

    WaveDocument.ReadHandle = mmioOpenA((LPSTR)path, NULL, MMIO_READ | MMIO_ALLOCBUF);
    if (!WaveDocument.ReadHandle)
        return 0;
    mmioSetBuffer(WaveDocument.ReadHandle, NULL, ReadBufferBytes, 0);    /* as the program opens it */
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

static double TimeDrawing(HDC dc, int mode)
{
    double best = 1e9, t;
    int i;

    App.ViewMode = mode;
    for (i = 0; i < ROUNDS; i++)
    {
        t = Now();
        dispwave(dc);
        GdiFlush();
        t = Now() - t;
        best = t < best ? t : best;
    }
    return best;
}

static double TimeMmioRead(const char *path, LONG size, DWORD *total)
{
    double best = 1e9, t;
    BYTE *buffer = (BYTE *)malloc(size);
    int i;

    for (i = 0; i < ROUNDS; i++)
    {
        HMMIO file = mmioOpenA((LPSTR)path, NULL, MMIO_READ | MMIO_ALLOCBUF);
        LONG got;
        t = Now();
        mmioSeek(file, 44, SEEK_SET);
        *total = 0;
        while ((got = mmioRead(file, (HPSTR)buffer, size)) > 0)
            *total += got;
        t = Now() - t;
        mmioClose(file, 0);
        best = t < best ? t : best;
    }
    free(buffer);
    return best;
}

static double TimeReadFile(const char *path, DWORD size, DWORD *total)
{
    double best = 1e9, t;
    BYTE *buffer = (BYTE *)malloc(size);
    int i;

    for (i = 0; i < ROUNDS; i++)
    {
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        DWORD got;
        t = Now();
        SetFilePointer(file, 44, NULL, FILE_BEGIN);
        *total = 0;
        while (ReadFile(file, buffer, size, &got, NULL) && got > 0)
            *total += got;
        t = Now() - t;
        CloseHandle(file);
        best = t < best ? t : best;
    }
    free(buffer);
    return best;
}

int main(void)
{
    char dir[MAX_PATH], path[MAX_PATH];
    static const int widths[] = { 512, 1024 };
    BITMAPINFO info = {};
    DWORD total;
    void *bits;
    int i;

    GetTempPathA(sizeof(dir), dir);
    snprintf(path, sizeof(path), "%sdraw_bench_%lu.wav", dir, GetCurrentProcessId());
    if (!WriteSource(path) || !OpenSource(path))
    {
        printf("draw_bench: cannot prepare %s\n", path);
        DeleteFileA(path);
        return 1;
    }
    WaveDocument.blockalign = BLOCK;

    printf("segment: %u bytes (%d s of 44.1 kHz 16-bit stereo), best of %d rounds\n",
           (unsigned)DATA_BYTES, SECONDS, ROUNDS);
    for (i = 0; i < 2; i++)
    {
        int width = widths[i];
        LONG column;
        double wave, level, mmioSame, fileSame, fileBig;
        HDC dc = CreateCompatibleDC(NULL);
        HBITMAP bitmap;

        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -VIEW_HEIGHT;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
        SelectObject(dc, bitmap);

        PlaybackState.WaveViewWidth = width;
        PlaybackState.WaveViewHeight = VIEW_HEIGHT;
        PlaybackState.SegmentStart = 0;
        PlaybackState.SegmentEnd = (LONG)DATA_BYTES;

        wave = TimeDrawing(dc, IDM_WAVE);
        level = TimeDrawing(dc, IDM_LEVEL);
        column = PlaybackState.BlocksPerColumn * BLOCK;
        mmioSame = TimeMmioRead(path, column, &total);
        fileSame = TimeReadFile(path, (DWORD)column, &total);
        fileBig = TimeReadFile(path, BIG_READ, &total);

        printf("\nview %d x %d: column of %ld bytes\n", width, VIEW_HEIGHT, (long)column);
        printf("  waveform drawing          %8.1f ms\n", wave * 1000);
        printf("  level drawing             %8.1f ms\n", level * 1000);
        printf("  mmioRead, column size     %8.1f ms\n", mmioSame * 1000);
        printf("  ReadFile, column size     %8.1f ms\n", fileSame * 1000);
        printf("  ReadFile, 4 MB reads      %8.1f ms  (%u bytes)\n", fileBig * 1000, (unsigned)total);
        printf("  ratio waveform / mmioRead %8.2f   level / mmioRead %.2f\n", wave / mmioSame, level / mmioSame);
        printf("  ratio waveform / ReadFile %8.2f   level / ReadFile %.2f (same column size)\n",
               wave / fileSame, level / fileSame);

        DeleteDC(dc);
        DeleteObject(bitmap);
    }

    mmioClose(WaveDocument.ReadHandle, 0);
    DeleteFileA(path);
    return 0;
}
