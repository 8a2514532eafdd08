#include "support/harness.h"
#include "support/wavbuild.h"
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"

static const char *const RepairQuestion = "WAVEファイルが壊れています。\n修復を試みますか？";

class OpenWave : public AppTest
{
protected:
    std::string Source;

    void TearDown() override
    {
        if (WaveDocument.ReadHandle)
            mmioClose(WaveDocument.ReadHandle, 0);
        WaveDocument.ReadHandle = NULL;
        ReleaseFormatBlock();
        AppTest::TearDown();
    }

    /* Writes the bytes as the document and opens it. */
    int OpenBytes(const Bytes &bytes)
    {
        Source = ScratchDir() + "\\source.wav";
        WriteBytes(Source, bytes);
        lstrcpynA(WaveDocument.DocumentPath, Source.c_str(), MAX_PATH);
        return OpenWaveFile();
    }
};

/* The one warning owned by the main window, and nothing left open. */
#define EXPECT_REFUSAL(...) CALLED_HERE(ExpectRefusal(__VA_ARGS__))
static void ExpectRefusal(int result, const char *message)
{
    EXPECT_EQ(0, result);
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(message, Boxes()[0].Text);
    EXPECT_TRUE(Boxes()[0].Warning);
    EXPECT_TRUE(Boxes()[0].Ok);
    EXPECT_FALSE(Boxes()[0].Yes);
    EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
    EXPECT_TRUE(WaveDocument.ReadHandle == NULL);
    EXPECT_TRUE(WaveDocument.FormatHandle == NULL);
    EXPECT_TRUE(WaveDocument.FormatBlock == NULL);
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
}

static Bytes StereoData(size_t n = 4000)
{
    return PatternBytes(n);
}

static Bytes Good(void)
{
    return PcmWav(2, 44100, 16, StereoData());
}

static Bytes WithFmt(const Bytes &fmt)
{
    return Riff("WAVE", { Chunk("fmt ", fmt), Chunk("data", StereoData()) });
}

/* A fmt header that claims more bytes than the file holds. */
static Bytes TruncatedFmt(void)
{
    Bytes file = { 'R', 'I', 'F', 'F' };
    PutLe32(file, 40);
    for (char c : std::string("WAVEfmt "))
        file.push_back(c);
    PutLe32(file, 100);
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    file.insert(file.end(), fmt.begin(), fmt.end());
    return file;
}

/* A data chunk whose size field claims more than the file holds. */
static Bytes DataClaiming(uint32_t size, size_t held = 64)
{
    Bytes file = PcmWav(2, 44100, 16, StereoData(held));
    for (size_t i = 0; i < 4; i++)
        file[40 + i] = (uint8_t)(size >> (8 * i));
    return file;
}

static Bytes WithRiffSize(Bytes file, uint32_t size)
{
    for (size_t i = 0; i < 4; i++)
        file[4 + i] = (uint8_t)(size >> (8 * i));
    return file;
}

static Bytes ResizedFmt(size_t size)
{
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    fmt.resize(size);
    return fmt;
}

static Bytes FmtWithZeroAt(size_t offset, size_t width)
{
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    for (size_t i = 0; i < width; i++)
        fmt[offset + i] = 0;
    return WithFmt(fmt);
}

