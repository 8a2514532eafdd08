#include "fakewave.h"
#include "imports.h"
#include <algorithm>

FAKEWAVEOUT FakeWave;

static const HWAVEOUT FAKE_DEVICE = (HWAVEOUT)(INT_PTR)0x7E57;

static void *RealWinmm(const char *name)
{
    static HMODULE winmm = LoadLibraryA("winmm.dll");
    return (void *)GetProcAddress(winmm, name);
}

static void *RealUser32(const char *name)
{
    static HMODULE user32 = LoadLibraryA("user32.dll");
    return (void *)GetProcAddress(user32, name);
}

void FakeWaveReset(bool enabled)
{
    FakeWave = FAKEWAVEOUT();
    FakeWave.Enabled = enabled;
}

std::vector<FakeWaveCall> FakeWaveCallsFrom(size_t from)
{
    from = std::min(from, FakeWave.Calls.size());
    return std::vector<FakeWaveCall>(FakeWave.Calls.begin() + from, FakeWave.Calls.end());
}

int FakeWaveCount(const char *what, size_t from)
{
    int n = 0;
    for (const FakeWaveCall &call : FakeWaveCallsFrom(from))
        n += call.What == what;
    return n;
}

static MMRESULT Record(const char *what, WAVEHDR *header, DWORD rate, MMRESULT result)
{
    FakeWaveCall call = { what, header, header ? header->dwBufferLength : 0,
                          header ? header->dwUser : 0, rate, result };
    FakeWave.Calls.push_back(call);
    return result;
}

static void GiveBack(WAVEHDR *header)
{
    header->dwFlags &= ~WHDR_INQUEUE;
    header->dwFlags |= WHDR_DONE;
    PostMessageA(FakeWave.CallbackWindow, MM_WOM_DONE, (WPARAM)FAKE_DEVICE, (LPARAM)header);
}

bool FakeWaveComplete(void)
{
    if (FakeWave.Queue.empty())
        return false;
    WAVEHDR *header = FakeWave.Queue.front();
    FakeWave.Queue.pop_front();
    FakeWave.Played += header->dwBufferLength;
    GiveBack(header);
    return true;
}

