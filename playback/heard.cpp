/* What the listener hears while a segment plays: the device's count of
   bytes played, turned back into a place in the data. */
#include <windows.h>
#include "wavefile/wavefile.h"
#include "playback/playback.h"

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
}

/* Each buffer written takes the next stretch of the device's count. */
void NoteWritten(int i, LONG from)
{
    HEARDSOUND *heard = &PlaybackState.Heard;

    heard->ChunkStart[i] = from;
    heard->DeviceStart[i] = heard->DeviceBytes;
    heard->DeviceBytes += PlaybackState.LoadedBytes[i];
    heard->DeviceEnd[i] = heard->DeviceBytes;
}

/* Sound systems report a position ahead of what is heard (Wine on
   PulseAudio by 80 to 100 ms); winmm cannot say by how much. */
#define DeviceLeadMs  120

/* The data offset of the sound the device is playing, in whole blocks:
   its count of bytes played falls in the stretch of one written buffer.
   Where two stretches meet it counts as the end of the earlier one, so
   that the end of a pass stays its end. Within the device's lead after a
   loop wrap the end of the previous pass is still being heard, so that
   is where it counts too. -1 while stopped or when the device does not
   tell. */
LONG PlayedOffset(void)
{
    const HEARDSOUND *heard = &PlaybackState.Heard;
    MMTIME time = {};
    DWORD align = WaveDocument.blockalign > 0 ? (DWORD)WaveDocument.blockalign : 1;
    DWORD lead = WaveDocument.BytesPerSec / 1000 * DeviceLeadMs;
    DWORD into, best = 0;
    LONG offset = -1;
    int i;

    if (!PlaybackState.Playing || !PlaybackState.OutputDevice)
        return -1;
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(PlaybackState.OutputDevice, &time, sizeof(time)) != MMSYSERR_NOERROR
            || time.wType != TIME_BYTES)
        return -1;
    for (i = 0; i < 2; i++)
    {
        into = time.u.cb - heard->DeviceStart[i];
        if (into > heard->DeviceEnd[i] - heard->DeviceStart[i])
            continue;
        if (offset >= 0 && into <= best)
            continue;
        best = into;
        offset = heard->ChunkStart[i] + (LONG)(into - into % align);
        /* a buffer that starts a pass after earlier sound was a wrap */
        if (heard->ChunkStart[i] == PlaybackState.SegmentStart && heard->DeviceStart[i] > 0
            && into < lead)
            offset = PlaybackState.SegmentEnd;
    }
    return offset;
}
