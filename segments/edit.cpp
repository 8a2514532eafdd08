/* Dividing, joining, erasing and renaming segments. Every edit works on
   the row texts only; the list's notifications move the play range. */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/controls.h"
#include "wavefile/wavefile.h"
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

static int IsErased(const char *name)
{
    return strcmp(name, ERASED_NAME) == 0;
}

/* Name plus suffix, cutting the name's tail when the whole would not fit
   a name buffer: the suffix is what tells the two halves apart. The cut
   falls between characters, never inside a UTF-8 sequence. */
static void ComposeName(char *out, const char *name, const char *suffix)
{
    int room = NAME_CHARS - 1 - (int)strlen(suffix);
    int length = (int)strlen(name);

    if (length > room)
    {
        length = room;
        while (length > 0 && ((unsigned char)name[length] & 0xC0) == 0x80)
            length--;
    }
    snprintf(out, NAME_CHARS, "%.*s%s", length, name, suffix);
}

/* The halves of an erased row stay erased: a suffix would bring the
   audio back at the next save. */
static void HalfName(char *out, const char *name, const char *suffix)
{
    if (IsErased(name))
        lstrcpynA(out, name, NAME_CHARS);
    else
        ComposeName(out, name, suffix);
}

static void InsertRow(int row, const char *name, const char *start,
                      const char *end, const char *time)
{
    LVITEMA item = {};

    item.mask    = LVIF_TEXT;
    item.iItem   = row;
    item.pszText = (LPSTR)name;
    SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&item);
    SetRowText(row, COL_START, start);
    SetRowText(row, COL_END, end);
    SetRowText(row, COL_TIME, time);
}

/* A cut outside the segment would break the tiling of the rows, so the
   fraction is held to 0..1; 0 (and anything without a value) halves. */
void DivideSegment(double fraction)
{
    char name[NAME_CHARS];
    char part[NAME_CHARS];
    char startText[TIME_CHARS];
    char endText[TIME_CHARS];
    char cutText[TIME_CHARS];
    char timeText[TIME_CHARS];
    double s, e;
    int k;

    if (RowCount() == 0)
        return;
    if (fraction == 0.0 || isnan(fraction))
        fraction = 0.5;
    else if (fraction < 0.0)
        fraction = 0.0;
    else if (fraction > 1.0)
        fraction = 1.0;

    k = FirstSelectedRow();
    if (k < 0)
        k = 0;
    GetRowText(k, COL_NAME, name, sizeof(name));
    GetRowText(k, COL_START, startText, sizeof(startText));
    GetRowText(k, COL_END, endText, sizeof(endText));
    s = ParseSeconds(startText);
    e = ParseSeconds(endText);

    snprintf(cutText, sizeof(cutText), "%.5f", (e - s) * fraction + s);
    HalfName(part, name, "-1");
    snprintf(timeText, sizeof(timeText), "%.5f", (e - s) * fraction);
    InsertRow(k, part, startText, cutText, timeText);

    HalfName(part, name, "-2");
    snprintf(timeText, sizeof(timeText), "%.5f", (e - s) * (1.0 - fraction));
    InsertRow(k + 1, part, cutText, endText, timeText);

    SendMessageA(App.SegmentList, LVM_DELETEITEM, (WPARAM)(k + 2), 0);
    /* The rows have moved, so the index last handled may name the "-2"
       row by chance; its range is to be taken all the same. */
    Segments.LastHandledRow = -1;
    SelectRow(k + 1);
    SetFocus(App.SegmentList);

    ControlsAfterDivide(PlaybackState.Playing);
}

/* The cut goes where the user is listening. While playing the device
   tells that place; the read position runs up to two buffers ahead of it.
   Otherwise BytesLeft counts from the play position to the segment end,
   so the part before it is where to cut. An empty range has no such part:
   it is halved like a fresh selection. */
void DivideAtPlayPosition(void)
{
    LONG heard = PlayedOffset();        /* before a stop for the edit */
    int paused = PauseForEdit();
    LONG span = PlaybackState.SegmentEnd - PlaybackState.SegmentStart;
    double done = heard >= 0 ? (double)(heard - PlaybackState.SegmentStart)
                             : (double)((DWORD)span - WaveDocument.BytesLeft);

    DivideSegment(span != 0 ? done / (double)span : 0.0);
    SetFocus(App.SegmentList);
    ResumeAfterEdit(paused);
}

/* Merges the selected row into the one before it; across erased rows it
   takes the name of the nearest kept row above, so saving appends it to
   that row's file. */
void JoinSegment(void)
{
    char name[SCRATCH_CHARS];
    char startText[TIME_CHARS];
    char endText[TIME_CHARS];
    char timeText[TIME_CHARS];
    int k = FirstSelectedRow();
    int above;

    if (k <= 0)
        return;
    GetRowText(k - 1, COL_NAME, name, sizeof(name));
    if (!IsErased(name))
    {
        GetRowText(k - 1, COL_START, startText, sizeof(startText));
        GetRowText(k, COL_END, endText, sizeof(endText));
        snprintf(timeText, sizeof(timeText), "%.5f",
                 ParseSeconds(endText) - ParseSeconds(startText));
        SetRowText(k - 1, COL_END, endText);
        SetRowText(k - 1, COL_TIME, timeText);
        SendMessageA(App.SegmentList, LVM_DELETEITEM, (WPARAM)k, 0);
        SelectRow(k - 1);
        SetFocus(App.SegmentList);
        return;
    }
    for (above = k - 2; above >= 0; above--)
    {
        GetRowText(above, COL_NAME, name, sizeof(name));
        if (!IsErased(name))
        {
            SetRowText(k, COL_NAME, name);
            return;
        }
    }
}

void EraseSegment(void)
{
    int row = FirstSelectedRow();

    if (row >= 0)
        SetRowText(row, COL_NAME, ERASED_NAME);
}

/* Kept rows that carried one name in unbroken succession (erased rows do
   not break it) share one number, so saving still puts them in one file. */
void RenameSegments(void)
{
    char base[NAME_CHARS];
    char previous[SCRATCH_CHARS] = "";
    char name[SCRATCH_CHARS];
    char suffix[16];
    char composed[NAME_CHARS];
    int count = RowCount();
    int n = 1;
    int i;

    CutAtLastDot(WaveDocument.DocumentTitle, base, sizeof(base));
    for (i = 0; i < count; i++)
    {
        GetRowText(i, COL_NAME, name, sizeof(name));
        if (IsErased(name))
            continue;
        if (strcmp(name, previous) != 0)
            lstrcpynA(previous, name, sizeof(previous));
        else
            n--;
        snprintf(suffix, sizeof(suffix), "-%d", n);
        ComposeName(composed, base, suffix);
        SetRowText(i, COL_NAME, composed);
        n++;
    }
}
