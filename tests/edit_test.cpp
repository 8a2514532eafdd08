#include <math.h>
#include <random>
#include "support/seghelp.h"

/* voice.wav: 3 s at 8000 Hz, mono, 8 bits; one byte is one block. */
class Edit : public AppTest
{
protected:
    Bytes Data;
    void SetUp() override
    {
        AppTest::SetUp();
        Data = OpenWave("voice.wav", 1, 8000, 8, 24000);
    }
};

typedef std::vector<RowTexts> Table;

static const Table TakeRows = { { "x", "0.00000", "1.00000", "1.00000" },
                                { "take", "1.00000", "3.00000", "2.00000" } };

TEST_F(Edit, DivideSplitsSelectedRowAtFraction)
{
    struct
    {
        const char *what;
        Table before;
        int selected;
        double fraction;
        Table after;
        int selectedAfter;
        LONG rangeStart, rangeEnd;
    } cases[] = {
        { "quarter", TakeRows, 1, 0.25,
          { TakeRows[0], { "take-1", "1.00000", "1.50000", "0.50000" },
            { "take-2", "1.50000", "3.00000", "1.50000" } }, 2, 12000, 24000 },
        { "zero halves", TakeRows, 1, 0.0,
          { TakeRows[0], { "take-1", "1.00000", "2.00000", "1.00000" },
            { "take-2", "2.00000", "3.00000", "1.00000" } }, 2, 16000, 24000 },
        { "one leaves an empty second half", TakeRows, 1, 1.0,
          { TakeRows[0], { "take-1", "1.00000", "3.00000", "2.00000" },
            { "take-2", "3.00000", "3.00000", "0.00000" } }, 2, 24000, 24000 },
        { "derived names grow", { { "a-1", "0.00000", "3.00000", "3.00000" } }, 0, 0.5,
          { { "a-1-1", "0.00000", "1.50000", "1.50000" },
            { "a-1-2", "1.50000", "3.00000", "1.50000" } }, 1, 12000, 24000 },
        { "no selection divides row 0", TakeRows, -1, 0.5,
          { { "x-1", "0.00000", "0.50000", "0.50000" }, { "x-2", "0.50000", "1.00000", "0.50000" },
            TakeRows[1] }, 1, 4000, 8000 },
        { "outer texts copied unchanged", { { "t", "0", "3.0", "3" } }, 0, 0.5,
          { { "t-1", "0", "1.50000", "1.50000" }, { "t-2", "1.50000", "3.0", "1.50000" } },
          1, 12000, 24000 },
        { "below zero cuts at the start", TakeRows, 1, -0.5,
          { TakeRows[0], { "take-1", "1.00000", "1.00000", "0.00000" },
            { "take-2", "1.00000", "3.00000", "2.00000" } }, 2, 8000, 24000 },
        { "above one cuts at the end", TakeRows, 1, 7.0,
          { TakeRows[0], { "take-1", "1.00000", "3.00000", "2.00000" },
            { "take-2", "3.00000", "3.00000", "0.00000" } }, 2, 24000, 24000 },
        { "no value halves", TakeRows, 1, NAN,
          { TakeRows[0], { "take-1", "1.00000", "2.00000", "1.00000" },
            { "take-2", "2.00000", "3.00000", "1.00000" } }, 2, 16000, 24000 },
        { "erased row 0 with no selection", { { "NUL", "0.00000", "1.00000", "1.00000" }, TakeRows[1] },
          -1, 0.5, { { "NUL", "0.00000", "0.50000", "0.50000" }, { "NUL", "0.50000", "1.00000", "0.50000" },
                     TakeRows[1] }, 1, 4000, 8000 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        /* no selection is what a Ctrl+click leaves after row 1 was chosen */
        SetRows(c.before, c.selected < 0 ? 1 : c.selected);
        if (c.selected < 0)
            ClearSelection();
        DivideSegment(c.fraction);
        EXPECT_EQ(c.after, AllRows());
        EXPECT_EQ(c.selectedAfter, FirstSelectedRow());
        EXPECT_EQ((UINT)(LVIS_SELECTED | LVIS_FOCUSED), RowState(c.selectedAfter));
        EXPECT_EQ(c.rangeStart, PlaybackState.SegmentStart);
        EXPECT_EQ(c.rangeStart, PlaybackState.PlayStart);
        EXPECT_EQ(c.rangeEnd, PlaybackState.SegmentEnd);
        EXPECT_EQ(App.SegmentList, GetFocus());
    }
}

TEST_F(Edit, DivideOnEmptyListDoesNothing)
{
    SetRows({}, -1);
    DivideSegment(0.5);
    EXPECT_EQ(0, RowTotal());
}

/* Names are capped at 255 characters: the name's tail gives way to the
   suffix, so the two halves stay apart. */
TEST_F(Edit, DivideKeepsComposedNamesWithin255Characters)
{
    std::string longName(255, 'n');
    SetRows({ { longName, "0.00000", "3.00000", "3.00000" } }, 0);
    DivideSegment(0.5);
    EXPECT_EQ(std::string(253, 'n') + "-1", RowText(0, COL_NAME));
    EXPECT_EQ(std::string(253, 'n') + "-2", RowText(1, COL_NAME));
    EXPECT_EQ("1.50000", RowText(1, COL_START));
}

/* Japanese names are three bytes a character in UTF-8: the cut goes back
   to a character boundary rather than leave half a character. */
TEST_F(Edit, DivideCutsLongNamesBetweenCharacters)
{
    std::string kana;
    for (int i = 0; i < 85; i++)
        kana += "あ";
    SetRows({ { kana, "0.00000", "3.00000", "3.00000" } }, 0);
    DivideSegment(0.5);
    std::string kept = kana.substr(0, 84 * 3);
    EXPECT_EQ(kept + "-1", RowText(0, COL_NAME));
    EXPECT_EQ(kept + "-2", RowText(1, COL_NAME));
}

TEST_F(Edit, JoinMergesIntoEarlierRowOrRenamesAcrossErasedRows)
{
    Table three = { { "x", "0.00000", "1.00000", "1.00000" },
                    { "y", "1.00000", "2.00000", "1.00000" },
                    { "z", "2.00000", "3.00000", "1.00000" } };
    Table erasedBetween = { three[0], { "NUL", "1.00000", "2.00000", "1.00000" }, three[2] };
    Table allErased = { { "NUL", "0.00000", "1.00000", "1.00000" }, erasedBetween[1], three[2] };
    Table twoErased = { three[0], { "NUL", "1.00000", "1.50000", "0.50000" },
                        { "NUL", "1.50000", "2.00000", "0.50000" }, three[2] };
    struct
    {
        const char *what;
        Table before;
        int selected;
        Table after;
        int selectedAfter;
    } cases[] = {
        { "merge keeps earlier name and start", three, 2,
          { three[0], { "y", "1.00000", "3.00000", "2.00000" } }, 1 },
        { "across one erased row", erasedBetween, 2,
          { three[0], erasedBetween[1], { "x", "2.00000", "3.00000", "1.00000" } }, 2 },
        { "across two erased rows", twoErased, 3,
          { three[0], twoErased[1], twoErased[2], { "x", "2.00000", "3.00000", "1.00000" } }, 3 },
        { "every row above erased", allErased, 2, allErased, 2 },
        { "first row", three, 0, three, 0 },
        { "no selection", three, -1, three, -1 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        SetRows(c.before, c.selected);
        SendCommand(IDM_JOIN);
        EXPECT_EQ(c.after, AllRows());
        EXPECT_EQ(c.selectedAfter, FirstSelectedRow());
    }
}

TEST_F(Edit, MergedRowBecomesPlayRange)
{
    SetRows({ { "x", "0.00000", "1.00000", "1.00000" }, { "y", "1.00000", "2.00000", "1.00000" },
              { "z", "2.00000", "3.00000", "1.00000" } }, 2);
    SendCommand(IDM_JOIN);
    EXPECT_EQ(8000, PlaybackState.SegmentStart);
    EXPECT_EQ(24000, PlaybackState.SegmentEnd);
    EXPECT_EQ(16000u, WaveDocument.BytesLeft);
    EXPECT_TRUE(MenuEnabled(IDM_JOIN));
}

TEST_F(Edit, EraseNamesSelectedRowNulAndKeepsTimesAndControls)
{
    SendCommand(IDM_DIVIDE);
    std::vector<CommandState> before;
    for (int id : { IDM_OPEN, IDM_SAVE, IDM_PLAY, IDM_DIVIDE, IDM_JOIN, IDM_ERASE, IDM_RENAME })
        before.push_back({ id, MenuEnabled(id) });

    SendCommand(IDM_ERASE);
    EXPECT_EQ((Table{ { "voice-1", "0.00000", "1.50000", "1.50000" },
                      { "NUL", "1.50000", "3.00000", "1.50000" } }), AllRows());
    EXPECT_EQ(1, FirstSelectedRow());
    EXPECT_EQ(12000, PlaybackState.SegmentStart);
    EXPECT_COMMANDS(before);

    ClearSelection();
    SendCommand(IDM_ERASE);
    EXPECT_EQ("voice-1", RowText(0, COL_NAME));
}

static Table Named(const std::vector<std::string> &names)
{
    Table rows;
    for (size_t i = 0; i < names.size(); i++)
    {
        char start[16], end[16];
        snprintf(start, sizeof(start), "%.5f", 0.25 * i);
        snprintf(end, sizeof(end), "%.5f", i + 1 == names.size() ? 3.0 : 0.25 * (i + 1));
        rows.push_back({ names[i], start, end, "" });
    }
    return rows;
}

static std::vector<std::string> Names(void)
{
    std::vector<std::string> names;
    for (int i = 0; i < RowTotal(); i++)
        names.push_back(RowText(i, COL_NAME));
    return names;
}

TEST_F(Edit, RenameNumbersRunsOfEqualNamesFromFileTitle)
{
    struct { std::vector<std::string> before, after; } cases[] = {
        { { "p", "p", "NUL", "p", "q", "NUL", "r" },
          { "voice-1", "voice-1", "NUL", "voice-1", "voice-2", "NUL", "voice-3" } },
        { { "p", "q", "p" }, { "voice-1", "voice-2", "voice-3" } },
        { { "", "a", "b" }, { "voice-0", "voice-1", "voice-2" } },
        { { "NUL", "NUL" }, { "NUL", "NUL" } },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.before.size());
        Table rows = Named(c.before);
        SetRows(rows, 0);
        SendCommand(IDM_RENAME);
        EXPECT_EQ(c.after, Names());
        for (size_t i = 0; i < rows.size(); i++)
            EXPECT_EQ(rows[i].End, RowText((int)i, COL_END));
    }
}

TEST_F(Edit, RenameCutsLongBaseToKeepNumbers)
{
    strcpy(WaveDocument.DocumentTitle, std::string(255, 'v').c_str());
    SetRows(Named({ "p", "q" }), 0);
    SendCommand(IDM_RENAME);
    EXPECT_EQ((std::vector<std::string>{ std::string(253, 'v') + "-1", std::string(253, 'v') + "-2" }),
              Names());
}

/* Divide at the play position: the part of the range before the read
   position is where the cut goes. */
TEST_F(Edit, DivideAtPlayPositionCutsWhereReadPositionStands)
{
    struct { const char *what; DWORD bytesLeft; bool setLeft; Table after; } cases[] = {
        { "right after a selection halves", 0, false,
          { { "voice-1", "0.00000", "1.50000", "1.50000" },
            { "voice-2", "1.50000", "3.00000", "1.50000" } } },
        { "after a press a quarter in", 18000, true,
          { { "voice-1", "0.00000", "0.75000", "0.75000" },
            { "voice-2", "0.75000", "3.00000", "2.25000" } } },
        { "after playback ran out", 0, true,
          { { "voice-1", "0.00000", "3.00000", "3.00000" },
            { "voice-2", "3.00000", "3.00000", "0.00000" } } },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        SetRows({ { "voice", "0.00000", "3.00000", "3.00000" } }, 0);
        if (c.setLeft)
            WaveDocument.BytesLeft = c.bytesLeft;
        SendCommand(IDM_DIVIDE);
        EXPECT_EQ(c.after, AllRows());
        EXPECT_EQ(1, FirstSelectedRow());
    }
}

TEST_F(Edit, DivideAtPlayPositionOnEmptyRangeHalvesWithoutNan)
{
    SetRows({ { "a", "0.00000", "3.00000", "3.00000" }, { "b", "3.00000", "3.00000", "0.00000" } }, 1);
    ASSERT_EQ(PlaybackState.SegmentStart, PlaybackState.SegmentEnd);
    SendCommand(IDM_DIVIDE);
    EXPECT_EQ((Table{ { "a", "0.00000", "3.00000", "3.00000" },
                      { "b-1", "3.00000", "3.00000", "0.00000" },
                      { "b-2", "3.00000", "3.00000", "0.00000" } }), AllRows());
}

/* Rows tile the data in time order whatever the user does. */
static void ExpectTiling(int step)
{
    SCOPED_TRACE(testing::Message() << "step " << step);
    int n = RowTotal();
    ASSERT_GT(n, 0);
    EXPECT_EQ("0.00000", RowText(0, COL_START));
    for (int i = 1; i < n; i++)
        ASSERT_EQ(RowText(i - 1, COL_END), RowText(i, COL_START)) << "row " << i;
    EXPECT_EQ("3.00000", RowText(n - 1, COL_END));
    for (int i = 0; i < n; i++)
    {
        ASSERT_LE(ParseSeconds(RowText(i, COL_START).c_str()), ParseSeconds(RowText(i, COL_END).c_str()));
        ASSERT_LE(RowText(i, COL_NAME).size(), 255u);
    }
}

TEST_F(Edit, RandomEditSequencesKeepRowsTilingTheData)
{
    std::mt19937 random(20240611);
    for (int step = 0; step < 300; step++)
    {
        int n = RowTotal();
        switch (random() % 7)
        {
        case 0: SelectOnly((int)(random() % n)); break;
        case 1:
        {
            int pick = random() % 4;
            DivideSegment(pick == 0 ? 0.0 : pick == 1 ? 1.0 : (random() % 1000) / 1000.0);
            break;
        }
        case 2: SendCommand(IDM_JOIN); break;
        case 3: SendCommand(IDM_ERASE); break;
        case 4: if (random() % 4 == 0) SendCommand(IDM_RENAME); break;
        case 5:
        {
            LONG span = PlaybackState.SegmentEnd - PlaybackState.SegmentStart;
            WaveDocument.BytesLeft = span > 0 ? random() % (span + 1) : 0;
            SendCommand(IDM_DIVIDE);
            break;
        }
        case 6: ClearSelection(); break;
        }
        ExpectTiling(step);
        if (HasFatalFailure())
            return;
    }
}

/* Playback around an edit, with the device double standing in for the
   sound hardware. */
class EditWhilePlaying : public Edit
{
protected:
    /* Plays, and runs a command once the device reports `played` bytes
       played; the device's calls and received bytes before it come back. */
    void CommandWhilePlaying(int id, DWORD played, size_t *calls, size_t *heard)
    {
        SendCommand(IDM_PLAY);
        ASSERT_TRUE(PlaybackState.Playing);
        FakeWave.Played = played;
        /* the moment the device has played that much, in ms since the start */
        FakeWave.Now = (LONG)((ULONGLONG)played * 1000 / WaveDocument.BytesPerSec);
        *calls = FakeWave.Calls.size();
        *heard = FakeWave.Received.size();
        SendCommand(id);
        PumpMessages();
    }
};

/* The first bytes the device received since a mark, against the source
   from a data offset on. */
#define EXPECT_HEARD_FROM(...) CALLED_HERE(ExpectHeardFrom(__VA_ARGS__))
static void ExpectHeardFrom(const Bytes &data, size_t heard, LONG offset)
{
    ASSERT_GT(FakeWave.Received.size(), heard + 16);
    ASSERT_LE((size_t)offset + 16, data.size());
    EXPECT_EQ(Bytes(data.begin() + offset, data.begin() + offset + 16),
              Bytes(FakeWave.Received.begin() + heard, FakeWave.Received.begin() + heard + 16));
}

/* While playing, the cut goes where the device says it is playing, not
   to the read position up to two buffers ahead of it. */
TEST_F(EditWhilePlaying, Version5AndLaterPlayOnAndSeekToSecondHalf)
{
    App.PlatformVersion = 0x500;
    LONG heardPosition = 5000;
    size_t calls, heard;
    CommandWhilePlaying(IDM_DIVIDE, heardPosition, &calls, &heard);

    EXPECT_TRUE(PlaybackState.Playing);
    EXPECT_EQ(0, FakeWaveCount("close", calls));
    EXPECT_EQ(0, FakeWaveCount("open", calls));
    /* the rows passing through while the list is rebuilt are not sought:
       one jump, to the second half */
    EXPECT_EQ(1, FakeWaveCount("reset", calls));
    EXPECT_EQ(heardPosition, TextToOffset(RowText(1, COL_START).c_str()));
    EXPECT_EQ(heardPosition, PlaybackState.SegmentStart);
    EXPECT_HEARD_FROM(Data, heard, heardPosition);
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_STOP, true }, { IDM_ERASE, true },
                      { IDM_RENAME, true } });

    /* once stopped, the first row's new name makes Save available */
    SendCommand(IDM_STOP);
    EXPECT_COMMANDS({ { IDM_SAVE, true }, { IDM_STOP, false } });
}

