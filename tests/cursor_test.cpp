/* The play cursor as the graph shows it: which columns of the view's top
   row are inverted. The source is silent 44.1 kHz 16-bit stereo of
   512 x 256 blocks, so in the 512-pixel view one column is 256 blocks
   and one buffer (32768 blocks) is 128 columns. */
#include <algorithm>
#include "support/seghelp.h"
#include "support/wavbuild.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

namespace {

const LONG Columns = 512;
const LONG PerColumn = 256;
const LONG BufferColumns = 128;

typedef std::vector<int> ColumnList;

/* Columns a to b-1. */
ColumnList Span(int a, int b)
{
    ColumnList out;
    for (int x = a; x < b; x++)
        out.push_back(x);
    return out;
}

void PressAt(int x)
{
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
    PumpMessages();
}

class Cursor : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(Columns, PlaybackState.WaveViewWidth);
        Bytes silence(Columns * PerColumn * 4, 0);
        LoadBytes("quiet.wav", PcmWav(2, 44100, 16, silence));
        /* the row's five decimals lose the last block; play the whole data */
        PlaybackState.SegmentEnd = (LONG)silence.size();
        InvalidateRect(App.WaveView, NULL, TRUE);
        UpdateWindow(App.WaveView);
        PumpMessages();
        ASSERT_EQ(PerColumn, PlaybackState.BlocksPerColumn);
        ASSERT_EQ(ColumnList(), Inverted());
    }

    /* The dark columns of the view's top row, which the drawing leaves white. */
    ColumnList Inverted()
    {
        ColumnList out;
        HDC dc = GetDC(App.WaveView);
        for (int x = 0; x < Columns; x++)
            if ((GetPixel(dc, x, 0) & 0xFFFFFF) == 0)
                out.push_back(x);
        ReleaseDC(App.WaveView, dc);
        return out;
    }

    /* As a playback stands once it has started at blocks-to-end `remaining`. */
    void Playing(LONG remaining)
    {
        PlaybackState.Playing = 1;
        PlaybackState.BytesPerBuffer = BufferColumns * PerColumn * 4;
        PlaybackState.RemainingBlocks = remaining;
        ResetPlayCursor();
    }
};

TEST_F(Cursor, SkippedCallDrawsNothingAndKeepsTheCountdown)
{
    Playing(Columns * PerColumn);
    PlaybackState.CursorSkip = 1;
    DrawPlayCursor(0);

    EXPECT_EQ(ColumnList(), Inverted());
    EXPECT_EQ(Columns * PerColumn, PlaybackState.RemainingBlocks);
    EXPECT_EQ(0, PlaybackState.CursorSkip);
}

struct BarCase
{
    DWORD KiloHertz;
    LONG  PerColumn;
    int   Width;
};

TEST_F(Cursor, BarAtTheSegmentStartIsOneBufferWide)
{
    const BarCase cases[] = {
        { 44, 256, 128 },        /* 32768 / 256 */
        { 48, 256, 192 },        /* 48 x 1024 / 256 */
        { 22, 100, 163 },        /* 16384 / 100, truncated */
        { 44, 40000, 1 },        /* 0 is drawn 1 wide */
    };
    for (const BarCase &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.KiloHertz << " kHz, " << c.PerColumn << " blocks per column");
        InvalidateRect(App.WaveView, NULL, TRUE);
        UpdateWindow(App.WaveView);
        WaveDocument.KiloHertz = c.KiloHertz;
        PlaybackState.BlocksPerColumn = c.PerColumn;
        Playing(Columns * c.PerColumn);
        DrawPlayCursor(0);
        EXPECT_EQ(Span(0, c.Width), Inverted());
    }
}

TEST_F(Cursor, BarMovesOneBufferWithEachReturnedBuffer)
{
    SendCommand(IDM_PLAY);
    PumpMessages();
    EXPECT_EQ(Span(0, BufferColumns), Inverted());

    for (int i = 1; i <= 2; i++)
    {
        ASSERT_TRUE(FakeWaveComplete());
        PumpMessages();
        EXPECT_EQ(Span(i * BufferColumns, (i + 1) * BufferColumns), Inverted()) << "return " << i;
    }
    SendCommand(IDM_STOP);
}

TEST_F(Cursor, RepaintRemovesTheBarAndTheNextMoveDrawsOnTheFreshGraph)
{
    SendCommand(IDM_PLAY);
    PumpMessages();
    InvalidateRect(App.WaveView, NULL, TRUE);
    UpdateWindow(App.WaveView);
    EXPECT_EQ(ColumnList(), Inverted());

    ASSERT_TRUE(FakeWaveComplete());
    PumpMessages();
    EXPECT_EQ(Span(BufferColumns, 2 * BufferColumns), Inverted());
    SendCommand(IDM_STOP);
}

/* However far the cursor moves, only its bar is inverted, also after the
   playback has stopped. */
