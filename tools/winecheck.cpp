// winecheck: checks the Wine set-up that the program and its tests rely on.
//
//   winecheck.exe            in-process checks (null driver, tools/winerun):
//                            a window is created, a message box is answered,
//                            one wave-out device opens 44.1 kHz 16-bit stereo,
//                            the UTF-8 code page is active. Exit 0 when all pass.
//   winecheck.exe --show S   shows a window titled WINECHECK_TITLE for at most
//                            S seconds or until it is closed (tools/xrun check:
//                            xdotool reads the Japanese title back).
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const wchar_t kTitle[] = L"PELNOR 確認 日本語";
const char kBoxText[] = "winecheck message";
int failures = 0;

void Report(const char* what, bool ok, const char* detail = "")
{
    std::printf("%-28s %s %s\n", what, ok ? "ok" : "FAILED", detail);
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

HHOOK cbtHook;
bool boxSeen;
char boxText[128];

LRESULT CALLBACK AnswerBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[32] = "";
        GetClassNameA(box, cls, sizeof cls);
        if (std::strcmp(cls, "#32770") == 0) {
            boxSeen = true;
            GetDlgItemTextA(box, 0xFFFF, boxText, sizeof boxText);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

UINT_PTR watchdogTimer;

void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD)
{
    std::printf("watchdog: a message box stayed open\n");
    std::fflush(stdout);
    ExitProcess(3);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        DrawTextW(dc, kTitle, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND MakeWindow(HINSTANCE instance, bool visible)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"WinecheckClass";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW,
                                40, 40, 480, 240, nullptr, nullptr, instance, nullptr);
    if (hwnd && visible) {
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }
    return hwnd;
}

void CheckWaveOut()
{
    UINT devices = waveOutGetNumDevs();
    char detail[64];
    std::snprintf(detail, sizeof detail, "(%u device(s))", devices);
    Report("waveOutGetNumDevs() == 1", devices == 1, detail);

    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    HWAVEOUT out = nullptr;
    MMRESULT result = waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL);
    std::snprintf(detail, sizeof detail, "(result %u)", result);
    Report("waveOutOpen(device 0)", result == MMSYSERR_NOERROR, detail);
    if (result != MMSYSERR_NOERROR)
        return;

    static short samples[4410 * 2];
    WAVEHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(samples);
    header.dwBufferLength = sizeof samples;
    waveOutPrepareHeader(out, &header, sizeof header);
    waveOutWrite(out, &header, sizeof header);
    for (int i = 0; i < 500 && !(header.dwFlags & WHDR_DONE); ++i)
        Sleep(10);
    Report("wave buffer played", (header.dwFlags & WHDR_DONE) != 0);
    waveOutReset(out);
    waveOutUnprepareHeader(out, &header, sizeof header);
    waveOutClose(out);
}

int RunChecks(HINSTANCE instance)
{
    char detail[64];
    std::snprintf(detail, sizeof detail, "(GetACP %u)", GetACP());
    Report("UTF-8 code page (manifest)", GetACP() == CP_UTF8, detail);

    HWND hwnd = MakeWindow(instance, true);
    Report("window created", hwnd != nullptr);
    if (hwnd) {
        wchar_t title[64] = L"";
        GetWindowTextW(hwnd, title, 64);
        Report("window title read back", std::wcscmp(title, kTitle) == 0);
    }

    cbtHook = SetWindowsHookExA(WH_CBT, AnswerBox, nullptr, GetCurrentThreadId());
    watchdogTimer = SetTimer(nullptr, 0, 10000, Watchdog);
    int answer = MessageBoxA(hwnd, kBoxText, "winecheck", MB_OKCANCEL);
    KillTimer(nullptr, watchdogTimer);
    UnhookWindowsHookEx(cbtHook);
    Report("message box answered", boxSeen && answer == IDOK);
    Report("message box text", std::strcmp(boxText, kBoxText) == 0, boxText);

    CheckWaveOut();

    if (hwnd)
        DestroyWindow(hwnd);
    std::printf("%d passed, %d failed\n", 8 - failures, failures);
    return failures == 0 ? 0 : 1;
}

int Show(HINSTANCE instance, int seconds)
{
    HWND hwnd = MakeWindow(instance, true);
    if (!hwnd)
        return 2;
    SetTimer(hwnd, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    std::printf("shown\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "--show") == 0)
        return Show(instance, std::atoi(argv[2]));
    return RunChecks(instance);
}