TEST_F(OpenWave, CraftedFilesAreRefusedWithTheirMessage)
{
    struct Case { const char *name; Bytes file; const char *message; };
    const Case cases[] = {
        { "not RIFF", Bytes(200, 'x'), "指定したファイルは、RIFFファイルではありません。" },
        { "AVI with data", Riff("AVI ", { Chunk("LIST", Bytes(12, 0)), Chunk("data", Bytes(8, 1)) }),
          "指定したファイルは、WAVEファイルではありません。" },
        { "AVI without data", Riff("AVI ", { Chunk("LIST", Bytes(12, 0)) }),
          "RIFFファイルにデータ チャンクがありません。" },
        { "no fmt", Riff("WAVE", { Chunk("data", StereoData()) }), "WAVEファイルが壊れています。" },
        { "fmt read short", TruncatedFmt(), "形式チャンクを読み取れません。" },
        { "ADPCM", WithFmt(FmtRecord(2, 2, 44100, 4, 2048, 44359)),
          "指定したファイルは、PCMファイルではありません。" },
        { "MPEG layer 3", WithFmt(FmtRecord(85, 2, 44100, 0, 1, 16000)),
          "指定したファイルは、PCMファイルではありません。" },
        { "data before fmt",
          Riff("WAVE", { Chunk("data", StereoData()), Chunk("fmt ", FmtRecord(1, 2, 44100, 16)) }),
          "WAVEファイルにデータ チャンクがありません。" },
        { "no data", Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)) }),
          "WAVEファイルにデータ チャンクがありません。" },
        { "empty data", PcmWav(2, 44100, 16, Bytes()), "データ チャンクが空です。" },
        { "fmt of size 0", Riff("WAVE", { Chunk("fmt ", Bytes()), Chunk("data", StereoData()) }),
          "メモリのロックに失敗しました。" },
        { "fmt under 16 bytes", WithFmt(ResizedFmt(14)), "形式チャンクが短すぎます。" },
        { "fmt over 65535 bytes", WithFmt(ResizedFmt(65536)), "形式チャンクが大きすぎます。" },
        { "block align 0", FmtWithZeroAt(12, 2), "形式チャンクの値が不正です。" },
        { "byte rate 0", FmtWithZeroAt(8, 4), "形式チャンクの値が不正です。" },
        { "block align past 32767", WithFmt(FmtRecord(1, 2, 44100, 16, 0x8000, 176400)),
          "形式チャンクの値が不正です。" },
        { "RIFF past 2 GB, no fmt", WithRiffSize(Riff("WAVE", { Chunk("data", StereoData()) }), 0x80000000u),
          "WAVEファイルが壊れています。" },
        { "no channels", WithFmt(FmtRecord(1, 0, 44100, 16, 4, 176400)), "形式チャンクの値が不正です。" },
        { "no bits per sample", WithFmt(FmtRecord(1, 2, 44100, 0, 4, 176400)), "形式チャンクの値が不正です。" },
        { "sample rate 0", WithFmt(FmtRecord(1, 2, 0, 16, 4, 176400)), "形式チャンクの値が不正です。" },
        { "block align not the frame", WithFmt(FmtRecord(1, 2, 44100, 16, 3, 132300)),
          "形式チャンクの値が不正です。" },
        { "byte rate not rate by block", WithFmt(FmtRecord(1, 2, 44100, 16, 4, 661500000)),
          "形式チャンクの値が不正です。" },
        { "byte rate 0xFFFFFFFF", WithFmt(FmtRecord(1, 2, 44100, 16, 4, 0xFFFFFFFF)),
          "形式チャンクの値が不正です。" },
        { "9 channels", WithFmt(FmtRecord(1, 9, 44100, 16)), "チャンネル数が多すぎます。" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.name);
        ClearBoxes();
        EXPECT_REFUSAL(OpenBytes(c.file), c.message);
    }
}

/* The last byte of the data at the last position a signed 32-bit seek reaches */
TEST_F(OpenWave, DataEndingAt2GbOpens)
{
    EXPECT_EQ(1, OpenBytes(DataClaiming(0x7FFFFFFFu - 44)));
    EXPECT_TRUE(Boxes().empty());
}

/* Unfinished headers (arecord killed, ffmpeg or sox writing to a pipe, a
   data size announced in advance) give the whole blocks the file holds. */
