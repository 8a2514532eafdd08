/* Streaming the play range through the wave-output device, two buffers
   taking turns: each one the device gives back is refilled from the file
   and queued again. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/controls.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

static void CloseDevice(void)
{
    waveOutClose(PlaybackState.OutputDevice);
    PlaybackState.OutputDevice = NULL;
}

/* After a failed seek the source is closed, so that the next read fails
   and is reported. */
static void SeekSource(LONG offset)
{
    if (!SeekData(offset))
        CloseSourceFile();
}

static void UnprepareHeaders(void)
{
    int i;

    for (i = 0; i < 2; i++)
        if (PlaybackState.WaveHeaders[i] && PlaybackState.WaveHeaders[i]->lpData)
        {
            waveOutUnprepareHeader(PlaybackState.OutputDevice, PlaybackState.WaveHeaders[i],
                                   WAVEHDR_BYTES);
            PlaybackState.WaveHeaders[i]->lpData = NULL;
        }
}

/* A buffer's memory may go, and the device may close, only once the
   device has handed the buffer back: Wine's close drops queued buffers
   without a word, Windows refuses to close at all. */
static void ReclaimHeaders(void)
{
    int i;
    int queued = 0;

    for (i = 0; i < 2; i++)
        if (PlaybackState.WaveHeaders[i] && (PlaybackState.WaveHeaders[i]->dwFlags & WHDR_INQUEUE))
            queued = 1;
    if (queued)
        waveOutReset(PlaybackState.OutputDevice);
    UnprepareHeaders();
}

/* The device stops and gives every queued buffer back; the notices this
   brings are ignored while Stopping is set. */
static void SilenceDevice(void)
{
    PlaybackState.Stopping = 1;
    waveOutReset(PlaybackState.OutputDevice);
    UnprepareHeaders();
}

/* The data offset of the next byte to be read. */
static LONG ReadOffset(void)
{
    return PlaybackState.SegmentEnd - (LONG)WaveDocument.BytesLeft;
}

/* One chunk of the current pass: a whole buffer, or what is left of the
   pass, which is then its last chunk. LastChunk speaks of this chunk
   alone, so that the end of a pass marks only the buffer holding it. */
static DWORD TakeChunk(void)
{
    PlaybackState.LastChunk = WaveDocument.BytesLeft <= PlaybackState.BytesPerBuffer;
    return PlaybackState.LastChunk ? WaveDocument.BytesLeft : PlaybackState.BytesPerBuffer;
}

/* While looping, the end of a pass leads straight into the next one. */
static void WrapPass(void)
{
    if (WaveDocument.BytesLeft == 0 && App.LoopFlag)
    {
        WaveDocument.BytesLeft = (DWORD)(PlaybackState.SegmentEnd - PlaybackState.SegmentStart);
        SeekSource(PlaybackState.SegmentStart);
    }
}

/* Returns 1 when the device is open; otherwise the refusal has been
   reported. A device that will not take 48000 Hz gets the same data at
   44100 Hz; the format block is read afresh for the next playback. */
static int OpenDevice(void)
{
    WAVEFORMATEX *format = WaveDocument.FormatBlock;
    MMRESULT result;

    for (;;)
    {
        result = waveOutOpen(&PlaybackState.OutputDevice, WAVE_MAPPER, format,
                             (DWORD_PTR)App.MainWindow, 0, CALLBACK_WINDOW);
        if (result == WAVERR_BADFORMAT && format->nSamplesPerSec == 48000)
        {
            format->nSamplesPerSec = 44100;
            continue;
        }
        break;
    }
    if (result == MMSYSERR_NOERROR)
        return 1;

    PlaybackState.OutputDevice = NULL;
    ShowWarning(DeviceRefusal(result, "他のソフトがサウンドを使っています。"));
    ReleaseFormatBlock();
    CloseSourceFile();
    return 0;
}

/* Reports why the playback being started, or running, cannot go on and
   gives back what it holds, newest first: the queued headers, the
   buffers, the device, the source. The controls return to idle. Playing
   is cleared before the box, so that a buffer the device gives back
   meanwhile is not queued again. */
static void FailPlayback(const char *text)
{
    PlaybackState.Playing = 0;
    ShowWarning(text);
    ReclaimHeaders();
    FreePlayBuffers();
    CloseDevice();
    CloseSourceFile();
    SetStopControl(0);
    SetIdleControls(1);
}

static void FailRead(int i, DWORD count)
{
    snprintf(App.ScratchText, sizeof(App.ScratchText), "データチャンクを読み取れません。%d %ld",
             i, (long)count);
    FailPlayback(App.ScratchText);
}

