#include <stdio.h>
#include <string.h>
#include <algorithm>
#include "support/seghelp.h"
#include "support/wavbuild.h"
#include "support/canvas.h"
#include "app/app.h"
#include "app/controls.h"
#include "app/shell.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

namespace {

/* What a window shows in one rectangle of its client area. */
std::vector<uint32_t> Grab(HWND window, int x, int y, int w, int h)
{
    Canvas canvas(w, h);
    HDC dc = GetDC(window);
    BitBlt(canvas.Dc, 0, 0, w, h, dc, x, y, SRCCOPY);
    ReleaseDC(window, dc);
    return canvas.Pixels();
}

void Blacken(HWND window, int x, int y, int w, int h)
{
    HDC dc = GetDC(window);
    PatBlt(dc, x, y, w, h, BLACKNESS);
    ReleaseDC(window, dc);
}

bool AllWhite(const std::vector<uint32_t> &pixels)
{
    return std::all_of(pixels.begin(), pixels.end(), [](uint32_t px) { return px == 0xFFFFFF; });
}

/* A text as TextOutA draws it with a device context's defaults. */
std::vector<uint32_t> TextPicture(const char *text, SIZE *size)
{
    HDC screen = GetDC(App.MainWindow);
    GetTextExtentPoint32A(screen, text, (int)strlen(text), size);
    ReleaseDC(App.MainWindow, screen);
    Canvas canvas(size->cx, size->cy);
    TextOutA(canvas.Dc, 0, 0, text, (int)strlen(text));
    return canvas.Pixels();
}

LPARAM At(int x) { return MAKELPARAM(x, 5); }

const DWORD Rate = 11025;               /* 16-bit stereo: 44100 bytes a second */
const DWORD BytesPerSecond = 44100;

class View : public AppTest
{
protected:
    std::string Path;
    Bytes Data;

    int W() { return PlaybackState.WaveViewWidth; }
    int H() { return PlaybackState.WaveViewHeight; }

    /* Opens a source of the given seconds through the program's load. */
    void Load(int seconds)
    {
        Data.clear();
        unsigned r = 3;
        for (DWORD i = 0; i < BytesPerSecond / 2 * seconds; i++)
        {
            r = r * 1103515245u + 12345u;
            int v = (int)((i * 37) % 20000) - 10000 + (int)((r >> 16) % 4000);
            PutLe16(Data, (uint16_t)(int16_t)v);
        }
        LoadBytes("take.wav", PcmWav(2, Rate, 16, Data));
        Path = WaveDocument.DocumentPath;
        ASSERT_TRUE(WaveDocument.ReadHandle != NULL);
        ASSERT_EQ(BytesPerSecond, WaveDocument.BytesPerSec);
    }

    /* Rows 0-1, 1-3 and 3-4 seconds of a 4-second source, the middle one
       selected. */
    void LoadOneToThree()
    {
        Load(4);
        DivideSegment(0.75);
        ClearSelection();
        SelectRow(0);
        DivideSegment(1.0 / 3.0);
        PumpMessages();
        ASSERT_EQ("1.00000", RowText(1, COL_START));
        ASSERT_EQ("3.00000", RowText(1, COL_END));
        ASSERT_EQ(1, FirstSelectedRow());
        ASSERT_EQ(44100, PlaybackState.SegmentStart);
        ASSERT_EQ(132300, PlaybackState.SegmentEnd);
    }

    /* The drawing of the current range, made in a DIB. */
    std::vector<uint32_t> Drawing()
    {
        Canvas canvas(W(), H());
        dispwave(canvas.Dc);
        return canvas.Pixels();
    }

    std::vector<uint32_t> Shown() { return Grab(App.WaveView, 0, 0, W(), H()); }

