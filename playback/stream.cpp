/* Streaming playback through the wave-output device. */
#include "playback/playback.h"

void StartPlayback(void) {}
void OnBufferDone(WAVEHDR *header) { (void)header; }
void StopPlayback(void) {}
void EndPlayback(void) {}
void ResetPlayCursor(void) { PlaybackState.CursorColumn = PlaybackState.WaveViewWidth + 1; }
void SeekPlayback(LONG position) { (void)position; }
