/* The fuzz driver: runs the program's own operations on many inputs in one
   process, as a user would on each file, and writes a log line before and
   after each input so that the host side can tell which input crashed or
   hung and go on after it.

     fuzz_drive.exe LOG ROOT FIRST LAST

   Input n is ROOT\n\src.wav (n in 6 digits). Per input: the open (the
   repair question answered Yes on odd inputs, No on even ones), both graphs
   into a memory DIB, three divides, Save into the input's folder, then the
   header repair on ROOT\n.rep, a copy of the input taken before the open.
   The host side checks the files; this side checks the heaps. */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "support/canvas.h"
#include "support/imports.h"
#include "support/harness.h"
#include "app/app.h"
#include "app/shell.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

enum { HangMs = 20000 };         /* one input longer than this is a hang */

static FILE *Log;
static volatile LONG Current = -1;
static volatile DWORD StartedAt;

/* One line of the log, on disk before the program goes on. */
static void Note(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(Log, format, args);
    va_end(args);
    fflush(Log);
}

/* Save pauses between rows so that a person sees the bar grow; here that
   would be most of the run time. */
static void WINAPI NoPause(DWORD ms)
{
    SleepEx(ms >= 100 ? 0 : ms, FALSE);
}
IMPORT_DOUBLE(Sleep, 4, NoPause);

static DWORD WINAPI Watchdog(LPVOID)
{
    for (;;)
    {
        SleepEx(500, FALSE);
        if (Current >= 0 && GetTickCount() - StartedAt > HangMs)
        {
            Note("HANG %ld\n", Current);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

static LONG WINAPI OnFault(EXCEPTION_POINTERS *info)
{
    Note("CRASH %ld %08lx at %p\n", Current, info->ExceptionRecord->ExceptionCode,
         info->ExceptionRecord->ExceptionAddress);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

static bool HeapsValid(void)
{
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; i++)
        if (!HeapValidate(heaps[i], 0, NULL))
            return false;
    return n > 0 && n <= 64;
}

/* The open asks its question first when the file starts with a RIFF
   header of size 0. */
static bool AsksRepair(const char *path)
{
    BYTE head[8] = { 0 };
    FILE *f = fopen(path, "rb");
    size_t got = f ? fread(head, 1, sizeof(head), f) : 0;
    if (f)
        fclose(f);
    return got == 8 && !memcmp(head, "RIFF", 4) && !memcmp(head + 4, "\0\0\0\0", 4);
}

static void DrawBothGraphs(void)
{
    for (int mode : { IDM_WAVE, IDM_LEVEL })
    {
        App.ViewMode = mode;
        Canvas canvas(PlaybackState.WaveViewWidth, PlaybackState.WaveViewHeight);
        dispwave(canvas.Dc);
    }
    App.ViewMode = IDM_WAVE;
}

static void RunOne(const char *root, long n)
{
    char dir[MAX_PATH], copy[MAX_PATH];
    bool yes = (n & 1) != 0;

    snprintf(dir, sizeof(dir), "%s\\%06ld", root, n);
    snprintf(copy, sizeof(copy), "%s\\%06ld.rep", root, n);
    snprintf(WaveDocument.DocumentPath, sizeof(WaveDocument.DocumentPath), "%s\\src.wav", dir);
    lstrcpynA(WaveDocument.DocumentTitle, "src.wav", sizeof(WaveDocument.DocumentTitle));
    SetCurrentDirectoryA(dir);
    CopyFileA(WaveDocument.DocumentPath, copy, FALSE);

    ClearBoxes();
    InstallBoxHook();
    bool asks = AsksRepair(WaveDocument.DocumentPath);
    if (asks)
        QueueBoxAnswer(yes ? IDYES : IDNO);
    LoadDocument(App.MainWindow, WaveDocument.DocumentPath, WaveDocument.DocumentTitle);
    PumpMessages();
    bool accepted = asks && yes && !Boxes().empty() && Boxes()[0].Yes && Boxes()[0].No;
    int rows = RowTotal();
    if (rows > 0)
    {
        DrawBothGraphs();
        DivideSegment(0.5);
        SelectRow(1);
        DivideSegment(0.25);
        SelectRow(0);
        DivideSegment(0.999999);
        PumpMessages();
        rows = RowTotal();
        SaveSegments();
        PumpMessages();
    }
    CloseDocument();

    lstrcpynA(WaveDocument.DocumentPath, copy, sizeof(WaveDocument.DocumentPath));
    int repair = RepairWaveHeader();
    for (const BoxSeen &box : Boxes())
    {
        char text[256];
        lstrcpynA(text, box.Text.c_str(), sizeof(text));
        for (char *p = text; *p; p++)
            *p = *p == '\n' ? '/' : *p;
        Note("BOX %ld %s\n", n, text);
    }
    Note("END %ld accepted=%d rows=%d repair=%d heap=%d\n", n, accepted, rows, repair, HeapsValid());
}

int main(int argc, char **argv)
{
    if (argc != 5 || !(Log = fopen(argv[1], "a")))
    {
        fprintf(stderr, "usage: fuzz_drive LOG ROOT FIRST LAST\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnFault);
    ResetProgramState();
    FakeWaveReset(false);           /* the real device answers the format query */
    FakeMemoryReset();
    InstallBoxHook();
    StartMainWindow();
    CloseHandle(CreateThread(NULL, 0, Watchdog, NULL, 0, NULL));

    for (long n = atol(argv[3]); n <= atol(argv[4]); n++)
    {
        StartedAt = GetTickCount();
        Current = n;
        Note("RUN %ld\n", n);
        RunOne(argv[2], n);
    }
    Current = -1;
    CloseMainWindow();
    fclose(Log);
    return 0;
}
