#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "support/harness.h"
#include "support/wavbuild.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"

static bool Exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static Bytes Slice(const Bytes &bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

/* The canonical layout: RIFF size, the 16-byte fmt record, the data size,
   the samples and a zero pad after an odd count. */
#define EXPECT_CANONICAL_WAV(...) CALLED_HERE(ExpectCanonicalWav(__VA_ARGS__))
static void ExpectCanonicalWav(const Bytes &file, const Bytes &fmt16, const Bytes &samples)
{
    size_t n = samples.size();
    size_t pad = n & 1;
    ASSERT_EQ(44 + n + pad, file.size());
    EXPECT_EQ("RIFF", std::string(file.begin(), file.begin() + 4));
    EXPECT_EQ(36 + n + pad, GetLe32(file, 4));
    EXPECT_EQ("WAVEfmt ", std::string(file.begin() + 8, file.begin() + 16));
    EXPECT_EQ(16u, GetLe32(file, 16));
    EXPECT_EQ(fmt16, Slice(file, 20, 16));
    EXPECT_EQ("data", std::string(file.begin() + 36, file.begin() + 40));
    EXPECT_EQ(n, GetLe32(file, 40));
    EXPECT_TRUE(Slice(file, 44, n) == samples) << "sample bytes differ";
    if (pad)
    {
        EXPECT_EQ(0, file[44 + n]);
    }
}

class Writer : public AppTest
{
protected:
    /* Writes the source file and opens it as the program does. */
    void OpenSource(const Bytes &file, const char *name = "source.wav")
    {
        WriteBytes(name, file);
        ASSERT_NE(0u, GetFullPathNameA(name, sizeof(WaveDocument.DocumentPath),
                                       WaveDocument.DocumentPath, NULL));
        ASSERT_EQ(1, OpenWaveFile());
        ClearBoxes();
        baseLive = FakeMemory.LiveGlobal.size();
        baseLocked = FakeMemory.LockedGlobal;
    }

    /* After every call: no buffer left behind, the format block gone. */
    void ExpectBuffersAndFormatReleased()
    {
        EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[0].Handle);
        EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[1].Handle);
        EXPECT_EQ(baseLive, FakeMemory.LiveGlobal.size());
        EXPECT_EQ(baseLocked, FakeMemory.LockedGlobal);
        EXPECT_EQ(nullptr, WaveDocument.FormatBlock);
        EXPECT_EQ(nullptr, WaveDocument.FormatHandle);
        EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    }

    size_t baseLive = 0;
    int baseLocked = 0;
};

TEST_F(Writer, OneSecondOf44kStereoHoldsOneSecondOfBytes)
{
    Bytes samples = PatternBytes(176400 * 2);
    OpenSource(PcmWav(2, 44100, 16, samples));

    WriteSegment("out.wav", 0.0, 1.0, CreateMode);

    Bytes out = ReadBytes("out.wav");
    ASSERT_EQ(44u + 176400u, out.size());
    EXPECT_EQ(176436u, GetLe32(out, 4));
    EXPECT_EQ(176400u, GetLe32(out, 40));
    EXPECT_CANONICAL_WAV(out, FmtRecord(1, 2, 44100, 16), Slice(samples, 0, 176400));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(0u, WaveDocument.BytesLeft);
    ASSERT_NE(nullptr, WaveDocument.ReadHandle);
    MMIOINFO info = {};
    ASSERT_EQ(0u, mmioGetInfo(WaveDocument.ReadHandle, &info, 0));
    EXPECT_EQ(ReadBufferBytes, info.cchBuffer) << "the graph reads through the buffer again";
    ExpectBuffersAndFormatReleased();
}

