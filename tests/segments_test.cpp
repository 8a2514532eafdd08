#include "support/seghelp.h"

/* 8000 Hz, mono, 8 bits: one byte per block, 8000 bytes a second. */
static const uint32_t Rate = 8000;

class SegmentList : public AppTest {};

TEST_F(SegmentList, LoadShowsOneRowNamedByTitleCutAtLastDot)
{
    struct { const char *title; const char *name; } cases[] = {
        { "song.part.wav", "song.part" },
        { "noext", "noext" },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.title);
        OpenWave(c.title, 1, Rate, 8, 2 * Rate);

        EXPECT_EQ(std::string("PELNOR:") + c.title, WindowText(App.MainWindow));
        ASSERT_EQ(1, RowTotal());
        EXPECT_EQ((RowTexts{ c.name, "0.00000", "2.00000", "2.00000" }), AllRows()[0]);
        EXPECT_EQ((UINT)(LVIS_SELECTED | LVIS_FOCUSED), RowState(0));
        EXPECT_EQ(0, FirstSelectedRow());
        EXPECT_EQ(0, PlaybackState.SegmentStart);
        EXPECT_EQ(0, PlaybackState.PlayStart);
        EXPECT_EQ((LONG)(2 * Rate), PlaybackState.SegmentEnd);
        EXPECT_EQ(2 * Rate, WaveDocument.BytesLeft);
    }
}

TEST_F(SegmentList, DurationIsDataSizeOverByteRateWithFiveDecimals)
{
    /* 44100 Hz stereo 16 bits: 176400 bytes a second, blocks of 4 */
    OpenWave("odd.wav", 2, 44100, 16, 176400 + 4);
    EXPECT_EQ("1.00002", RowText(0, COL_END));
    EXPECT_EQ("1.00002", RowText(0, COL_TIME));
}

TEST_F(SegmentList, LoadedDocumentAllowsDivideOnly)
{
    OpenWave("song.wav", 1, Rate, 8, 2 * Rate);
    EXPECT_COMMANDS({ { IDM_OPEN, true }, { IDM_SAVE, false }, { IDM_PLAY, true },
                      { IDM_STOP, false }, { IDM_LOOP, true }, { IDM_DIVIDE, true },
                      { IDM_JOIN, false }, { IDM_ERASE, false }, { IDM_RENAME, false } });
}

TEST_F(SegmentList, FailedOpenEmptiesListLeavesStartUpControlsAndNamesFileInCaption)
{
    OpenWave("song.wav", 1, Rate, 8, 2 * Rate);
    SendCommand(IDM_DIVIDE);
    ClearBoxes();

    std::string bad = ScratchDir() + "\\bad.wav";
    WriteBytes(bad, Bytes(64, 'x'));
    OpenThroughDialog(bad);

    /* reported once: the graph has no document to open again */
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("指定したファイルは、RIFFファイルではありません。", Boxes()[0].Text);
    EXPECT_TRUE(Boxes()[0].Warning);
    EXPECT_EQ("PELNOR:bad.wav", WindowText(App.MainWindow));
    EXPECT_EQ(0, RowTotal());
    EXPECT_EQ(NULL, WaveDocument.ReadHandle);
    EXPECT_TRUE(FakeMemory.LiveLocal.empty());
    EXPECT_COMMANDS({ { IDM_OPEN, true }, { IDM_SAVE, false }, { IDM_PLAY, false },
                      { IDM_STOP, false }, { IDM_LOOP, true }, { IDM_DIVIDE, false },
                      { IDM_JOIN, false }, { IDM_ERASE, false }, { IDM_RENAME, false } });
}

/* The name column takes what three 14-character columns leave of the
   list, but never less than ten characters. */