    /* Blackens the view with nothing waiting to repaint it. */
    void Spoil()
    {
        PumpMessages();
        Blacken(App.WaveView, 0, 0, W(), H());
        ASSERT_FALSE(GetUpdateRect(App.WaveView, NULL, FALSE));
    }

#define EXPECT_REPAINTED() CALLED_HERE(ExpectRepainted())
    void ExpectRepainted(void)
    {
        EXPECT_TRUE(GetUpdateRect(App.WaveView, NULL, FALSE)) << "no repaint asked for";
        PumpMessages();
        std::vector<uint32_t> shown = Shown();
        EXPECT_FALSE(AllWhite(shown)) << "nothing drawn";
        EXPECT_TRUE(shown == Drawing()) << "the view differs from the segment's drawing";
    }

#define EXPECT_READOUTS(...) CALLED_HERE(ExpectReadouts(__VA_ARGS__))
    void ExpectReadouts(const char *fromSegment, const char *fromData)
    {
        SIZE size;
        std::vector<uint32_t> first = TextPicture(fromSegment, &size);
        ASSERT_FALSE(AllWhite(first));
        EXPECT_TRUE(first == Grab(App.MainWindow, W() + 20, PlaybackState.WaveViewTop, size.cx, size.cy))
            << "expected \"" << fromSegment << "\"";
        std::vector<uint32_t> second = TextPicture(fromData, &size);
        EXPECT_TRUE(second == Grab(App.MainWindow, W() + 20, PlaybackState.WaveViewTop + 30, size.cx, size.cy))
            << "expected \"" << fromData << "\"";
    }

