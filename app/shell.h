/* The shell's entry points: start-up, the message loop and the main
   window procedure. */
#ifndef PELNOR_SHELL_H
#define PELNOR_SHELL_H

#include <windows.h>

/* Registers the classes, creates the main window and runs the loop; the
   loop's exit code, or 0 when the window could not be made. */
int WINAPI AppMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdline, int show);
/* 1 when both window classes are registered. */
int RegisterClasses(HINSTANCE instance);
/* The main window with its list, graph, buttons and check box; 1 when the
   main window and the graph exist. */
int CreateMainWindow(HINSTANCE instance, int show);
/* Every message passes the accelerators first; returns WM_QUIT's code. */
int MessageLoop(HACCEL accel);

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
/* Closes the source and the output device, whichever is open. */
void CloseDocument(void);

#endif
