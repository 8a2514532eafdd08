/* Segments: the segment list (the list view is the only store of
   segments), editing, and saving every segment to its own file. */
#ifndef PELNOR_SEGMENTS_H
#define PELNOR_SEGMENTS_H

#include <windows.h>
#include <commctrl.h>

#define ERASED_NAME  "NUL"
#define NAME_CHARS   256     /* a row's name, or an output name, and its end of text */
#define TIME_CHARS   100     /* a row's time text and its end of text */

enum { COL_NAME = 0, COL_START = 1, COL_END = 2, COL_TIME = 3 };

struct SEGMENTSTATE
{
    int  LastHandledRow;              /* row the selection handling last acted on */
    char LastWrittenName[NAME_CHARS]; /* last output name of a save run */
    int  LastWriteReached;            /* every row so far of that name reached its file */
};

extern SEGMENTSTATE Segments;
/* Segments as the program starts: no row handled yet. */
SEGMENTSTATE InitialSegments(void);

/* list and selection */
/* The four columns, sized from the window's width. */
void    InitSegmentColumns(HWND list);
/* Opens the chosen file afresh as one row for the whole data, selected;
   after a refusal the list stays empty. */
void    LoadDocument(HWND window, const char *path, const char *title);
/* A new selection sets the play range and, while playing, jumps there. */
LRESULT OnListNotify(HWND window, WPARAM wParam, LPARAM lParam);

/* row access on the segment list */
int  FirstSelectedRow(void);                  /* -1 when none */
int  RowCount(void);
void GetRowText(int row, int column, char *text, int capacity);
void SetRowText(int row, int column, const char *text);
void SelectRow(int row);                      /* selected and focused */
double RowSeconds(int row, int column);       /* a time column read as seconds */
void RefreshPlayRange(void);                  /* before the range is used after a validation */
int  RestartEmptyRange(void);                 /* 0 when no row gives a range */

/* editing */
/* The selected row into "-1" and "-2" at fraction of its length. */
void DivideSegment(double fraction);
/* Divides where the user is listening, or at the play start when idle. */
void DivideAtPlayPosition(void);
/* The selected row joins the one before it; after an erased row it takes
   the name of the nearest kept row above instead. */
void JoinSegment(void);
/* The selected row is named "NUL" and saved nowhere. */
void EraseSegment(void);
/* Numbers the kept rows "-1", "-2"... after the source's name; rows of
   one name in succession share a number. */
void RenameSegments(void);

/* playback around an edit: returns 1 when playback was stopped for it */
int  PauseForEdit(void);
void ResumeAfterEdit(int paused);

/* saving */
/* Writes every row to its file in the current folder, rows of one name
   into one file, erased rows nowhere. */
void SaveSegments(void);

#endif
