/* Repairing a header whose RIFF size is zero. */
#include "wavefile/wavefile.h"

int RepairWaveHeader(void)
{
    return 1;
}
