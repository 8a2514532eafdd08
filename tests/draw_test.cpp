#include <math.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include "support/seghelp.h"
#include "support/wavbuild.h"
#include "support/canvas.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"
#include "waveview/waveview.h"

namespace {

const uint32_t White = 0xFFFFFF;
const uint32_t Black = 0x000000;
const uint32_t Stale = Canvas::Stale;

/* The picture the drawing rules give, rasterised here on its own, or with
   Gdi set, drawn by GDI's own lines and fills into that DC. */
struct Picture
{
    int Width, Height;
    std::vector<uint32_t> Pixels;
    HDC Gdi = NULL;

    Picture(int width, int height) : Width(width), Height(height), Pixels(width * height, White) {}

    void Plot(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < Width && y < Height)
            Pixels[y * Width + x] = Black;
    }

    /* num / den (den > 0) rounded to the nearest integer, halves down */
    static int RoundHalfDown(long long num, long long den)
    {
        long long a = 2 * num - den, b = 2 * den;    /* ceil(a / b) */
        return (int)(a >= 0 ? (a + b - 1) / b : -((-a) / b));
    }

    /* A line as GDI draws it with a one-pixel pen: Bresenham along the
       major axis, ties towards the smaller minor coordinate, and the end
       point left out. */
    void Line(int x0, int y0, int x1, int y1)
    {
        if (Gdi)
        {
            MoveToEx(Gdi, x0, y0, NULL);
            LineTo(Gdi, x1, y1);
            return;
        }
        int dx = x1 - x0, dy = y1 - y0;
        int n = std::max(abs(dx), abs(dy));
        for (int i = 0; i < n; i++)
        {
            if (abs(dx) >= abs(dy))
                Plot(x0 + (dx < 0 ? -i : i), y0 + RoundHalfDown((long long)i * dy, n));
            else
                Plot(x0 + RoundHalfDown((long long)i * dx, n), y0 + (dy < 0 ? -i : i));
        }
    }

    void Fill(int x, int y, int w, int h)
    {
        if (Gdi)
        {
            PatBlt(Gdi, x, y, w, h, BLACKNESS);
            return;
        }
        if (w < 0)
            x += w, w = -w;
        if (h < 0)
            y += h, h = -h;
        for (int j = y; j < y + h; j++)
            for (int i = x; i < x + w; i++)
                Plot(i, j);
    }
};

/* Sample values as the file holds them: bytes 0..255 for 8 bits, signed
   values for 16 bits; channels interleaved. */
struct Signal
{
    int Bits, Channels;
    std::vector<int> Samples;

    Bytes Data() const
    {
        Bytes out;
        for (int v : Samples)
        {
            if (Bits == 8)
                out.push_back((uint8_t)v);
            else
                PutLe16(out, (uint16_t)(int16_t)v);
        }
        return out;
    }
    int Align() const { return Channels * Bits / 8; }
    int Frames() const { return (int)Samples.size() / Channels; }
};

/* A sweep with noise that reaches both extremes now and then. */
Signal Varied(int bits, int channels, int frames, unsigned seed = 7)
{
    Signal s = { bits, channels, {} };
    unsigned r = seed;
    for (int i = 0; i < frames * channels; i++)
    {
        r = r * 1103515245u + 12345u;
        double noise = (double)((r >> 16) & 0x7FFF) / 32767.0 - 0.5;
        double v = 0.7 * sin(i * 0.013) * sin(i * 0.00071) + 0.5 * noise;
        if ((r >> 8) % 97 == 0)
            v = (r & 1) ? 1.5 : -1.5;
        v = std::max(-1.0, std::min(1.0, v));
        if (bits == 8)
            s.Samples.push_back(std::min(255, (int)floor(128 + v * 128)));
        else
            s.Samples.push_back(std::min(32767, (int)floor(v * 32768)));
    }
    return s;
}

Signal Constant(int bits, int channels, int frames, int value)
{
    Signal s = { bits, channels, std::vector<int>(frames * channels, value) };
    return s;
}

enum Mode { Waveform = IDM_WAVE, Level = IDM_LEVEL };

