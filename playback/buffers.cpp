/* Sizing, allocating and releasing the two audio buffers, and the two
   wave headers that describe them to the device. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"

PLAYBACKSTATE PlaybackState = {};

/* One buffer plays for BufferUnit frames of the base rate: 8000 Hz or
   11025 Hz, whichever family the format belongs to. */
static DWORD RawBufferLength(const WAVEFORMATEX *format)
{
    DWORD rate = format->nSamplesPerSec;
    DWORD bps = format->nAvgBytesPerSec;

    if (bps % 11025 == 0)
        return bps / 11025 * BufferUnit;
    if (bps % 8000 == 0)
        return bps / 8000 * BufferUnit;
    if (rate % 11025 == 0)
        return (DWORD)((double)bps * BufferUnit / 11025.0 + 0.5);
    return (DWORD)((double)bps * BufferUnit / 8000.0 + 0.5);
}

/* The buffer holds whole blocks. A block alignment of 0 (a format the
   open did not refuse) leaves the length as it is instead of dividing
   by it, and a buffer never shrinks below one block. */
void ComputeBufferSize(const WAVEFORMATEX *format)
{
    LONG align = WaveDocument.blockalign;
    DWORD length = RawBufferLength(format);

    if (align > 0)
    {
        DWORD rest = length % (DWORD)align;
        if (rest)
        {
            length -= rest;
            if (length & 1)
                length += align;
        }
        if (length == 0)
            length = align;
    }
    PlaybackState.BytesPerBuffer = length;
    PlaybackState.RemainingBlocks = align > 0
        ? (PlaybackState.SegmentEnd - PlaybackState.PlayStart) / align : 0;
}

static void ReleaseBuffer(int i)
{
    AUDIOBUFFER *buffer = &PlaybackState.AudioBuffers[i];

    if (buffer->Data)
        GlobalUnlock(buffer->Handle);
    buffer->Data = NULL;
    if (buffer->Handle)
        GlobalFree(buffer->Handle);
    buffer->Handle = NULL;
}

/* Gives back the buffers taken before slot i, last first. */
static void ReleaseEarlierBuffers(int i)
{
    while (--i >= 0)
        ReleaseBuffer(i);
}

int AllocPlayBuffers(void)
{
    DWORD size = PlaybackState.BytesPerBuffer;
    int silence = WaveDocument.DrawBits == 16 ? 0 : 0x80;

    for (int i = 0; i < 2; i++)
    {
        AUDIOBUFFER *buffer = &PlaybackState.AudioBuffers[i];

        buffer->Data = NULL;
        buffer->Handle = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, size);
        if (!buffer->Handle)
        {
            ReleaseEarlierBuffers(i);
            ShowWarning("メモリ不足です。");
            CloseSourceFile();
            return 0;
        }
        buffer->Data = (BYTE *)GlobalLock(buffer->Handle);
        if (!buffer->Data)
        {
            snprintf(App.ScratchText, sizeof(App.ScratchText),
                     "データ チャンクのロックに失敗しました。%d %ld", i, (long)size);
            ShowWarning(App.ScratchText);
            ReleaseBuffer(i);
            ReleaseEarlierBuffers(i);
            CloseSourceFile();
            return 0;
        }
        memset(buffer->Data, silence, size);
    }
    return 1;
}

/* A release that reports a problem is shown and the slot cleared anyway:
   there is nothing better to do with the block. */
void FreePlayBuffers(void)
{
    for (int i = 0; i < 2; i++)
    {
        AUDIOBUFFER *buffer = &PlaybackState.AudioBuffers[i];

        if (!buffer->Handle)
            continue;
        if (GlobalUnlock(buffer->Handle))
            ShowPlainBox("GlobalUnlock");
        buffer->Data = NULL;
        if (GlobalFree(buffer->Handle))
            ShowPlainBox("GlobalFree");
        buffer->Handle = NULL;
    }
}

/* Two zeroed blocks, one wave header each, for the program's lifetime:
   a header that was never queued has no data pointer. On a failure the
   program runs on without the missing header, holding only what is still
   locked. */
void AllocWaveHeaders(void)
{
    int i;

    for (i = 0; i < 2; i++)
    {
        PlaybackState.HeaderBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT,
                                                    WAVEHDR_BYTES);
        if (!PlaybackState.HeaderBlocks[i])
        {
            MessageBoxA(NULL, "ヘッダー確保失敗", NULL, MB_ICONWARNING);
            return;
        }
        PlaybackState.WaveHeaders[i] = (WAVEHDR *)GlobalLock(PlaybackState.HeaderBlocks[i]);
        if (!PlaybackState.WaveHeaders[i])
        {
            MessageBoxA(NULL, "ヘッダーロック失敗", NULL, MB_ICONWARNING);
            GlobalFree(PlaybackState.HeaderBlocks[i]);
            PlaybackState.HeaderBlocks[i] = NULL;
            FreeWaveHeaders();
            return;
        }
    }
}

void FreeWaveHeaders(void)
{
    for (int i = 0; i < 2; i++)
        if (PlaybackState.HeaderBlocks[i])
        {
            GlobalUnlock(PlaybackState.HeaderBlocks[i]);
            PlaybackState.WaveHeaders[i] = NULL;
            GlobalFree(PlaybackState.HeaderBlocks[i]);
            PlaybackState.HeaderBlocks[i] = NULL;
        }
}