    void Play()
    {
        SendCommand(IDM_PLAY);
        PumpMessages();
        ASSERT_EQ(1, PlaybackState.Playing);
    }
};

TEST_F(View, LoadPaintsTheWholeFile)
{
    Spoil();
    Load(2);
    EXPECT_REPAINTED();
    EXPECT_EQ(0, PlaybackState.SegmentStart);
    EXPECT_EQ((LONG)Data.size(), PlaybackState.SegmentEnd);
    MMIOINFO info;
    ASSERT_EQ(0u, mmioGetInfo(WaveDocument.ReadHandle, &info, 0));
    EXPECT_EQ(DrawBufferBytes, info.cchBuffer) << "the graph reads through its large buffer";
}

/* The client sizes a user reaches by maximising, shrinking and restoring. */
void ResizeClient(int width, int height)
{
    RECT r = { 0, 0, width, height };
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, TRUE);
    SetWindowPos(App.MainWindow, NULL, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
}

TEST_F(View, EveryResizeShowsTheWholeDrawing)
{
    Load(2);
    PumpMessages();
    const struct { int w, h; } sizes[] = { { 1300, 700 }, { 1000, 500 }, { 300, 110 }, { 1000, 500 }, { 1100, 520 } };
    for (const auto &s : sizes)
    {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
        ResizeClient(s.w, s.h);
        if (H() > 0)
        {
            EXPECT_TRUE(Shown() == Drawing()) << "the view differs from the segment's drawing";
        }
    }
}

TEST_F(View, EverySelectionChangeRepaints)
{
    Load(4);
    DivideSegment(0.5);
    PumpMessages();
    for (int row : { 0, 1, 0 })
    {
        SCOPED_TRACE(row);
        ClearSelection();
        Spoil();
        SelectRow(row);
        EXPECT_EQ(row == 0 ? 0 : 88200, PlaybackState.SegmentStart);
        EXPECT_REPAINTED();
    }
}

TEST_F(View, ChoosingAViewRepaintsEvenTheOneShown)
{
    Load(2);
    struct { int command; int mode; } choices[] = {
        { IDM_WAVE, IDM_WAVE }, { IDM_LEVEL, IDM_LEVEL }, { IDM_LEVEL, IDM_LEVEL }, { IDM_WAVE, IDM_WAVE },
    };
    for (const auto &c : choices)
    {
        SCOPED_TRACE(c.command);
        Spoil();
        SendCommand(c.command);
        EXPECT_EQ(c.mode, App.ViewMode);
        EXPECT_REPAINTED();
    }
}

TEST_F(View, PaintReopensAClosedSource)
{
    Load(2);
    PumpMessages();
    mmioClose(WaveDocument.ReadHandle, 0);
    WaveDocument.ReadHandle = NULL;
    Spoil();
    InvalidateRect(App.WaveView, NULL, TRUE);
    EXPECT_REPAINTED();
    EXPECT_TRUE(WaveDocument.ReadHandle != NULL);
    EXPECT_TRUE(Boxes().empty());
}

/* A file whose header was never finished (RIFF and data sizes
   0xFFFFFFFF) is listed, drawn and played as the finished file. */
TEST_F(View, UnfinishedHeaderIsShownAndPlayedAsTheFinishedFile)
{
    Load(2);
    std::vector<uint32_t> finished = Drawing();
    Bytes file = PcmWav(2, Rate, 16, Data);
    std::fill(file.begin() + 4, file.begin() + 8, 0xFF);
    std::fill(file.begin() + 40, file.begin() + 44, 0xFF);
    LoadBytes("take.wav", file);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ("2.00000", RowText(0, COL_END));
    EXPECT_EQ(finished, Drawing());
    SendCommand(IDM_PLAY);
    ASSERT_FALSE(FakeWave.Received.empty());
    EXPECT_TRUE(std::equal(FakeWave.Received.begin(), FakeWave.Received.end(), Data.begin()));
}

TEST_F(View, SourceThatCannotBeOpenedIsReportedOnEveryPaintAndLeavesTheViewWhite)
{
    Load(2);
    PumpMessages();
    CloseDocument();
    ASSERT_TRUE(DeleteFileA(Path.c_str()));
    for (int paint = 1; paint <= 2; paint++)
    {
        SCOPED_TRACE(paint);
        Spoil();
        InvalidateRect(App.WaveView, NULL, TRUE);
        PumpMessages();
        EXPECT_EQ(std::vector<std::string>(paint, "ファイルを開けません。"), BoxTexts());
        EXPECT_TRUE(WaveDocument.ReadHandle == NULL);
        EXPECT_TRUE(AllWhite(Shown()));
    }
}

/* A file refused at the repair question is never drawn, not even while the
   question is up, and the previous file's drawing and commands go. */
TEST_F(View, FileRefusedAtTheRepairQuestionLeavesTheViewWhiteAndPlayOff)
{
    Load(2);
    PumpMessages();
    Bytes broken = PcmWav(1, 8000, 8, Bytes(16000, 0xF0));
    std::fill(broken.begin() + 4, broken.begin() + 8, 0);
    WriteBytes(Path, broken);
    ClearBoxes();
    QueueBoxAnswer(IDNO);
    LoadDocument(App.MainWindow, WaveDocument.DocumentPath, WaveDocument.DocumentTitle);
    PumpMessages();
    PressKey('P');
    EXPECT_EQ(std::vector<std::string>{ "WAVEファイルが壊れています。\n修復を試みますか？" }, BoxTexts());
    EXPECT_TRUE(AllWhite(Shown()));
    for (int id : { IDM_PLAY, IDM_DIVIDE })
        EXPECT_COMMAND(id, false);
}

TEST_F(View, NoDocumentLeavesTheViewWhite)
{
    Spoil();
    InvalidateRect(App.WaveView, NULL, TRUE);
    PumpMessages();
    EXPECT_TRUE(AllWhite(Shown()));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(View, ReadoutsGiveThePointedTimeFromSegmentAndFromData)
{
    LoadOneToThree();
    struct { int x; const char *fromSegment, *fromData; } cases[] = {
        { 0,       "   0.00000  ", "   1.00000  " },
        { 256,     "   1.00000  ", "   2.00000  " },
        { 128,     "   0.50000  ", "   1.50000  " },
        { 511,     "   1.99609  ", "   2.99609  " },
    };
    ASSERT_EQ(512, W());
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.x);
        SendMessageA(App.WaveView, WM_MOUSEMOVE, 0, At(c.x));
        EXPECT_READOUTS(c.fromSegment, c.fromData);
    }
}

