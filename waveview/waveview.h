/* Wave view: the waveform and level graph of the selected segment, and
   the graph window's painting and mouse handling. */
#ifndef PELNOR_WAVEVIEW_H
#define PELNOR_WAVEVIEW_H

#include <windows.h>

/* I/O buffer of the source while the graph reads it: a repaint reads the
   whole segment, and fewer, larger reads cost less; but the kernel's copy
   passes both the page cache and the buffer through the processor's
   cache, and at 512 KB the two still fit in a 1 MB L2, so the scan that
   follows finds the samples there. */
enum { DrawBufferBytes = 512 * 1024 };

void dispwave(HDC dc);
LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void ShowCursorTimes(LPARAM position);

#endif
