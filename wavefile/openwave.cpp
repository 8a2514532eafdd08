/* Opening and validating the source file. */
#include <string.h>
#include "app/app.h"
#include "wavefile/wavefile.h"

static WAVEDOCUMENT InitialDocument(void)
{
    WAVEDOCUMENT doc = {};
    strcpy(doc.DocumentTitle, "noname.txt");
    doc.blockalign = 1;
    return doc;
}

WAVEDOCUMENT WaveDocument = InitialDocument();

int OpenWaveFile(void)
{
    return 0;
}

void ClassifyFormat(const WAVEFORMATEX *format)
{
    (void)format;
}

UINT AllocFormatBlock(UINT size)
{
    (void)size;
    return 0;
}

void ReleaseFormatBlock(void)
{
}