TEST_F(OpenWave, UnfinishedHeadersOpenWithTheBlocksTheFileHolds)
{
    struct Case { uint32_t riff, data; size_t held; DWORD size; } cases[] = {
        { 0x80000024u, 0x80000000u, 4000, 4000 }, { 0xFFFFFFFFu, 0xFFFFFFFFu, 4000, 4000 },
        { 0x7FFFF024u, 0x7FFFF000u, 4002, 4000 }, { 0xFFFFFFFCu, 4000, 4000, 4000 } };
    for (const Case &c : cases)
    {
        Bytes file = WithRiffSize(DataClaiming(c.data, c.held), c.riff);
        EXPECT_EQ(1, OpenBytes(file)) << c.riff;
        EXPECT_EQ(c.size, WaveDocument.DataSize);
        EXPECT_EQ(file, ReadBytes(Source));
    }
    EXPECT_TRUE(Boxes().empty());
}

/* Too large is decided by what the file really holds. */
TEST_F(OpenWave, DataHeldPast2GbIsTooLarge)
{
    ASSERT_EQ(1, OpenBytes(DataClaiming(0xFFFFFFFFu, 4)));
    for (LONGLONG length : { 0x7FFFFFFFLL, 0x8000002CLL })     /* sparse */
    {
        CloseSourceFile();
        HANDLE file = CreateFileA(Source.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        LARGE_INTEGER at;
        at.QuadPart = length;
        ASSERT_TRUE(SetFilePointerEx(file, at, NULL, FILE_BEGIN) && SetEndOfFile(file) && CloseHandle(file));
        int opened = OpenWaveFile();
        if (length < 0x80000000LL)
            EXPECT_TRUE(opened && WaveDocument.DataSize == 0x7FFFFFD0u) << WaveDocument.DataSize;
        else
            EXPECT_REFUSAL(opened, "データ チャンクが大きすぎます。");
    }
}

TEST_F(OpenWave, MissingFileCannotBeOpened)
{
    snprintf(WaveDocument.DocumentPath, MAX_PATH, "%s\\absent.wav", ScratchDir().c_str());
    EXPECT_REFUSAL(OpenWaveFile(), "ファイルを開けません。");
}

TEST_F(OpenWave, DeviceAnswersAreReportedAndCloseTheDocument)
{
    struct Case { MMRESULT answer; const char *message; };
    const Case cases[] = {
        { MMSYSERR_BADDEVICEID, "範囲外のデバイスIDが指定されました。" },
        { MMSYSERR_ALLOCATED, "他のソフトが再生回路を使っています。" },
        { MMSYSERR_NOMEM, "メモリの割り当てができません。" },
        { WAVERR_BADFORMAT, "この形式を再生できるドライバがありません。" },
        { MMSYSERR_ERROR, "音声出力デバイスを開けません。" },
        { MMSYSERR_NODRIVER, "音声出力デバイスを開けません。" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.answer);
        ClearBoxes();
        FakeWave.Calls.clear();
        FakeWave.OpenResults.push_back(c.answer);
        EXPECT_REFUSAL(OpenBytes(Good()), c.message);
        EXPECT_EQ(1, FakeWaveCount("query"));
        EXPECT_EQ(0, FakeWaveCount("open"));
    }
}

TEST_F(OpenWave, MemoryRefusalsAreReported)
{
    struct Case { int allocAt, lockAt; const char *message; };
    const Case cases[] = {
        { 1, 0, "極度のメモリ不足です。" },
        { 0, 1, "メモリのロックに失敗しました。" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.message);
        ClearBoxes();
        FakeMemoryReset();
        FakeMemory.FailLocalAllocAt = c.allocAt;
        FakeMemory.FailLocalLockAt = c.lockAt;
        EXPECT_REFUSAL(OpenBytes(Good()), c.message);
    }
}

/* The device hears only about PCM formats, and its answer comes before
   the data chunk is looked for. */
TEST_F(OpenWave, DeviceIsAskedAfterThePcmCheckAndBeforeTheDataCheck)
{
    struct Case { const char *name; Bytes file; MMRESULT answer; const char *message; int queries; };
    const Case cases[] = {
        { "ADPCM", WithFmt(FmtRecord(2, 2, 44100, 4, 2048, 44359)), MMSYSERR_ALLOCATED,
          "指定したファイルは、PCMファイルではありません。", 0 },
        { "no data", Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)) }), MMSYSERR_ALLOCATED,
          "他のソフトが再生回路を使っています。", 1 },
        { "empty data", PcmWav(2, 44100, 16, Bytes()), MMSYSERR_ALLOCATED,
          "他のソフトが再生回路を使っています。", 1 },
        { "48 channels", WithFmt(FmtRecord(1, 48, 44100, 16)), MMSYSERR_NOERROR, "チャンネル数が多すぎます。", 0 },
        { "no channels", WithFmt(FmtRecord(1, 0, 44100, 16, 4, 176400)), MMSYSERR_NOERROR,
          "形式チャンクの値が不正です。", 0 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.name);
        ClearBoxes();
        FakeWave.Calls.clear();
        FakeWave.OpenResults.assign(1, c.answer);
        EXPECT_REFUSAL(OpenBytes(c.file), c.message);
        EXPECT_EQ(c.queries, FakeWaveCount("query"));
    }
}

