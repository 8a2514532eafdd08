/* Wave view: the waveform and level graph of the selected segment, and
   the graph window's painting and mouse handling. */
#ifndef PELNOR_WAVEVIEW_H
#define PELNOR_WAVEVIEW_H

#include <windows.h>

void dispwave(HDC dc);
LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void ShowCursorTimes(LPARAM position);

#endif
