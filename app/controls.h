/* Which commands are available, and the window title. Every rule that
   switches a command on or off is in controls.cpp: one function for each
   event that changes them. */
#ifndef PELNOR_CONTROLS_H
#define PELNOR_CONTROLS_H

#include <windows.h>

/* A command's menu item and its button, where it has one, together. */
void EnableCommand(int id, int enable);

/* Play and Open (and Loop before version 5.0) follow enable; Save too,
   except while the first row still carries the source's own name. */
void SetIdleControls(int enable);
void SetStopControl(int enable);

/* A failed open leaves the commands of start-up. */
void ControlsAfterFailedLoad(void);
/* A fresh document of one row: nothing to save, join or erase yet. */
void ControlsAfterLoad(void);
/* Join needs a row before the selected one. */
void ControlsForRow(int row);
/* Two rows from one: Rename and Erase, and Save unless playing. */
void ControlsAfterDivide(int playing);
/* Save, Open, Play, Divide and Join are off while the rows are written. */
void ControlsDuringSave(int saving);

/* "PELNOR:" and the source's title. */
void SetTitle(HWND window, const char *title);

#endif