TEST_F(View, NoReadoutsBeforeAFileIsOpen)
{
    Blacken(App.MainWindow, W() + 20, PlaybackState.WaveViewTop, 120, 60);
    SendMessageA(App.WaveView, WM_MOUSEMOVE, 0, At(100));
    std::vector<uint32_t> area = Grab(App.MainWindow, W() + 20, PlaybackState.WaveViewTop, 120, 60);
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint32_t px) { return px == 0; }));
}

TEST_F(View, LeftPressWhileStoppedSetsThePlayStart)
{
    LoadOneToThree();
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, At(256));
    EXPECT_EQ(88200, PlaybackState.PlayStart);
    EXPECT_EQ(132300u - 88200u, WaveDocument.BytesLeft);
    EXPECT_EQ(44100, PlaybackState.SegmentStart);
    EXPECT_EQ((LONG)WaveDocument.DataChunk.dwDataOffset + 88200,
              mmioSeek(WaveDocument.ReadHandle, 0, SEEK_CUR));
}

TEST_F(View, LeftPressWithNoRowSelectedReadsRowZero)
{
    LoadOneToThree();
    ClearSelection();
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, At(256));
    /* half of row 0's 0 to 1 second: 22050 bytes, cut to a whole block */
    EXPECT_EQ(22048, PlaybackState.PlayStart);
    EXPECT_EQ(132300u - 22048u, WaveDocument.BytesLeft);
}

TEST_F(View, NextPlayStartsAtTheLeftPress)
{
    LoadOneToThree();
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, At(256));
    Play();
    ASSERT_GE(FakeWave.Received.size(), 64u);
    EXPECT_TRUE(std::equal(FakeWave.Received.begin(), FakeWave.Received.begin() + 64,
                           Data.begin() + 88200));
    SendCommand(IDM_STOP);
}

TEST_F(View, LeftPressWhilePlayingJumpsTheSoundAndKeepsThePlayStart)
{
    LoadOneToThree();
    Play();
    size_t before = FakeWave.Received.size();
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, At(384));
    PumpMessages();
    EXPECT_EQ(44100, PlaybackState.PlayStart);
    EXPECT_EQ(1, FakeWaveCount("reset"));
    /* the first buffer queued after the jump starts at 2.5 seconds */
    ASSERT_GE(FakeWave.Received.size(), before + 64);
    EXPECT_TRUE(std::equal(FakeWave.Received.begin() + before, FakeWave.Received.begin() + before + 64,
                           Data.begin() + 110250 / 4 * 4));
    EXPECT_EQ(1, PlaybackState.Playing);
    SendCommand(IDM_STOP);
}

TEST_F(View, PressesBeforeAFileIsOpenDoNothing)
{
    SendMessageA(App.WaveView, WM_LBUTTONDOWN, MK_LBUTTON, At(200));
    SendMessageA(App.WaveView, WM_RBUTTONDOWN, MK_RBUTTON, At(200));
    PumpMessages();
    EXPECT_EQ(0, RowTotal());
    EXPECT_EQ(0, PlaybackState.PlayStart);
    EXPECT_EQ(0, PlaybackState.SegmentEnd);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(View, RightPressDividesAtThePressedFraction)
{
    struct { int x; const char *cut; const char *readSegment, *readData; } cases[] = {
        { 128, "1.00000", "   0.75000  ", "   1.75000  " },
        { 0,   "2.00000", "   0.00000  ", "   2.00000  " },    /* the leftmost column halves */
        { 384, "3.00000", "   0.75000  ", "   3.75000  " },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.x);
        Load(4);
        PumpMessages();
        Spoil();
        SendMessageA(App.WaveView, WM_RBUTTONDOWN, MK_RBUTTON, At(c.x));
        ASSERT_EQ(2, RowTotal());
        EXPECT_EQ("take-1", RowText(0, COL_NAME));
        EXPECT_EQ(c.cut, RowText(0, COL_END));
        EXPECT_EQ("take-2", RowText(1, COL_NAME));
        EXPECT_EQ(c.cut, RowText(1, COL_START));
        EXPECT_EQ(1, FirstSelectedRow());
        EXPECT_EQ(App.SegmentList, GetFocus());
        EXPECT_EQ(TextToOffset(c.cut), PlaybackState.SegmentStart);
        /* shown at once, without waiting for the message loop */
        EXPECT_FALSE(GetUpdateRect(App.WaveView, NULL, FALSE));
        EXPECT_TRUE(Shown() == Drawing());
        EXPECT_READOUTS(c.readSegment, c.readData);
    }
}

