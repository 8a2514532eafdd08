/* Application shell: start-up, the main window, its commands and the
   rules that switch controls on and off. */
#ifndef PELNOR_APP_H
#define PELNOR_APP_H

#include <windows.h>
#include <commdlg.h>
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
    HWND      PlayButton, StopButton, OpenButton, SaveButton;
    HWND      DivideButton, JoinButton, EraseButton;
    HWND      LoopCheck;
    HMENU     Menu;
    int       LoopFlag;            /* 1: playback wraps to the segment start */
    int       ViewMode;            /* IDM_WAVE or IDM_LEVEL */
    int       ClientWidth;
    int       AverageCharWidth;
    int       TornDown;            /* teardown has run once */
    char      PathBackup[MAX_PATH];
    char      TitleBackup[256];    /* the dialog writes the title even for a path it cut */
    OPENFILENAMEA OpenRecord;
    char      ScratchText[SCRATCH_CHARS];
};

extern APPSHELL App;

/* start-up */
int WINAPI AppMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdline, int show);
int RegisterClasses(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int show);
int MessageLoop(HACCEL accel);

/* main window */
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void CloseDocument(void);

/* control availability and title */
void SetIdleControls(int enable);
void SetStopControl(int enable);
void SetTitle(HWND window, const char *title);
void EnableCommand(int id, int enable);   /* menu item and its button together */

/* shared helpers */
int  ShowWarning(const char *text);       /* warning box owned by the main window */
void ShowPlainBox(const char *text);      /* OK box without icon or caption */
void CutAtLastDot(const char *title, char *out, size_t capacity);

#endif