/* What the rules draw for bytes [start, end) of the signal's data. */
Picture Expected(const Signal &sig, Mode mode, int width, int height, long start, long end,
                 HDC gdi = NULL)
{
    Picture p(width, height);
    p.Gdi = gdi;
    const int bytes = sig.Bits / 8;
    const long blocks = (end - start) / sig.Align();
    const long perColumn = std::max(1L, (blocks + width - 1) / width) * sig.Channels;
    const int step = blocks ? std::max(1L, width / blocks) : 1;
    const int centre = sig.Bits == 8 ? 128 : 0;
    auto y = [&](int v) {
        return sig.Bits == 8 ? v * height / 256 : (v + 32768) / (65536 / height);
    };
    int penX = -1, penY = sig.Bits == 8 ? height * 128 / 256 : height / 2;
    size_t pos = start / bytes;
    long total = 0;

    for (int x = 0; x < width; x += step)
    {
        size_t n = std::min((size_t)perColumn, sig.Samples.size() - pos);
        if (n == 0)
            break;
        auto first = sig.Samples.begin() + pos;
        int lo = *std::min_element(first, first + n);
        int hi = *std::max_element(first, first + n);
        if (mode == Waveform)
        {
            p.Line(penX, penY, x, y(first[0]));
            p.Line(x, y(lo), x, y(hi) + 1);
            penX = x;
            penY = y(first[n - 1]);
        }
        else
        {
            double peak = 0;
            for (size_t i = 0; i < n; i++)
                peak = std::max(peak, (double)(first[i] - centre) * (first[i] - centre));
            double level = peak > 0 ? log(peak) / (sig.Bits == 8 ? 9.70406053 : 20.7944154) : -1.0;
            p.Fill(x, (int)((1.0 - level) * height * 2), step, (int)(height * level));
        }
        if (n < (size_t)perColumn)
            break;
        total += (long)n * bytes;
        if (total >= end - start)
            break;
        pos += n;
    }
    return p;
}

#define EXPECT_PICTURE(...) CALLED_HERE(ExpectPicture(__VA_ARGS__))
void ExpectPicture(const Picture &want, const Canvas &got)
{
    int wrong = 0;
    std::string first;
    for (int y = 0; y < want.Height; y++)
        for (int x = 0; x < want.Width; x++)
            if (got.At(x, y) != want.Pixels[y * want.Width + x])
            {
                if (wrong++ < 5)
                    first += " (" + std::to_string(x) + "," + std::to_string(y) + ")";
            }
    EXPECT_EQ(0, wrong) << "pixels differ, first at" << first;
}

class Drawing : public AppTest
{
protected:
    /* Loads the signal as the user's file and sets the view's size. */
    void Load(const Signal &sig, int width, int height, uint32_t rate = 8000)
    {
        LoadBytes("source.wav", PcmWav(sig.Channels, rate, sig.Bits, sig.Data()));
        PumpMessages();
        ASSERT_TRUE(WaveDocument.ReadHandle != NULL);
        ClearBoxes();
        PlaybackState.WaveViewWidth = width;
        PlaybackState.WaveViewHeight = height;
    }
    void SetRange(long start, long end)
    {
        PlaybackState.SegmentStart = start;
        PlaybackState.PlayStart = start;
        PlaybackState.SegmentEnd = end;
    }
    LONG FilePosition() { return mmioSeek(WaveDocument.ReadHandle, 0, SEEK_CUR); }
    LONG DataStart() { return (LONG)WaveDocument.DataChunk.dwDataOffset; }
};

struct Format { int bits, channels; };
const Format Formats[] = { { 8, 1 }, { 8, 2 }, { 16, 1 }, { 16, 2 }, { 8, 3 }, { 16, 3 } };

/* Each vector kernel against the plain scan, from every start within a
   vector and for every length past one whole AVX2 step: the extremes are
   planted at places that move with the start and the length. */
