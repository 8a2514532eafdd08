/* Writing a time range of the source into an output WAV file. */
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"

static const char DiskError[] = "Disk full or Disk I/O error";
/* The source ended early or could not be read: the disk is not full. */
static const char SourceError[] = "元のファイルを読み取れません。";

/* The output's own chunks; the document's chunks describe the source. */
static MMCKINFO OutputRiffChunk;
static MMCKINFO OutputDataChunk;

/* A fresh header: RIFF/WAVE, a 16-byte fmt chunk from the source's
   format, and an empty data chunk left open for the samples. */
static int CreateOutputHeader(HMMIO out)
{
    MMCKINFO fmt = {};

    OutputRiffChunk = MMCKINFO();
    OutputRiffChunk.fccType = mmioStringToFOURCCA("WAVE", MMIO_TOUPPER);
    if (mmioCreateChunk(out, &OutputRiffChunk, MMIO_CREATERIFF))
    {
        ShowWarning("RIFFチャンクが作成できません");
        return 0;
    }
    fmt.ckid = mmioStringToFOURCCA("fmt ", 0);
    fmt.cksize = 16;
    if (mmioCreateChunk(out, &fmt, 0))
    {
        ShowWarning("FMTチャンクが作成できません");
        return 0;
    }
    if (mmioWrite(out, (HPSTR)WaveDocument.FormatBlock, 16) != 16
        || mmioAscend(out, &fmt, 0))
    {
        ShowWarning(DiskError);
        return 0;
    }
    OutputDataChunk = MMCKINFO();
    OutputDataChunk.ckid = mmioStringToFOURCCA("data", 0);
    if (mmioCreateChunk(out, &OutputDataChunk, 0))
    {
        ShowWarning("データチャンクを作成できません");
        ReleaseFormatBlock();
        return 0;
    }
    return 1;
}

/* Finds the end of an existing WAVE file's data. Both chunks are marked
   changed so that the ascent rewrites their sizes. */
static int FindAppendPoint(HMMIO out)
{
    OutputRiffChunk = MMCKINFO();
    OutputRiffChunk.fccType = mmioStringToFOURCCA("WAVE", MMIO_TOUPPER);
    if (mmioDescend(out, &OutputRiffChunk, NULL, MMIO_FINDRIFF))
    {
        ShowWarning("指定したファイルは、WAVEファイルではありません。");
        return 0;
    }
    OutputDataChunk = MMCKINFO();
    OutputDataChunk.ckid = mmioStringToFOURCCA("data", 0);
    if (mmioDescend(out, &OutputDataChunk, &OutputRiffChunk, MMIO_FINDCHUNK))
    {
        ShowWarning("WAVEファイルにデータ チャンクがありません。");
        ReleaseFormatBlock();
        return 0;
    }
    OutputRiffChunk.dwFlags |= MMIO_DIRTY;
    OutputDataChunk.dwFlags |= MMIO_DIRTY;
    if (mmioSeek(out, OutputDataChunk.dwDataOffset + OutputDataChunk.cksize, SEEK_SET) == -1)
    {
        ShowWarning(DiskError);
        ReleaseFormatBlock();
        return 0;
    }
    return 1;
}

/* The range in bytes of sample data, held inside the data chunk: a range
   past its end would copy whatever follows the samples, and one that ends
   before it starts is empty. A partial frame at the end of the chunk is
   left out, so the output stays in whole frames. */
static void RangeToBytes(double startSeconds, double endSeconds, LONG *start, LONG *count)
{
    LONG first = SecondsToOffset(startSeconds);
    LONG last = SecondsToOffset(endSeconds);
    LONG size = (LONG)WaveDocument.DataChunk.cksize;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;

    if (size < 0)
        size = 0x7FFFFFFF;
    if (first < 0)
        first = 0;
    if (last > size)
        last = size / align * align;
    *start = first;
    *count = last > first ? last - first : 0;
}

/* Bytes of a failed write that did reach the file: the count the write
   reported, or else how far the file position moved (a write that fills
   the disk may store part of the piece before it fails). */
