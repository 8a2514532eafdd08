/* Times in the segment list are seconds; the program works in byte
   offsets of the sample data, always on a block boundary. */
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "wavefile/wavefile.h"

/* Leading blanks are skipped and the number ends at the first character
   that cannot belong to it; a text without a number gives 0. Only plain
   decimal numbers count (no "inf", "nan" or hexadecimal forms). */
double ParseSeconds(const char *text)
{
    char number[64];
    size_t n = 0;
    const char *p = text;
    int digits = 0;

    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '+' || *p == '-')
        number[n++] = *p++;
    while (isdigit((unsigned char)*p) && n < sizeof(number) - 8)
        number[n++] = *p++, digits++;
    if (*p == '.')
    {
        number[n++] = *p++;
        while (isdigit((unsigned char)*p) && n < sizeof(number) - 8)
            number[n++] = *p++, digits++;
    }
    if (!digits)
        return 0.0;
    if ((*p == 'e' || *p == 'E') &&
        (isdigit((unsigned char)p[1]) ||
         ((p[1] == '+' || p[1] == '-') && isdigit((unsigned char)p[2]))))
    {
        number[n++] = *p++;
        if (*p == '+' || *p == '-')
            number[n++] = *p++;
        while (isdigit((unsigned char)*p) && n < sizeof(number) - 1)
            number[n++] = *p++;
    }
    number[n] = '\0';
    return strtod(number, NULL);
}

/* trunc(seconds * BytesPerSec) / blockalign * blockalign. The product is
   held inside the range of a signed 32-bit offset before truncation; a
   product that is not a number (no byte rate yet) counts as 0. */
LONG SecondsToOffset(double seconds)
{
    double bytes = seconds * (double)WaveDocument.BytesPerSec;
    LONG offset;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;

    if (bytes != bytes)
        offset = 0;
    else if (bytes >= 2147483647.0)
        offset = 2147483647L;
    else if (bytes <= -2147483648.0)
        offset = -2147483647L - 1;
    else
        offset = (LONG)bytes;
    return offset / align * align;
}

LONG TextToOffset(const char *text)
{
    return SecondsToOffset(ParseSeconds(text));
}
