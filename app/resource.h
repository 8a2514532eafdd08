/* Command and control identifiers shared by the menu, the accelerators,
   the buttons and the code. */
#ifndef PELNOR_RESOURCE_H
#define PELNOR_RESOURCE_H

#define IDM_OPEN     101
#define IDM_SAVE     102
#define IDM_EXIT     103
#define IDM_ABOUT    105
#define IDM_PLAY     106
#define IDM_STOP     107
#define IDM_RENAME   109
#define IDM_DIVIDE   110
#define IDM_JOIN     111
#define IDM_LOOP     113
#define IDM_LEVEL    114
#define IDM_WAVE     115
#define IDM_ERASE    116

#define IDC_WAVEVIEW     1
#define IDC_SEGMENTLIST  100

#endif
