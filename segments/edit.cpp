/* Dividing, joining, erasing and renaming segments. */
#include "app/app.h"
#include "playback/playback.h"
#include "segments/segments.h"

/* Before 5.0 an edit during playback stops it first and restarts it after;
   later versions play on through the edit. */
int PauseForEdit(void)
{
    if (PlaybackState.Playing && App.PlatformVersion < 0x500)
    {
        StopPlayback();
        return 1;
    }
    return 0;
}

void ResumeAfterEdit(int paused)
{
    if (paused)
        StartPlayback();
}

void DivideSegment(double fraction) { (void)fraction; }
void DivideAtPlayPosition(void) {}
void JoinSegment(void) {}
void EraseSegment(void) {}
void RenameSegments(void) {}