TEST_F(EditWhilePlaying, BelowVersion5StopAndRestartAtSecondHalf)
{
    App.PlatformVersion = 0x400;
    LONG heardPosition = 3000;                        /* taken before the stop */
    size_t calls, heard;
    CommandWhilePlaying(IDM_DIVIDE, heardPosition, &calls, &heard);

    EXPECT_TRUE(PlaybackState.Playing);
    EXPECT_EQ(1, FakeWaveCount("close", calls));
    EXPECT_EQ(1, FakeWaveCount("open", calls));
    EXPECT_EQ(heardPosition, TextToOffset(RowText(1, COL_START).c_str()));
    EXPECT_EQ(heardPosition, PlaybackState.PlayStart);
    EXPECT_HEARD_FROM(Data, heard, heardPosition);
    EXPECT_EQ(App.SegmentList, GetFocus());
    SendCommand(IDM_STOP);
}

TEST_F(EditWhilePlaying, JoinBelowVersion5RestartsAtMergedRow)
{
    App.PlatformVersion = 0x400;
    SendCommand(IDM_DIVIDE);
    ASSERT_EQ(12000, PlaybackState.PlayStart);
    size_t calls, heard;
    CommandWhilePlaying(IDM_JOIN, 0, &calls, &heard);

    EXPECT_TRUE(PlaybackState.Playing);
    EXPECT_EQ(1, FakeWaveCount("close", calls));
    EXPECT_EQ(1, FakeWaveCount("open", calls));
    EXPECT_EQ(1, RowTotal());
    EXPECT_EQ(0, PlaybackState.PlayStart);
    EXPECT_EQ(24000, PlaybackState.SegmentEnd);
    EXPECT_HEARD_FROM(Data, heard, 0);
    SendCommand(IDM_STOP);
}

