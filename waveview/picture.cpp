/* The graph's picture: drawn in memory a bit per pixel, with lines and
   fills as GDI draws them, and handed to GDI in one blit. */
#include "waveview/waveview.h"

static void Plot(PICTURE *p, LONG x, LONG y)
{
    x -= p->Left;
    y -= p->Top;
    if ((DWORD)x < (DWORD)p->Width && (DWORD)y < (DWORD)p->Height)
        p->Bits[y * p->Stride + (x >> 3)] &= (BYTE)~(0x80 >> (x & 7));
}

/* As PatBlt fills: a negative width or height extends to the left or up.
   Every pixel of the level graph comes through here, so the rectangle is
   clipped once and each column is walked down a byte at a time. */
void Fill(PICTURE *p, LONG x, LONG y, LONG w, LONG h)
{
    LONG stride = p->Stride, right, bottom, i, j;
    BYTE *bits, mask;

    if (w < 0)
        x += w, w = -w;
    if (h < 0)
        y += h, h = -h;
    right = x + w;
    bottom = y + h;
    if (x < p->Left)
        x = p->Left;
    if (right > p->Left + p->Width)
        right = p->Left + p->Width;
    if (y < p->Top)
        y = p->Top;
    if (bottom > p->Top + p->Height)
        bottom = p->Top + p->Height;
    if (x >= right || y >= bottom)
        return;
    x -= p->Left;
    right -= p->Left;
    bits = p->Bits + (y - p->Top) * stride;
    for (i = x; i < right; i++)
    {
        BYTE *b = bits + (i >> 3);

        mask = (BYTE)~(0x80 >> (i & 7));
        for (j = y; j < bottom; j++, b += stride)
            *b &= mask;
    }
}

/* A line as GDI draws it with a one-pixel pen: a step along the major
   axis per pixel, the minor coordinate rounded to the nearest, ties
   towards the smaller, and the end point left out. */
void Line(PICTURE *p, LONG x0, LONG y0, LONG x1, LONG y1)
{
    LONG dx = x1 - x0, dy = y1 - y0;
    LONG ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
    LONG major = ax >= ay ? ax : ay, minor = ax >= ay ? ay : ax;
    LONG majorStep = (ax >= ay ? dx : dy) < 0 ? -1 : 1;
    LONG minorStep = (ax >= ay ? dy : dx) < 0 ? -1 : 1;
    LONG i, q = 0, r = 0, m;
    PICTURE at = *p;    /* no plotted byte can change a local: its fields stay in registers */

    for (i = 0; i < major; i++)
    {
        /* i * minor = q * major + r; a tie rounds up only going down */
        m = q + (2 * r > major || (minorStep < 0 && 2 * r == major));
        if (ax >= ay)
            Plot(&at, x0 + i * majorStep, y0 + m * minorStep);
        else
            Plot(&at, x0 + m * minorStep, y0 + i * majorStep);
        r += minor;
        while (r >= major)
            r -= major, q++;
    }
}

/* The part of the DC left of `right` that the clipping lets be seen: its
   size and the bytes of its bits. */
DWORD PictureBytes(HDC dc, LONG right, PICTURE *p)
{
    RECT clip;
    int kind = GetClipBox(dc, &clip);

    p->Left = -1;
    p->Top = 0;
    p->Width = p->Height = p->Stride = 0;
    if (kind == ERROR || kind == NULLREGION)
        return 0;
    if (clip.left > p->Left)
        p->Left = clip.left;
    if (clip.top > p->Top)
        p->Top = clip.top;
    if (clip.right > right)
        clip.right = right;
    if (clip.right <= p->Left || clip.bottom <= p->Top)
        return 0;
    p->Width = clip.right - p->Left;
    p->Height = clip.bottom - p->Top;
    p->Stride = (p->Width + 31) / 32 * 4;
    return (DWORD)p->Stride * (DWORD)p->Height;
}

/* Black where the picture is black; the rest of the DC is left as it is. */
void ShowPicture(HDC dc, const PICTURE *p)
{
    struct
    {
        BITMAPINFOHEADER Header;
        RGBQUAD Colours[2];
    } info = {};

    if (p->Width == 0)
        return;
    info.Header.biSize = sizeof(info.Header);
    info.Header.biWidth = p->Width;
    info.Header.biHeight = -p->Height;
    info.Header.biPlanes = 1;
    info.Header.biBitCount = 1;
    info.Header.biClrUsed = 2;
    info.Colours[1].rgbRed = info.Colours[1].rgbGreen = info.Colours[1].rgbBlue = 255;
    StretchDIBits(dc, (int)p->Left, (int)p->Top, (int)p->Width, (int)p->Height,
                  0, 0, (int)p->Width, (int)p->Height, p->Bits, (BITMAPINFO *)&info,
                  DIB_RGB_COLORS, SRCAND);
}