static DWORD BytesLanded(HMMIO out, LONG put, DWORD at, DWORD piece)
{
    LONG reached;

    if (put > 0)
        return (DWORD)put;
    reached = mmioSeek(out, 0, SEEK_CUR);
    if (reached == -1 || (DWORD)reached <= at)
        return 0;
    return (DWORD)reached - at < piece ? (DWORD)reached - at : piece;
}

/* The first piece ends, in whole blocks, where the output reaches a 4 KB
   boundary, so that the full pieces after it fill whole pages of the
   file: a write that starts inside a page costs the file system about a
   third more. Where no such length fits the buffer, a full one is taken. */
static DWORD FirstPiece(DWORD at, LONG align)
{
    DWORD piece;

    for (piece = (4096 - at % 4096) % 4096; piece <= PlaybackState.BytesPerBuffer; piece += 4096)
        if (piece > 0 && piece % (DWORD)align == 0)
            return piece;
    return PlaybackState.BytesPerBuffer;
}

/* Copies BytesLeft bytes through the first audio buffer to the output,
   whose position is at, a buffer's length at a time after the first
   piece. Returns the bytes that reached the output, in whole blocks;
   *failure names what went wrong when a read came up short or a write
   did not take everything. */
static DWORD CopySamples(HMMIO out, DWORD at, const char **failure)
{
    BYTE *buffer = PlaybackState.AudioBuffers[0].Data;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;
    DWORD written = 0, limit = FirstPiece(at, align);

    *failure = NULL;
    for (;;)
    {
        DWORD piece = WaveDocument.BytesLeft <= limit ? WaveDocument.BytesLeft : limit;
        limit = PlaybackState.BytesPerBuffer;
        WaveDocument.BytesLeft -= piece;
        PlaybackState.LastChunk = WaveDocument.BytesLeft == 0;
        if (piece == 0)
            break;

        LONG got = mmioRead(WaveDocument.ReadHandle, (HPSTR)buffer, (LONG)piece);
        if (got != (LONG)piece)
        {
            *failure = SourceError;
            piece = got > 0 ? (DWORD)got / align * align : 0;
        }
        LONG put = piece ? mmioWrite(out, (HPSTR)buffer, (LONG)piece) : 0;
        if (put != (LONG)piece)
        {
            *failure = DiskError;
            written += BytesLanded(out, put, at + written, piece) / align * align;
            break;
        }
        written += piece;
        if (*failure)
            break;
    }
    return written;
}

/* After a failure the data chunk is cut back to the whole blocks known
   to have reached the file; an odd total loses one more (odd-sized) block
   rather than need a pad byte that may not fit. The ascent then writes
   sizes that describe exactly what is there. 0 when the output did not
   move there. */
static int CutToWritten(HMMIO out, DWORD base, DWORD written)
{
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;
    LONG to;

    if (((base + written) & 1) && (align & 1) && written >= (DWORD)align)
        written -= align;
    to = (LONG)(OutputDataChunk.dwDataOffset + base + written);
    return mmioSeek(out, to, SEEK_SET) == to;
}

/* The ascent pads an odd data chunk without checking that the pad byte
   landed: it is written here first, where a full disk can still be told,
   and the ascent then writes it again over itself. */
static int PadFits(HMMIO out, DWORD dataSize)
{
    char zero = 0;

    if (!(dataSize & 1))
        return 1;
    if (mmioWrite(out, &zero, 1) != 1)
        return 0;
    return mmioSeek(out, -1, SEEK_CUR) != -1;
}

/* Cuts the file at end when it is longer. Returns 0 when it could not be
   looked at or cut. */
static int CutFileAt(const char *name, LONG end)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    HANDLE file;
    int cut;

    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &info))
        return 0;
    if (info.nFileSizeHigh == 0 && info.nFileSizeLow <= (DWORD)end)
        return 1;
    file = CreateFileA(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    cut = SetFilePointer(file, end, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file);
    return CloseHandle(file) && cut;
}

/* An output whose end is not known cannot be given sizes: a file this
   call created is removed, one it appended to is cut back to where its
   RIFF chunk ended before (oldEnd; 0 when nothing was appended), with its
   header as it was. Returns 0, for the caller to pass on. */