TEST_F(Writer, CreateWritesTheRangeAfterACanonicalHeader)
{
    struct {
        const char *what; WORD channels; DWORD rate; WORD bits; size_t dataBytes;
        double start, end; size_t from, count;
    } cases[] = {
        { "odd count gets a pad byte",  1, 11025, 8, 22050, 0.0, 0.001, 0, 11 },
        { "range inside one frame",     2, 44100, 16, 17640, 0.00001, 0.00002, 0, 0 },
        { "start cut to whole blocks",  1, 22050, 16, 88200, 0.25, 0.75, 11024, 22050 },
        { "three-byte blocks",          1, 8000, 24, 48000, 0.1, 0.5, 2400, 9600 },
        { "several buffers long",       2, 44100, 16, 176400 * 3, 0.5, 2.90001, 88200, 423360 },
        { "end past the data is held",  1, 8000, 8, 8000, 0.5, 100.0, 4000, 4000 },
        { "partial last frame left out", 1, 8000, 24, 3001, 0.1, 100.0, 2400, 600 },
        { "end before start is empty",  1, 8000, 8, 8000, 0.5, 0.25, 0, 0 },
        { "negative start from zero",   1, 8000, 8, 8000, -1.0, 0.25, 0, 2000 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        Bytes samples = PatternBytes(c.dataBytes, (uint32_t)c.dataBytes);
        OpenSource(PcmWav(c.channels, c.rate, c.bits, samples));

        EXPECT_EQ(1, WriteSegment("out.wav", c.start, c.end, CreateMode));

        EXPECT_EQ(std::vector<std::string>(), BoxTexts());
        EXPECT_CANONICAL_WAV(ReadBytes("out.wav"), FmtRecord(1, c.channels, c.rate, c.bits),
                             Slice(samples, c.from, c.count));
        ExpectBuffersAndFormatReleased();
    }
}

TEST_F(Writer, AppendAddsRangesBackToBack)
{
    struct { const char *what; double cuts[4]; size_t counts[3]; } cases[] = {
        { "two halves",                    { 0.0, 0.5, 1.0, -1 }, { 4000, 4000 } },
        { "odd then even: pad overwritten", { 0.0, 0.0014, 0.00201, -1 }, { 11, 5 } },
        { "odd then odd then odd",         { 0.0, 0.0014, 0.0028, 0.0042 }, { 11, 11, 11 } },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        Bytes samples = PatternBytes(8000, 7);
        OpenSource(PcmWav(1, 8000, 8, samples));

        size_t total = 0;
        for (int i = 0; i < 3 && c.cuts[i + 1] >= 0; i++)
        {
            WriteSegment("joined.wav", c.cuts[i], c.cuts[i + 1], i == 0 ? CreateMode : AppendMode);
            total += c.counts[i];
            EXPECT_CANONICAL_WAV(ReadBytes("joined.wav"), FmtRecord(1, 1, 8000, 8),
                                 Slice(samples, 0, total));
        }
        EXPECT_EQ(std::vector<std::string>(), BoxTexts());
        ExpectBuffersAndFormatReleased();
    }
}

TEST_F(Writer, CreateReplacesAnExistingFile)
{
    Bytes samples = PatternBytes(16000);
    OpenSource(PcmWav(1, 8000, 16, samples));
    WriteBytes("out.wav", Bytes(100000, 0xEE));

    WriteSegment("out.wav", 0.0, 0.25, CreateMode);

    EXPECT_CANONICAL_WAV(ReadBytes("out.wav"), FmtRecord(1, 1, 8000, 16), Slice(samples, 0, 4000));
}

TEST_F(Writer, SourceIsReadFromItsOwnDataOffset)
{
    Bytes samples = PatternBytes(8820, 3);
    Bytes longFmt = FmtRecord(1, 1, 22050, 16);
    PutLe16(longFmt, 4);
    PutLe32(longFmt, 0xDEADBEEF);
    Bytes fact;
    PutLe32(fact, 4410);
    Bytes source = Riff("WAVE", { Chunk("fmt ", longFmt), Chunk("fact", fact),
                                  Chunk("LIST", Bytes(7, 'x')), Chunk("data", samples) });
    OpenSource(source);
    ASSERT_NE(44u, WaveDocument.DataChunk.dwDataOffset);

    WriteSegment("out.wav", 0.1, 0.15, CreateMode);
    WriteSegment("out.wav", 0.15, 0.2, AppendMode);

    EXPECT_EQ(std::vector<std::string>(), BoxTexts());
    EXPECT_CANONICAL_WAV(ReadBytes("out.wav"), FmtRecord(1, 1, 22050, 16), Slice(samples, 4410, 4410));
}

TEST_F(Writer, EachCallValidatesTheSourceAgain)
{
    Bytes samples = PatternBytes(8000);
    OpenSource(PcmWav(1, 8000, 8, samples));
    int queries = FakeWaveCount("query");

    WriteSegment("a.wav", 0.0, 0.5, CreateMode);
    EXPECT_EQ(queries, FakeWaveCount("query"));
    EXPECT_EQ(nullptr, WaveDocument.FormatBlock);

    FakeWave.OpenResults.push_back(MMSYSERR_ALLOCATED);
    WriteSegment("b.wav", 0.0, 0.5, CreateMode);

    EXPECT_EQ(queries + 1, FakeWaveCount("query"));
    EXPECT_EQ(std::vector<std::string>{ "他のソフトが再生回路を使っています。" }, BoxTexts());
    EXPECT_FALSE(Exists("b.wav"));
    EXPECT_EQ(nullptr, WaveDocument.ReadHandle);

    ClearBoxes();
    WriteSegment("c.wav", 0.5, 1.0, CreateMode);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_CANONICAL_WAV(ReadBytes("c.wav"), FmtRecord(1, 1, 8000, 8), Slice(samples, 4000, 4000));
}

/* Refusals found before any sample is copied: the message, the output
   left as it was, and the format block kept or released as each one
   leaves it. */
TEST_F(Writer, RefusedOutputsAreLeftAsTheyWere)
{
    Bytes notWave = { 'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd' };
    Bytes avi = Riff("AVI ", { Chunk("data", Bytes(10, 1)) });
    Bytes noData = Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 1, 8000, 8)) });
    struct {
        const char *what; const char *path; const Bytes *existing; int mode;
        const char *message; bool formatKept;
    } cases[] = {
        { "plain text", "text.wav", &notWave, AppendMode, "指定したファイルは、WAVEファイルではありません。", true },
        { "another RIFF form", "movie.wav", &avi, AppendMode, "指定したファイルは、WAVEファイルではありません。", true },
        { "WAVE without data", "nodata.wav", &noData, AppendMode, "WAVEファイルにデータ チャンクがありません。", false },
        { "missing file", "missing.wav", NULL, AppendMode, "書き込みファイルを開けません。", true },
        { "missing folder", "nofolder\\out.wav", NULL, CreateMode, "書き込みファイルを開けません。", true },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        OpenSource(PcmWav(1, 8000, 8, PatternBytes(8000)));
        if (c.existing)
            WriteBytes(c.path, *c.existing);
        HLOCAL format = WaveDocument.FormatHandle;

        EXPECT_EQ(0, WriteSegment(c.path, 0.0, 0.5, c.mode));

        EXPECT_EQ(std::vector<std::string>{ c.message }, BoxTexts());
        ASSERT_EQ(1u, Boxes().size());
        EXPECT_TRUE(Boxes()[0].Warning);
        EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
        if (c.existing)
        {
            EXPECT_TRUE(ReadBytes(c.path) == *c.existing);
            EXPECT_TRUE(DeleteFileA(c.path)) << "output left open";
        }
        else
            EXPECT_FALSE(Exists(c.path));
        EXPECT_EQ(c.formatKept, WaveDocument.FormatHandle == format);
        EXPECT_EQ(c.formatKept, FakeMemory.LiveLocal.count(format) == 1);
        EXPECT_NE(nullptr, WaveDocument.ReadHandle);
        EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[0].Handle);
        EXPECT_EQ(baseLive, FakeMemory.LiveGlobal.size());
    }
}

