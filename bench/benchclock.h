/* Timing shared by the benchmarks that repaint: the clock, the best of
   several rounds, and one repaint with GDI's queue flushed. */
#ifndef PELNOR_BENCHCLOCK_H
#define PELNOR_BENCHCLOCK_H

#include <windows.h>
#include "app/app.h"
#include "waveview/waveview.h"

static inline double Now(void)
{
    LARGE_INTEGER count, rate;

    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&rate);
    return (double)count.QuadPart / (double)rate.QuadPart;
}

static inline void Keep(double *best, double t)
{
    if (t < *best)
        *best = t;
}

static inline double TimeDrawing(HDC dc, int mode)
{
    double t;

    App.ViewMode = mode;
    t = Now();
    dispwave(dc);
    GdiFlush();
    return Now() - t;
}

#endif
