/* Repairing a header whose RIFF size is zero: the data size and the RIFF
   size are rewritten from the file's length, in place. The canonical
   layout is assumed: fmt first, then data, or fact and then data. */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include "wavefile/wavefile.h"

/* The smallest file with a header and at least one data byte. */
#define CANONICAL_HEADER  44

static int ReadAt(FILE *file, unsigned long long offset, void *item, size_t size)
{
    if (offset > 0x7FFFFFFFULL || fseek(file, (long)offset, SEEK_SET) != 0)
        return 0;
    return fread(item, size, 1, file) == 1;
}

static int WriteAt(FILE *file, unsigned long long offset, DWORD value)
{
    BYTE bytes[4] = { (BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24) };

    if (offset > 0x7FFFFFFFULL || fseek(file, (long)offset, SEEK_SET) != 0)
        return 0;
    return fwrite(bytes, sizeof(bytes), 1, file) == 1;
}

static DWORD Le32(const BYTE *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
}

static WORD Le16(const BYTE *p)
{
    return (WORD)(p[0] | (p[1] << 8));
}

/* Reads a four-character id; a failed read leaves the previous one. */
static void ReadId(FILE *file, unsigned long long offset, char id[5])
{
    ReadAt(file, offset, id, 4);
    id[4] = '\0';
}

/* Compressed formats whose data is not cut to whole blocks. */
static int KeepsPartialBlock(short tag)
{
    return tag == 2 || tag == 115 || (tag >= 26447 && tag <= 26449);
}

/* A chunk id as RIFF writers make them: printable, blank-padded. */
static int IsChunkId(const BYTE *id)
{
    if (id[0] == ' ')
        return 0;
    for (int i = 0; i < 4; i++)
    {
        if (id[i] < ' ' || id[i] > '~')
            return 0;
    }
    return 1;
}

/* True when the bytes from offset to the end of the file are whole chunks
   (none at all when offset is the end), the last one with or without its
   pad byte. */
static int ChunksToEnd(FILE *file, unsigned long long offset, unsigned long long length)
{
    BYTE header[8];

    while (offset < length)
    {
        if (offset + 8 > length || !ReadAt(file, offset, header, 8) || !IsChunkId(header))
            return 0;
        offset += 8ULL + Le32(header + 4);
        if (offset == length)
            return 1;
        offset += Le32(header + 4) & 1;
    }
    return offset == length;
}

/* Where chunks that run exactly to the end of the file begin, looked for
   in the last TailBytes of the data; the length when there are none. A
   chunk found there is metadata written after the samples, not sound. */
static unsigned long long TrailingChunks(FILE *file, unsigned long long dataStart, unsigned long long length)
{
    enum { TailBytes = 64 * 1024 };
    static BYTE tail[TailBytes];
    unsigned long long from = length - dataStart > TailBytes ? length - TailBytes : dataStart;
    size_t count = (size_t)(length - from);

    if (count < 8 || !ReadAt(file, from, tail, count))
        return length;
    for (size_t i = 0; i + 8 <= count; i++)
    {
        if (IsChunkId(tail + i) && ChunksToEnd(file, from + i, length))
            return from + i;
    }
    return length;
}

static int Refuse(FILE *file)
{
    fclose(file);
    return 1;
}

/* Returns 0 when the size fields were written, 1 when the file was refused
   or could not be written. A data size already in the file that fits in
   it is kept, and only the RIFF size is written; without one the data
   runs to the end of the file, less any trailing chunks. */
int RepairWaveHeader(void)
{
    struct _stati64 status;
    unsigned long long length;
    unsigned long long fmtSize, factSize = 0, sizeField, dataStart, dataEnd;
    int hasFact, keepData;
    BYTE field[4] = { 0 };
    char id[5] = "";
    short tag;
    DWORD data, riff;
    FILE *file;

    if (_stati64(WaveDocument.DocumentPath, &status) != 0)
        return 1;
    length = (unsigned long long)status.st_size;
    if (length <= CANONICAL_HEADER || length > 0xFFFFFFFFULL)
        return 1;
    file = fopen(WaveDocument.DocumentPath, "r+b");
    if (!file)
        return 1;

    ReadId(file, 0, id);
    if (strcmp(id, "RIFF") != 0)
        return Refuse(file);
    ReadId(file, 12, id);
    if (strcmp(id, "fmt ") != 0)
        return Refuse(file);
    ReadAt(file, 16, field, 4);
    fmtSize = Le32(field);
    ReadAt(file, 20, field, 2);
    tag = (short)Le16(field);
    ReadAt(file, 32, field, 2);
    WaveDocument.blockalign = (short)Le16(field);
    if (WaveDocument.blockalign == 0)
        WaveDocument.blockalign = 1;

    /* A fact chunk of size 0 still has its 8-byte header before the data
       chunk, so the layout follows the id, not the size. */
    ReadId(file, fmtSize + 20, id);
    hasFact = strcmp(id, "fact") == 0;
    if (hasFact)
    {
        if (!ReadAt(file, fmtSize + 24, field, 4))
            return Refuse(file);
        factSize = Le32(field);
    }
    else if (strcmp(id, "data") != 0)
        return Refuse(file);

    /* The layout counts no pad bytes: where a pad byte of an odd chunk
       moved the data chunk, the field found is not the data size, and
       writing it would damage the file. */
    sizeField = hasFact ? fmtSize + factSize + 32 : fmtSize + 24;
    ReadId(file, sizeField - 4, id);
    if (sizeField + 4 > length || strcmp(id, "data") != 0 || !ReadAt(file, sizeField, field, 4))
        return Refuse(file);
    dataStart = sizeField + 4;

    data = Le32(field);
    keepData = data != 0 && dataStart + data <= length;
    if (!keepData)
    {
        data = (DWORD)(TrailingChunks(file, dataStart, length) - dataStart);
        if (!KeepsPartialBlock(tag))
            data -= data % (DWORD)(LONG)WaveDocument.blockalign;
    }
    /* The RIFF chunk holds the chunks that follow the data; any other
       bytes after it stay outside. */
    dataEnd = dataStart + data;
    if (ChunksToEnd(file, dataEnd + (data & 1), length) || ChunksToEnd(file, dataEnd, length))
        riff = (DWORD)(length - 8);
    else
    {
        riff = (DWORD)(dataEnd - 8);
        if ((riff & 1) && riff + 8ULL < length)
            riff++;
    }

    if ((!keepData && !WriteAt(file, sizeField, data)) || !WriteAt(file, 4, riff))
        return Refuse(file);
    return fclose(file) == 0 ? 0 : 1;
}