TEST_F(Writer, BufferFailureClosesSourceAndLeavesAnEmptyValidOutput)
{
    struct { int allocAt, lockAt; const char *message; } cases[] = {
        { 1, 0, "メモリ不足です。" },
        { 2, 0, "メモリ不足です。" },
        { 0, 2, "データ チャンクのロックに失敗しました。1 8192" },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.message);
        OpenSource(PcmWav(1, 8000, 8, PatternBytes(8000)));
        FakeMemory.GlobalAllocs = FakeMemory.GlobalLocks = 0;
        FakeMemory.FailGlobalAllocAt = c.allocAt;
        FakeMemory.FailGlobalLockAt = c.lockAt;

        WriteSegment("out.wav", 0.0, 0.5, CreateMode);

        FakeMemory.FailGlobalAllocAt = FakeMemory.FailGlobalLockAt = 0;
        EXPECT_EQ(std::vector<std::string>{ c.message }, BoxTexts());
        EXPECT_EQ(nullptr, WaveDocument.ReadHandle);
        ExpectBuffersAndFormatReleased();
        EXPECT_CANONICAL_WAV(ReadBytes("out.wav"), FmtRecord(1, 1, 8000, 8), Bytes());
        EXPECT_TRUE(DeleteFileA("out.wav")) << "output left open";
    }
}

