#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include "support/harness.h"
#include "support/wavbuild.h"
#include "wavefile/wavefile.h"

class Repair : public ::testing::Test
{
protected:
    std::string Path;

    void SetUp() override
    {
        char temp[MAX_PATH], name[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        snprintf(name, sizeof(name), "%spelnor-repair-%lu.wav", temp, GetCurrentProcessId());
        Path = name;
        WaveDocument = WAVEDOCUMENT();
        lstrcpynA(WaveDocument.DocumentPath, Path.c_str(), MAX_PATH);
        WaveDocument.blockalign = 1;
    }

    void TearDown() override
    {
        SetFileAttributesA(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Path.c_str());
    }
};

static void ZeroField(Bytes &file, size_t at)
{
    for (size_t i = 0; i < 4; i++)
        file[at + i] = 0;
}

/* A file with both size fields zeroed, the data size field at sizeAt. */
static Bytes Broken(Bytes file, size_t sizeAt)
{
    ZeroField(file, 4);
    ZeroField(file, sizeAt);
    return file;
}

static Bytes Canonical(uint16_t tag, uint16_t channels, uint16_t bits, uint16_t align, size_t dataBytes)
{
    Bytes fmt = FmtRecord(tag, channels, 44100, bits, align);
    if (align == 0)
    {
        fmt[12] = 0;
        fmt[13] = 0;
    }
    Bytes file = Riff("WAVE", { Chunk("fmt ", fmt), Chunk("data", PatternBytes(dataBytes)) });
    file.resize(44 + dataBytes);
    return Broken(file, 40);
}

/* Repairs the file and checks that exactly the two size fields changed,
   to the expected values. */
#define EXPECT_REPAIRED(...) CALLED_HERE(ExpectRepaired(__VA_ARGS__))
static void ExpectRepaired(const std::string &path, const Bytes &before,
                           size_t sizeAt, uint32_t data, uint32_t riff)
{
    WriteBytes(path, before);
    ASSERT_EQ(0, RepairWaveHeader());
    Bytes after = ReadBytes(path);
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(data, GetLe32(after, sizeAt));
    EXPECT_EQ(riff, GetLe32(after, 4));
    for (size_t i = 0; i < after.size(); i++)
    {
        bool sizeField = (i >= 4 && i < 8) || (i >= sizeAt && i < sizeAt + 4);
        if (!sizeField)
        {
            ASSERT_EQ(before[i], after[i]) << "byte " << i;
        }
    }
}

#define EXPECT_REFUSED(...) CALLED_HERE(ExpectRefused(__VA_ARGS__))
static void ExpectRefused(const std::string &path, const Bytes &before)
{
    WriteBytes(path, before);
    EXPECT_EQ(1, RepairWaveHeader());
    EXPECT_EQ(before, ReadBytes(path));
}

TEST_F(Repair, CanonicalLayoutsCutToWholeBlocks)
{
    struct Case { const char *name; uint16_t channels, bits, align; size_t bytes; uint32_t data, riff; };
    const Case cases[] = {
        { "16-bit stereo, 1000 bytes", 2, 16, 4, 1000, 1000, 1036 },
        { "16-bit stereo, 1001 bytes", 2, 16, 4, 1001, 1000, 1036 },
        { "8-bit mono, 1001 bytes, odd size kept", 1, 8, 1, 1001, 1001, 1037 },
        { "block align 3, pad byte counted", 1, 24, 3, 1001, 999, 1036 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_REPAIRED(Path, Canonical(1, c.channels, c.bits, c.align, c.bytes), 40, c.data, c.riff);
    }
}

TEST_F(Repair, ZeroBlockAlignCountsAsOne)
{
    WaveDocument.blockalign = 7;
    EXPECT_REPAIRED(Path, Canonical(1, 1, 8, 0, 1001), 40, 1001, 1037);
    EXPECT_EQ(1, WaveDocument.blockalign);
}

TEST_F(Repair, BlockAlignIsStoredForTheDocument)
{
    EXPECT_REPAIRED(Path, Canonical(1, 2, 16, 4, 1000), 40, 1000, 1036);
    EXPECT_EQ(4, WaveDocument.blockalign);
}

TEST_F(Repair, CompressedTagsKeepPartialBlocks)
{
    const uint16_t tags[] = { 2, 115, 26447, 26448, 26449 };
    for (uint16_t tag : tags)
    {
        SCOPED_TRACE(tag);
        EXPECT_REPAIRED(Path, Canonical(tag, 2, 4, 256, 1001), 40, 1001, 1037);
    }
}

TEST_F(Repair, NeighbouringTagsAreCutToBlocks)
{
    const uint16_t tags[] = { 1, 3, 114, 116, 26446, 26450 };
    for (uint16_t tag : tags)
    {
        SCOPED_TRACE(tag);
        EXPECT_REPAIRED(Path, Canonical(tag, 2, 4, 256, 1001), 40, 768, 804);
    }
}

/* What follows the samples: junk counts as data, whole chunks that run
   to the end of the file do not, and a data size that fits is kept. */
TEST_F(Repair, DataSizeFollowsWhatTheFileHolds)
{
    Bytes list = Chunk("LIST", Bytes(20, 'j'));
    Bytes junk(20, 1);
    Bytes withList = Canonical(1, 2, 16, 4, 1000);
    withList.insert(withList.end(), list.begin(), list.end());
    Bytes withJunk = Canonical(1, 2, 16, 4, 1000);
    withJunk.insert(withJunk.end(), junk.begin(), junk.end());
    Bytes twoChunks = withList;
    Bytes odd = Chunk("id3 ", Bytes(5, 'x'));
    twoChunks.insert(twoChunks.end(), odd.begin(), odd.end() - 1);
    Bytes sizeKept = withList;
    sizeKept[40] = 0xE8;
    sizeKept[41] = 0x03;
    Bytes sizeTooLarge = withJunk;
    sizeTooLarge[42] = 0x01;

    struct Case { const char *name; const Bytes &file; uint32_t data, riff; };
    const Case cases[] = {
        { "junk counted as data", withJunk, 1020, 1056 },
        { "trailing chunk left out", withList, 1000, 1064 },
        { "two trailing chunks, the last without its pad", twoChunks, 1000, 1077 },
        { "data size that fits kept", sizeKept, 1000, 1064 },
        { "data size past the end replaced", sizeTooLarge, 1020, 1056 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_REPAIRED(Path, c.file, 40, c.data, c.riff);
    }
}

TEST_F(Repair, FactChunkAfterAnEighteenByteFmt)
{
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    fmt.push_back(0);
    fmt.push_back(0);
    Bytes fact;
    PutLe32(fact, 250);
    Bytes file = Riff("WAVE", { Chunk("fmt ", fmt), Chunk("fact", fact), Chunk("data", PatternBytes(1000)) });
    EXPECT_REPAIRED(Path, Broken(file, 54), 54, 1000, 1050);
}

TEST_F(Repair, EmptyFactChunkIsNotWrittenInto)
{
    Bytes file = Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("fact", Bytes()),
                                Chunk("data", PatternBytes(1000)) });
    EXPECT_REPAIRED(Path, Broken(file, 48), 48, 1000, 1044);
    Bytes after = ReadBytes(Path);
    EXPECT_EQ(0u, GetLe32(after, 40));
}

TEST_F(Repair, RefusedFilesAreLeftUnchanged)
{
    Bytes good = Canonical(1, 2, 16, 4, 1000);
    Bytes notRiff = good;
    notRiff[3] = 'X';
    Bytes listFirst = Broken(Riff("WAVE", { Chunk("LIST", Bytes(4, 0)), Chunk("fmt ", FmtRecord(1, 2, 44100, 16)),
                                            Chunk("data", PatternBytes(1000)) }), 52);
    Bytes listAfterFmt = Broken(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("LIST", Bytes(4, 0)),
                                               Chunk("data", PatternBytes(1000)) }), 52);
    Bytes hugeFmt = good;
    hugeFmt[16] = 0xF0;
    hugeFmt[17] = hugeFmt[18] = hugeFmt[19] = 0xFF;
    Bytes wrappingFact = Broken(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("fact", Bytes(4, 0)),
                                               Chunk("data", PatternBytes(1000)) }), 52);
    wrappingFact[40] = 0xE0;
    wrappingFact[41] = wrappingFact[42] = wrappingFact[43] = 0xFF;
    Bytes beyondEnd = Broken(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("fact", Bytes(4, 0)) }), 4);
    Bytes paddedFact = Broken(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("fact", Bytes(5, 0)),
                                             Chunk("data", PatternBytes(1000)) }), 54);
    Bytes twoFacts = Broken(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)), Chunk("fact", Bytes(4, 0)),
                                           Chunk("fact", Bytes(4, 0)), Chunk("data", PatternBytes(1000)) }), 64);
    Bytes oddFmt = FmtRecord(1, 2, 44100, 16);
    oddFmt.push_back(0);
    Bytes paddedFmt = Broken(Riff("WAVE", { Chunk("fmt ", oddFmt), Chunk("data", PatternBytes(1000)) }), 42);

    struct Case { const char *name; Bytes file; };
    const Case cases[] = {
        { "44-byte file", Bytes(good.begin(), good.begin() + 44) },
        { "first id not RIFF", notRiff },
        { "fmt not first", listFirst },
        { "chunk after fmt neither fact nor data", listAfterFmt },
        { "fmt size past the end", hugeFmt },
        { "fact size wraps past the end", wrappingFact },
        { "data size field past the end", beyondEnd },
        { "odd fact chunk with its pad byte", paddedFact },
        { "odd fmt chunk with its pad byte", paddedFmt },
        { "a second fact chunk where the data chunk should be", twoFacts },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_REFUSED(Path, c.file);
    }
}

TEST_F(Repair, MissingFileFails)
{
    EXPECT_EQ(1, RepairWaveHeader());
}

TEST_F(Repair, FileHeldByAnotherProgramFails)
{
    Bytes file = Canonical(1, 2, 16, 4, 1000);
    WriteBytes(Path, file);
    HANDLE held = CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(1, RepairWaveHeader());
    CloseHandle(held);
    EXPECT_EQ(file, ReadBytes(Path));
}
