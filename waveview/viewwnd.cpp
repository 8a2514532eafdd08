/* The graph window: painting and the mouse. */
#include "waveview/waveview.h"

void ShowCursorTimes(LPARAM position)
{
    (void)position;
}

LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