/* The source shrinks to 1000 bytes of data after its open: the source
   is to blame, not the disk. With 3-byte blocks 999 bytes are read and
   996 kept (an even count needs no pad byte that may not fit); the file
   ends where the header says. */
/* After a failed copy the output is moved back to its last whole block;
   should that move fail, its end is unknown: a file the call made is
   removed, an appended one keeps its earlier rows and nothing else. */
TEST_F(Writer, OutputThatCannotBeCutBackIsNotLeftAsAWav)
{
    Bytes samples = PatternBytes(2000, 5);
    Bytes source = PcmWav(1, 8000, 16, samples);
    Bytes old = PcmWav(1, 8000, 16, Slice(samples, 0, 800));
    WriteBytes("old.wav", old);
    struct { const char *name; int mode; LONG cutTo; } cases[] = {
        { "new.wav", CreateMode, 44 + 700 },
        { "old.wav", AppendMode, 44 + 800 + 700 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        OpenSource(source);
        /* cut short under the program: the copy reads 700 bytes */
        WriteBytes("source.wav", Slice(source, 0, 44 + 1500));
        FakeWave.FailSeekTo = c.cutTo;
        EXPECT_EQ(0, WriteSegment(c.name, 0.05, 0.125, c.mode));
        FakeWave.FailSeekTo = 0;
        EXPECT_EQ(std::vector<std::string>{ "元のファイルを読み取れません。" }, BoxTexts());
        ExpectBuffersAndFormatReleased();
    }
    EXPECT_FALSE(Exists("new.wav"));
    EXPECT_EQ(old, ReadBytes("old.wav"));
}

TEST_F(Writer, ShortSourceStopsWithAHeaderForWhatWasCopied)
{
    struct { WORD bits; size_t kept; } cases[] = { { 8, 1000 }, { 24, 996 } };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.bits);
        Bytes samples = PatternBytes(4002, 5);
        Bytes source = PcmWav(1, 8000, c.bits, samples);
        OpenSource(source);
        source.resize(44 + 1000);
        WriteBytes("source.wav", source);

        WriteSegment("out.wav", 0.0, 1.0, CreateMode);

        EXPECT_EQ(std::vector<std::string>{ "元のファイルを読み取れません。" }, BoxTexts());
        EXPECT_CANONICAL_WAV(ReadBytes("out.wav"), FmtRecord(1, 1, 8000, c.bits), Slice(samples, 0, c.kept));
        ExpectBuffersAndFormatReleased();
        EXPECT_TRUE(DeleteFileA("out.wav")) << "output left open";
    }
}

