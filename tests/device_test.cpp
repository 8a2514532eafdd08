/* Playback on Wine's real wave output (ALSA's null device, which plays
   faster than real time). Nothing here depends on how fast: every wait
   pumps messages until a condition holds, with a generous bound. */
#include "support/seghelp.h"
#include "support/wavbuild.h"
#include "app/app.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

namespace {

int Returns;
HHOOK ReturnHook;

/* Counts the device's buffer-done messages as the message loop takes them. */
LRESULT CALLBACK CountReturns(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG *msg = (const MSG *)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == MM_WOM_DONE)
        Returns++;
    return CallNextHookEx(ReturnHook, code, wParam, lParam);
}

class Device : public AppTest
{
protected:
    size_t GlobalBefore = 0;

    void SetUp() override
    {
        AppTest::SetUp();
        FakeWaveReset(false);
        Returns = 0;
        ReturnHook = SetWindowsHookExA(WH_GETMESSAGE, CountReturns, NULL, GetCurrentThreadId());
    }

    void TearDown() override
    {
        UnhookWindowsHookEx(ReturnHook);
        AppTest::TearDown();
    }

    /* 44.1 kHz 16-bit stereo: one buffer is 131072 bytes. */
    void Load(size_t bytes)
    {
        LoadBytes("tone.wav", PcmWav(2, 44100, 16, PatternBytes(bytes)));
        PumpMessages();
        ASSERT_TRUE(Boxes().empty()) << "no wave device: " << Boxes()[0].Text;
        GlobalBefore = FakeMemory.LiveGlobal.size();
    }

    bool WaitFor(bool (*done)(void))
    {
        for (int i = 0; i < 6000; i++)
        {
            PumpMessages();
            if (done())
                return true;
            Sleep(5);
        }
        return false;
    }

#define EXPECT_RELEASED() CALLED_HERE(ExpectReleased())
    void ExpectReleased(void)
    {
        EXPECT_EQ(0, PlaybackState.Playing);
        EXPECT_EQ(NULL, PlaybackState.OutputDevice);
        EXPECT_EQ(NULL, PlaybackState.AudioBuffers[0].Handle);
        EXPECT_EQ(NULL, PlaybackState.AudioBuffers[1].Handle);
        EXPECT_EQ(GlobalBefore, FakeMemory.LiveGlobal.size());
    }
};

bool PlaybackEnded(void) { return !PlaybackState.Playing; }
bool SeveralReturns(void) { return Returns >= 8; }
bool TwoReturns(void) { return Returns >= 2; }

TEST_F(Device, ShortSegmentPlaysToItsEndAndEverythingGoesIdle)
{
    Load(60000);
    SendCommand(IDM_LOOP);
    SendCommand(IDM_PLAY);
    ASSERT_EQ(1, PlaybackState.Playing);
    EXPECT_TRUE(ButtonEnabled(IDM_STOP));

    ASSERT_TRUE(WaitFor(PlaybackEnded));
    EXPECT_EQ(1, Returns);
    EXPECT_RELEASED();
    EXPECT_COMMANDS({ { IDM_PLAY, true }, { IDM_STOP, false } });
    EXPECT_TRUE(ButtonEnabled(IDM_OPEN));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Device, LoopingPlaysPassAfterPassUntilStop)
{
    Load(60000);
    SendCommand(IDM_PLAY);
    ASSERT_TRUE(WaitFor(SeveralReturns));
    EXPECT_EQ(1, PlaybackState.Playing);

    SendCommand(IDM_STOP);
    EXPECT_RELEASED();
    int returned = Returns;
    for (int i = 0; i < 20; i++)
    {
        PumpMessages();
        Sleep(5);
    }
    EXPECT_LE(Returns - returned, 2) << "only the stop's own notifications arrive";
    EXPECT_RELEASED();
    EXPECT_TRUE(ButtonEnabled(IDM_PLAY));
    EXPECT_TRUE(Boxes().empty());
}

/* The cut lands on what the device has played: no earlier than every
   buffer it has given back, and short of what has been read ahead; the
   times' five decimals may round either bound by one block. */
TEST_F(Device, DivideWhilePlayingCutsBetweenWhatWasPlayedAndTheReadPosition)
{
    Load(2000000);
    SendCommand(IDM_PLAY);
    ASSERT_TRUE(WaitFor(TwoReturns));
    LONG played = Returns * (LONG)PlaybackState.BytesPerBuffer;
    LONG read = PlaybackState.SegmentEnd - (LONG)WaveDocument.BytesLeft;

    SendCommand(IDM_DIVIDE);
    LONG cut = TextToOffset(RowText(1, COL_START).c_str());
    EXPECT_GE(cut, played - 4);
    EXPECT_LT(cut, read - 4);
    SendCommand(IDM_STOP);
}

TEST_F(Device, ExitWhilePlayingReleasesEverythingAndQuitsWithZero)
{
    Load(400000);
    SendCommand(IDM_PLAY);
    ASSERT_TRUE(WaitFor(TwoReturns));

    SendCommand(IDM_EXIT);
    MSG msg;
    bool quit = false;
    int code = -1;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT)
        {
            quit = true;
            code = (int)msg.wParam;
        }
        else
            DispatchMessageA(&msg);

    EXPECT_FALSE(IsWindow(App.MainWindow));
    EXPECT_TRUE(quit);
    EXPECT_EQ(0, code);
    EXPECT_EQ(NULL, PlaybackState.OutputDevice);
    EXPECT_EQ(NULL, WaveDocument.ReadHandle);
    EXPECT_EQ(NULL, PlaybackState.AudioBuffers[0].Handle);
    EXPECT_TRUE(FakeMemory.LiveGlobal.empty());
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    EXPECT_TRUE(Boxes().empty());
}

} // namespace
