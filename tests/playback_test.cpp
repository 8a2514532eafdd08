/* Streaming playback against the device double: which buffer is queued,
   with how many bytes and which mark, and the exact byte stream the
   device receives. Sources are 8000 Hz 8-bit mono unless said otherwise,
   so one buffer holds 8192 bytes. */
#include "support/seghelp.h"
#include "support/wavbuild.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

namespace {

const DWORD Unit = 8192;

struct Queued
{
    int   Buffer;          /* which of the two headers */
    DWORD Length;
    DWORD Index;           /* low 16 bits of dwUser */
    bool  Marked;
};

bool operator==(const Queued &a, const Queued &b)
{
    return a.Buffer == b.Buffer && a.Length == b.Length && a.Index == b.Index && a.Marked == b.Marked;
}

std::ostream &operator<<(std::ostream &out, const Queued &q)
{
    return out << "{buffer " << q.Buffer << ", " << q.Length << " bytes, index " << q.Index
               << (q.Marked ? ", marked}" : "}");
}

/* The successful writes from call number `from` on. */
std::vector<Queued> WritesFrom(size_t from)
{
    std::vector<Queued> writes;
    for (const FakeWaveCall &call : FakeWaveCallsFrom(from))
        if (call.What == "write" && call.Result == MMSYSERR_NOERROR)
            writes.push_back({ call.Header == PlaybackState.WaveHeaders[0] ? 0 : 1, call.Length,
                               (DWORD)(call.User & 0xFFFF), (call.User & LastBufferMark) != 0 });
    return writes;
}

std::vector<std::string> CallNamesFrom(size_t from)
{
    std::vector<std::string> names;
    for (const FakeWaveCall &call : FakeWaveCallsFrom(from))
        names.push_back(call.What);
    return names;
}

Bytes Slice(const Bytes &data, size_t from, size_t to)
{
    return Bytes(data.begin() + from, data.begin() + to);
}

/* What a looping playback sends: [first, end), then [start, end) again
   and again, cut to `total` bytes. */
Bytes LoopStream(const Bytes &data, size_t first, size_t start, size_t end, size_t total)
{
    Bytes out;
    size_t at = first;
    while (out.size() < total)
    {
        out.push_back(data[at++]);
        if (at == end)
            at = start;
    }
    return out;
}

#define EXPECT_BYTES(...) CALLED_HERE(ExpectBytes(__VA_ARGS__))
void ExpectBytes(const Bytes &expected, const std::vector<BYTE> &actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); i++)
        if (expected[i] != actual[i])
            FAIL() << "first difference at byte " << i;
}

void Complete(int times = 1)
{
    for (int i = 0; i < times; i++)
    {
        ASSERT_TRUE(FakeWaveComplete()) << "nothing queued at completion " << i + 1;
        PumpMessages();
    }
}

class Playback : public AppTest
{
protected:
    Bytes  Data;
    size_t GlobalBefore = 0;

    void Load(size_t bytes, uint32_t rate = 8000, uint16_t bits = 8, uint16_t channels = 1)
    {
        Data = PatternBytes(bytes);
        WriteSource(PcmWav(channels, rate, bits, Data));
    }

    void WriteSource(const Bytes &file)
    {
        LoadBytes("source.wav", file);
        PumpMessages();
        GlobalBefore = FakeMemory.LiveGlobal.size();
    }

    void SetLoop(int on)
    {
        if (App.LoopFlag != on)
            SendCommand(IDM_LOOP);
        ASSERT_EQ(on, App.LoopFlag);
    }

    void Play()
    {
        SendCommand(IDM_PLAY);
        PumpMessages();
    }

    /* Two rows: [0, split) and [split, end) in seconds of the 8000-byte/s source. */
    void SplitRows(const char *split, const char *end)
    {
        LVITEMA item = {};
        char name[] = "source-2";
        SetRowText(0, COL_END, split);
        item.mask = LVIF_TEXT;
        item.iItem = 1;
        item.pszText = name;
        SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&item);
        SetRowText(1, COL_START, split);
        SetRowText(1, COL_END, end);
        PumpMessages();
    }


