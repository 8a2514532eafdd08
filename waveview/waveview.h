/* Wave view: the waveform and level graph of the selected segment, and
   the graph window's painting and mouse handling. */
#ifndef PELNOR_WAVEVIEW_H
#define PELNOR_WAVEVIEW_H

#include <windows.h>

/* I/O buffer of the source while the graph reads it: a repaint reads the
   whole segment, and fewer, larger reads cost less; at 1 MB what was read
   is still in the processor's cache when it is scanned. */
enum { DrawBufferBytes = 1024 * 1024 };

void dispwave(HDC dc);
LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void ShowCursorTimes(LPARAM position);

#endif
