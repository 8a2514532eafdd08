/* Drawing the waveform and level graph of the selected segment. */
#include "waveview/waveview.h"

void dispwave(HDC dc)
{
    (void)dc;
}