/* Fills both buffers from the play start, noting where each chunk starts
   and whether it ends a pass; 0 after a read failure. */
static int FillBuffers(LONG from[2], int endsPass[2])
{
    int i;
    DWORD n;

    SeekSource(PlaybackState.PlayStart);
    for (i = 0; i < 2; i++)
    {
        from[i] = ReadOffset();
        n = TakeChunk();
        endsPass[i] = PlaybackState.LastChunk;
        WaveDocument.BytesLeft -= n;
        PlaybackState.LoadedBytes[i] = n;
        if (mmioRead(WaveDocument.ReadHandle, (HPSTR)PlaybackState.AudioBuffers[i].Data, (LONG)n)
            != (LONG)n)
        {
            FailRead(i, n);
            return 0;
        }
        WrapPass();
    }
    return 1;
}

/* Queues the filled buffers, up to the first empty one, marking the one
   that holds the end of a pass, even when that end fills it exactly; 0
   after a failure, reported and cleaned up. */
static int QueueBuffers(const LONG from[2], const int endsPass[2])
{
    int i;
    WAVEHDR *header;

    for (i = 0; i < 2 && PlaybackState.LoadedBytes[i] != 0; i++)
    {
        header = PlaybackState.WaveHeaders[i];
        memset(header, 0, WAVEHDR_BYTES);
        header->lpData = (LPSTR)PlaybackState.AudioBuffers[i].Data;
        header->dwBufferLength = PlaybackState.LoadedBytes[i];
        header->dwUser = (DWORD_PTR)i;
        if (endsPass[i])
            header->dwUser |= LastBufferMark;

        if (waveOutPrepareHeader(PlaybackState.OutputDevice, header, WAVEHDR_BYTES) != MMSYSERR_NOERROR)
        {
            header->lpData = NULL;          /* nothing to unprepare */
            FailPlayback("ウェーブヘッダーの準備ができません");
            return 0;
        }
        if (waveOutWrite(PlaybackState.OutputDevice, header, WAVEHDR_BYTES) != MMSYSERR_NOERROR)
        {
            FailPlayback("デバイスへの出力に失敗しました。");
            return 0;
        }
        NoteWritten(i, from[i]);
    }
    return 1;
}

void StartPlayback(void)
{
    LONG from[2];
    int endsPass[2];
    int i;

    if (!PlaybackState.WaveHeaders[0] || !PlaybackState.WaveHeaders[1])
    {
        ShowWarning("メモリ不足です。");
        return;
    }
    /* Asked to start while playing, it starts again from the play start:
       the running playback is stopped first, so that its buffers and the
       device are given back, not lost with buffers still queued. */
    if (PlaybackState.Playing)
        StopPlayback();
    if (!WaveDocument.ReadHandle || !WaveDocument.FormatBlock)
        if (!OpenWaveFile())
            return;
    RefreshPlayRange();

    WaveDocument.BytesLeft = (DWORD)(PlaybackState.SegmentEnd - PlaybackState.PlayStart);
    ComputeBufferSize(WaveDocument.FormatBlock);
    if (PlaybackState.OutputDevice)
        CloseDevice();
    if (!OpenDevice())
        return;
    NoteDeviceFormat(WaveDocument.FormatBlock);
    ReleaseFormatBlock();

    SetIdleControls(0);
    if (!AllocPlayBuffers())
    {
        CloseDevice();
        SetIdleControls(1);
        return;
    }

    ResetPlayCursor();
    PlaybackState.Playing = 1;
    DrawPlayCursor(0);

    /* Clean headers also mark every notification still on its way from
       an earlier playback as stale: its header no longer reads done. */
    PlaybackState.LastChunk = 0;
    for (i = 0; i < 2; i++)
    {
        PlaybackState.LoadedBytes[i] = 0;
        memset(PlaybackState.WaveHeaders[i], 0, WAVEHDR_BYTES);
    }
    RestartDeviceCount(PlaybackState.PlayStart);

    if (!FillBuffers(from, endsPass) || !QueueBuffers(from, endsPass))
        return;

    SetStopControl(1);
    PlaybackState.Stopping = 0;
}

/* A notification belongs to the running playback when its header is one
   of ours, indexed as we queued it, and the device has marked it done
   since; taking the done mark away makes each completion count once. */
static int IsCurrentNotice(WAVEHDR *header)
{
    DWORD index = LOWORD(header->dwUser);

    if (!PlaybackState.Playing || index > 1 || header != PlaybackState.WaveHeaders[index])
        return 0;
    if (!(header->dwFlags & WHDR_DONE))
        return 0;
    header->dwFlags &= ~WHDR_DONE;
    return 1;
}

