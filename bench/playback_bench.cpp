/* How long one buffer refill (OnBufferDone) takes for 44.1 kHz 16-bit
   stereo read from a file in the page cache, against the 0.743 s the
   buffer plays. Runs real playback on the wave-output device and times
   each buffer-done message as the loop hands it over. Prints figures only.
   Built and run by bench/playback_bench.sh. */
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include "app/app.h"
#include "app/shell.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "bench/benchlib.h"

#define SECONDS   60
#define RATE      44100
#define BLOCK     4
#define CALLS     60

/* A canonical file of a slowly changing tone; just written, it is still in
   the page cache when played. */
static int WriteSource(const char *path, DWORD dataBytes)
{
    return WriteBenchSource(path, 2, RATE, 16, dataBytes, [](BYTE *piece, DWORD offset, DWORD count) {
        for (DWORD i = 0; i < count; i++)
            piece[i] = (BYTE)((offset + i) * 7 / 4096);
    });
}

static int SetUpWindows(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    HGLOBAL blocks[2];

    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = "playback_bench";
    RegisterClassA(&wc);
    App.MainWindow = CreateWindowA("playback_bench", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                   0, 0, 600, 200, NULL, NULL, instance, NULL);
    App.WaveView = CreateWindowA("playback_bench", "", WS_CHILD | WS_VISIBLE,
                                 0, 0, 512, 80, App.MainWindow, NULL, instance, NULL);
    for (int i = 0; i < 2; i++)
    {
        blocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(WAVEHDR));
        PlaybackState.WaveHeaders[i] = blocks[i] ? (WAVEHDR *)GlobalLock(blocks[i]) : NULL;
    }
    PlaybackState.WaveViewWidth = 512;
    PlaybackState.WaveViewHeight = 80;
    return App.MainWindow && App.WaveView && PlaybackState.WaveHeaders[0] && PlaybackState.WaveHeaders[1];
}

int main(void)
{
    char dir[MAX_PATH];
    double times[CALLS], sum = 0, worst = 0, buffer;
    int calls = 0;
    MSG msg;

    if (!SetUpWindows(GetModuleHandleA(NULL)))
    {
        printf("playback_bench: cannot create the windows\n");
        return 1;
    }
    GetTempPathA(sizeof(dir), dir);
    snprintf(WaveDocument.DocumentPath, sizeof(WaveDocument.DocumentPath),
             "%splayback_bench_%lu.wav", dir, GetCurrentProcessId());
    if (!WriteSource(WaveDocument.DocumentPath, SECONDS * RATE * BLOCK) || !OpenWaveFile())
    {
        printf("playback_bench: cannot prepare %s\n", WaveDocument.DocumentPath);
        return 1;
    }
    App.LoopFlag = 1;
    PlaybackState.SegmentStart = PlaybackState.PlayStart = 0;
    PlaybackState.SegmentEnd = (LONG)WaveDocument.DataSize;
    PlaybackState.BlocksPerColumn = (PlaybackState.SegmentEnd / BLOCK + 511) / 512;

    StartPlayback();
    if (!PlaybackState.Playing)
    {
        printf("playback_bench: playback did not start\n");
        return 1;
    }
    while (calls < CALLS && GetMessageA(&msg, NULL, 0, 0) > 0)
    {
        if (msg.message == MM_WOM_DONE)
        {
            double t = Now();
            OnBufferDone((WAVEHDR *)msg.lParam);
            times[calls++] = Now() - t;
        }
        else
            DispatchMessageA(&msg);
    }
    StopPlayback();
    CloseDocument();
    DeleteFileA(WaveDocument.DocumentPath);

    for (int i = 0; i < calls; i++)
    {
        sum += times[i];
        worst = times[i] > worst ? times[i] : worst;
    }
    buffer = (double)PlaybackState.BytesPerBuffer / (RATE * BLOCK);
    printf("OnBufferDone, 44.1 kHz 16-bit stereo, %lu-byte buffers (%.3f s of sound), %d calls\n",
           PlaybackState.BytesPerBuffer, buffer, calls);
    printf("mean %.3f ms (%.3f%% of the buffer), max %.3f ms (%.3f%%); target under 1%%\n",
           sum / calls * 1000, sum / calls / buffer * 100, worst * 1000, worst / buffer * 100);
    return 0;
}
