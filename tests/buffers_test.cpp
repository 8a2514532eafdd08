#include "support/harness.h"
#include "support/wavbuild.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"

static WAVEFORMATEX Format(DWORD rate, DWORD bytesPerSec, WORD align)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = bytesPerSec;
    format.nBlockAlign = align;
    return format;
}

TEST(BufferSize, FollowsTheByteRateOfEachFormatFamily)
{
    struct { DWORD rate, bps; short align; DWORD expected; } cases[] = {
        { 44100, 176400, 4, 131072 },   /* 16-bit stereo */
        { 22050, 22050, 1, 16384 },     /* 8-bit mono */
        { 48000, 192000, 4, 196608 },
        { 16000, 32000, 2, 32768 },
        { 12000, 12000, 1, 12288 },     /* the 8000 family */
        { 11025, 11025, 1, 8192 },
        { 8000, 8000, 1, 8192 },
        { 11111, 33333, 3, 34134 },     /* 34133 cut to 34131, odd, one block more */
        { 9001, 27003, 3, 27651 },      /* already whole blocks: kept although odd */
        { 9001, 9001, 1, 9217 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.bps);
        ResetProgramState();
        WaveDocument.blockalign = c.align;
        WAVEFORMATEX format = Format(c.rate, c.bps, c.align);
        ComputeBufferSize(&format);
        EXPECT_EQ(c.expected, PlaybackState.BytesPerBuffer);
        EXPECT_EQ(0u, PlaybackState.BytesPerBuffer % c.align);
    }
}

TEST(BufferSize, CountsTheBlocksFromPlayStartToSegmentEnd)
{
    struct { LONG start, end; short align; LONG expected; } cases[] = {
        { 400, 400, 4, 0 },
        { 0, 176400, 4, 44100 },
        { 400, 40000, 4, 9900 },
        { 3, 30, 3, 9 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.end);
        ResetProgramState();
        WaveDocument.blockalign = c.align;
        PlaybackState.PlayStart = c.start;
        PlaybackState.SegmentEnd = c.end;
        WAVEFORMATEX format = Format(44100, 176400, 4);
        ComputeBufferSize(&format);
        EXPECT_EQ(c.expected, PlaybackState.RemainingBlocks);
    }
}

TEST(BufferSize, ZeroBlockAlignKeepsTheRawLengthAndCountsNoBlocks)
{
    ResetProgramState();
    WaveDocument.blockalign = 0;
    PlaybackState.SegmentEnd = 1000;
    WAVEFORMATEX format = Format(44100, 176400, 0);
    ComputeBufferSize(&format);
    EXPECT_EQ(131072u, PlaybackState.BytesPerBuffer);
    EXPECT_EQ(0, PlaybackState.RemainingBlocks);
}

TEST(BufferSize, NeverShrinksBelowOneBlock)
{
    ResetProgramState();
    WaveDocument.blockalign = 8;
    WAVEFORMATEX format = Format(1, 2, 8);
    ComputeBufferSize(&format);
    EXPECT_EQ(8u, PlaybackState.BytesPerBuffer);
}

class Buffers : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        PlaybackState.BytesPerBuffer = 8192;
        WaveDocument.DrawBits = 16;
        baseLive = FakeMemory.LiveGlobal.size();
        baseLocked = FakeMemory.LockedGlobal;
    }

    /* a real source handle, so that its closing can be seen */
    void OpenSource()
    {
        WriteBytes("source.wav", PcmWav(1, 8000, 8, PatternBytes(100)));
        char path[] = "source.wav";
        WaveDocument.ReadHandle = mmioOpenA(path, NULL, MMIO_READ | MMIO_ALLOCBUF);
        ASSERT_NE(nullptr, WaveDocument.ReadHandle);
    }

    void ExpectSlotsEmpty()
    {
        for (int i = 0; i < 2; i++)
        {
            EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[i].Handle) << i;
            EXPECT_EQ(nullptr, PlaybackState.AudioBuffers[i].Data) << i;
        }
    }

    void ExpectAllReleased()
    {
        ExpectSlotsEmpty();
        EXPECT_EQ(baseLive, FakeMemory.LiveGlobal.size());
        EXPECT_EQ(baseLocked, FakeMemory.LockedGlobal);
    }

    size_t baseLive;
    int baseLocked;
};

TEST_F(Buffers, StartAsSilenceOfTheSampleWidth)
{
    struct { DWORD bits; BYTE silence; } cases[] = { { 16, 0x00 }, { 8, 0x80 }, { 24, 0x80 } };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.bits);
        WaveDocument.DrawBits = c.bits;
        ASSERT_EQ(1, AllocPlayBuffers());
        for (int i = 0; i < 2; i++)
        {
            const BYTE *data = PlaybackState.AudioBuffers[i].Data;
            ASSERT_NE(nullptr, data);
            EXPECT_EQ(8192u, GlobalSize(PlaybackState.AudioBuffers[i].Handle));
            size_t wrong = 0;
            for (DWORD k = 0; k < 8192; k++)
                wrong += data[k] != c.silence;
            EXPECT_EQ(0u, wrong) << "buffer " << i;
        }
        EXPECT_EQ(baseLive + 2, FakeMemory.LiveGlobal.size());
        FreePlayBuffers();
        ExpectAllReleased();
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Buffers, FailureReleasesWhatWasTakenAndClosesTheSource)
{
    struct { int allocAt, lockAt; const char *message; } cases[] = {
        { 1, 0, "メモリ不足です。" },
        { 2, 0, "メモリ不足です。" },
        { 0, 1, "データ チャンクのロックに失敗しました。0 8192" },
        { 0, 2, "データ チャンクのロックに失敗しました。1 8192" },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.message);
        SCOPED_TRACE(c.allocAt + c.lockAt);
        OpenSource();
        ClearBoxes();
        FakeMemory.GlobalAllocs = FakeMemory.GlobalLocks = 0;
        FakeMemory.FailGlobalAllocAt = c.allocAt;
        FakeMemory.FailGlobalLockAt = c.lockAt;

        EXPECT_EQ(0, AllocPlayBuffers());

        FakeMemory.FailGlobalAllocAt = FakeMemory.FailGlobalLockAt = 0;
        ASSERT_EQ(1u, Boxes().size());
        EXPECT_EQ(c.message, Boxes()[0].Text);
        EXPECT_TRUE(Boxes()[0].Warning);
        EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
        EXPECT_EQ(nullptr, WaveDocument.ReadHandle);
        ExpectAllReleased();
    }
}

TEST_F(Buffers, ReleaseProblemsAreShownAndTheSlotsClearedAnyway)
{
    struct { bool unlock, free; std::vector<std::string> boxes; } cases[] = {
        { true, false, { "GlobalUnlock", "GlobalUnlock" } },
        { false, true, { "GlobalFree", "GlobalFree" } },
        { true, true, { "GlobalUnlock", "GlobalFree", "GlobalUnlock", "GlobalFree" } },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.boxes.size());
        ASSERT_EQ(1, AllocPlayBuffers());
        ClearBoxes();
        FakeMemory.FailGlobalUnlock = c.unlock;
        FakeMemory.FailGlobalFree = c.free;

        FreePlayBuffers();

        FakeMemory.FailGlobalUnlock = FakeMemory.FailGlobalFree = false;
        EXPECT_EQ(c.boxes, BoxTexts());
        for (const BoxSeen &box : Boxes())
        {
            EXPECT_FALSE(box.Warning);
            EXPECT_TRUE(box.Ok);
            EXPECT_EQ(App.MainWindow, box.Owner);
        }
        ExpectAllReleased();
    }
}