static int AbandonOutput(HMMIO out, const char *name, int mode, LONG oldEnd)
{
    mmioClose(out, 0);
    if (mode == CreateMode)
        DeleteFileA(name);
    else if (oldEnd > 0)
        CutFileAt(name, oldEnd);
    return 0;
}

/* Ascending rewrites the sizes that changed (and pads an odd data
   chunk), so even an output left without samples has a valid header.
   The file then ends where its RIFF chunk ends: bytes written past a cut
   back to whole blocks, or left from a longer file, are removed. Returns
   0 when the file may not be what its header says. */
static int FinishOutput(HMMIO out, const char *name, int failed)
{
    LONG end = -1;
    int ascended = !mmioAscend(out, &OutputDataChunk, 0) && !mmioAscend(out, &OutputRiffChunk, 0);

    if (ascended)
        end = mmioSeek(out, 0, SEEK_CUR);
    mmioClose(out, 0);
    if (end != -1 && CutFileAt(name, end))
        return 1;
    if (!failed)
        ShowWarning(DiskError);
    return 0;
}

/* In create mode a file that does not exist yet is made new and then
   opened for writing: the file services' create truncates even a new
   file, and on Linux file systems (Wine) closing a file truncated that
   way first sends its data to the disk. An existing file is replaced. */
static HMMIO OpenOutput(char *name, int mode)
{
    HANDLE made;
    HMMIO out;

    if (mode != CreateMode)
        return mmioOpenA(name, NULL, MMIO_READWRITE);
    made = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (made == INVALID_HANDLE_VALUE)
        return mmioOpenA(name, NULL, MMIO_CREATE | MMIO_WRITE);
    CloseHandle(made);
    out = mmioOpenA(name, NULL, MMIO_WRITE);
    if (!out)
        DeleteFileA(name);
    return out;
}

int WriteSegment(const char *path, double startSeconds, double endSeconds, int mode)
{
    char name[MAX_PATH];
    HMMIO out;
    LONG start, count;
    DWORD base, written = 0;
    LONG oldEnd;
    const char *failure = NULL;
    int finished;

    if (!WaveDocument.ReadHandle || !WaveDocument.FormatBlock)
    {
        if (!OpenWaveFile())
            return 0;
    }
    ComputeBufferSize(WaveDocument.FormatBlock);

    /* a name cut short would name some other file: refuse it instead */
    out = NULL;
    if (lstrlenA(path) < (int)sizeof(name))
    {
        lstrcpynA(name, path, sizeof(name));
        out = OpenOutput(name, mode);
    }
    if (!out)
    {
        ShowWarning("書き込みファイルを開けません。");
        return 0;
    }
    /* a header left unfinished holds no sample and is no WAV file */
    if (!(mode == CreateMode ? CreateOutputHeader(out) : FindAppendPoint(out)))
        return AbandonOutput(out, name, mode, 0);
    base = mode == CreateMode ? 0 : OutputDataChunk.cksize;
    oldEnd = (LONG)(OutputRiffChunk.dwDataOffset + OutputRiffChunk.cksize);
    ReleaseFormatBlock();
    if (!AllocPlayBuffers())
        return FinishOutput(out, name, 1);

    RangeToBytes(startSeconds, endSeconds, &start, &count);
    WaveDocument.BytesLeft = (DWORD)count;
    /* The source is read unbuffered while copying, straight into the
       audio buffer: through the file services' own buffer every byte
       would be copied once more. */
    if (!BufferSource(CopyBuffering, NULL) || !SeekData(start))
        failure = SourceError;
    else
    {
        written = CopySamples(out, OutputDataChunk.dwDataOffset + base, &failure);
        if (!failure && !PadFits(out, base + written))
            failure = DiskError;
    }
    /* the graph reads through the buffer again; without it the source is
       closed, and the next operation that needs it opens it afresh */
    if (!BufferSource(HeaderBuffering, NULL))
        CloseSourceFile();
    if (failure)
    {
        ShowWarning(failure);
        if (!CutToWritten(out, base, written))
        {
            FreePlayBuffers();
            return AbandonOutput(out, name, mode, oldEnd);
        }
    }
    finished = FinishOutput(out, name, failure != NULL);
    FreePlayBuffers();
    return finished;
}