TEST_F(Cursor, MovesOfAnyLengthLeaveOnlyTheBar)
{
    for (int move : { 100, 128, 150, 7 })
    {
        SCOPED_TRACE(move);
        InvalidateRect(App.WaveView, NULL, TRUE);
        UpdateWindow(App.WaveView);
        Playing(Columns * PerColumn);
        PlaybackState.BytesPerBuffer = move * PerColumn * 4;
        for (int x = 0; x < Columns; x += move)
        {
            DrawPlayCursor(0);
            EXPECT_EQ(Span(x, std::min(x + BufferColumns, Columns)), Inverted()) << x;
        }
        PlaybackState.Playing = 0;
    }
}

TEST_F(Cursor, PlayFromAPressedPointShowsOnlyTheBarThere)
{
    PressAt(300);
    ColumnList mark = Inverted();
    ASSERT_EQ(1u, mark.size());
    SendCommand(IDM_PLAY);
    PumpMessages();
    EXPECT_EQ(Span(mark[0], mark[0] + BufferColumns), Inverted());
    SendCommand(IDM_STOP);
}

/* While stopped each press marks its position with one column, and the
   previous press's mark goes. */
TEST_F(Cursor, PressWhileStoppedLeavesOneOnePixelMark)
{
    const int presses[] = { 100, 300, 301, 40 };
    for (int x : presses)
    {
        SCOPED_TRACE(x);
        SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
        PumpMessages();
        ColumnList marks = Inverted();
        ASSERT_EQ(1u, marks.size());
        EXPECT_NEAR(x, marks[0], 1);
    }
}

void PlayAndStop(void)
{
    SendCommand(IDM_PLAY);
    PumpMessages();
    SendCommand(IDM_STOP);
    PumpMessages();
}

/* A repaint has already wiped the earlier mark or the stopped bar: the
   press after it must not invert that place again. */
TEST_F(Cursor, PressAfterARepaintLeavesOnlyItsOwnMark)
{
    const struct { const char *Before; void (*Draw)(void); } cases[] = {
        { "a stopped playback", PlayAndStop },
        { "a press", [] { PressAt(100); } },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.Before);
        c.Draw();
        ASSERT_NE(ColumnList(), Inverted());
        SendCommand(IDM_WAVE);
        UpdateWindow(App.WaveView);
        ASSERT_EQ(ColumnList(), Inverted());

        PressAt(300);
        ColumnList marks = Inverted();
        ASSERT_EQ(1u, marks.size());
        EXPECT_NEAR(300, marks[0], 1);
    }
}

TEST_F(Cursor, MarkWhileStoppedIsOnePixelWhateverTheRate)
{
    const DWORD rates[] = { 8, 44, 48 };
    for (DWORD kilohertz : rates)
    {
        SCOPED_TRACE(kilohertz);
        InvalidateRect(App.WaveView, NULL, TRUE);
        UpdateWindow(App.WaveView);
        ResetPlayCursor();
        WaveDocument.KiloHertz = kilohertz;
        PlaybackState.RemainingBlocks = 200 * PerColumn;
        DrawPlayCursor(1);
        EXPECT_EQ(Span(Columns - 200, Columns - 199), Inverted());
    }
}

/* A countdown step that would pass 0 leaves 0; the next call puts the bar
   at the right edge and reloads the whole segment; the one after starts
   afresh at the segment start. */
TEST_F(Cursor, CountdownStopsAtZeroThenWrapsToTheSegmentStart)
{
    Playing(1000);
    PlaybackState.CursorColumn = 1000 / PerColumn;

    DrawPlayCursor(0);
    EXPECT_EQ(0, PlaybackState.RemainingBlocks);
    EXPECT_EQ(ColumnList(), Inverted());

    DrawPlayCursor(0);
    EXPECT_EQ(Columns * PerColumn, PlaybackState.RemainingBlocks);
    EXPECT_EQ(0, PlaybackState.CursorColumn);
    EXPECT_EQ(ColumnList(), Inverted()) << "the bar stands past the right edge";

    DrawPlayCursor(0);
    EXPECT_EQ((Columns - BufferColumns) * PerColumn, PlaybackState.RemainingBlocks);
    EXPECT_EQ(Span(0, BufferColumns), Inverted());
}

/* Without a painting yet the scale comes from the play range. */
TEST_F(Cursor, PlaybackBeforeAnyPaintingTakesTheScaleFromTheRange)
{
    PlaybackState.BlocksPerColumn = 0;
    Playing(Columns * PerColumn);
    DrawPlayCursor(0);
    EXPECT_EQ(PerColumn, PlaybackState.BlocksPerColumn);
    EXPECT_EQ(Span(0, BufferColumns), Inverted());

    PlaybackState.BlocksPerColumn = 0;
    PlaybackState.SegmentEnd = PlaybackState.SegmentStart;
    Playing(0);
    DrawPlayCursor(0);
    EXPECT_EQ(1, PlaybackState.BlocksPerColumn);
}

} // namespace