TEST_F(OpenWave, RefusedAt48000OpensAt44100AndKeepsTheFileRate)
{
    FakeWave.RefusedRates.insert(48000);
    ASSERT_EQ(1, OpenBytes(PcmWav(2, 48000, 16, StereoData())));
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(2u, FakeWave.Calls.size());
    EXPECT_EQ(48000u, FakeWave.Calls[0].Rate);
    EXPECT_EQ(44100u, FakeWave.Calls[1].Rate);
    EXPECT_EQ(48000u, WaveDocument.FormatBlock->nSamplesPerSec);
    EXPECT_EQ(48u, WaveDocument.KiloHertz);
}

TEST_F(OpenWave, RefusedAgainAt44100HasNoDriver)
{
    FakeWave.RefusedRates = { 48000, 44100 };
    EXPECT_REFUSAL(OpenBytes(PcmWav(2, 48000, 16, StereoData())),
                   "この形式を再生できるドライバがありません。");
    EXPECT_EQ(2, FakeWaveCount("query"));
}

TEST_F(OpenWave, OtherRatesAreNotAskedTwice)
{
    FakeWave.RefusedRates.insert(22050);
    EXPECT_REFUSAL(OpenBytes(PcmWav(1, 22050, 8, StereoData())),
                   "この形式を再生できるドライバがありません。");
    EXPECT_EQ(1, FakeWaveCount("query"));
}

TEST_F(OpenWave, DerivedValuesFollowTheFormat)
{
    struct Case { WORD channels; DWORD rate; WORD bits; DWORD code, kHz; short align; DWORD perSec; };
    const Case cases[] = {
        { 2, 44100, 16, 3, 44, 4, 176400 },
        { 1, 44100, 8, 0, 44, 1, 44100 },
        { 1, 22050, 16, 1, 22, 2, 44100 },
        { 2, 11025, 8, 2, 11, 2, 22050 },
        { 2, 48000, 16, 3, 48, 4, 192000 },
        { 1, 8000, 8, 0, 8, 1, 8000 },
        { 8, 48000, 16, 0, 48, 16, 768000 },
        { 1, 96000, 12, 0, 96, 2, 192000 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.rate << " Hz " << c.bits << " bit");
        ASSERT_EQ(1, OpenBytes(PcmWav(c.channels, c.rate, c.bits, StereoData(3000))));
        EXPECT_EQ(c.code, WaveDocument.ChannelCode);
        EXPECT_EQ(c.kHz, WaveDocument.KiloHertz);
        EXPECT_EQ(c.align, WaveDocument.blockalign);
        EXPECT_EQ(c.perSec, WaveDocument.BytesPerSec);
        EXPECT_EQ(c.bits, WaveDocument.DrawBits);
        EXPECT_EQ(1, WaveDocument.FormatTag);
        EXPECT_EQ(3000u, WaveDocument.DataSize);
        EXPECT_EQ(3000u, WaveDocument.BytesLeft);
        EXPECT_EQ(44u, WaveDocument.DataChunk.dwDataOffset);
        EXPECT_EQ(44, mmioSeek(WaveDocument.ReadHandle, 0, SEEK_CUR));
    }
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(1u, FakeMemory.LiveLocal.size());
}

