/* Times in the segment list are seconds; the program works in byte
   offsets of the sample data, always on a block boundary. */
#include <ctype.h>
#include <stdlib.h>
#include "wavefile/wavefile.h"

/* Leading blanks are skipped and the number ends at the first character
   that cannot belong to it; a text without a number gives 0. Only plain
   decimal numbers count: "inf", "nan" and "0x" forms give 0 or stop at
   the 0. */
double ParseSeconds(const char *text)
{
    const char *p = text;
    const char *digits;

    while (*p == ' ' || *p == '\t')
        p++;
    digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (!isdigit((unsigned char)digits[0]) &&
        !(digits[0] == '.' && isdigit((unsigned char)digits[1])))
        return 0.0;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        return 0.0;
    return strtod(p, NULL);
}

/* trunc(seconds * BytesPerSec) / blockalign * blockalign. The product is
   held inside the range of a signed 32-bit offset before truncation; a
   product that is not a number (no byte rate yet) counts as 0. The end of
   the data is written with five decimals, rounded either way: any time
   from that value on stands for the end itself, or the last blocks would
   belong to no segment. */
LONG SecondsToOffset(double seconds)
{
    double bytes = seconds * (double)WaveDocument.BytesPerSec;
    LONG offset;
    LONG align = WaveDocument.blockalign > 0 ? WaveDocument.blockalign : 1;

    if (WaveDocument.EndSeconds > 0.0 && seconds >= WaveDocument.EndSeconds)
        offset = (LONG)WaveDocument.LoadedSize;
    else if (bytes != bytes)
        offset = 0;
    else if (bytes >= 2147483647.0)
        offset = 2147483647L;
    else if (bytes <= -2147483648.0)
        offset = -2147483647L - 1;
    else
        offset = (LONG)bytes;
    return offset / align * align;
}
