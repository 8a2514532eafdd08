/* Saving every segment to its own file. Rows of one name in succession go
   into one file, one after the other; erased rows go nowhere. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/controls.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

#define ROW_PAUSE    100     /* ms, so the bar can be seen growing */

/* The title's last dot onward, or ".WAV" for a title without one. */
static void TakeExtension(char *extension, int capacity)
{
    const char *dot = strrchr(WaveDocument.DocumentTitle, '.');

    lstrcpynA(extension, dot ? dot : ".WAV", capacity);
}

/* "NUL" plus an extension names the null device on Windows but is an
   ordinary file elsewhere: erased rows are skipped rather than written. */
static int IsErasedOutput(const char *name)
{
    return strcmp(name, ERASED_NAME) == 0 || strncmp(name, ERASED_NAME ".", 4) == 0;
}

/* Output names carry no directory, so they land in the current one; the
   source may well be there under the same name. */
static int IsSourceFile(const char *outputName)
{
    char output[MAX_PATH];
    char source[MAX_PATH];
    DWORD length;

    length = GetFullPathNameA(outputName, sizeof(output), output, NULL);
    if (length == 0 || length >= sizeof(output))
        return 0;
    length = GetFullPathNameA(WaveDocument.DocumentPath, sizeof(source), source, NULL);
    if (length == 0 || length >= sizeof(source))
        return 0;
    return lstrcmpiA(output, source) == 0;
}

/* Writes one row, creating its file or appending to the file of the kept
   row before it. A refused row still ends the run before it, as any other
   name would. A row appends only to a file this run has written: when an
   earlier row of the run did not reach it, the file there may be an older
   one, and the row is reported and not saved. Returns the row's end in
   seconds, for the progress bar. */
static double SaveRow(int row, const char *extension)
{
    char name[NAME_CHARS];
    double start = RowSeconds(row, COL_START), end = RowSeconds(row, COL_END);
    int mode;

    GetRowText(row, COL_NAME, name, sizeof(name));

    if (IsErasedOutput(name))
        return end;
    if (strlen(name) + strlen(extension) >= sizeof(name))
    {
        snprintf(App.ScratchText, sizeof(App.ScratchText),
                 "ファイル名が長すぎるため保存しません:%s", name);
        ShowWarning(App.ScratchText);
        Segments.LastWrittenName[0] = '\0';
        return end;
    }
    strcat(name, extension);
    if (IsSourceFile(name))
    {
        snprintf(App.ScratchText, sizeof(App.ScratchText),
                 "元のファイルと同じ名前のため保存しません:%s", name);
        ShowWarning(App.ScratchText);
        lstrcpynA(Segments.LastWrittenName, name, sizeof(Segments.LastWrittenName));
        return end;
    }

    mode = strcmp(name, Segments.LastWrittenName) == 0 ? AppendMode : CreateMode;
    if (mode == AppendMode && !Segments.LastWriteReached)
    {
        snprintf(App.ScratchText, sizeof(App.ScratchText),
                 "書き込めなかったファイルのため保存しません:%s", name);
        ShowWarning(App.ScratchText);
        return end;
    }
    Segments.LastWriteReached = WriteSegment(name, start, end, mode);
    lstrcpynA(Segments.LastWrittenName, name, sizeof(Segments.LastWrittenName));
    return end;
}

static void DrawProgress(HDC dc, double end, double total)
{
    int width = PlaybackState.WaveViewWidth;

    if (total > 0.0 && end < total)
        width = end > 0.0 ? (int)(PlaybackState.WaveViewWidth * end / total) : 0;
    PatBlt(dc, 0, 0, width, PlaybackState.WaveViewHeight, BLACKNESS);
}

void SaveSegments(void)
{
    char extension[NAME_CHARS];
    double total = 0.0;
    HDC dc;
    int count;
    int i;

    dc = GetDC(App.WaveView);
    ControlsDuringSave(1);
    PatBlt(dc, 0, 0, PlaybackState.WaveViewWidth, PlaybackState.WaveViewHeight, WHITENESS);

    count = RowCount();
    if (count > 0)
        total = RowSeconds(count - 1, COL_END);
    TakeExtension(extension, sizeof(extension));
    Segments.LastWrittenName[0] = '\0';
    Segments.LastWriteReached = 0;

    for (i = 0; i < count; i++)
    {
        DrawProgress(dc, SaveRow(i, extension), total);
        Sleep(ROW_PAUSE);
    }

    /* The writer counted BytesLeft down for its own copies; the play
       position goes back to where Play would begin, as after a selection. */
    WaveDocument.BytesLeft = (DWORD)(PlaybackState.SegmentEnd - PlaybackState.PlayStart);

    ReleaseDC(App.WaveView, dc);
    Sleep(ROW_PAUSE);
    InvalidateRect(App.WaveView, NULL, TRUE);

    ControlsDuringSave(0);
}
