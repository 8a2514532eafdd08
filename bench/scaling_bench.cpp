/* How the program scales with the length of a recording: one step of
   bench/scaling_bench.sh per run, so that each step's peak working set is
   its own. Every step opens the source as the program does (OpenWaveFile,
   with the real wave-output device's query) and prints one line of
   figures for the script to gather.

   usage: scaling_bench make PATH SECONDS   44.1 kHz 16-bit stereo source
          scaling_bench draw PATH           both graphs, 1024 columns, against
                                            4 MB reads of the same bytes
          scaling_bench open PATH           the open: chunk walk and device query
          scaling_bench save PATH           ten ranges with WriteSegment into the
                                            current folder; prints the ranges */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/app.h"
#include "app/resource.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "waveview/waveview.h"
#include "tests/support/fakewave.h"
#include "bench/benchlib.h"

#define RATE        44100
#define BLOCK       4
#define BIG_READ    (4 * 1024 * 1024)
#define VIEW_WIDTH  1024
#define VIEW_HEIGHT 80
#define ROUNDS      5
#define OPENS       20

static double PeakMegabytes(void)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return memory.PeakWorkingSetSize / 1048576.0;
}

/* Tones that rise and fall over each 4 MB block. */
static int MakeSource(const char *path, DWORD seconds)
{
    BYTE *tones = (BYTE *)malloc(BIG_READ);

    if (!tones)
        return 0;
    for (DWORD i = 0; i < BIG_READ; i += 2)
    {
        DWORD k = i / 2;
        short v = (short)((((k * 2654435761u) >> 20) & 0x3FF) - 512 + (k % 4410) * 6 - 13230);
        tones[i] = (BYTE)v;
        tones[i + 1] = (BYTE)(v >> 8);
    }
    auto fill = [tones](BYTE *piece, DWORD offset, DWORD count) {
        for (DWORD done = 0; done < count;)
        {
            DWORD at = (offset + done) % BIG_READ;
            DWORD n = count - done < BIG_READ - at ? count - done : BIG_READ - at;
            memcpy(piece + done, tones + at, n);
            done += n;
        }
    };
    int ok = WriteBenchSource(path, 2, RATE, 16, seconds * RATE * BLOCK, fill);
    free(tones);
    return ok;
}

static int OpenSource(const char *path)
{
    if (!GetFullPathNameA(path, sizeof(WaveDocument.DocumentPath), WaveDocument.DocumentPath, NULL))
        return 0;
    return OpenWaveFile();
}

/* The same bytes as the graph reads, in 4 MB pieces. */
static double TimeBigReads(const char *path, BYTE *buffer, DWORD from, DWORD count)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD got, total = 0;
    double t = Now();

    SetFilePointer(file, (LONG)from, NULL, FILE_BEGIN);
    while (total < count && ReadFile(file, buffer, count - total < BIG_READ ? count - total : BIG_READ,
                                     &got, NULL) && got > 0)
        total += got;
    t = Now() - t;
    CloseHandle(file);
    return t;
}

static int Draw(const char *path)
{
    BITMAPINFO info = {};
    void *bits;
    HDC dc = CreateCompatibleDC(NULL);

    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = VIEW_WIDTH;
    info.bmiHeader.biHeight = -VIEW_HEIGHT;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    SelectObject(dc, CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0));
    PlaybackState.WaveViewWidth = VIEW_WIDTH;
    PlaybackState.WaveViewHeight = VIEW_HEIGHT;
    PlaybackState.SegmentStart = 0;
    PlaybackState.SegmentEnd = (LONG)WaveDocument.DataSize;

    /* the peak is the repaints' own, taken before the reads' buffer is
       made; then the three take turns, round after round, and the best
       of each counts */
    double wave = TimeDrawing(dc, IDM_WAVE), level = TimeDrawing(dc, IDM_LEVEL), read = 1e9;
    double peak = PeakMegabytes();
    BYTE *buffer = (BYTE *)malloc(BIG_READ);
    for (int i = 0; buffer && i < ROUNDS; i++)
    {
        Keep(&read, TimeBigReads(path, buffer, WaveDocument.DataChunk.dwDataOffset, WaveDocument.DataSize));
        Keep(&wave, TimeDrawing(dc, IDM_WAVE));
        Keep(&level, TimeDrawing(dc, IDM_LEVEL));
    }
    free(buffer);
    printf("draw %.1f %.1f %.1f %.1f\n", wave * 1000, level * 1000, read * 1000, peak);
    return 0;
}

/* From the closed document each time, as a new choice of file opens it. */
static int Open(void)
{
    double best = 1e9;

    for (int i = 0; i < OPENS; i++)
    {
        CloseSourceFile();
        ReleaseFormatBlock();
        double t = Now();
        if (!OpenWaveFile())
            return 1;
        t = Now() - t;
        best = t < best ? t : best;
    }
    printf("open %.2f %.1f\n", best * 1000, PeakMegabytes());
    return 0;
}

static int Save(void)
{
    char name[MAX_PATH];
    double seconds = (double)WaveDocument.DataSize / WaveDocument.BytesPerSec;
    double start = Now();

    for (int i = 0; i < 10; i++)
    {
        snprintf(name, sizeof(name), "seg%d.wav", i);
        WriteSegment(name, seconds * i / 10, seconds * (i + 1) / 10, CreateMode);
    }
    double elapsed = Now() - start;
    printf("save %.3f %.1f\n", elapsed, PeakMegabytes());
    for (int i = 0; i < 10; i++)
        printf("range %d %ld %ld\n", i, SecondsToOffset(seconds * i / 10) / WaveDocument.blockalign,
               SecondsToOffset(seconds * (i + 1) / 10) / WaveDocument.blockalign);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "make") == 0)
        return MakeSource(argv[2], (DWORD)atol(argv[3])) ? 0 : 1;
    if (argc != 3)
    {
        fprintf(stderr, "usage: scaling_bench make PATH SECONDS | draw PATH | open PATH | save PATH\n");
        return 2;
    }
    FakeWaveReset(false);
    if (!OpenSource(argv[2]))
    {
        fprintf(stderr, "scaling_bench: cannot open %s\n", argv[2]);
        return 1;
    }
    if (strcmp(argv[1], "draw") == 0)
        return Draw(argv[2]);
    if (strcmp(argv[1], "open") == 0)
        return Open();
    if (strcmp(argv[1], "save") == 0)
        return Save();
    return 2;
}