#define EXPECT_PLAYING_CONTROLS() CALLED_HERE(ExpectPlayingControls())
    void ExpectPlayingControls(void)
    {
        EXPECT_EQ(1, PlaybackState.Playing);
        EXPECT_TRUE(FakeWave.IsOpen);
        EXPECT_COMMANDS({ { IDM_PLAY, false }, { IDM_OPEN, false }, { IDM_STOP, true } });
        EXPECT_FALSE(MenuEnabled(IDM_SAVE));
    }

    /* Idle, device closed without ever being refused a close, buffers given back. */
#define EXPECT_IDLE() CALLED_HERE(ExpectIdle())
    void ExpectIdle(void)
    {
        EXPECT_EQ(0, PlaybackState.Playing);
        EXPECT_FALSE(FakeWave.IsOpen);
        EXPECT_TRUE(FakeWave.Queue.empty());
        EXPECT_EQ(0, FakeWave.ClosedWhileQueued);
        EXPECT_EQ(NULL, PlaybackState.OutputDevice);
        EXPECT_EQ(NULL, PlaybackState.AudioBuffers[0].Handle);
        EXPECT_EQ(NULL, PlaybackState.AudioBuffers[1].Handle);
        EXPECT_EQ(GlobalBefore, FakeMemory.LiveGlobal.size());
        EXPECT_COMMANDS({ { IDM_PLAY, true }, { IDM_OPEN, true }, { IDM_STOP, false } });
    }
#define EXPECT_JUMP_PLAYS_SECOND_ROW_TO_ITS_END(...) CALLED_HERE(ExpectJumpPlaysSecondRowToItsEnd(__VA_ARGS__))
    void ExpectJumpPlaysSecondRowToItsEnd(bool (*waiting)(void));
};

TEST_F(Playback, ShortRangeWithoutLoopQueuesBufferZeroAloneMarkedAndEndsOnItsReturn)
{
    Load(3000);
    SetLoop(0);
    Play();

    std::vector<Queued> expected = { { 0, 3000, 0, true } };
    EXPECT_EQ(expected, WritesFrom(0));
    EXPECT_BYTES(Data, FakeWave.Received);
    EXPECT_PLAYING_CONTROLS();

    Complete();
    EXPECT_EQ(expected, WritesFrom(0));
    EXPECT_IDLE();
    EXPECT_EQ("close", FakeWave.Calls.back().What);
}

TEST_F(Playback, ShortRangeWithLoopQueuesBothBuffersMarkedAndRepeatsWithoutGap)
{
    Load(3000);
    Play();

    std::vector<Queued> expected = { { 0, 3000, 0, true }, { 1, 3000, 1, true } };
    EXPECT_EQ(expected, WritesFrom(0));

    Complete(6);
    for (int i = 0; i < 6; i++)
        expected.push_back({ i % 2, 3000, (DWORD)(i % 2), true });
    EXPECT_EQ(expected, WritesFrom(0));
    EXPECT_BYTES(LoopStream(Data, 0, 0, 3000, 8 * 3000), FakeWave.Received);
    EXPECT_PLAYING_CONTROLS();
}

TEST_F(Playback, RangeOfExactlyTwoBuffersWithoutLoopMarksBufferOne)
{
    Load(2 * Unit);
    SetLoop(0);
    Play();

    std::vector<Queued> expected = { { 0, Unit, 0, false }, { 1, Unit, 1, true } };
    EXPECT_EQ(expected, WritesFrom(0));

    Complete();
    EXPECT_EQ(expected, WritesFrom(0)) << "buffer 0 is not queued again";
    EXPECT_PLAYING_CONTROLS();

    Complete();
    EXPECT_IDLE();
    EXPECT_BYTES(Data, FakeWave.Received);
}

TEST_F(Playback, EmptyFirstPassQueuesNothingAndStopStaysOnUntilPressed)
{
    for (int loop = 0; loop <= 1; loop++)
    {
        SCOPED_TRACE(loop ? "looping" : "not looping");
        Load(3000);
        SetLoop(loop);
        PlaybackState.PlayStart = PlaybackState.SegmentEnd;
        size_t from = FakeWave.Calls.size();
        Play();

        EXPECT_TRUE(WritesFrom(from).empty());
        EXPECT_TRUE(FakeWave.Queue.empty());
        EXPECT_PLAYING_CONTROLS();

        SendCommand(IDM_STOP);
        PumpMessages();
        EXPECT_IDLE();
    }
}