TEST(Scan, EveryKernelFindsWhatThePlainScanFinds)
{
    const int kernels[] = { ScanSse2, ScanAvx2 };
    static BYTE data[32 + 2 * 130];
    for (int wide = 0; wide < 2; wide++)
        for (int kernel : kernels)
        {
            if (kernel == ScanAvx2 && !__builtin_cpu_supports("avx2"))
                continue;
            for (LONG offset = 0; offset < 32; offset++)
                for (LONG length = 0; length <= 130; length++)
                {
                    for (size_t i = 0; i < sizeof(data); i++)
                        data[i] = (BYTE)(100 + (i * 37 + length) % 50);
                    if (length > 1)
                    {
                        LONG at = (length * 7 + offset) % length;
                        LONG other = (at + 1 + (length * 3 + offset * 5) % (length - 1)) % length;
                        BYTE *low = data + offset + (wide + 1) * at, *high = data + offset + (wide + 1) * other;
                        low[0] = 3, low[wide] = wide ? 0x80 : 3;
                        high[0] = 250, high[wide] = wide ? 0x7F : 250;
                    }
                    COLUMNSCAN plain = {}, fast = {};
                    SetScanKernel(ScanPlain);
                    ScanSamples(wide, data + offset, length * (wide + 1), &plain);
                    SetScanKernel(kernel);
                    ScanSamples(wide, data + offset, length * (wide + 1), &fast);
                    SetScanKernel(ScanBest);
                    if (memcmp(&plain, &fast, sizeof(plain)) != 0)
                        FAIL() << (wide ? "words" : "bytes") << ", kernel " << kernel << ", start " << offset
                               << ", length " << length << ": min " << fast.Min << " max " << fast.Max
                               << ", plainly " << plain.Min << " " << plain.Max;
                }
        }
}

TEST_F(Drawing, BothGraphsOfEveryFormatFollowTheRules)
{
    for (const Format &f : Formats)
        for (Mode mode : { Waveform, Level })
        {
            SCOPED_TRACE(testing::Message() << f.bits << " bits, " << f.channels
                         << " channels, " << (mode == Waveform ? "waveform" : "level"));
            Signal sig = Varied(f.bits, f.channels, 256 * 37 + 6);
            Load(sig, 256, 64);
            App.ViewMode = mode;
            Canvas canvas(256, 64);
            dispwave(canvas.Dc);
            EXPECT_PICTURE(Expected(sig, mode, 256, 64, 0, (long)sig.Data().size()), canvas);
        }
}

/* The program rasterises the graph itself: the same figures drawn by GDI,
   steep and shallow joins up and down included, give the same pixels,
   also where only part of the view may be drawn. */
TEST_F(Drawing, PixelsAreThoseGdiDrawsForTheSameFigures)
{
    const struct { Signal sig; RECT clip; } cases[] = {
        { Varied(16, 2, 256 * 37 + 6), { 0, 0, 256, 64 } },
        { Varied(8, 1, 256 * 5), { 37, 5, 203, 50 } },
        { { 8, 1, { 20, 250, 128, 0, 200, 90, 255, 60, 140, 30 } }, { 0, 0, 256, 64 } },
        { { 8, 1, { 0, 255, 3, 250, 128, 2, 129 } }, { 3, 9, 255, 61 } },
    };
    for (const auto &c : cases)
        for (Mode mode : { Waveform, Level })
        {
            SCOPED_TRACE(testing::Message() << c.sig.Samples.size() << " samples, clip from x "
                         << c.clip.left << ", " << (mode == Waveform ? "waveform" : "level"));
            Load(c.sig, 256, 64);
            App.ViewMode = mode;
            Canvas drawn(256, 64), gdi(256, 64);
            for (HDC dc : { drawn.Dc, gdi.Dc })
                IntersectClipRect(dc, c.clip.left, c.clip.top, c.clip.right, c.clip.bottom);
            dispwave(drawn.Dc);
            BitBlt(gdi.Dc, 0, 0, 256, 64, NULL, 0, 0, WHITENESS);
            Expected(c.sig, mode, 256, 64, 0, (long)c.sig.Data().size(), gdi.Dc);
            EXPECT_TRUE(drawn.Pixels() == gdi.Pixels());
        }
}

/* Columns are scanned where they lie in the file's read buffer; with small
   buffers every column runs over buffer ends, some of them inside a sample. */
