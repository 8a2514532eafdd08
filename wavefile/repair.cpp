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

static int Refuse(FILE *file)
{
    fclose(file);
    return 1;
}

/* Returns 0 when both size fields were written, 1 when the file was
   refused or could not be written. */
int RepairWaveHeader(void)
{
    struct _stati64 status;
    unsigned long long length;
    unsigned long long fmtSize, factSize = 0, sizeField;
    int hasFact;
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

    sizeField = hasFact ? fmtSize + factSize + 32 : fmtSize + 24;
    if (sizeField + 4 > length)
        return Refuse(file);
    data = (DWORD)(length - sizeField - 4);
    if (!KeepsPartialBlock(tag))
        data -= data % (DWORD)(LONG)WaveDocument.blockalign;
    riff = (DWORD)(data + sizeField - 4);
    if ((riff & 1) && riff + 8ULL < length)
        riff++;

    if (!WriteAt(file, sizeField, data) || !WriteAt(file, 4, riff))
        return Refuse(file);
    return fclose(file) == 0 ? 0 : 1;
}