TEST_F(Playback, PlayStartsAtThePressedPositionAndLaterPassesAtTheSegmentStart)
{
    Load(3000);
    PlaybackState.PlayStart = 1000;
    Play();

    std::vector<Queued> expected = { { 0, 2000, 0, true }, { 1, 3000, 1, true } };
    EXPECT_EQ(expected, WritesFrom(0));
    Complete(3);
    EXPECT_BYTES(LoopStream(Data, 1000, 0, 3000, 2000 + 4 * 3000), FakeWave.Received);
}

/* Passes that do not divide into buffers, and passes that end exactly
   on a buffer's end (a segment of two buffers, a first pass of one). The
   device hears the segment repeated exactly, a buffer is marked just when
   its chunk ends a pass, the cursor stands at the start of the buffer now
   playing, and Loop switched off at once ends the sound with the pass. */
TEST_F(Playback, LoopingSendsTheSegmentRepeatedAndMarksEachPassEnd)
{
    const struct { size_t Bytes, Start, End, First; } cases[] = {
        { 30000, 5000, 25000, 5000 }, { 2 * Unit, 0, 2 * Unit, 0 }, { 20000, 0, 20000, 20000 - Unit },
    };
    for (const auto &c : cases)
        for (int loopOff = 0; loopOff <= 1; loopOff++)
        {
            SCOPED_TRACE(testing::Message() << c.End - c.Start << " from " << c.First << " " << loopOff);
            Load(c.Bytes);
            if (c.Start > 0)
            {
                SplitRows("0.62500", "3.12500");
                SelectOnly(1);
                PumpMessages();
            }
            PlaybackState.PlayStart = (LONG)c.First;
            size_t from = FakeWave.Calls.size(), heard = FakeWave.Received.size();
            size_t span = c.End - c.Start, first = c.End - c.First, played = 0;
            SetLoop(1);
            Play();
            SetLoop(!loopOff);
            for (int i = 0; i < 40 && FakeWave.IsOpen; i++)
            {
                played += FakeWave.Queue.front()->dwBufferLength;
                Complete();
                size_t playing = played < first ? c.First + played : c.Start + (played - first) % span;
                if (FakeWave.IsOpen)
                {
                    ASSERT_EQ((LONG)(c.End - playing) / PlaybackState.BlocksPerColumn, PlaybackState.CursorColumn);
                }
            }
            if (loopOff)
            {
                EXPECT_EQ(first, played);
                EXPECT_IDLE();
                continue;
            }
            std::vector<BYTE> after(FakeWave.Received.begin() + heard, FakeWave.Received.end());
            EXPECT_BYTES(LoopStream(Data, c.First, c.Start, c.End, after.size()), after);
            EXPECT_GT(after.size(), 10 * span);
            size_t at = 0;
            for (const Queued &q : WritesFrom(from))
            {
                at += q.Length;
                EXPECT_EQ(at >= first && (at - first) % span == 0, q.Marked) << "write ending at " << at;
            }
            SendCommand(IDM_STOP);
        }
}

TEST_F(Playback, LoopSwitchedOffEndsThePlaybackAtTheNextPassEnd)
{
    Load(20000);
    Play();
    Complete(3);
    SetLoop(0);
    Complete(3);

    EXPECT_IDLE();
    EXPECT_BYTES(LoopStream(Data, 0, 0, 20000, 40000), FakeWave.Received);
    EXPECT_EQ(0, FakeWaveCount("reset"));
}

/* Here the buffer after the pass end already holds the next pass: it is
   taken back from the device before the device closes. */
TEST_F(Playback, LoopSwitchedOffWithTheNextPassQueuedTakesItBackBeforeClosing)
{
    Load(20000);
    Play();
    Complete(1);
    SetLoop(0);
    Complete(1);
    size_t from = FakeWave.Calls.size();
    Complete(1);

    std::vector<std::string> expected = { "unprepare", "reset", "unprepare", "close" };
    EXPECT_EQ(expected, CallNamesFrom(from));
    EXPECT_IDLE();
    PumpMessages();
    EXPECT_EQ(expected, CallNamesFrom(from)) << "the reset's notification changes nothing";
}

