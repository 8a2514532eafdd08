/* A 32-bit top-down DIB section in a memory DC, for drawings whose pixels
   a test reads back. Pixels read with the alpha byte masked off: WHITENESS
   sets it too. */
#ifndef PELNOR_TEST_CANVAS_H
#define PELNOR_TEST_CANVAS_H

#include <windows.h>
#include <stdint.h>
#include <algorithm>
#include <vector>

struct Canvas
{
    HDC      Dc;
    HBITMAP  Bitmap;
    HGDIOBJ  Old;
    uint32_t *Bits;
    int      Width, Height;

    static constexpr uint32_t Stale = 0x123456;     /* what a canvas holds before drawing */

    Canvas(int width, int height) : Width(width), Height(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        Dc = CreateCompatibleDC(NULL);
        Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, (void **)&Bits, NULL, 0);
        Old = SelectObject(Dc, Bitmap);
        std::fill(Bits, Bits + width * height, Stale);
    }
    ~Canvas()
    {
        SelectObject(Dc, Old);
        DeleteObject(Bitmap);
        DeleteDC(Dc);
    }
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    uint32_t At(int x, int y) const
    {
        GdiFlush();
        return Bits[y * Width + x] & 0xFFFFFF;
    }
    std::vector<uint32_t> Pixels() const
    {
        GdiFlush();
        std::vector<uint32_t> out(Bits, Bits + Width * Height);
        for (uint32_t &px : out)
            px &= 0xFFFFFF;
        return out;
    }
};

#endif