TEST_F(Drawing, ColumnsOverReadBufferEndsAreDrawnWhole)
{
    for (LONG size : { 1001L, 4096L })
        for (const Format &f : { Format{ 16, 2 }, Format{ 8, 1 } })
        {
            SCOPED_TRACE(testing::Message() << size << "-byte buffer, " << f.bits << " bits");
            Signal sig = Varied(f.bits, f.channels, 512 * 23 + 6);
            Load(sig, 512, 64);
            ASSERT_EQ(0u, mmioSetBuffer(WaveDocument.ReadHandle, NULL, size, 0));
            Canvas canvas(512, 64);
            dispwave(canvas.Dc);
            EXPECT_PICTURE(Expected(sig, Waveform, 512, 64, 0, (long)sig.Data().size()), canvas);
        }
}

TEST_F(Drawing, MiddleSegmentStartsAtItsOwnFirstBlock)
{
    Signal sig = Varied(16, 2, 9000);
    Load(sig, 512, 80);
    SetRange(4 * 1234, 4 * 7000);
    Canvas canvas(512, 80);
    dispwave(canvas.Dc);
    EXPECT_PICTURE(Expected(sig, Waveform, 512, 80, 4 * 1234, 4 * 7000), canvas);
}

TEST_F(Drawing, FewerBlocksThanPixelsSpreadEachBlockOverSeveralColumns)
{
    for (Mode mode : { Waveform, Level })
    {
        SCOPED_TRACE(mode == Waveform ? "waveform" : "level");
        Signal sig = { 8, 1, { 20, 250, 128, 0, 200, 90, 255, 60, 140, 30 } };
        Load(sig, 256, 64);
        App.ViewMode = mode;
        Canvas canvas(256, 64);
        dispwave(canvas.Dc);
        EXPECT_PICTURE(Expected(sig, mode, 256, 64, 0, 10), canvas);
        EXPECT_EQ(1, PlaybackState.BlocksPerColumn);
    }
    /* 256 / 10 = 25 pixels per block: the join from block 0 (y 5) slopes
       down to block 1 (y 62) at x = 25 */
    Canvas canvas(256, 64);
    App.ViewMode = Waveform;
    dispwave(canvas.Dc);
    EXPECT_EQ(Black, canvas.At(12, 33));
    EXPECT_EQ(White, canvas.At(12, 5));
    EXPECT_EQ(White, canvas.At(250, 32));
}

TEST_F(Drawing, ExactlyWidthTimesBlocksFillsEveryColumn)
{
    Signal sig = Varied(16, 1, 256 * 3);
    Load(sig, 256, 64);
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_EQ(3, PlaybackState.BlocksPerColumn);
    EXPECT_PICTURE(Expected(sig, Waveform, 256, 64, 0, 256 * 3 * 2), canvas);
    bool inkInLastColumn = false;
    for (int y = 0; y < 64; y++)
        inkInLastColumn |= canvas.At(255, y) == Black;
    EXPECT_TRUE(inkInLastColumn);
}

TEST_F(Drawing, OneBlockMoreEndsBeforeTheRightEdge)
{
    Signal sig = Varied(16, 1, 256 * 3 + 1);
    Load(sig, 256, 64);
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_EQ(4, PlaybackState.BlocksPerColumn);
    EXPECT_PICTURE(Expected(sig, Waveform, 256, 64, 0, (256 * 3 + 1) * 2), canvas);
    /* 769 blocks in columns of 4: columns 0 to 192 */
    for (int x = 193; x < 256; x++)
        for (int y = 0; y < 64; y++)
            ASSERT_EQ(White, canvas.At(x, y)) << x << "," << y;
}