/* The device's count of bytes played, turned back into a place in the
   segment: past a pressed play start, wraps and seeks. The device reports
   more than has been played; what is heard is the end of the buffer it
   gave back last, moved on by the time since (the double's clock: when
   each notice and the press came; 8 bytes a ms here). */
TEST_F(EditWhilePlaying, DivideCutsWhereTheDeviceIsPlaying)
{
    struct { const char *what; LONG playStart; std::vector<LONG> returnedAt; LONG seek;
             DWORD played; LONG pressAt; LONG cut; } cases[] = {
        { "first pass: the time since the first write", 0, {}, -1, 6000, 625, 5000 },
        { "never past the count the device reports", 0, {}, -1, 5000, 1000, 5000 },
        { "first pass from a pressed point", 4000, {}, -1, 4000, 375, 7000 },
        { "a buffer back: its end and the time since", 0, { 1100 }, -1, 11000, 1200, 8992 },
        { "pressed before the last notice: the buffer being played", 0, { 1024, 2048 }, -1,
          20000, 2000, 16384 },
        { "after a wrap", 0, { 1024, 2048 }, -1, 26000, 3125, 1000 },
        { "exactly at a pass end", 0, { 1024, 2048 }, -1, 26000, 3000, 24000 },
        { "just before a pass end", 0, { 1024, 2048 }, -1, 26000, 2990, 23920 },
        { "just after a pass end: the new pass", 0, { 1024, 2048 }, -1, 26000, 3001, 8 },
        { "after a seek: the time since the refills", 0, { 1024 }, 8000, 2500, 1350, 10000 },
        { "no position from the device: the read position", 0, {}, -1, MAXDWORD, 625, 16384 },
    };
    App.PlatformVersion = 0x500;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        SetRows({ { "voice", "0.00000", "3.00000", "3.00000" } }, 0);
        PlaybackState.PlayStart = c.playStart;
        FakeWave.Now = 0;
        SendCommand(IDM_PLAY);
        for (LONG at : c.returnedAt)
        {
            FakeWave.Now = at;
            ASSERT_TRUE(FakeWaveComplete());
            PumpMessages();
        }
        FakeWave.Now = 1100;                /* the seek, and the refills it brings */
        if (c.seek >= 0)
            SeekPlayback(c.seek);
        PumpMessages();
        FakeWave.Played = c.played;
        FakeWave.PositionResult = c.played == MAXDWORD ? MMSYSERR_NOTSUPPORTED : MMSYSERR_NOERROR;
        FakeWave.Now = c.pressAt;
        size_t heard = FakeWave.Received.size();

        SendCommand(IDM_DIVIDE);
        PumpMessages();
        LONG cut = TextToOffset(RowText(1, COL_START).c_str());
        EXPECT_NEAR(c.cut, cut, 1) << "within one block";
        EXPECT_EQ(cut, PlaybackState.SegmentStart);
        if (cut <= 24000 - 16)
            EXPECT_HEARD_FROM(Data, heard, cut);
        SendCommand(IDM_STOP);
    }
}
