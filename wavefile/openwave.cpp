/* Opening and validating the source file. */
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"

/* The format block is kept as a 16-bit quantity. */
#define MAX_FORMAT_BYTES  0xFFFF
/* The file services seek to signed 32-bit positions: the data, and the
   offsets within it, must end where such a position still reaches. */
#define MAX_FILE_OFFSET   0x7FFFFFFFULL
/* PCM without the extensible format has no speaker layout of its own, and
   Wine's device query ends the process for 48 channels or more: 7.1 is
   the most the program takes. */
#define MAX_CHANNELS      8

static unsigned long long EndOf(const MMCKINFO *chunk)
{
    return (unsigned long long)chunk->dwDataOffset + chunk->cksize;
}

/* The file's length as the file system has it: the size fields of a
   header that was never finished (a recorder writing to a pipe, or
   stopped before it went back to them) claim more than that. */
static unsigned long long FileLength(void)
{
    WIN32_FILE_ATTRIBUTE_DATA info;

    if (!GetFileAttributesExA(WaveDocument.DocumentPath, GetFileExInfoStandard, &info))
        return 0;
    return (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
}

/* A chunk's size, cut to what the file holds after its start, and to
   where a 32-bit end still reaches. */
static DWORD HeldSize(const MMCKINFO *chunk, unsigned long long length)
{
    unsigned long long end = length < 0xFFFFFFFFULL ? length : 0xFFFFFFFFULL;
    unsigned long long held = end > chunk->dwDataOffset ? end - chunk->dwDataOffset : 0;

    return held < chunk->cksize ? (DWORD)held : chunk->cksize;
}

/* Once a file is loaded, every validation must find the format and the
   data size it had then: the rows are times in that file, and another
   file's samples must not reach its segments. */
static const char ChangedFile[] = "ファイルが変更されています。";

void KeepLoadedFile(void)
{
    memcpy(&WaveDocument.LoadedFormat, WaveDocument.FormatBlock, sizeof(WaveDocument.LoadedFormat));
    WaveDocument.LoadedSize = WaveDocument.DataSize;
}

WAVEDOCUMENT InitialDocument(void)
{
    WAVEDOCUMENT doc = {};
    strcpy(doc.DocumentTitle, "noname.txt");
    doc.blockalign = 1;
    return doc;
}

WAVEDOCUMENT WaveDocument = InitialDocument();

void CloseSourceFile(void)
{
    if (WaveDocument.ReadHandle)
    {
        mmioClose(WaveDocument.ReadHandle, 0);
        WaveDocument.ReadHandle = NULL;
    }
}

int BufferSource(int buffering, LONG *position)
{
    static const LONG bytes[] = { ReadBufferBytes, DrawBufferBytes, 0 };
    HMMIO file = WaveDocument.ReadHandle;
    MMIOINFO info;
    LONG at = mmioSeek(file, 0, SEEK_CUR);
    int set = 1;

    if (mmioGetInfo(file, &info, 0) != MMSYSERR_NOERROR)
        set = 0;
    else if (info.cchBuffer != bytes[buffering]
             && !(buffering == DrawBuffering && info.cchBuffer > bytes[buffering]))
    {
        set = mmioSetBuffer(file, NULL, bytes[buffering], 0) == MMSYSERR_NOERROR;
        if (at != -1 && mmioSeek(file, at, SEEK_SET) != at)
            at = -1;
    }
    if (position)
        *position = at;
    return set;
}

int SeekData(LONG offset)
{
    LONG to = (LONG)WaveDocument.DataChunk.dwDataOffset + offset;

    return mmioSeek(WaveDocument.ReadHandle, to, SEEK_SET) == to;
}

/* Reports the failure and leaves the document closed with no format held. */
static int FailOpen(const char *text)
{
    ShowWarning(text);
    ReleaseFormatBlock();
    CloseSourceFile();
    return 0;
}

void ReleaseFormatBlock(void)
{
    if (WaveDocument.FormatHandle)
    {
        LocalUnlock(WaveDocument.FormatHandle);
        WaveDocument.FormatBlock = NULL;
        LocalFree(WaveDocument.FormatHandle);
        WaveDocument.FormatHandle = NULL;
    }
}

/* A bare PCM record (16 bytes) gets room for a zero cbSize, so the block
   is always a complete WAVEFORMATEX when it reaches the device. */
static UINT AllocFormatBlock(UINT size)
{
    UINT bytes = (WORD)size;

    ReleaseFormatBlock();
    if (bytes >= sizeof(PCMWAVEFORMAT) && bytes < sizeof(WAVEFORMATEX))
        bytes = sizeof(WAVEFORMATEX);
    WaveDocument.FormatHandle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bytes);
    if (!WaveDocument.FormatHandle)
    {
        ShowWarning("極度のメモリ不足です。");
        CloseSourceFile();
        return 0;
    }
    WaveDocument.FormatBlock = (WAVEFORMATEX *)LocalLock(WaveDocument.FormatHandle);
    if (!WaveDocument.FormatBlock)
    {
        ShowWarning("メモリのロックに失敗しました。");
        LocalFree(WaveDocument.FormatHandle);
        WaveDocument.FormatHandle = NULL;
        CloseSourceFile();
        return 0;
    }
    return size;
}

