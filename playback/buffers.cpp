/* Sizing, allocating and releasing the two audio buffers. */
#include "playback/playback.h"

PLAYBACKSTATE PlaybackState = {};

void ComputeBufferSize(const WAVEFORMATEX *format)
{
    (void)format;
}

int AllocPlayBuffers(void)
{
    return 0;
}

void FreePlayBuffers(void)
{
}