TEST_F(SegmentList, ColumnsHaveCaptionsAlignmentAndWidths)
{
    const int a = App.AverageCharWidth;
    ASSERT_GT(a, 0);
    struct { int clientWidth; int nameWidth; } cases[] = {
        { 1000, (int)(1000 * 0.9 - 42 * a - 2) },
        { 300, 10 * a },
        { 40, 10 * a },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.clientWidth);
        HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 100, 100,
                                    App.MainWindow, NULL, GetModuleHandleA(NULL), NULL);
        ASSERT_TRUE(list != NULL);
        App.ClientWidth = c.clientWidth;
        InitSegmentColumns(list);

        struct { const char *caption; int fmt; int width; } expected[] = {
            { "名前", LVCFMT_LEFT, c.nameWidth },
            { "start", LVCFMT_RIGHT, 14 * a },
            { "end", LVCFMT_RIGHT, 14 * a },
            { "time", LVCFMT_RIGHT, 14 * a },
        };
        for (int i = 0; i < 4; i++)
        {
            SCOPED_TRACE(i);
            char text[64] = "";
            LVCOLUMNA column = {};
            column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            column.pszText = text;
            column.cchTextMax = sizeof(text);
            ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, i, (LPARAM)&column));
            EXPECT_STREQ(expected[i].caption, text);
            EXPECT_EQ(expected[i].fmt, column.fmt & LVCFMT_JUSTIFYMASK);
            EXPECT_EQ(expected[i].width, column.cx);
            EXPECT_EQ(i, column.iSubItem);
        }
        EXPECT_EQ(GetStockObject(DEFAULT_GUI_FONT), (HGDIOBJ)SendMessageA(list, WM_GETFONT, 0, 0));
        DestroyWindow(list);
    }
}

/* The commands that follow the list and its edits, event by event, and
   Save, which stays off while row 0 carries the source's own name. */
TEST_F(SegmentList, ControlTableEventByEvent)
{
    OpenWave("song.wav", 1, Rate, 8, 4 * Rate);
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_JOIN, false }, { IDM_ERASE, false },
                      { IDM_RENAME, false } });

    SendCommand(IDM_DIVIDE);
    EXPECT_COMMANDS({ { IDM_SAVE, true }, { IDM_JOIN, true }, { IDM_ERASE, true },
                      { IDM_RENAME, true }, { IDM_DIVIDE, true } });

    SelectOnly(0);
    EXPECT_COMMAND(IDM_JOIN, false);
    SelectOnly(1);
    EXPECT_COMMAND(IDM_JOIN, true);

    /* Save follows whether row 0 still carries the source's name */
    SetRowText(0, COL_NAME, "song");
    SetIdleControls(1);
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_OPEN, true }, { IDM_PLAY, true } });
    SetRowText(0, COL_NAME, "Song");
    SetIdleControls(1);
    EXPECT_COMMAND(IDM_SAVE, true);
    SetIdleControls(0);
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_OPEN, false }, { IDM_PLAY, false } });
}

TEST_F(SegmentList, DivisionDuringPlaybackLeavesSaveAlone)
{
    OpenWave("song.wav", 1, Rate, 8, 4 * Rate);
    App.PlatformVersion = 0x500;
    SetIdleControls(0);
    PlaybackState.Playing = 1;
    DivideSegment(0.5);
    PlaybackState.Playing = 0;
    EXPECT_COMMANDS({ { IDM_SAVE, false }, { IDM_ERASE, true }, { IDM_RENAME, true } });
}

TEST_F(SegmentList, LoopIsTakenAwayDuringPlaybackOnlyBelowVersion5)
{
    struct { WORD version; bool loopWhilePlaying; } cases[] = { { 0x400, false }, { 0x500, true },
                                                                { 0x601, true } };
    OpenWave("song.wav", 1, Rate, 8, Rate);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version);
        App.PlatformVersion = c.version;
        SetIdleControls(0);
        EXPECT_COMMAND(IDM_LOOP, c.loopWhilePlaying);
        SetIdleControls(1);
        EXPECT_COMMAND(IDM_LOOP, true);
    }
}

class Selection : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        /* 176400 bytes a second in blocks of 4: texts rarely land on a
           block, so the seconds-to-offset rule shows */
        OpenWave("song.wav", 2, 44100, 16, 3 * 176400);
        SetRows({ { "a", "0.00000", "0.33333", "0.33333" },
                  { "b", "0.33333", "1.70001", "1.36668" },
                  { "c", "1.70001", "3.00000", "1.29999" } }, 0);
    }
};

TEST_F(Selection, RangeFollowsSelectedRowThroughSecondsToOffsetRule)
{
    struct { int row; LONG start; LONG end; } cases[] = {
        { 1, 58796, 299880 },   /* 58799.41 -> 58796; 299881.76 -> 299880 */
        { 2, 299880, 529200 },
        { 0, 0, 58796 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.row);
        SelectOnly(c.row);
        EXPECT_EQ(c.start, PlaybackState.SegmentStart);
        EXPECT_EQ(c.start, PlaybackState.PlayStart);
        EXPECT_EQ(c.end, PlaybackState.SegmentEnd);
        EXPECT_EQ((DWORD)(c.end - c.start), WaveDocument.BytesLeft);
        EXPECT_EQ(c.row, Segments.LastHandledRow);
        EXPECT_COMMAND(IDM_JOIN, c.row != 0);
    }
}