/* Newer systems play on into the new row; older ones stop for the divide
   and start again on it. */
TEST_F(View, RightPressWhilePlayingPlaysOnOrRestartsOnTheNewRow)
{
    struct { WORD version; int opens; } cases[] = { { 0x600, 1 }, { 0x400, 2 } };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version);
        FakeWaveReset(true);
        Load(4);
        App.PlatformVersion = c.version;
        Play();
        SendMessageA(App.WaveView, WM_RBUTTONDOWN, MK_RBUTTON, At(256));
        PumpMessages();
        EXPECT_EQ(1, PlaybackState.Playing);
        EXPECT_EQ(c.opens, FakeWaveCount("open"));
        EXPECT_EQ(88200, PlaybackState.SegmentStart);
        EXPECT_EQ(88200, PlaybackState.PlayStart);
        SendCommand(IDM_STOP);
    }
}

TEST_F(View, EmptyRangeWhilePlayingRestartsOnTheSelectedRow)
{
    LoadOneToThree();
    Play();
    EnableCommand(IDM_JOIN, 0);
    PlaybackState.SegmentEnd = 0;
    InvalidateRect(App.WaveView, NULL, TRUE);
    UpdateWindow(App.WaveView);
    EXPECT_EQ(1, PlaybackState.Playing);
    EXPECT_EQ(2, FakeWaveCount("open"));
    EXPECT_EQ(1, FakeWaveCount("reset"));
    EXPECT_EQ(44100, PlaybackState.SegmentStart);
    EXPECT_EQ(44100, PlaybackState.PlayStart);
    EXPECT_EQ(132300, PlaybackState.SegmentEnd);
    EXPECT_COMMAND(IDM_JOIN, true);
    EXPECT_TRUE(Shown() == Drawing());
    SendCommand(IDM_STOP);
}

TEST_F(View, EmptyRangeRestartRunsOnTheRealDevice)
{
    FakeWaveReset(false);
    LoadOneToThree();
    Play();
    PlaybackState.SegmentEnd = 0;
    InvalidateRect(App.WaveView, NULL, TRUE);
    UpdateWindow(App.WaveView);
    EXPECT_EQ(1, PlaybackState.Playing);
    EXPECT_TRUE(PlaybackState.OutputDevice != NULL);
    EXPECT_EQ(132300, PlaybackState.SegmentEnd);
    EXPECT_TRUE(Shown() == Drawing());
    SendCommand(IDM_STOP);
    PumpMessages();
    EXPECT_EQ(0, PlaybackState.Playing);
}

TEST_F(View, EmptyRangeWhilePlayingWithNoRowSelectedStopsAndDrawsNothing)
{
    LoadOneToThree();
    Play();
    ClearSelection();
    PlaybackState.SegmentEnd = 0;
    Spoil();
    InvalidateRect(App.WaveView, NULL, TRUE);
    UpdateWindow(App.WaveView);
    PumpMessages();
    EXPECT_EQ(0, PlaybackState.Playing);
    EXPECT_FALSE(FakeWave.IsOpen);
    EXPECT_EQ(1, FakeWaveCount("open"));
    EXPECT_TRUE(ButtonEnabled(IDM_PLAY));
    EXPECT_FALSE(ButtonEnabled(IDM_STOP));
    EXPECT_EQ(2u, FakeMemory.LiveGlobal.size()) << "only the two wave headers";
    EXPECT_TRUE(AllWhite(Shown()));
}

}