/* Run by writer_check.py, which reads every file left in the folder with
   independent readers. Each line of manifest.txt: output, source, first
   frame and frame count. */
TEST_F(Writer, LeaveOutputsForIndependentCheck)
{
    const char *folder = getenv("PELNOR_WRITER_OUTDIR");
    if (!folder)
        GTEST_SKIP() << "PELNOR_WRITER_OUTDIR not set";
    ASSERT_TRUE(SetCurrentDirectoryA(folder));

    struct { const char *source; WORD channels; DWORD rate; WORD bits; size_t frames; } sources[] = {
        { "s16.wav", 2, 44100, 16, 44100 * 3 },
        { "m8.wav", 1, 11025, 8, 11025 * 2 },
        { "m24.wav", 1, 48000, 24, 48000 },
        { "s8.wav", 2, 22050, 8, 22050 },
    };
    struct { const char *out; int source; double start, end; int mode; } writes[] = {
        { "a.wav", 0, 0.0, 1.0, CreateMode },
        { "b.wav", 0, 0.33333, 2.71828, CreateMode },
        { "c.wav", 1, 0.0, 0.00127, CreateMode },
        { "c.wav", 1, 0.00127, 1.5, AppendMode },
        { "d.wav", 2, 0.2, 0.70001, CreateMode },
        { "e.wav", 3, 0.1, 0.3, CreateMode },
        { "e.wav", 3, 0.6, 0.9, AppendMode },
    };
    FILE *manifest = fopen("manifest.txt", "w");
    ASSERT_NE(nullptr, manifest);
    int opened = -1;
    for (const auto &w : writes)
    {
        const auto &s = sources[w.source];
        if (opened != w.source)
        {
            WORD align = (WORD)(s.channels * s.bits / 8);
            OpenSource(PcmWav(s.channels, s.rate, s.bits, PatternBytes(s.frames * align, w.source + 11)),
                       s.source);
            opened = w.source;
        }
        WriteSegment(w.out, w.start, w.end, w.mode);
        LONG first = SecondsToOffset(w.start) / WaveDocument.blockalign;
        LONG last = SecondsToOffset(w.end) / WaveDocument.blockalign;
        fprintf(manifest, "%s %s %ld %ld\n", w.out, s.source, first, last - first);
    }
    fclose(manifest);
    EXPECT_EQ(std::vector<std::string>(), BoxTexts());
}

/* Run by writer_check.py under a file-size limit, so that the output's
   writes really fail. Prints every box text and whether the format block
   is still held, for the script to check. */
TEST_F(Writer, WriteUnderFileSizeLimit)
{
    const char *source = getenv("PELNOR_FULLDISK_SOURCE");
    const char *output = getenv("PELNOR_FULLDISK_OUTPUT");
    const char *mode = getenv("PELNOR_FULLDISK_MODE");
    if (!source || !output || !mode)
        GTEST_SKIP() << "PELNOR_FULLDISK_SOURCE, _OUTPUT and _MODE not set";
    lstrcpynA(WaveDocument.DocumentPath, source, sizeof(WaveDocument.DocumentPath));
    ASSERT_EQ(1, OpenWaveFile());
    baseLive = FakeMemory.LiveGlobal.size();
    baseLocked = FakeMemory.LockedGlobal;

    WriteSegment(output, 0.0, 1.0, strcmp(mode, "create") == 0 ? CreateMode : AppendMode);

    for (const std::string &text : BoxTexts())
        printf("BOX:%s\n", text.c_str());
    printf("FORMAT:%s\n", WaveDocument.FormatBlock ? "kept" : "released");
    fflush(stdout);
    EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[0].Handle);
    EXPECT_EQ(baseLive, FakeMemory.LiveGlobal.size());
    HANDLE alone = CreateFileA(output, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_TRUE(alone != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
        << "output left open";
    if (alone != INVALID_HANDLE_VALUE)
        CloseHandle(alone);
}