TEST_F(Selection, ReselectingHandledRowChangesNothing)
{
    SelectOnly(1);
    PlaybackState.PlayStart = 100000;       /* as a press in the graph leaves it */
    WaveDocument.BytesLeft = 199880;
    SelectOnly(1);
    EXPECT_EQ(100000, PlaybackState.PlayStart);
    EXPECT_EQ(199880u, WaveDocument.BytesLeft);
    EXPECT_EQ(1, Segments.LastHandledRow);
}

TEST_F(Selection, NoSelectedRowDoesNothing)
{
    SelectOnly(2);
    PlaybackState.PlayStart = 400000;
    ClearSelection();
    SetRowText(1, COL_NAME, "renamed");     /* a notification with nothing selected */
    EXPECT_EQ(-1, FirstSelectedRow());
    EXPECT_EQ(400000, PlaybackState.PlayStart);
    EXPECT_EQ(299880, PlaybackState.SegmentStart);
    EXPECT_EQ(2, Segments.LastHandledRow);
    EXPECT_TRUE(MenuEnabled(IDM_JOIN));
}

/* Loading does not forget the last handled row: when that was row 0 the
   new row 0 is not handled and the exact data size stays the range end;
   otherwise the row's five-decimal end stands for the same end. */
TEST_F(Selection, LastHandledRowSurvivesLoadingAnotherFile)
{
    struct { int rowBefore; LONG end; } cases[] = { { 0, 176404 }, { 1, 176404 } };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.rowBefore);
        OpenWave("first.wav", 2, 44100, 16, 3 * 176400);
        SendCommand(IDM_DIVIDE);
        SelectOnly(c.rowBefore);
        EXPECT_EQ(c.rowBefore, Segments.LastHandledRow);

        OpenWave("second.wav", 2, 44100, 16, 176400 + 4);
        ASSERT_EQ("1.00002", RowText(0, COL_END));
        EXPECT_EQ(c.end, PlaybackState.SegmentEnd);
        EXPECT_EQ(0, Segments.LastHandledRow);
    }
}

/* The main window's notifications from the list, in order, with the
   selection each one found. */
struct Notified
{
    UINT Code;
    int Selected;
    int Handled;      /* LastHandledRow after the main window handled it */
};
static std::vector<Notified> Recorded;
static WNDPROC MainProc;

static LRESULT CALLBACK RecordNotify(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NOTIFY && wParam == IDC_SEGMENTLIST)
    {
        UINT code = ((NMHDR *)lParam)->code;
        int selected = FirstSelectedRow();
        LRESULT result = CallWindowProcA(MainProc, hwnd, msg, wParam, lParam);
        Recorded.push_back({ code, selected, Segments.LastHandledRow });
        return result;
    }
    return CallWindowProcA(MainProc, hwnd, msg, wParam, lParam);
}

TEST_F(Selection, DivisionNotificationsEndWithSecondHalfHandled)
{
    SelectOnly(1);
    Recorded.clear();
    MainProc = (WNDPROC)SetWindowLongPtrA(App.MainWindow, GWLP_WNDPROC, (LONG_PTR)RecordNotify);
    DivideSegment(0.5);
    SetWindowLongPtrA(App.MainWindow, GWLP_WNDPROC, (LONG_PTR)MainProc);

    std::vector<UINT> structural;
    for (const Notified &n : Recorded)
        if (n.Code == LVN_INSERTITEM || n.Code == LVN_DELETEITEM)
            structural.push_back(n.Code);
    EXPECT_EQ((std::vector<UINT>{ LVN_INSERTITEM, LVN_INSERTITEM, LVN_DELETEITEM }), structural);

    /* each insertion pushes the old row down; the range follows it. Focus
       notices may come last, depending on which window had the focus. */
    std::vector<Notified> changes;
    for (const Notified &n : Recorded)
        if (n.Code == LVN_ITEMCHANGED)
            changes.push_back(n);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(2, changes.back().Selected);
    EXPECT_EQ(2, changes.back().Handled);
    for (const Notified &n : Recorded)
        if (n.Code == LVN_INSERTITEM)
        {
            EXPECT_EQ(n.Selected, n.Handled);
        }

    EXPECT_EQ("b-2", RowText(2, COL_NAME));
    EXPECT_EQ(TextToOffset(RowText(2, COL_START).c_str()), PlaybackState.SegmentStart);
    EXPECT_EQ(299880, PlaybackState.SegmentEnd);
}