/* A refill that cannot read its bytes ends the playback rather than hand
   the device what the buffer held before. */
/* The last buffer of a range without Loop has come back: the device is
   already closed, the buffers go and the controls return to idle. */
static void EndPlayback(void)
{
    SetStopControl(0);
    FreePlayBuffers();
    PlaybackState.Playing = 0;
    SetIdleControls(1);
}

static void Requeue(int i, WAVEHDR *header, LONG from, DWORD n)
{
    if (mmioRead(WaveDocument.ReadHandle, (HPSTR)PlaybackState.AudioBuffers[i].Data, (LONG)n) != (LONG)n)
    {
        FailRead(i, n);
        return;
    }
    header->lpData = (LPSTR)PlaybackState.AudioBuffers[i].Data;
    header->dwBufferLength = n;
    header->dwFlags = 0;
    if (PlaybackState.LastChunk)
        header->dwUser |= LastBufferMark;
    else
        header->dwUser = (DWORD_PTR)i;
    /* a buffer the device does not take back would leave the playback
       waiting for a notice that never comes */
    if (waveOutPrepareHeader(PlaybackState.OutputDevice, header, WAVEHDR_BYTES) != MMSYSERR_NOERROR
        || waveOutWrite(PlaybackState.OutputDevice, header, WAVEHDR_BYTES) != MMSYSERR_NOERROR)
    {
        FailPlayback("デバイスへの出力に失敗しました。");
        return;
    }
    NoteWritten(i, from);
    WrapPass();
}

void OnBufferDone(WAVEHDR *header)
{
    int i;
    int marked;
    LONG from;
    DWORD n;

    if (PlaybackState.Stopping || !header || !IsCurrentNotice(header))
        return;
    i = LOWORD(header->dwUser);
    marked = HIWORD(header->dwUser) != 0;
    NoteReturned(i);

    from = ReadOffset();
    n = TakeChunk();
    PlaybackState.LoadedBytes[i] = n;
    if (!PlaybackState.OutputDevice)
        return;
    waveOutUnprepareHeader(PlaybackState.OutputDevice, header, WAVEHDR_BYTES);
    header->lpData = NULL;
    WaveDocument.BytesLeft -= n;

    DrawPlayCursor(0);
    if (marked && App.LoopFlag)
    {
        DrawPlayCursor(0);
        marked = 0;
    }

    if (!marked && n > 0)
        Requeue(i, header, from, n);
    else if (marked)
    {
        ReclaimHeaders();
        CloseDevice();
        EndPlayback();
    }
}

void StopPlayback(void)
{
    if (!PlaybackState.Playing)
        return;
    SetStopControl(0);
    SilenceDevice();
    CloseDevice();
    SetIdleControls(1);
    FreePlayBuffers();
    PlaybackState.Playing = 0;
}

/* The program is ending: everything is released, no control is touched. */
void AbandonPlayback(void)
{
    SilenceDevice();
    CloseDevice();
    CloseSourceFile();
    FreePlayBuffers();
    PlaybackState.Playing = 0;
}

void ResetPlayCursor(void)
{
    PlaybackState.CursorColumn = PlaybackState.WaveViewWidth + 1;
}

/* The queued sound is thrown away, so no buffer holds the range end any
   more: the marks go with it, and the refills after the reset carry a
   mark only when they reach the end from the new position. */
void SeekPlayback(LONG position)
{
    int i;

    WaveDocument.BytesLeft = (DWORD)(PlaybackState.SegmentEnd - position);
    PlaybackState.RemainingBlocks = (LONG)(WaveDocument.BytesLeft / (DWORD)WaveDocument.blockalign);
    SeekSource(position);
    if (!PlaybackState.Playing)
        return;
    PlaybackState.CursorSkip = 1;
    waveOutReset(PlaybackState.OutputDevice);
    RestartDeviceCount(position);
    for (i = 0; i < 2; i++)
        PlaybackState.WaveHeaders[i]->dwUser &= ~(DWORD_PTR)LastBufferMark;
    PlaybackState.LastChunk = 0;

    /* A buffer that came back with nothing left to play is not queued;
       the reset gives back only the other one. Hand the idle one in as
       well, so that both play from the new position. */
    for (i = 0; i < 2; i++)
    {
        WAVEHDR *header = PlaybackState.WaveHeaders[i];
        if (!header->lpData)
        {
            header->dwUser = i;
            header->dwFlags |= WHDR_DONE;
            PostMessageA(App.MainWindow, MM_WOM_DONE, (WPARAM)PlaybackState.OutputDevice, (LPARAM)header);
        }
    }
}
