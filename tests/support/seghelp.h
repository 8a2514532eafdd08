/* Shared steps of the tests that work on a loaded document: loading a
   built WAV file, directly or through the real open dialog, laying out
   rows, selecting them, and reading the list back. */
#ifndef PELNOR_TEST_SEGHELP_H
#define PELNOR_TEST_SEGHELP_H

#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "harness.h"
#include "wavbuild.h"
#include "app/app.h"
#include "app/controls.h"
#include "wavefile/wavefile.h"
#include "playback/playback.h"
#include "segments/segments.h"

struct RowTexts
{
    std::string Name, Start, End, Time;
    bool operator==(const RowTexts &o) const
    {
        return Name == o.Name && Start == o.Start && End == o.End && Time == o.Time;
    }
};

inline std::ostream &operator<<(std::ostream &out, const RowTexts &r)
{
    return out << "{" << r.Name << " " << r.Start << " " << r.End << " " << r.Time << "}";
}

inline std::string &PathToChoose(void)
{
    static std::string path;
    return path;
}

inline void ChooseFile(HWND dialog)
{
    int box = GetDlgItem(dialog, 0x47C) ? 0x47C : 0x480;
    SetDlgItemTextA(dialog, box, PathToChoose().c_str());
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

/* Chooses the file in the open dialog as a user would (command 101). */
inline void OpenThroughDialog(const std::string &path)
{
    PathToChoose() = path;
    SetDialogHandler(ChooseFile);
    SendCommand(IDM_OPEN);
    SetDialogHandler(NULL);
    PumpMessages();
}

/* Writes the file's bytes into the test's folder under the title and
   loads it as Open does once the dialog has named it; the caller pumps. */
inline void LoadBytes(const std::string &title, const Bytes &file)
{
    std::string path = ScratchDir() + "\\" + title;
    WriteBytes(path, file);
    lstrcpynA(WaveDocument.DocumentPath, path.c_str(), sizeof(WaveDocument.DocumentPath));
    lstrcpynA(WaveDocument.DocumentTitle, title.c_str(), sizeof(WaveDocument.DocumentTitle));
    LoadDocument(App.MainWindow, WaveDocument.DocumentPath, WaveDocument.DocumentTitle);
}

/* Writes a canonical PCM file of the given sample bytes into the test's
   folder and opens it. Returns the sample bytes. */
inline Bytes OpenWave(const std::string &title, uint16_t channels, uint32_t rate,
                      uint16_t bits, size_t dataBytes, uint32_t seed = 7)
{
    Bytes data = PatternBytes(dataBytes, seed);
    std::string path = ScratchDir() + "\\" + title;
    WriteBytes(path, PcmWav(channels, rate, bits, data));
    OpenThroughDialog(path);
    return data;
}

/* A row's time text as the byte offset the program takes it for. */
inline LONG TextToOffset(const char *text)
{
    return SecondsToOffset(ParseSeconds(text));
}

inline std::vector<RowTexts> AllRows(void)
{
    std::vector<RowTexts> rows;
    for (int i = 0; i < RowTotal(); i++)
        rows.push_back({ RowText(i, COL_NAME), RowText(i, COL_START),
                         RowText(i, COL_END), RowText(i, COL_TIME) });
    return rows;
}

/* Replaces the list by the given rows and selects one (-1: none). */
inline void SetRows(const std::vector<RowTexts> &rows, int selected)
{
    SendMessageA(App.SegmentList, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < rows.size(); i++)
    {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = (int)i;
        item.pszText = (LPSTR)rows[i].Name.c_str();
        SendMessageA(App.SegmentList, LVM_INSERTITEMA, 0, (LPARAM)&item);
        SetRowText((int)i, COL_START, rows[i].Start.c_str());
        SetRowText((int)i, COL_END, rows[i].End.c_str());
        SetRowText((int)i, COL_TIME, rows[i].Time.c_str());
    }
    Segments.LastHandledRow = -1;       /* a new table: no row handled yet */
    if (selected >= 0)
        SelectRow(selected);
    PumpMessages();
}

inline void ClearSelection(void)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    SendMessageA(App.SegmentList, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&item);
}

/* The list allows several selected rows; a click selects one alone. */
inline void SelectOnly(int row)
{
    ClearSelection();
    SelectRow(row);
}

inline UINT RowState(int row)
{
    return (UINT)SendMessageA(App.SegmentList, LVM_GETITEMSTATE, row,
                              LVIS_SELECTED | LVIS_FOCUSED);
}

#endif