TEST_F(Drawing, SilenceLiesOnOneRow)
{
    struct { int bits, height, value, row; } cases[] = {
        { 8, 70, 128, 128 * 70 / 256 },
        { 8, 100, 128, 50 },
        { 16, 70, 0, 32768 / (65536 / 70) },
        { 16, 100, 0, 50 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, height " << c.height);
        Load(Constant(c.bits, 2, 256 * 20, c.value), 256, c.height);
        Canvas canvas(256, c.height);
        dispwave(canvas.Dc);
        for (int x = 0; x < 256; x++)
            for (int y = 0; y < c.height; y++)
                ASSERT_EQ(y == c.row ? Black : White, canvas.At(x, y)) << x << "," << y;
    }
}

TEST_F(Drawing, FullScaleSixteenBitSampleLandsOneRowBelowAViewOf100)
{
    Load(Constant(16, 1, 2560, 32767), 256, 100);
    Canvas canvas(256, 101);       /* one row more than the view, to see it */
    dispwave(canvas.Dc);
    for (int x = 1; x < 256; x++)
        EXPECT_EQ(Black, canvas.At(x, 100)) << x;
    for (int x = 1; x < 256; x++)
        for (int y = 0; y < 100; y++)
            ASSERT_EQ(White, canvas.At(x, y)) << x << "," << y;
    /* only the first join, from the middle row down, shows in the view */
    EXPECT_EQ(Black, canvas.At(0, 99));
    EXPECT_EQ(White, canvas.At(0, 50));
}

TEST_F(Drawing, LevelBarsRiseFromTheBottomByTheirLevel)
{
    /* columns of 10 blocks: a peak of level 0.75, then silence */
    struct { int bits, quiet, peak; } cases[] = {
        { 8, 128, 128 + 38 },         /* ln(38^2) / ln(128^2) = 0.7497 */
        { 16, 0, 2435 },              /* ln(2435^2) / ln(32768^2) = 0.7500 */
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bits << " bits");
        Signal sig = Constant(c.bits, 1, 2560, c.quiet);
        sig.Samples[3] = c.peak;
        Load(sig, 256, 100);
        App.ViewMode = Level;
        Canvas canvas(256, 100);
        dispwave(canvas.Dc);
        for (int y = 0; y < 100; y++)
        {
            EXPECT_EQ(y >= 50 ? Black : White, canvas.At(0, y)) << y;
            EXPECT_EQ(White, canvas.At(1, y)) << y;
        }
    }
}

TEST_F(Drawing, FullScaleSixteenBitColumnFillsAViewOf100)
{
    Signal sig = Constant(16, 1, 2560, 0);
    sig.Samples[15] = -32768;
    Load(sig, 256, 100);
    App.ViewMode = Level;
    Canvas canvas(256, 100);
    dispwave(canvas.Dc);
    for (int y = 0; y < 100; y++)
    {
        EXPECT_EQ(White, canvas.At(0, y)) << y;
        EXPECT_EQ(Black, canvas.At(1, y)) << y;
        EXPECT_EQ(White, canvas.At(2, y)) << y;
    }
}

TEST_F(Drawing, OtherDepthsShowNoSupportOnWhite)
{
    Signal sig = { 8, 1, std::vector<int>(3 * 3000, 0x55) };    /* 3000 frames of 24 bits */
    LoadBytes("deep.wav", Riff("WAVE", { Chunk("fmt ", FmtRecord(1, 1, 8000, 24)), Chunk("data", sig.Data()) }));
    PumpMessages();
    ASSERT_TRUE(WaveDocument.ReadHandle != NULL);
    ASSERT_EQ(24u, WaveDocument.DrawBits);
    PlaybackState.WaveViewWidth = 256;
    PlaybackState.WaveViewHeight = 64;

    Canvas canvas(256, 64);
    dispwave(canvas.Dc);

    /* the expected picture: the text as the device context's defaults draw
       it at the top left of a white view */
    Canvas expected(256, 64);
    PatBlt(expected.Dc, 0, 0, 256, 64, WHITENESS);
    TextOutA(expected.Dc, 0, 0, "No Support", 10);
    int ink = 0;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 256; x++)
        {
            ASSERT_EQ(expected.At(x, y), canvas.At(x, y)) << x << "," << y;
            ink += canvas.At(x, y) != White;
        }
    EXPECT_GT(ink, 20);
}

TEST_F(Drawing, BlocksPerColumnIsTheBlockCountOverTheWidthRoundedUp)
{
    struct { long bytes; int width; long perColumn; } cases[] = {
        { 4 * 10, 256, 1 }, { 4 * 512, 512, 1 }, { 4 * 513, 512, 2 },
        { 4 * 1024 * 7, 1024, 7 }, { 0, 256, 1 }, { 2, 256, 1 },
    };
    Load(Varied(16, 2, 1024 * 8), 256, 40);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bytes << " bytes over " << c.width);
        PlaybackState.WaveViewWidth = c.width;
        SetRange(0, c.bytes);
        Canvas canvas(c.width, 40);
        dispwave(canvas.Dc);
        EXPECT_EQ(c.perColumn, PlaybackState.BlocksPerColumn);
    }
}

