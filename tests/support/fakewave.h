/* A wave-output device under the test's control. The program's calls to
   waveOutOpen, waveOutPrepareHeader, waveOutWrite, waveOutUnprepareHeader,
   waveOutReset, waveOutClose and waveOutGetPosition reach this double through the import
   table, and so does GetMessageTime, the clock of the device's notices; with
   Enabled false every call goes on to the real system. */
#ifndef PELNOR_TEST_FAKEWAVE_H
#define PELNOR_TEST_FAKEWAVE_H

#include <windows.h>
#include <mmsystem.h>
#include <deque>
#include <set>
#include <string>
#include <vector>

struct FakeWaveCall
{
    std::string What;        /* "query", "open", "prepare", "write", "unprepare", "reset", "close" */
    WAVEHDR    *Header;
    DWORD       Length;      /* dwBufferLength at the call */
    DWORD_PTR   User;        /* dwUser at the call */
    DWORD       Rate;        /* nSamplesPerSec for query and open */
    MMRESULT    Result;
};

struct FAKEWAVEOUT
{
    bool                      Enabled;
    std::deque<MMRESULT>      OpenResults;    /* answers for the next queries and opens, in order */
    std::set<DWORD>           RefusedRates;   /* answered WAVERR_BADFORMAT when no answer is queued */
    int                       FailPrepareAt;  /* 1-based count of prepares from now; 0: never */
    int                       FailWriteAt;
    std::vector<FakeWaveCall> Calls;
    std::deque<WAVEHDR *>     Queue;          /* written and not yet given back */
    std::vector<BYTE>         Received;       /* every written buffer's bytes, in order */
    HWND                      CallbackWindow;
    bool                      IsOpen;
    int                       ClosedWhileQueued;
    int                       Prepares, Writes;
    DWORD                     Played;         /* position in bytes since the open or last reset:
                                                 completions add to it, a test may set it */
    MMRESULT                  PositionResult; /* answer of waveOutGetPosition */
    /* The program's mmioSeek calls go on to winmm, whether or not the
       device double is enabled, except a seek from the start to this file
       position, which fails (-1); 0: none fails. */
    LONG                      FailSeekTo;
    LONG                      Now;            /* ms: GetMessageTime of whatever is handled */
};

extern FAKEWAVEOUT FakeWave;

void FakeWaveReset(bool enabled = true);
/* Gives back the oldest queued buffer as the device would after playing
   it: WHDR_DONE set and MM_WOM_DONE posted. False when none is queued. */
bool FakeWaveComplete(void);
/* The calls made from call number `from` on. */
std::vector<FakeWaveCall> FakeWaveCallsFrom(size_t from);
/* How many calls of one kind were made from call number `from` on. */
int  FakeWaveCount(const char *what, size_t from = 0);

#endif