TEST_F(Playback, LoopSwitchedOnAfterTheLastChunkDoesNotReviveThePlayback)
{
    Load(20000);
    SetLoop(0);
    Play();
    Complete(1);
    SetLoop(1);
    Complete(2);

    EXPECT_TRUE(FakeWave.Queue.empty());
    EXPECT_BYTES(Data, FakeWave.Received);
    EXPECT_PLAYING_CONTROLS();

    SendCommand(IDM_STOP);
    PumpMessages();
    EXPECT_IDLE();
}

TEST_F(Playback, SelectingAnotherRowWhilePlayingRefillsBothBuffersFromItsStart)
{
    Load(30000);
    SplitRows("1.25000", "3.75000");
    Play();
    Complete(1);
    size_t from = FakeWave.Calls.size();
    size_t heard = FakeWave.Received.size();

    SelectOnly(1);
    PumpMessages();

    ASSERT_EQ(10000, PlaybackState.SegmentStart);
    std::vector<Queued> expected = { { 1, Unit, 1, false }, { 0, Unit, 0, false } };
    EXPECT_EQ(expected, WritesFrom(from));
    EXPECT_EQ(1, FakeWaveCount("reset"));    /* one seek for one selection change */
    EXPECT_EQ(0, FakeWaveCount("close"));
    EXPECT_PLAYING_CONTROLS();
    std::vector<BYTE> after(FakeWave.Received.begin() + heard, FakeWave.Received.end());
    EXPECT_BYTES(Slice(Data, 10000, 10000 + 2 * Unit), after);
    EXPECT_EQ(0, PlaybackState.CursorSkip);
    EXPECT_EQ((LONG)(20000 - Unit), PlaybackState.RemainingBlocks)
        << "one of the two cursor updates is skipped";
}

/* A jump to row 1 of a non-looping playback, at the moment the test's
   wait returns: both buffers are queued again and row 1 plays to its end. */
void Playback::ExpectJumpPlaysSecondRowToItsEnd(bool (*waiting)(void))
{
    Load(30000);
    SplitRows("1.25000", "3.75000");
    SetLoop(0);
    Play();
    while (waiting())
    {
        FakeWaveComplete();
        PumpMessages();
    }
    ASSERT_TRUE(PlaybackState.Playing);
    size_t heard = FakeWave.Received.size();

    SelectOnly(1);
    PumpMessages();
    PumpMessages();

    EXPECT_EQ(2u, FakeWave.Queue.size());
    while (FakeWave.IsOpen && FakeWaveComplete())
        PumpMessages();
    ExpectIdle();
    std::vector<BYTE> after(FakeWave.Received.begin() + heard, FakeWave.Received.end());
    ExpectBytes(Slice(Data, 10000, 30000), after);
    EXPECT_EQ(0, FakeWave.ClosedWhileQueued);
}

/* After the end was read: the marks of the thrown-away sound do not end
   the playback early. */
TEST_F(Playback, SelectingAnotherRowAfterTheLastChunkPlaysTheNewSegmentToItsEnd)
{
    EXPECT_JUMP_PLAYS_SECOND_ROW_TO_ITS_END([] { return !PlaybackState.LastChunk; });
}

/* After a buffer came back with nothing left to play, only one is queued;
   the jump queues both again. */
TEST_F(Playback, SelectingAnotherRowWithOneBufferLeftQueuesBothAgain)
{
    EXPECT_JUMP_PLAYS_SECOND_ROW_TO_ITS_END([] { return FakeWave.Queue.size() == 2; });
}

TEST_F(Playback, NotificationsLeftByStopChangeNothing)
{
    Load(20000);
    Play();
    Complete(2);
    size_t from = FakeWave.Calls.size();

    SendCommand(IDM_STOP);
    std::vector<std::string> expected = { "reset", "unprepare", "unprepare", "close" };
    EXPECT_EQ(expected, CallNamesFrom(from));
    PumpMessages();

    EXPECT_EQ(expected, CallNamesFrom(from));
    EXPECT_IDLE();
    EXPECT_EQ(1, PlaybackState.Stopping);
}

/* An edit below version 5.0 stops and restarts at once, without letting
   the stop's notifications through first. */