void ClassifyFormat(const WAVEFORMATEX *format)
{
    DWORD code = format->nChannels == 2 ? 2 : 0;

    if (format->nChannels == 1 && format->wBitsPerSample == 8)
        code = 0;
    else if (format->nChannels == 1 && format->wBitsPerSample == 16)
        code = 1;
    else if (format->nChannels == 2 && format->wBitsPerSample == 8)
        code = 2;
    else if (format->nChannels == 2 && format->wBitsPerSample == 16)
        code = 3;
    WaveDocument.ChannelCode = code;
    WaveDocument.blockalign = (short)format->nBlockAlign;
    WaveDocument.BytesPerSec = format->nAvgBytesPerSec;
    WaveDocument.KiloHertz = (format->nSamplesPerSec + 500) / 1000;
    WaveDocument.FormatTag = format->wFormatTag;
    WaveDocument.DrawBits = format->wBitsPerSample;
}

/* The fields of a PCM record must agree with each other before anything
   relies on them: offsets are cut to whole blocks, times divide by the
   byte rate and the buffers are sized from it. Returns the message to
   show, or NULL when the format is usable. */
static const char *CheckFormat(const WAVEFORMATEX *format)
{
    DWORD sampleBytes = (format->wBitsPerSample + 7) / 8;
    unsigned long long perSec = (unsigned long long)format->nSamplesPerSec * format->nBlockAlign;

    if (format->nChannels == 0 || format->wBitsPerSample == 0 || format->nSamplesPerSec == 0
        || format->nBlockAlign != format->nChannels * sampleBytes || format->nBlockAlign > 0x7FFF
        || format->nAvgBytesPerSec != perSec)
        return "形式チャンクの値が不正です。";
    if (format->nChannels > MAX_CHANNELS)
        return "チャンネル数が多すぎます。";
    return NULL;
}

/* Asks the wave mapper whether the held format can be played. A refused
   48000 Hz is asked again at 44100 Hz; the block keeps the file's rate.
   Returns the message to show, or NULL when the format is accepted. */
static const char *QueryDevice(void)
{
    WAVEFORMATEX *format = WaveDocument.FormatBlock;
    HWAVEOUT device;

    for (;;)
    {
        MMRESULT result = waveOutOpen(&device, WAVE_MAPPER, format, 0, 0, WAVE_FORMAT_QUERY);
        switch (result)
        {
        case MMSYSERR_NOERROR:
            if (format->nSamplesPerSec == 44100 && WaveDocument.KiloHertz == 48)
                format->nSamplesPerSec = 48000;
            return NULL;
        case WAVERR_BADFORMAT:
            if (format->nSamplesPerSec != 48000)
                return DeviceRefusal(result, NULL);
            format->nSamplesPerSec = 44100;
            break;
        default:
            return DeviceRefusal(result, "他のソフトが再生回路を使っています。");
        }
    }
}

const char *DeviceRefusal(MMRESULT result, const char *allocated)
{
    switch (result)
    {
    case MMSYSERR_BADDEVICEID: return "範囲外のデバイスIDが指定されました。";
    case MMSYSERR_ALLOCATED:   return allocated;
    case MMSYSERR_NOMEM:       return "メモリの割り当てができません。";
    case WAVERR_BADFORMAT:     return "この形式を再生できるドライバがありません。";
    default:                   return "音声出力デバイスを開けません。";
    }
}

/* Opens DocumentPath, walks its chunks, keeps the fmt chunk and leaves the
   file positioned at the first sample byte. Returns 1 when valid. */