TEST_F(OpenWave, ClassifyFormatCodesOtherDepthsAndChannelCounts)
{
    struct Case { WORD channels, bits; DWORD code; };
    const Case cases[] = { { 2, 24, 2 }, { 1, 24, 0 }, { 3, 16, 0 }, { 6, 8, 0 }, { 2, 32, 2 } };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.bits << " bit");
        WAVEFORMATEX format = { WAVE_FORMAT_PCM, c.channels, 96000, 0, 0, c.bits, 0 };
        format.nBlockAlign = (WORD)(c.channels * c.bits / 8);
        format.nAvgBytesPerSec = 96000 * format.nBlockAlign;
        ClassifyFormat(&format);
        EXPECT_EQ(c.code, WaveDocument.ChannelCode);
        EXPECT_EQ(96u, WaveDocument.KiloHertz);
        EXPECT_EQ(c.bits, WaveDocument.DrawBits);
    }
}

TEST_F(OpenWave, FormatBlockCopiesTheChunkAndEndsInAZeroExtraSize)
{
    ASSERT_EQ(1, OpenBytes(Good()));
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    EXPECT_EQ(0, memcmp(fmt.data(), WaveDocument.FormatBlock, fmt.size()));
    EXPECT_GE(LocalSize(WaveDocument.FormatHandle), sizeof(WAVEFORMATEX));
    EXPECT_EQ(0, WaveDocument.FormatBlock->cbSize);
}

TEST_F(OpenWave, ChunksBeforeTheDataAreSkipped)
{
    Bytes fmt = FmtRecord(1, 2, 44100, 16);
    Bytes samples = StereoData(1000);
    Bytes file = Riff("WAVE", { Chunk("fmt ", fmt), Chunk("fact", Bytes(4, 7)),
                                Chunk("LIST", Bytes(5, 'i')), Chunk("data", samples) });
    ASSERT_EQ(1, OpenBytes(file));
    DWORD expected = 12 + (8 + 16) + (8 + 4) + (8 + 6) + 8;
    EXPECT_EQ(expected, WaveDocument.DataChunk.dwDataOffset);
    EXPECT_EQ(1000u, WaveDocument.DataSize);
    char first[16];
    ASSERT_EQ(16, mmioRead(WaveDocument.ReadHandle, first, sizeof(first)));
    EXPECT_EQ(0, memcmp(samples.data(), first, sizeof(first)));
}

TEST_F(OpenWave, EmptyPathLeavesAnOpenDocumentAsItWas)
{
    ASSERT_EQ(1, OpenBytes(Good()));
    HMMIO handle = WaveDocument.ReadHandle;
    HLOCAL format = WaveDocument.FormatHandle;
    WaveDocument.DocumentPath[0] = '\0';
    EXPECT_EQ(0, OpenWaveFile());
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("ファイル名が未入力。", Boxes()[0].Text);
    EXPECT_TRUE(Boxes()[0].Warning);
    EXPECT_EQ(handle, WaveDocument.ReadHandle);
    EXPECT_EQ(format, WaveDocument.FormatHandle);
    EXPECT_EQ(4000u, WaveDocument.DataSize);
}

