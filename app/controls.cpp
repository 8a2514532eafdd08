/* Which commands are available, and the window title. */
#include <stdio.h>
#include <string.h>
#include "app/app.h"
#include "app/controls.h"
#include "segments/segments.h"
#include "wavefile/wavefile.h"

/* Rename has no button: GetDlgItem finds none and only its menu item
   changes. */
void EnableCommand(int id, int enable)
{
    HWND child;

    EnableMenuItem(App.Menu, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    child = GetDlgItem(App.MainWindow, id);
    if (child)
        EnableWindow(child, enable ? TRUE : FALSE);
}

void CutAtLastDot(const char *title, char *out, size_t capacity)
{
    const char *dot;
    size_t length;

    if (capacity == 0)
        return;
    dot = strrchr(title, '.');
    length = dot ? (size_t)(dot - title) : strlen(title);
    if (length >= capacity)
        length = capacity - 1;
    memcpy(out, title, length);
    out[length] = '\0';
}

/* Save stays off while the first row still carries the source's own base
   name: saving would then write over the source. With no row at all there
   is nothing to save. */
static int FirstRowIsSourceName(void)
{
    char name[NAME_CHARS];
    char base[NAME_CHARS];

    if (RowCount() == 0)
        return 1;
    GetRowText(0, COL_NAME, name, sizeof(name));
    CutAtLastDot(WaveDocument.DocumentTitle, base, sizeof(base));
    return strcmp(name, base) == 0;
}

void SetIdleControls(int enable)
{
    EnableCommand(IDM_PLAY, enable);
    if (App.PlatformVersion < 0x500)
        EnableCommand(IDM_LOOP, enable);
    if (FirstRowIsSourceName())
        EnableCommand(IDM_SAVE, 0);
    else
        EnableCommand(IDM_SAVE, enable);
    EnableCommand(IDM_OPEN, enable);
}

void SetStopControl(int enable)
{
    EnableCommand(IDM_STOP, enable);
}

void ControlsAfterFailedLoad(void)
{
    static const int ids[] = { IDM_PLAY, IDM_SAVE, IDM_DIVIDE, IDM_JOIN, IDM_ERASE, IDM_RENAME };

    for (int id : ids)
        EnableCommand(id, 0);
}

void ControlsAfterLoad(void)
{
    SetIdleControls(1);
    EnableCommand(IDM_SAVE, 0);
    EnableCommand(IDM_RENAME, 0);
    EnableCommand(IDM_DIVIDE, 1);
    EnableCommand(IDM_ERASE, 0);
}

void ControlsForRow(int row)
{
    EnableCommand(IDM_JOIN, row != 0);
}

void ControlsAfterDivide(int playing)
{
    if (!playing)
        EnableCommand(IDM_SAVE, 1);
    EnableCommand(IDM_RENAME, 1);
    EnableCommand(IDM_ERASE, 1);
}

void ControlsDuringSave(int saving)
{
    static const int ids[] = { IDM_SAVE, IDM_OPEN, IDM_PLAY, IDM_DIVIDE };

    for (int id : ids)
        EnableCommand(id, !saving);
    ControlsForRow(saving ? 0 : FirstSelectedRow());
}

void SetTitle(HWND window, const char *title)
{
    char caption[272];

    snprintf(caption, sizeof(caption), "PELNOR:%s", title);
    SetWindowTextA(window, caption);
}

int ShowWarning(const char *text)
{
    return MessageBoxA(App.MainWindow, text, NULL, MB_ICONWARNING);
}

void ShowPlainBox(const char *text)
{
    MessageBoxA(App.MainWindow, text, NULL, MB_OK);
}