TEST_F(Drawing, RangeLessThanOneBlockDrawsOneColumn)
{
    Signal sig = Varied(16, 2, 600);
    Load(sig, 256, 64);
    SetRange(400, 402);            /* half a block: no block to spread */
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_PICTURE(Expected(sig, Waveform, 256, 64, 400, 402), canvas);
}

TEST_F(Drawing, RangeBeyondTheFileEndsWithTheData)
{
    Signal sig = Varied(8, 1, 1000);
    Load(sig, 256, 64);
    SetRange(0, 4000);
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_PICTURE(Expected(sig, Waveform, 256, 64, 0, 4000), canvas);
}

TEST_F(Drawing, ViewWithoutHeightDrawsNothingAndLeavesTheFile)
{
    Load(Varied(16, 1, 3000), 256, 64);
    for (int height : { 0, -5 })
    {
        SCOPED_TRACE(height);
        PlaybackState.WaveViewHeight = height;
        mmioSeek(WaveDocument.ReadHandle, DataStart() + 100, SEEK_SET);
        Canvas canvas(256, 10);
        dispwave(canvas.Dc);
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < 256; x++)
                ASSERT_EQ(Stale, canvas.At(x, y));
        EXPECT_EQ(DataStart() + 100, FilePosition());
        EXPECT_EQ(12, PlaybackState.BlocksPerColumn);
    }
}

TEST_F(Drawing, FileIsLeftAtTheSegmentStartWhenIdle)
{
    Load(Varied(16, 2, 3000), 256, 64);
    SetRange(4 * 100, 4 * 2000);
    mmioSeek(WaveDocument.ReadHandle, DataStart() + 8, SEEK_SET);
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_EQ(DataStart() + 4 * 100, FilePosition());
}

TEST_F(Drawing, FilePositionIsKeptWhilePlaying)
{
    Load(Varied(16, 2, 3000), 256, 64);
    SetRange(4 * 100, 4 * 2000);
    PlaybackState.Playing = 1;
    mmioSeek(WaveDocument.ReadHandle, DataStart() + 4 * 1500, SEEK_SET);
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    EXPECT_EQ(DataStart() + 4 * 1500, FilePosition());
    PlaybackState.Playing = 0;
    EXPECT_TRUE(FakeMemory.LiveLocal.size() <= 1u) << "only the held format block";
}

TEST_F(Drawing, FilePositionThatCannotBeRestoredWhilePlayingClosesTheSource)
{
    Load(Varied(16, 2, 3000), 256, 64);
    SetRange(4 * 100, 4 * 2000);
    PlaybackState.Playing = 1;
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    mmioSeek(WaveDocument.ReadHandle, DataStart() + 4 * 1500, SEEK_SET);
    FakeWave.FailSeekTo = DataStart() + 4 * 1500;
    dispwave(canvas.Dc);
    PlaybackState.Playing = 0;
    EXPECT_TRUE(WaveDocument.ReadHandle == NULL);
}

TEST_F(Drawing, ColumnBufferIsReleasedAfterEveryDrawing)
{
    Load(Varied(8, 2, 3000), 256, 64);
    size_t before = FakeMemory.LiveLocal.size();
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
    dispwave(canvas.Dc);
    EXPECT_EQ(before, FakeMemory.LiveLocal.size());
}

/* Prints every message box's text so that the parent can see it. */
LRESULT CALLBACK PrintBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE)
    {
        char text[256] = "";
        GetDlgItemTextA((HWND)wParam, 0xFFFF, text, sizeof(text));
        fprintf(stderr, "box [%s]\n", text);
        fflush(stderr);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

void DrawWithoutColumnBuffer(void)
{
    SetWindowsHookExA(WH_CBT, PrintBoxes, NULL, GetCurrentThreadId());
    FakeMemory.FailLocalAllocAt = 1;
    Canvas canvas(256, 64);
    dispwave(canvas.Dc);
}

TEST_F(Drawing, NoColumnBufferEndsTheProgramAfterSaying_dispwave)
{
    Load(Varied(16, 2, 3000), 256, 64);
    EXPECT_EXIT(DrawWithoutColumnBuffer(), ::testing::ExitedWithCode(1), "box \\[dispwave\\]");
}

}
