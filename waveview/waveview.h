/* Wave view: the waveform and level graph of the selected segment, and
   the graph window's painting and mouse handling. A repaint reads the
   segment column by column (draw.cpp), takes each column's extremes
   (scan.cpp), draws it into a one-bit picture and blits that
   (picture.cpp); viewwnd.cpp is the window. */
#ifndef PELNOR_WAVEVIEW_H
#define PELNOR_WAVEVIEW_H

#include <windows.h>

/* One column's samples, offset to be unsigned (8-bit: 0..255, 16-bit:
   0..65535): how many, the first, the last, the smallest and the largest.
   A column read in pieces is scanned piece by piece. */
struct COLUMNSCAN
{
    LONG Count, First, Last, Min, Max;
};

/* The drawing is made in memory, a bit per pixel, over the part of the DC
   that can be seen, and handed to GDI in one blit: a GDI call per line
   costs far more than the line's few pixels. A set bit is white. */
struct PICTURE
{
    BYTE *Bits;                  /* top-down rows of Stride bytes */
    LONG Left, Top, Width, Height, Stride;
    LONG LastX, LastY;           /* waveform: where the next join starts */
};

/* the scan; ScanBest picks the fastest kernel the processor offers */
enum { ScanBest, ScanPlain, ScanSse2, ScanAvx2 };
/* Forces a kernel for the scans that follow (ScanBest: the choice again). */
void SetScanKernel(int kernel);
/* Widens *scan by the n bytes at p: 16-bit samples when wide, else 8-bit. */
void ScanSamples(int wide, const BYTE *p, LONG n, COLUMNSCAN *scan);

/* the picture */
/* Sets *p over the part of dc that can be seen, up to column right; the
   bytes its bits need (0: nothing to draw). */
DWORD PictureBytes(HDC dc, LONG right, PICTURE *p);
/* Black rectangle as PatBlt fills it, clipped to the picture. */
void  Fill(PICTURE *p, LONG x, LONG y, LONG w, LONG h);
/* Black line without its end point, as LineTo draws it. */
void  Line(PICTURE *p, LONG x0, LONG y0, LONG x1, LONG y1);
/* Blits the picture into dc at its place. */
void  ShowPicture(HDC dc, const PICTURE *p);

/* Draws the play range of the selected segment into dc, in the chosen
   view; the source's read position is left where playback needs it. */
void dispwave(HDC dc);
LRESULT CALLBACK WaveViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
