/* What the listener hears while a segment plays: the device's count of
   bytes played, turned back into a place in the data.

   Sound systems count what they have been handed, ahead of what is heard
   (Wine by the 100 ms it mixes ahead), but a buffer comes back once the
   device's clock has passed its end. So the place heard is taken from the
   last buffer that came back, moved on by the time since at the format's
   byte rate. Times are those of the messages that brought each event: a
   notice's is when the device posted it, a key's when it went down. */
#include <windows.h>
#include "wavefile/wavefile.h"
#include "playback/playback.h"

/* The rate the device plays at: 48000 Hz data may be playing at 44100 Hz. */
void NoteDeviceFormat(const WAVEFORMATEX *format)
{
    PlaybackState.Heard.BytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
}

/* The device counts the bytes it has played since it was opened or last
   reset; until something is written that count stands at `position`. */
void RestartDeviceCount(LONG position)
{
    HEARDSOUND *heard = &PlaybackState.Heard;
    int i;

    heard->DeviceBytes = 0;
    for (i = 0; i < 2; i++)
    {
        heard->ChunkStart[i] = position;
        heard->DeviceStart[i] = 0;
        heard->DeviceEnd[i] = 0;
    }
    heard->MarkBytes = 0;
    heard->MarkTime = GetMessageTime();
}

/* Each buffer written takes the next stretch of the device's count; the
   first one after a restart starts the count. */
void NoteWritten(int i, LONG from)
{
    HEARDSOUND *heard = &PlaybackState.Heard;

    if (heard->DeviceBytes == 0)
        heard->MarkTime = GetMessageTime();
    heard->ChunkStart[i] = from;
    heard->DeviceStart[i] = heard->DeviceBytes;
    heard->DeviceBytes += PlaybackState.LoadedBytes[i];
    heard->DeviceEnd[i] = heard->DeviceBytes;
}

/* A buffer given back by a reset lies in no stretch of the new count and
   tells nothing. */
void NoteReturned(int i)
{
    HEARDSOUND *heard = &PlaybackState.Heard;

    if (heard->DeviceEnd[i] == heard->DeviceStart[i])
        return;
    heard->MarkBytes = heard->DeviceEnd[i];
    heard->MarkTime = GetMessageTime();
}

/* Never past the count the device reports (on Windows that is what it
   has played), never before the start of the buffer being played, where
   the last buffer given back ended. */
static DWORD HeardBytes(DWORD reported)
{
    const HEARDSOUND *heard = &PlaybackState.Heard;
    LONG elapsed = (LONG)((DWORD)GetMessageTime() - (DWORD)heard->MarkTime);
    ULONGLONG bytes = heard->MarkBytes;

    if (elapsed > 0)
        bytes += (ULONGLONG)elapsed * heard->BytesPerSec / 1000;
    return bytes < reported ? (DWORD)bytes : reported;
}

/* The data offset of the sound being heard, in whole blocks: the heard
   count falls in the stretch of one written buffer. Where two stretches
   meet it counts as the end of the earlier one, so that the end of a
   pass stays its end. -1 while stopped or when the device does not tell
   its count. */
LONG PlayedOffset(void)
{
    const HEARDSOUND *heard = &PlaybackState.Heard;
    MMTIME time = {};
    DWORD align = WaveDocument.blockalign > 0 ? (DWORD)WaveDocument.blockalign : 1;
    DWORD count, into, best = 0;
    LONG offset = -1;
    int i;

    if (!PlaybackState.Playing || !PlaybackState.OutputDevice)
        return -1;
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(PlaybackState.OutputDevice, &time, sizeof(time)) != MMSYSERR_NOERROR
            || time.wType != TIME_BYTES)
        return -1;
    count = HeardBytes(time.u.cb);
    for (i = 0; i < 2; i++)
    {
        into = count - heard->DeviceStart[i];
        if (into > heard->DeviceEnd[i] - heard->DeviceStart[i])
            continue;
        if (offset >= 0 && into <= best)
            continue;
        best = into;
        offset = heard->ChunkStart[i] + (LONG)(into - into % align);
    }
    return offset;
}
