/* WAV file access: the open source document, header repair and the
   segment writer. */
#ifndef PELNOR_WAVEFILE_H
#define PELNOR_WAVEFILE_H

#include <windows.h>
#include <mmsystem.h>

/* The one open source file and what was derived from its format. */
struct WAVEDOCUMENT
{
    char          DocumentPath[MAX_PATH];
    char          DocumentTitle[256];
    HMMIO         ReadHandle;        /* null when closed */
    MMCKINFO      RiffChunk;
    MMCKINFO      DataChunk;         /* dwDataOffset: first sample byte */
    HLOCAL        FormatHandle;      /* the held copy of the fmt chunk */
    WAVEFORMATEX *FormatBlock;       /* locked address, null when released */
    WORD          FormatTag;
    short         blockalign;
    DWORD         BytesPerSec;
    DWORD         KiloHertz;
    DWORD         DrawBits;
    DWORD         ChannelCode;       /* bit 1: two channels, bit 0: 16 bits */
    DWORD         DataSize;
    DWORD         BytesLeft;         /* countdown shared by playback and writer */
    /* What the file was when it was loaded; every later validation must
       find the same. LoadedSize 0: nothing kept, the next open starts afresh. */
    PCMWAVEFORMAT LoadedFormat;
    DWORD         LoadedSize;
    double        EndSeconds;        /* the duration written at load, read back */
};

extern WAVEDOCUMENT WaveDocument;
/* The document as the program starts: no path, the title "noname.txt". */
WAVEDOCUMENT InitialDocument(void);

/* How the source's read handle buffers, for the job at hand: the chunk
   walk, the checks and the play refills; the graph, which reads the whole
   segment (the README tells why 512 KB); the writer's copy, which reads
   straight into the audio buffer. */
enum { HeaderBuffering, DrawBuffering, CopyBuffering };
enum { ReadBufferBytes = 256 * 1024, DrawBufferBytes = 512 * 1024 };

/* opening and validation */
/* 1 with the source open at its first sample and its format held; 0 when
   refused, each refusal reported and the document left closed. */
int  OpenWaveFile(void);
/* The derived fields (ChannelCode, blockalign, rates, DrawBits) from a record. */
void ClassifyFormat(const WAVEFORMATEX *format);
/* Gives back the held copy of the fmt chunk, if any. */
void ReleaseFormatBlock(void);
/* Closes ReadHandle if open. */
void CloseSourceFile(void);
/* Keeps the loaded file's format and data size for later validations. */
void KeepLoadedFile(void);
/* Puts the source into a job's buffering at the same read position; the
   graph keeps a larger buffer it finds. *position (may be null) gets that
   position, -1 when it was lost. 0 when the buffer could not be set. */
int  BufferSource(int buffering, LONG *position);
/* Moves the source to an offset within the data; 0 when it did not get
   there, and what would be read next belongs to some other place. */
int  SeekData(LONG offset);

/* The message for a device that refuses a format or an open; the
   device's being in use is told in the caller's words. */
const char *DeviceRefusal(MMRESULT result, const char *allocated);

/* header repair */
/* Rewrites the two size fields of DocumentPath from its length: 0 when
   rewritten, 1 when refused or failed, the file then as it was. */
int  RepairWaveHeader(void);

/* segment writer */
enum { AppendMode = 0, CreateMode = 4096 };
/* 1 when the output is left a finished WAV file of this call's making,
   for a following row to append to; 0 when it was not reached. */
int  WriteSegment(const char *path, double startSeconds, double endSeconds, int mode);

/* Seconds to byte offset */
/* The leading decimal number of a time text; 0 without one. */
double ParseSeconds(const char *text);
/* trunc(seconds * BytesPerSec) in whole blocks; from EndSeconds on, the
   end of the loaded data. */
LONG   SecondsToOffset(double seconds);

#endif