TEST_F(OpenWave, ReopeningStartsAfreshAndHoldsOneFormatBlock)
{
    ASSERT_EQ(1, OpenBytes(Good()));
    ASSERT_EQ(1, OpenBytes(PcmWav(1, 8000, 8, StereoData(500))));
    EXPECT_EQ(500u, WaveDocument.DataSize);
    EXPECT_EQ(8u, WaveDocument.KiloHertz);
    EXPECT_EQ(1u, FakeMemory.LiveLocal.size());
}

TEST_F(OpenWave, FailedReopenReleasesTheEarlierFormatBlock)
{
    ASSERT_EQ(1, OpenBytes(Good()));
    ClearBoxes();
    EXPECT_REFUSAL(OpenBytes(Bytes(100, 'x')),
                   "指定したファイルは、RIFFファイルではありません。");
    EXPECT_EQ(0u, WaveDocument.DataSize);
}

TEST_F(OpenWave, RealDeviceAcceptsCdFormat)
{
    FakeWaveReset(false);
    ASSERT_EQ(1, OpenBytes(Good())) << (Boxes().empty() ? "" : Boxes()[0].Text);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(FakeWave.Calls.empty());
    EXPECT_EQ(3u, WaveDocument.ChannelCode);
}

/* Wine's device query ends the process for 48 channels: it is never asked. */
TEST_F(OpenWave, RealDeviceIsNotAskedAboutManyChannels)
{
    FakeWaveReset(false);
    EXPECT_REFUSAL(OpenBytes(WithFmt(FmtRecord(1, 48, 44100, 16))), "チャンネル数が多すぎます。");
}

static Bytes ZeroSized(const Bytes &file, size_t dataSizeAt)
{
    Bytes broken = file;
    for (size_t i = 0; i < 4; i++)
        broken[4 + i] = broken[dataSizeAt + i] = 0;
    return broken;
}

TEST_F(OpenWave, DeclinedRepairLeavesTheFileUntouched)
{
    Bytes broken = ZeroSized(PcmWav(2, 44100, 16, StereoData(1000)), 40);
    QueueBoxAnswer(IDNO);
    EXPECT_EQ(0, OpenBytes(broken));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(RepairQuestion, Boxes()[0].Text);
    EXPECT_TRUE(Boxes()[0].Yes);
    EXPECT_TRUE(Boxes()[0].No);
    EXPECT_FALSE(Boxes()[0].Warning);
    EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
    EXPECT_TRUE(WaveDocument.ReadHandle == NULL);
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    EXPECT_EQ(broken, ReadBytes(Source));
}

TEST_F(OpenWave, AcceptedRepairOpensTheRepairedFileWithoutAskingAgain)
{
    Bytes good = PcmWav(2, 44100, 16, StereoData(1000));
    QueueBoxAnswer(IDYES);
    EXPECT_EQ(1, OpenBytes(ZeroSized(good, 40)));
    EXPECT_EQ(std::vector<std::string>{ RepairQuestion }, BoxTexts());
    EXPECT_EQ(good, ReadBytes(Source));
    EXPECT_EQ(1000u, WaveDocument.DataSize);
    EXPECT_TRUE(WaveDocument.ReadHandle != NULL);
}

TEST_F(OpenWave, FailedRepairIsReported)
{
    Bytes broken = ZeroSized(Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 2, 44100, 16)),
                                            Chunk("LIST", Bytes(8, 0)), Chunk("data", StereoData(100)) }),
                             56);
    QueueBoxAnswer(IDYES);
    EXPECT_EQ(0, OpenBytes(broken));
    ASSERT_EQ(2u, Boxes().size());
    EXPECT_EQ(RepairQuestion, Boxes()[0].Text);
    EXPECT_EQ("修復失敗", Boxes()[1].Text);
    EXPECT_TRUE(Boxes()[1].Warning);
    EXPECT_EQ(App.MainWindow, Boxes()[1].Owner);
    EXPECT_TRUE(WaveDocument.ReadHandle == NULL);
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    EXPECT_EQ(broken, ReadBytes(Source));
}
