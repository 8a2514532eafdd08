/* Writing a time range of the source into an output WAV file. */
#include "wavefile/wavefile.h"

void WriteSegment(const char *path, double startSeconds, double endSeconds, int mode)
{
    (void)path; (void)startSeconds; (void)endSeconds; (void)mode;
}
