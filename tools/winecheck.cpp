// winecheck: checks the Wine set-up that the program and its tests rely on.
//
//   winecheck.exe            in-process checks (null driver, tools/winerun):
//                            a window is created, a message box is answered
//                            and carries the Japanese default caption, the
//                            Marlett font is there, one wave-out device opens
//                            44.1 kHz 16-bit stereo, the UTF-8 code page is
//                            active. Exit 0 when all pass.
//   winecheck.exe --show S   shows a window titled kTitle for at most S
//                            seconds or until it is closed and prints where
//                            its close box is (tools/xruncheck: xdotool reads
//                            the Japanese title back, the box shows a symbol).
//   winecheck.exe --devices  prints the number of wave-out devices and the
//                            wave mapper's answer to a format query for
//                            44.1 kHz 16-bit stereo (what a WAV's open asks).
//   winecheck.exe --box S    waits at most S seconds for a message box of
//                            another program, prints its caption and text
//                            and answers it (exit 1 when none came).
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const wchar_t kTitle[] = L"PELNOR 確認 日本語";
const char kBoxText[] = "winecheck message";
// What Windows and Wine show as the caption of a box without one, in Japanese.
const char kDefaultCaption[] = "エラー";
int checks = 0;
int failures = 0;

void Report(const char* what, bool ok, const char* detail = "")
{
    std::printf("%-28s %s %s\n", what, ok ? "ok" : "FAILED", detail);
    std::fflush(stdout);
    ++checks;
    if (!ok)
        ++failures;
}

HHOOK cbtHook;
bool boxSeen;
char boxText[128];
char boxCaption[128];

LRESULT CALLBACK AnswerBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[32] = "";
        GetClassNameA(box, cls, sizeof cls);
        if (std::strcmp(cls, "#32770") == 0) {
            boxSeen = true;
            GetDlgItemTextA(box, 0xFFFF, boxText, sizeof boxText);
            GetWindowTextA(box, boxCaption, sizeof boxCaption);
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

// Without Marlett the font mapper hands out another face, and the title-bar
// buttons that Wine draws with it show the letters "0 1 r".
void CheckMarlett()
{
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, SYMBOL_CHARSET, 0, 0, 0, 0, "Marlett");
    HGDIOBJ old = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    Report("Marlett font", std::strcmp(face, "Marlett") == 0, face);
}

WAVEFORMATEX CdFormat()
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    return format;
}

void CheckWaveOut()
{
    UINT devices = waveOutGetNumDevs();
    char detail[64];
    std::snprintf(detail, sizeof detail, "(%u device(s))", devices);
    Report("waveOutGetNumDevs() == 1", devices == 1, detail);

    WAVEFORMATEX format = CdFormat();
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
    int answer = MessageBoxA(hwnd, kBoxText, nullptr, MB_OKCANCEL);
    KillTimer(nullptr, watchdogTimer);
    UnhookWindowsHookEx(cbtHook);
    Report("message box answered", boxSeen && answer == IDOK);
    Report("message box text", std::strcmp(boxText, kBoxText) == 0, boxText);
    std::snprintf(detail, sizeof detail, "(%s, UI language %04x)", boxCaption,
                  GetUserDefaultUILanguage());
    Report("default caption in Japanese", std::strcmp(boxCaption, kDefaultCaption) == 0, detail);

    CheckMarlett();
    CheckWaveOut();

    if (hwnd)
        DestroyWindow(hwnd);
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}

int Show(HINSTANCE instance, int seconds)
{
    HWND hwnd = MakeWindow(instance, true);
    if (!hwnd)
        return 2;
    SetTimer(hwnd, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    // Wine puts the close box in the top right corner inside the sizing
    // frame, SM_CXSIZE by SM_CYSIZE less 2 pixels on three sides; the
    // symbol sits within its raised 2-pixel edge.
    RECT window;
    GetWindowRect(hwnd, &window);
    int right = window.right - GetSystemMetrics(SM_CXFRAME) - 2;
    int top = window.top + GetSystemMetrics(SM_CYFRAME) + 2;
    int width = GetSystemMetrics(SM_CXSIZE) - 2;
    int height = GetSystemMetrics(SM_CYSIZE) - 4;
    std::printf("closebox %d %d %d %d\n", right - width + 2, top + 2, width - 4, height - 4);
    std::printf("shown\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int Devices()
{
    WAVEFORMATEX format = CdFormat();
    MMRESULT query = waveOutOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY);
    std::printf("devices %u query %u\n", waveOutGetNumDevs(), query);
    return 0;
}

int AnswerOtherBox(int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        // A message box, not the open dialog (its file-name box) on its way out.
        HWND box = nullptr;
        do
            box = FindWindowExA(nullptr, box, "#32770", nullptr);
        while (box && (!IsWindowVisible(box) || !GetDlgItem(box, 0xFFFF) || GetDlgItem(box, 0x47C)));
        if (box) {
            char caption[128] = "", text[512] = "";
            GetWindowTextA(box, caption, sizeof caption);
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            std::printf("caption %s\ntext %s\n", caption, text);
            std::fflush(stdout);
            PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDNO) ? IDNO : IDOK, 0);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "--show") == 0)
        return Show(instance, std::atoi(argv[2]));
    if (argc >= 2 && std::strcmp(argv[1], "--devices") == 0)
        return Devices();
    if (argc >= 3 && std::strcmp(argv[1], "--box") == 0)
        return AnswerOtherBox(std::atoi(argv[2]));
    return RunChecks(instance);
}
