/* Playback: buffer sizing and allocation, streaming through the
   wave-output device, and the play cursor. */
#ifndef PELNOR_PLAYBACK_H
#define PELNOR_PLAYBACK_H

#include <windows.h>
#include <mmsystem.h>

#define BufferUnit      8192          /* frames per buffer at 8000 or 11025 Hz */
#define LastBufferMark  0x10000000    /* dwUser: the buffer holds a range end */
/* The wave header as the device reads it: 32 bytes on x86, 48 on x64. */
#define WAVEHDR_BYTES   ((UINT)sizeof(WAVEHDR))

struct AUDIOBUFFER
{
    HGLOBAL Handle;
    BYTE   *Data;                     /* locked address */
};

/* Where each written buffer's sound lies in the device's count of bytes
   played, and the last point of that count the device is known to have
   played, with when: from these, what the listener hears. */
struct HEARDSOUND
{
    LONG        ChunkStart[2];        /* data offset of the buffer's first byte */
    DWORD       DeviceStart[2];       /* the buffer's bytes in the device's count */
    DWORD       DeviceEnd[2];
    DWORD       DeviceBytes;          /* bytes written since the open or last reset */
    DWORD       MarkBytes;            /* a point of the count played, */
    LONG        MarkTime;             /* and when (message time, ms) */
    DWORD       BytesPerSec;          /* as the device plays: the rate it opened at */
};

/* Streaming playback and the play cursor; one instance, PlaybackState. */
struct PLAYBACKSTATE
{
    AUDIOBUFFER AudioBuffers[2];
    HGLOBAL     HeaderBlocks[2];      /* the two wave-header blocks, */
    WAVEHDR    *WaveHeaders[2];       /* locked, for the program's lifetime */
    DWORD       LoadedBytes[2];
    DWORD       BytesPerBuffer;
    HWAVEOUT    OutputDevice;
    int         Playing;
    LONG        WaveViewHeight;
    LONG        WaveViewWidth;        /* 256, 512 or 1024 */
    LONG        WaveViewTop;
    LONG        SegmentStart;         /* byte offsets within the sample data */
    LONG        PlayStart;
    LONG        SegmentEnd;
    DWORD       RangeBytesPerSec;     /* the byte rate the range was taken at */
    LONG        BlocksPerColumn;
    LONG        RemainingBlocks;
    LONG        CursorColumn;
    LONG        CursorLeft;           /* the band inverted on the screen: x, */
    LONG        CursorWidth;          /* and width; 0: none */
    int         Stopping;
    int         CursorSkip;
    int         LastChunk;
    HEARDSOUND  Heard;
};

extern PLAYBACKSTATE PlaybackState;

/* buffers */
/* BytesPerBuffer for a format (the playing time of BufferUnit frames at
   the base rate, in whole blocks), and the cursor's blocks to go. */
void ComputeBufferSize(const WAVEFORMATEX *format);
/* 1 with both audio buffers allocated and locked; 0 after a reported
   failure, with the source closed. */
int  AllocPlayBuffers(void);
void FreePlayBuffers(void);           /* unlocks and frees what is there */
void AllocWaveHeaders(void);          /* at the main window's creation */
void FreeWaveHeaders(void);           /* at its destruction */

/* streaming; a playback ends in one of three ways: StopPlayback, the
   return of the last buffer without Loop, or a failure reported in a box,
   each releasing all it took and leaving the controls idle */
/* The user's Stop: silence, device closed, buffers freed, controls idle. */
void StopPlayback(void);
/* The program is ending: everything released, no control touched. */
void AbandonPlayback(void);
/* Plays the play range from PlayStart, validating the source first when
   it is not held; every refusal is reported. */
void StartPlayback(void);
/* MM_WOM_DONE: refills and queues the buffer again, wraps with Loop, or
   ends the playback with the last one. */
void OnBufferDone(WAVEHDR *header);
/* The cursor starts again from the left at the next buffer. */
void ResetPlayCursor(void);
/* Moves the sound to a data offset: while playing, at once. */
void SeekPlayback(LONG position);

/* what is heard */
void NoteDeviceFormat(const WAVEFORMATEX *format);  /* the device opened with it */
void RestartDeviceCount(LONG position);   /* opened or reset: the count starts at position */
void NoteWritten(int i, LONG from);       /* buffer i, from that data offset, queued */
void NoteReturned(int i);                 /* buffer i given back */
LONG PlayedOffset(void);                  /* data offset heard now; -1 when not known */

/* cursor */
/* Moves the inverted band to the column of the blocks still to play. */
void DrawPlayCursor(int erase);
/* The band joins the next painting, which wipes it whole. */
void ForgetPlayCursor(void);

#endif