TEST_F(Playback, NotificationsOfAStopDoNotReachAPlaybackStartedAtOnce)
{
    Load(40000);
    Play();
    Complete(1);

    SendCommand(IDM_STOP);
    size_t from = FakeWave.Calls.size();
    size_t heard = FakeWave.Received.size();
    SendCommand(IDM_PLAY);
    PumpMessages();

    std::vector<Queued> expected = { { 0, Unit, 0, false }, { 1, Unit, 1, false } };
    EXPECT_EQ(expected, WritesFrom(from)) << "no refill before the device gave anything back";
    ASSERT_EQ(2u, FakeWave.Queue.size());

    Complete(3);
    std::vector<BYTE> after(FakeWave.Received.begin() + heard, FakeWave.Received.end());
    EXPECT_BYTES(Slice(Data, 0, 40000), after);
    EXPECT_EQ((LONG)(40000 - 4 * Unit), PlaybackState.RemainingBlocks)
        << "the cursor moved at the start and once per real return";
}

void PressDivide(void) { SendCommand(IDM_DIVIDE); }
void PressJoin(void) { SendCommand(IDM_JOIN); }
void RightPressInGraph(void) { SendMessageA(App.WaveView, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(200, 5)); }

/* The same through the edits that restart playback below version 5.0. */
TEST_F(Playback, EditsBelowVersionFiveRestartWithoutTheStaleNotifications)
{
    const struct { const char *Name; void (*Edit)(void); } edits[] = {
        { "divide", PressDivide }, { "join", PressJoin }, { "right press", RightPressInGraph },
    };
    App.PlatformVersion = 0x400;
    Load(200000);
    Play();
    for (const auto &edit : edits)
    {
        SCOPED_TRACE(edit.Name);
        Complete(1);
        size_t from = FakeWave.Calls.size();
        int opens = FakeWaveCount("open"), closes = FakeWaveCount("close");
        edit.Edit();
        PumpMessages();

        std::vector<Queued> expected = { { 0, Unit, 0, false }, { 1, Unit, 1, false } };
        EXPECT_EQ(expected, WritesFrom(from));
        EXPECT_EQ(2u, FakeWave.Queue.size());
        EXPECT_EQ(opens + 1, FakeWaveCount("open"));
        EXPECT_EQ(closes + 1, FakeWaveCount("close"));
        EXPECT_PLAYING_CONTROLS();
    }
    EXPECT_EQ(0, FakeWave.ClosedWhileQueued);
}

/* Play asked for again while playing starts over from the play start,
   with the running playback's buffers and device given back first. */
TEST_F(Playback, StartWhilePlayingStartsOverWithoutLosingBuffers)
{
    Load(40000);
    Play();
    Complete(1);
    size_t heard = FakeWave.Received.size();

    StartPlayback();
    EXPECT_EQ(GlobalBefore + 2, FakeMemory.LiveGlobal.size());
    std::vector<BYTE> after(FakeWave.Received.begin() + heard, FakeWave.Received.end());
    EXPECT_BYTES(Slice(Data, 0, 2 * Unit), after);
    SendCommand(IDM_STOP);
    EXPECT_IDLE();
}

TEST_F(Playback, RefusedFortyEightKilohertzPlaysAtFortyFourOneForThisPlaybackOnly)
{
    Load(4000, 48000, 16, 2);
    FakeWave.RefusedRates.insert(48000);
    FakeWave.Calls.clear();

    Play();
    SendCommand(IDM_STOP);
    Play();

    std::vector<DWORD> opens;
    for (const FakeWaveCall &call : FakeWave.Calls)
        if (call.What == "open")
            opens.push_back(call.Rate);
    std::vector<DWORD> expected = { 48000, 44100, 48000, 44100 };
    EXPECT_EQ(expected, opens);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_PLAYING_CONTROLS();
}

struct OpenRefusal
{
    std::vector<MMRESULT> Results;
    uint32_t              Rate;
    const char           *Text;
};