extern "C" {

static MMRESULT WINAPI FakeOpen(LPHWAVEOUT device, UINT id, LPCWAVEFORMATEX format,
                                DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    typedef MMRESULT (WINAPI *OPEN)(LPHWAVEOUT, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
    if (!FakeWave.Enabled)
        return ((OPEN)RealWinmm("waveOutOpen"))(device, id, format, callback, instance, flags);

    MMRESULT result = MMSYSERR_NOERROR;
    if (!FakeWave.OpenResults.empty())
    {
        result = FakeWave.OpenResults.front();
        FakeWave.OpenResults.pop_front();
    }
    else if (FakeWave.RefusedRates.count(format->nSamplesPerSec))
        result = WAVERR_BADFORMAT;

    bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    Record(query ? "query" : "open", NULL, format->nSamplesPerSec, result);
    if (!query && result == MMSYSERR_NOERROR)
    {
        *device = FAKE_DEVICE;
        FakeWave.IsOpen = true;
        FakeWave.Played = 0;
        FakeWave.CallbackWindow = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW ? (HWND)callback : NULL;
    }
    return result;
}

static MMRESULT WINAPI FakePrepare(HWAVEOUT device, LPWAVEHDR header, UINT size)
{
    typedef MMRESULT (WINAPI *HDRCALL)(HWAVEOUT, LPWAVEHDR, UINT);
    if (!FakeWave.Enabled)
        return ((HDRCALL)RealWinmm("waveOutPrepareHeader"))(device, header, size);

    FakeWave.Prepares++;
    if (FakeWave.FailPrepareAt && FakeWave.Prepares == FakeWave.FailPrepareAt)
        return Record("prepare", header, 0, MMSYSERR_NOMEM);
    if (header->dwFlags & WHDR_INQUEUE)
        return Record("prepare", header, 0, WAVERR_STILLPLAYING);
    header->dwFlags |= WHDR_PREPARED;
    return Record("prepare", header, 0, MMSYSERR_NOERROR);
}

static MMRESULT WINAPI FakeUnprepare(HWAVEOUT device, LPWAVEHDR header, UINT size)
{
    typedef MMRESULT (WINAPI *HDRCALL)(HWAVEOUT, LPWAVEHDR, UINT);
    if (!FakeWave.Enabled)
        return ((HDRCALL)RealWinmm("waveOutUnprepareHeader"))(device, header, size);

    if (header->dwFlags & WHDR_INQUEUE)
        return Record("unprepare", header, 0, WAVERR_STILLPLAYING);
    header->dwFlags &= ~WHDR_PREPARED;
    return Record("unprepare", header, 0, MMSYSERR_NOERROR);
}

static MMRESULT WINAPI FakeWrite(HWAVEOUT device, LPWAVEHDR header, UINT size)
{
    typedef MMRESULT (WINAPI *HDRCALL)(HWAVEOUT, LPWAVEHDR, UINT);
    if (!FakeWave.Enabled)
        return ((HDRCALL)RealWinmm("waveOutWrite"))(device, header, size);

    FakeWave.Writes++;
    if (FakeWave.FailWriteAt && FakeWave.Writes == FakeWave.FailWriteAt)
        return Record("write", header, 0, MMSYSERR_NOMEM);
    if (!(header->dwFlags & WHDR_PREPARED))
        return Record("write", header, 0, WAVERR_UNPREPARED);
    header->dwFlags &= ~WHDR_DONE;
    header->dwFlags |= WHDR_INQUEUE;
    FakeWave.Queue.push_back(header);
    FakeWave.Received.insert(FakeWave.Received.end(), (BYTE *)header->lpData,
                             (BYTE *)header->lpData + header->dwBufferLength);
    return Record("write", header, 0, MMSYSERR_NOERROR);
}

static MMRESULT WINAPI FakeReset(HWAVEOUT device)
{
    typedef MMRESULT (WINAPI *DEVCALL)(HWAVEOUT);
    if (!FakeWave.Enabled)
        return ((DEVCALL)RealWinmm("waveOutReset"))(device);

    while (!FakeWave.Queue.empty())
    {
        GiveBack(FakeWave.Queue.front());
        FakeWave.Queue.pop_front();
    }
    FakeWave.Played = 0;
    return Record("reset", NULL, 0, MMSYSERR_NOERROR);
}

/* Like Windows, and unlike Wine, a close with buffers still queued fails. */
static MMRESULT WINAPI FakeClose(HWAVEOUT device)
{
    typedef MMRESULT (WINAPI *DEVCALL)(HWAVEOUT);
    if (!FakeWave.Enabled)
        return ((DEVCALL)RealWinmm("waveOutClose"))(device);

    if (!FakeWave.Queue.empty())
    {
        FakeWave.ClosedWhileQueued++;
        return Record("close", NULL, 0, WAVERR_STILLPLAYING);
    }
    FakeWave.IsOpen = false;
    return Record("close", NULL, 0, MMSYSERR_NOERROR);
}

static MMRESULT WINAPI FakeGetPosition(HWAVEOUT device, LPMMTIME time, UINT size)
{
    typedef MMRESULT (WINAPI *POSCALL)(HWAVEOUT, LPMMTIME, UINT);
    if (!FakeWave.Enabled)
        return ((POSCALL)RealWinmm("waveOutGetPosition"))(device, time, size);

    if (FakeWave.PositionResult != MMSYSERR_NOERROR)
        return FakeWave.PositionResult;
    time->wType = TIME_BYTES;
    time->u.cb = FakeWave.Played;
    return MMSYSERR_NOERROR;
}

static LONG WINAPI FakeMessageTime(void)
{
    typedef LONG (WINAPI *TIMECALL)(void);
    if (!FakeWave.Enabled)
        return ((TIMECALL)RealUser32("GetMessageTime"))();
    return FakeWave.Now;
}

static LONG WINAPI FakeSeek(HMMIO file, LONG offset, int origin)
{
    typedef LONG (WINAPI *SEEKCALL)(HMMIO, LONG, int);
    if (FakeWave.FailSeekTo && origin == SEEK_SET && offset == FakeWave.FailSeekTo)
        return -1;
    return ((SEEKCALL)RealWinmm("mmioSeek"))(file, offset, origin);
}

/* The program calls winmm and the message clock through these import pointers. */
IMPORT_DOUBLE(waveOutOpen,            24, FakeOpen);
IMPORT_DOUBLE(waveOutPrepareHeader,   12, FakePrepare);
IMPORT_DOUBLE(waveOutUnprepareHeader, 12, FakeUnprepare);
IMPORT_DOUBLE(waveOutWrite,           12, FakeWrite);
IMPORT_DOUBLE(waveOutReset,            4, FakeReset);
IMPORT_DOUBLE(waveOutClose,            4, FakeClose);
IMPORT_DOUBLE(waveOutGetPosition,     12, FakeGetPosition);
IMPORT_DOUBLE(GetMessageTime,          0, FakeMessageTime);
IMPORT_DOUBLE(mmioSeek,               12, FakeSeek);

}
