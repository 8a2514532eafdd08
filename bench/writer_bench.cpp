/* Segment writer throughput and memory. Builds a 44.1 kHz 16-bit stereo
   source of the given size in FOLDER (kept there for the next run),
   writes it out as ten ranges into new files, and prints the time, what
   the ten revalidations of the source take of it, and the peak memory.

   usage: writer_bench FOLDER MEGABYTES
   The device query of the open is answered by the test double of the
   wave-output device: this machine may have no sound device. The same
   opens are then timed once more with the real device query. */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "tests/support/fakewave.h"
#include "bench/benchlib.h"

/* Noise from one generator whose state runs on across the pieces. */
static int MakeSource(const char *path, DWORD dataBytes)
{
    DWORD x = 1;

    return WriteBenchSource(path, 2, 44100, 16, dataBytes, [&x](BYTE *piece, DWORD, DWORD count) {
        for (DWORD i = 0; i < count; i++)
        {
            x = x * 1103515245u + 12345u;
            piece[i] = (BYTE)(x >> 16);
        }
    });
}

/* The source stays from an earlier run when it has the right size. */
static int HaveSource(const char *path, DWORD dataBytes)
{
    WIN32_FILE_ATTRIBUTE_DATA info;

    return GetFileAttributesExA(path, GetFileExInfoStandard, &info)
        && info.nFileSizeHigh == 0 && info.nFileSizeLow == 44 + dataBytes;
}

/* Ten revalidations, as the ten writes make them. */
static double TimeOpens(void)
{
    double start = Now();
    for (int i = 0; i < 10; i++)
    {
        ReleaseFormatBlock();
        if (!OpenWaveFile())
            return -1.0;
    }
    return Now() - start;
}

int main(int argc, char **argv)
{
    char source[MAX_PATH], name[MAX_PATH];
    PROCESS_MEMORY_COUNTERS memory = {};

    if (argc != 3 || !SetCurrentDirectoryA(argv[1]))
    {
        fprintf(stderr, "usage: writer_bench FOLDER MEGABYTES\n");
        return 2;
    }
    DWORD dataBytes = (DWORD)(atof(argv[2]) * 1048576.0) / 4 * 4;
    FakeWaveReset(true);
    if ((!HaveSource("bench-source.wav", dataBytes) && !MakeSource("bench-source.wav", dataBytes))
        || !GetFullPathNameA("bench-source.wav", sizeof(source), source, NULL))
    {
        fprintf(stderr, "cannot build the source\n");
        return 1;
    }
    for (int i = 0; i < 10; i++)
    {
        snprintf(name, sizeof(name), "bench-out%d.wav", i);
        DeleteFileA(name);
    }
    lstrcpynA(WaveDocument.DocumentPath, source, sizeof(WaveDocument.DocumentPath));
    if (!OpenWaveFile())
        return 1;

    double seconds = (double)dataBytes / 176400.0;
    double start = Now();
    for (int i = 0; i < 10; i++)
    {
        snprintf(name, sizeof(name), "bench-out%d.wav", i);
        WriteSegment(name, seconds * i / 10, seconds * (i + 1) / 10, CreateMode);
    }
    double elapsed = Now() - start;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));

    double opens = TimeOpens();
    FakeWaveReset(false);
    TimeOpens();        /* the first query loads the driver, as the file's first open does */
    double queried = TimeOpens();

    printf("writer: %.1f MB in 10 ranges, %.3f s, %.1f MB/s\n",
           dataBytes / 1048576.0, elapsed, dataBytes / 1048576.0 / elapsed);
    printf("  10 revalidations: %.1f ms; with the real device query %.1f ms\n",
           opens * 1000.0, queried * 1000.0);
    printf("  peak working set %.1f MB, peak pagefile usage %.1f MB\n",
           memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);
    return 0;
}
