/* Application shell: the program-wide record of the main window and its
   children, and the message boxes every subsystem reports through. The
   entry points are in shell.h, the control rules in controls.h. */
#ifndef PELNOR_APP_H
#define PELNOR_APP_H

#include <windows.h>
#include <stddef.h>
#include "app/resource.h"

#define MAIN_CLASS      "GenericWClass"
#define WAVEVIEW_CLASS  "tpz_childWClass"
#define SCRATCH_CHARS   512

/* The shell's program-wide values; one instance, App. */
struct APPSHELL
{
    HINSTANCE Instance;
    WORD      PlatformVersion;     /* major * 256 + minor */
    HWND      MainWindow;
    HWND      SegmentList;
    HWND      WaveView;
    HMENU     Menu;
    int       LoopFlag;            /* 1: playback wraps to the segment start */
    int       ViewMode;            /* IDM_WAVE or IDM_LEVEL */
    int       ClientWidth;
    int       AverageCharWidth;
    int       TornDown;            /* teardown has run once */
    char      PathBackup[MAX_PATH];
    char      TitleBackup[256];    /* the dialog writes the title even for a path it cut */
    char      ScratchText[SCRATCH_CHARS];
};

extern APPSHELL App;
/* App as the program starts: loop on, the waveform view. */
APPSHELL InitialShell(void);

/* shared helpers */
int  ShowWarning(const char *text);       /* warning box owned by the main window */
void ShowPlainBox(const char *text);      /* OK box without icon or caption */
void CutAtLastDot(const char *title, char *out, size_t capacity);

#endif