TEST_F(Playback, DeviceRefusalShowsItsReasonAndReleasesFormatAndSource)
{
    const OpenRefusal cases[] = {
        { { MMSYSERR_BADDEVICEID }, 8000, "範囲外のデバイスIDが指定されました。" },
        { { MMSYSERR_ALLOCATED }, 8000, "他のソフトがサウンドを使っています。" },
        { { MMSYSERR_NOMEM }, 8000, "メモリの割り当てができません。" },
        { { WAVERR_BADFORMAT }, 8000, "この形式を再生できるドライバがありません。" },
        { { WAVERR_BADFORMAT, WAVERR_BADFORMAT }, 48000, "この形式を再生できるドライバがありません。" },
        { { MMSYSERR_ERROR }, 8000, "音声出力デバイスを開けません。" },
    };
    for (const OpenRefusal &c : cases)
    {
        SCOPED_TRACE(c.Text);
        Load(3000, c.Rate);
        ASSERT_TRUE(WaveDocument.FormatBlock != NULL);
        ClearBoxes();
        FakeWave.OpenResults.assign(c.Results.begin(), c.Results.end());
        Play();

        ASSERT_EQ(1u, Boxes().size());
        EXPECT_EQ(c.Text, Boxes()[0].Text);
        EXPECT_TRUE(Boxes()[0].Warning);
        EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
        EXPECT_EQ(NULL, WaveDocument.FormatBlock);
        EXPECT_TRUE(FakeMemory.LiveLocal.empty());
        EXPECT_EQ(NULL, WaveDocument.ReadHandle);
        EXPECT_IDLE();
    }
}

TEST_F(Playback, BufferAllocationFailureClosesTheDeviceAndRestoresIdleControls)
{
    Load(3000);
    FakeMemory.FailGlobalAllocAt = 2;
    Play();

    EXPECT_EQ(std::vector<std::string>{ "メモリ不足です。" }, BoxTexts());
    EXPECT_EQ(NULL, WaveDocument.ReadHandle);
    EXPECT_EQ(1, FakeWaveCount("close"));
    EXPECT_IDLE();
}

/* A source that shrinks after its load: playback stops at the read that
   comes up short, in the first fill or in a refill, and the device gets
   only the file's own bytes. */
TEST_F(Playback, ShortReadReportsBufferAndCountAndReleasesEverything)
{
    struct { DWORD units; int completions; const char *text; size_t sent; } cases[] = {
        { 2, 0, "データチャンクを読み取れません。1 8192", 0 },
        { 3, 1, "データチャンクを読み取れません。0 8192", 2 * Unit },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.units);
        ClearBoxes();
        FakeWaveReset();
        Bytes data = PatternBytes(c.units * Unit);
        Bytes file = PcmWav(1, 8000, 8, data);
        WriteSource(file);
        file.resize(file.size() - 6000);
        WriteBytes(WaveDocument.DocumentPath, file);
        BufferSource(CopyBuffering, NULL);      /* what the read buffer took in is gone */
        Play();
        Complete(c.completions);

        EXPECT_EQ(std::vector<std::string>{ c.text }, BoxTexts());
        EXPECT_EQ(NULL, WaveDocument.ReadHandle);
        EXPECT_BYTES(Slice(data, 0, c.sent), FakeWave.Received);
        EXPECT_FALSE(FakeWave.IsOpen);
        EXPECT_IDLE();
    }
}

struct QueueFailure
{
    int         PrepareAt, WriteAt;
    const char *Text;
    std::vector<std::string> Calls;     /* after the failing call */
    int         Returned;               /* buffers given back first: a refill fails */
};

TEST_F(Playback, QueueFailureReportsAndTakesEveryBufferBackBeforeClosing)
{
    const QueueFailure cases[] = {
        { 1, 0, "ウェーブヘッダーの準備ができません", { "close" }, 0 },
        { 2, 0, "ウェーブヘッダーの準備ができません", { "reset", "unprepare", "close" }, 0 },
        { 0, 1, "デバイスへの出力に失敗しました。", { "unprepare", "close" }, 0 },
        { 0, 2, "デバイスへの出力に失敗しました。", { "reset", "unprepare", "unprepare", "close" }, 0 },
        { 3, 0, "デバイスへの出力に失敗しました。", { "reset", "unprepare", "unprepare", "close" }, 1 },
        { 0, 3, "デバイスへの出力に失敗しました。", { "reset", "unprepare", "unprepare", "close" }, 1 },
    };
    for (const QueueFailure &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Text << " at " << c.PrepareAt + c.WriteAt);
        Load(20000);
        ClearBoxes();
        FakeWave.Calls.clear();
        FakeWave.Prepares = FakeWave.Writes = 0;
        FakeWave.FailPrepareAt = c.PrepareAt;
        FakeWave.FailWriteAt = c.WriteAt;
        Play();
        Complete(c.Returned);

        EXPECT_EQ(std::vector<std::string>{ c.Text }, BoxTexts());
        std::vector<FakeWaveCall> calls = FakeWaveCallsFrom(0);
        size_t failed = 0;
        while (failed < calls.size() && calls[failed].Result == MMSYSERR_NOERROR)
            failed++;
        ASSERT_LT(failed, calls.size());
        EXPECT_EQ(c.Calls, CallNamesFrom(failed + 1));
        EXPECT_EQ(NULL, WaveDocument.ReadHandle);
        EXPECT_EQ(NULL, PlaybackState.WaveHeaders[0]->lpData);
        EXPECT_EQ(NULL, PlaybackState.WaveHeaders[1]->lpData);
        EXPECT_IDLE();
        PumpMessages();
        EXPECT_EQ(c.Calls, CallNamesFrom(failed + 1)) << "a returned buffer is not queued again";
    }
}

