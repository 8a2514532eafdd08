/* Saving every segment to its own file. */
#include "segments/segments.h"

void SaveSegments(void)
{
}