int OpenWaveFile(void)
{
    MMCKINFO fmtChunk;
    MMCKINFO probe;
    const char *refusal;
    unsigned long long length;
    DWORD size;
    int repaired = 0;

    if (!WaveDocument.DocumentPath[0])
    {
        ShowWarning("ファイル名が未入力。");
        return 0;
    }
    if (WaveDocument.ReadHandle)
    {
        mmioAscend(WaveDocument.ReadHandle, &WaveDocument.DataChunk, 0);
        mmioAscend(WaveDocument.ReadHandle, &WaveDocument.RiffChunk, 0);
        CloseSourceFile();
    }

    for (;;)
    {
        WaveDocument.ReadHandle = mmioOpenA(WaveDocument.DocumentPath, NULL,
                                            MMIO_READ | MMIO_ALLOCBUF);
        if (!WaveDocument.ReadHandle)
            return FailOpen("ファイルを開けません。");
        /* Should the buffer be refused, the file service's 8 KB default
           still works. */
        BufferSource(HeaderBuffering, NULL);
        WaveDocument.DataSize = 0;
        WaveDocument.BytesPerSec = 0;
        WaveDocument.RiffChunk.fccType = 0;

        if (mmioDescend(WaveDocument.ReadHandle, &WaveDocument.RiffChunk, NULL, MMIO_FINDRIFF))
            return FailOpen("指定したファイルは、RIFFファイルではありません。");
        if (WaveDocument.RiffChunk.cksize != 0)
            break;

        int answer = MessageBoxA(App.MainWindow, "WAVEファイルが壊れています。\n修復を試みますか？",
                                 NULL, MB_YESNO);
        CloseSourceFile();
        if (answer != IDYES)
        {
            ReleaseFormatBlock();
            return 0;
        }
        /* a repaired header never reads 0 again; guard against a file
           that changes under us all the same */
        if (repaired || RepairWaveHeader() != 0)
            return FailOpen("修復失敗");
        repaired = 1;
    }

    if (WaveDocument.RiffChunk.fccType != mmioFOURCC('W', 'A', 'V', 'E'))
    {
        probe.ckid = mmioFOURCC('d', 'a', 't', 'a');
        if (mmioDescend(WaveDocument.ReadHandle, &probe, &WaveDocument.RiffChunk, MMIO_FINDCHUNK))
            return FailOpen("RIFFファイルにデータ チャンクがありません。");
        return FailOpen("指定したファイルは、WAVEファイルではありません。");
    }

    /* the chunk walk stays inside the file; a file longer than a signed
       32-bit position reaches is too large for it, not broken */
    length = FileLength();
    WaveDocument.RiffChunk.cksize = HeldSize(&WaveDocument.RiffChunk, length);
    fmtChunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(WaveDocument.ReadHandle, &fmtChunk, &WaveDocument.RiffChunk, MMIO_FINDCHUNK))
        return FailOpen(length > MAX_FILE_OFFSET
                        ? "データ チャンクが大きすぎます。" : "WAVEファイルが壊れています。");
    if (fmtChunk.cksize > MAX_FORMAT_BYTES)
        return FailOpen("形式チャンクが大きすぎます。");
    if (!AllocFormatBlock(fmtChunk.cksize))
        return 0;
    if (mmioRead(WaveDocument.ReadHandle, (HPSTR)WaveDocument.FormatBlock,
                 (LONG)fmtChunk.cksize) != (LONG)fmtChunk.cksize)
        return FailOpen("形式チャンクを読み取れません。");
    if (fmtChunk.cksize < sizeof(PCMWAVEFORMAT))
        return FailOpen("形式チャンクが短すぎます。");
    if (WaveDocument.LoadedSize != 0 && memcmp(WaveDocument.FormatBlock, &WaveDocument.LoadedFormat,
                                               sizeof(WaveDocument.LoadedFormat)) != 0)
        return FailOpen(ChangedFile);
    mmioAscend(WaveDocument.ReadHandle, &fmtChunk, 0);
    WaveDocument.FormatTag = WaveDocument.FormatBlock->wFormatTag;

    if (WaveDocument.FormatTag != WAVE_FORMAT_PCM)
        return FailOpen("指定したファイルは、PCMファイルではありません。");
    refusal = CheckFormat(WaveDocument.FormatBlock);
    if (refusal)
        return FailOpen(refusal);
    ClassifyFormat(WaveDocument.FormatBlock);

    refusal = QueryDevice();
    if (refusal)
        return FailOpen(refusal);

    WaveDocument.DataChunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(WaveDocument.ReadHandle, &WaveDocument.DataChunk,
                    &WaveDocument.RiffChunk, MMIO_FINDCHUNK))
        return FailOpen("WAVEファイルにデータ チャンクがありません。");
    /* the samples the file holds, in whole blocks, when the header
       claims more; nothing is written to the file */
    size = HeldSize(&WaveDocument.DataChunk, length);
    if (size < WaveDocument.DataChunk.cksize)
        WaveDocument.DataChunk.cksize = size - size % (DWORD)WaveDocument.blockalign;
    if (WaveDocument.LoadedSize != 0 && WaveDocument.DataChunk.cksize != WaveDocument.LoadedSize)
        return FailOpen(ChangedFile);
    WaveDocument.DataSize = WaveDocument.DataChunk.cksize;
    WaveDocument.BytesLeft = WaveDocument.DataSize;
    if (WaveDocument.DataSize == 0)
        return FailOpen("データ チャンクが空です。");
    if (EndOf(&WaveDocument.DataChunk) > MAX_FILE_OFFSET)
        return FailOpen("データ チャンクが大きすぎます。");
    return 1;
}