/* A wave header the main window could not get at creation is never used. */
TEST_F(Playback, MissingWaveHeaderRefusesToPlay)
{
    Load(3000);
    WAVEHDR *kept = PlaybackState.WaveHeaders[1];
    PlaybackState.WaveHeaders[1] = NULL;
    Play();
    PlaybackState.WaveHeaders[1] = kept;

    EXPECT_EQ(std::vector<std::string>{ "メモリ不足です。" }, BoxTexts());
    EXPECT_EQ(0, FakeWaveCount("open"));
    EXPECT_IDLE();
}

TEST_F(Playback, ControlsWhilePlayingAndAfterStopAndEnd)
{
    const WORD versions[] = { 0x400, 0x500, 0x601 };
    for (WORD version : versions)
    {
        SCOPED_TRACE(version);
        App.PlatformVersion = version;
        Load(3000);
        SetLoop(0);
        Play();
        EXPECT_PLAYING_CONTROLS();
        EXPECT_COMMAND(IDM_LOOP, version >= 0x500);

        Complete();
        EXPECT_IDLE();
        EXPECT_COMMAND(IDM_LOOP, true);

        Play();
        SendCommand(IDM_STOP);
        PumpMessages();
        EXPECT_IDLE();
        EXPECT_COMMAND(IDM_LOOP, true);
        EXPECT_FALSE(MenuEnabled(IDM_SAVE)) << "the first row still carries the source's name";
    }
}

/* A source replaced by another format is refused, not played; put back,
   it plays the row selected meanwhile from the row's own place. */
TEST_F(Playback, ReplacedSourceIsRefusedAndOnceBackPlaysTheSelectedRow)
{
    Load(8000, 8000, 16, 2);
    Bytes original = ReadBytes(WaveDocument.DocumentPath);
    SplitRows("0.12500", "0.25000");
    SetLoop(0);
    Play();
    SendCommand(IDM_STOP);
    WriteBytes(WaveDocument.DocumentPath, PcmWav(1, 11025, 8, Data));
    FakeWave.Received.clear();
    Play();
    EXPECT_EQ(std::vector<std::string>{ "ファイルが変更されています。" }, BoxTexts());
    EXPECT_TRUE(FakeWave.Received.empty());
    SelectOnly(1);
    PumpMessages();
    WriteBytes(WaveDocument.DocumentPath, original);
    Play();
    EXPECT_BYTES(Slice(Data, 4000, 8000), FakeWave.Received);
}

TEST_F(Playback, DestroyingTheMainWindowWhilePlayingReleasesDeviceAndBuffers)
{
    Load(20000);
    Play();
    Complete(1);

    DestroyWindow(App.MainWindow);
    PumpMessages();

    EXPECT_EQ(1, FakeWaveCount("reset"));
    EXPECT_FALSE(FakeWave.IsOpen);
    EXPECT_EQ(0, FakeWave.ClosedWhileQueued);
    EXPECT_EQ(NULL, PlaybackState.AudioBuffers[0].Handle);
    EXPECT_EQ(NULL, PlaybackState.AudioBuffers[1].Handle);
    EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    EXPECT_EQ(NULL, WaveDocument.ReadHandle);
}

} // namespace
