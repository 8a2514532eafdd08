/* The play cursor in the graph. */
#include "playback/playback.h"

void DrawPlayCursor(int erase)
{
    (void)erase;
}
