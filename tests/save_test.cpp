#include <algorithm>
#include "support/seghelp.h"

/* song.wav: 4 s at 8000 Hz, mono, 8 bits; one byte is one block. */
class Save : public AppTest
{
protected:
    Bytes Data;
    void SetUp() override
    {
        AppTest::SetUp();
        Data = OpenWave("song.wav", 1, 8000, 8, 32000);
        PumpMessages();
    }
    /* The canonical file holding the given byte ranges of the source. */
    Bytes Expected(const std::vector<std::pair<int, int>> &ranges) const
    {
        Bytes samples;
        for (const auto &r : ranges)
            samples.insert(samples.end(), Data.begin() + r.first, Data.begin() + r.second);
        return PcmWav(1, 8000, 8, samples);
    }
};

static std::vector<std::string> FilesHere(void)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((ScratchDir() + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

static void RemoveOutputs(const std::string &keep)
{
    for (const std::string &name : FilesHere())
        if (name != keep)
        {
            std::string path = ScratchDir() + "\\" + name;
            if (!DeleteFileA(path.c_str()))
                RemoveDirectoryA(path.c_str());
        }
}

static Bytes ReadHere(const std::string &name)
{
    return ReadBytes(ScratchDir() + "\\" + name);
}

static RowTexts Row(const char *name, const char *start, const char *end)
{
    return { name, start, end, "" };
}

typedef std::vector<std::pair<int, int>> Ranges;

TEST_F(Save, OneFilePerRunOfEqualNamesErasedRowsNeverStored)
{
    struct
    {
        const char *what;
        std::vector<RowTexts> rows;
        std::vector<std::pair<std::string, Ranges>> files;
        const char *lastWritten;
    } cases[] = {
        { "single row", { Row("song-1", "0.00000", "4.00000") },
          { { "song-1.wav", { { 0, 32000 } } } }, "song-1.wav" },
        { "erased row inside a run",
          { Row("a-1", "0.00000", "1.00000"), Row("NUL", "1.00000", "2.00000"),
            Row("a-1", "2.00000", "4.00000") },
          { { "a-1.wav", { { 0, 8000 }, { 16000, 32000 } } } }, "a-1.wav" },
        { "name coming back replaces its file",
          { Row("a-1", "0.00000", "1.00000"), Row("a-2", "1.00000", "2.00000"),
            Row("a-1", "2.00000", "4.00000") },
          { { "a-1.wav", { { 16000, 32000 } } }, { "a-2.wav", { { 8000, 16000 } } } }, "a-1.wav" },
        { "erased rows first and last",
          { Row("NUL", "0.00000", "1.00000"), Row("b", "1.00000", "3.00000"),
            Row("NUL", "3.00000", "4.00000") },
          { { "b.wav", { { 8000, 24000 } } } }, "b.wav" },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        RemoveOutputs("song.wav");
        SetRows(c.rows, 0);
        SendCommand(IDM_SAVE);

        std::vector<std::string> expectedNames = { "song.wav" };
        for (const auto &f : c.files)
            expectedNames.push_back(f.first);
        std::sort(expectedNames.begin(), expectedNames.end());
        EXPECT_EQ(expectedNames, FilesHere());
        for (const auto &f : c.files)
        {
            SCOPED_TRACE(f.first);
            EXPECT_EQ(Expected(f.second), ReadHere(f.first));
        }
        EXPECT_STREQ(c.lastWritten, Segments.LastWrittenName);
        EXPECT_TRUE(Boxes().empty());
    }
}

TEST_F(Save, ExtensionComesFromTitlesLastDotOrIsWav)
{
    struct { const char *title; const char *output; } cases[] = {
        { "take.2.wav", "x.wav" },
        { "noext", "x.WAV" },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.title);
        RemoveOutputs("");
        std::vector<std::string> expected = FilesHere();     /* the open source stays */
        Data = OpenWave(c.title, 1, 8000, 8, 32000);
        SetRows({ Row("x", "0.00000", "4.00000") }, 0);
        SendCommand(IDM_SAVE);
        expected.push_back(c.title);
        expected.push_back(c.output);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, FilesHere());
        EXPECT_EQ(Expected({ { 0, 32000 } }), ReadHere(c.output));
    }
}

/* What the graph window and the commands showed while a box was up in
   the middle of saving. */
struct SeenMidSave
{
    int BarWidth;
    bool Save, Open, Play, Divide, Join, Erase;
};
static std::vector<SeenMidSave> MidSave;
static HHOOK MidSaveHook;

static int BarWidth(void)
{
    HDC dc = GetDC(App.WaveView);
    int y = PlaybackState.WaveViewHeight / 2;
    int x = 0;
    while (x < PlaybackState.WaveViewWidth && (GetPixel(dc, x, y) & 0xFFFFFF) == 0)
        x++;
    ReleaseDC(App.WaveView, dc);
    return x;
}

static LRESULT CALLBACK WatchMidSave(int code, WPARAM wParam, LPARAM lParam)
{
    char cls[32] = "";
    if (code == HCBT_ACTIVATE)
        GetClassNameA((HWND)wParam, cls, sizeof(cls));
    if (!strcmp(cls, "#32770"))
        MidSave.push_back({ BarWidth(), MenuEnabled(IDM_SAVE), MenuEnabled(IDM_OPEN),
                            MenuEnabled(IDM_PLAY), MenuEnabled(IDM_DIVIDE),
                            ButtonEnabled(IDM_JOIN), ButtonEnabled(IDM_ERASE) });
    return CallNextHookEx(MidSaveHook, code, wParam, lParam);
}

/* Rows b and d cannot be created (a folder holds their names): each is
   reported, the bar still advances and the rows after them are saved. */
TEST_F(Save, FailingRowIsReportedAndLaterRowsStillSaved)
{
    ASSERT_EQ(512, PlaybackState.WaveViewWidth);
    CreateDirectoryA((ScratchDir() + "\\b.wav").c_str(), NULL);
    CreateDirectoryA((ScratchDir() + "\\d.wav").c_str(), NULL);
    SendCommand(IDM_DIVIDE);       /* Erase on, as after any first division */
    SetRows({ Row("a", "0.00000", "1.00000"), Row("b", "1.00000", "2.00000"),
              Row("c", "2.00000", "3.00000"), Row("d", "3.00000", "4.00000") }, 1);
    UpdateWindow(App.MainWindow);
    PumpMessages();
    ClearBoxes();

    MidSave.clear();
    MidSaveHook = SetWindowsHookExA(WH_CBT, WatchMidSave, NULL, GetCurrentThreadId());
    SendCommand(IDM_SAVE);
    UnhookWindowsHookEx(MidSaveHook);

    EXPECT_EQ((std::vector<std::string>{ "書き込みファイルを開けません。",
                                         "書き込みファイルを開けません。" }), BoxTexts());
    ASSERT_EQ(2u, MidSave.size());
    EXPECT_EQ(128, MidSave[0].BarWidth);
    EXPECT_EQ(384, MidSave[1].BarWidth);
    for (const SeenMidSave &seen : MidSave)
    {
        EXPECT_FALSE(seen.Save || seen.Open || seen.Play || seen.Divide || seen.Join);
        EXPECT_TRUE(seen.Erase);
    }
    EXPECT_EQ(512, BarWidth());
    EXPECT_EQ(Expected({ { 0, 8000 } }), ReadHere("a.wav"));
    EXPECT_EQ(Expected({ { 16000, 24000 } }), ReadHere("c.wav"));
    /* the two wave headers and at most the format block of the last
       validation stay allocated */
    EXPECT_EQ(2u, FakeMemory.LiveGlobal.size());
    EXPECT_EQ(2, FakeMemory.LockedGlobal);
    EXPECT_EQ(WaveDocument.FormatBlock ? 1u : 0u, FakeMemory.LiveLocal.size());
}

/* An output another program has mapped cannot be replaced, but it can be
   opened to append: the later rows of its name are not added to it. */
TEST_F(Save, RowsOfAnOutputNotReplacedAreNotAppended)
{
    Bytes old = PcmWav(1, 8000, 8, Bytes(100, 1));
    WriteBytes(ScratchDir() + "\\a.wav", old);
    HANDLE file = CreateFileA("a.wav", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    HANDLE map = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, 0, NULL);
    SetRows({ Row("a", "0.00000", "1.00000"), Row("a", "1.00000", "2.00000") }, 1);
    SendCommand(IDM_SAVE);
    CloseHandle(map);
    CloseHandle(file);
    EXPECT_EQ((std::vector<std::string>{ "書き込みファイルを開けません。",
                                         "書き込めなかったファイルのため保存しません:a.wav" }), BoxTexts());
    EXPECT_EQ(old, ReadHere("a.wav"));
}

TEST_F(Save, ProgressBarGrowsWithEachRowsEnd)
{
    SetRows({ Row("a", "0.00000", "1.00000"), Row("b", "1.00000", "2.00000"),
              Row("c", "2.00000", "4.00000") }, 1);
    CreateDirectoryA((ScratchDir() + "\\a.wav").c_str(), NULL);
    CreateDirectoryA((ScratchDir() + "\\b.wav").c_str(), NULL);
    CreateDirectoryA((ScratchDir() + "\\c.wav").c_str(), NULL);
    UpdateWindow(App.MainWindow);
    PumpMessages();

    MidSave.clear();
    MidSaveHook = SetWindowsHookExA(WH_CBT, WatchMidSave, NULL, GetCurrentThreadId());
    SendCommand(IDM_SAVE);
    UnhookWindowsHookEx(MidSaveHook);

    /* each box comes before its own row's bar: white, then 128, then 256 */
    ASSERT_EQ(3u, MidSave.size());
    EXPECT_EQ(0, MidSave[0].BarWidth);
    EXPECT_EQ(128, MidSave[1].BarWidth);
    EXPECT_EQ(256, MidSave[2].BarWidth);
    EXPECT_EQ(512, BarWidth());
}

TEST_F(Save, ControlsAfterSavingFollowSelection)
{
    struct { const char *what; int selected; bool join; } cases[] = {
        { "first row", 0, false },
        { "second row", 1, true },
        { "no row", -1, true },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        SetRows({ Row("a", "0.00000", "2.00000"), Row("b", "2.00000", "4.00000") }, c.selected);
        EnableCommand(IDM_ERASE, 0);
        SendCommand(IDM_SAVE);
        EXPECT_COMMANDS({ { IDM_SAVE, true }, { IDM_OPEN, true }, { IDM_PLAY, true },
                          { IDM_DIVIDE, true }, { IDM_JOIN, c.join }, { IDM_ERASE, false },
                          { IDM_STOP, false } });
    }
}

/* Divide right after a save halves the selected row: the writer's
   countdown is not taken for the play position. */
TEST_F(Save, DivideRightAfterSavingHalvesTheSelectedRow)
{
    SendCommand(IDM_DIVIDE);
    SendCommand(IDM_SAVE);
    SendCommand(IDM_DIVIDE);
    EXPECT_EQ("3.00000", RowText(2, COL_START));
}

/* An output that would land on the open source is refused; Windows names
   are the same file in any case. */
TEST_F(Save, OutputNamedLikeSourceIsRefusedAndSourceKept)
{
    Bytes source = ReadHere("song.wav");
    for (const char *name : { "song", "SONG" })
    {
        SCOPED_TRACE(name);
        ClearBoxes();
        RemoveOutputs("song.wav");
        SetRows({ Row(name, "0.00000", "2.00000"), Row("song-2", "2.00000", "4.00000") }, 1);
        SendCommand(IDM_SAVE);

        EXPECT_EQ((std::vector<std::string>{ std::string("元のファイルと同じ名前のため保存しません:") +
                                             name + ".wav" }), BoxTexts());
        ASSERT_EQ(1u, Boxes().size());
        EXPECT_TRUE(Boxes()[0].Warning);
        EXPECT_EQ(App.MainWindow, Boxes()[0].Owner);
        EXPECT_EQ(source, ReadHere("song.wav"));
        EXPECT_EQ(Expected({ { 16000, 32000 } }), ReadHere("song-2.wav"));
        EXPECT_EQ((std::vector<std::string>{ "song-2.wav", "song.wav" }), FilesHere());
    }
}

/* A name that leaves no room for the extension is refused whole rather
   than cut short onto some other file's name. */
TEST_F(Save, OverLongOutputNameIsRefused)
{
    std::string longName(252, 'n');
    SetRows({ Row(longName.c_str(), "0.00000", "2.00000"), Row("b", "2.00000", "4.00000") }, 1);
    SendCommand(IDM_SAVE);

    EXPECT_EQ((std::vector<std::string>{ "ファイル名が長すぎるため保存しません:" + longName }),
              BoxTexts());
    EXPECT_EQ((std::vector<std::string>{ "b.wav", "song.wav" }), FilesHere());
    EXPECT_EQ(Expected({ { 16000, 32000 } }), ReadHere("b.wav"));
    EXPECT_STREQ("b.wav", Segments.LastWrittenName);
}

/* A refused row still counts as a different name between two runs: the
   name that comes back starts its file anew. */
TEST_F(Save, RefusedRowBreaksTheRunOfEqualNames)
{
    struct { const char *what; std::string refused; std::string box; } cases[] = {
        { "named like the source", "song", "元のファイルと同じ名前のため保存しません:song.wav" },
        { "over long", std::string(252, 'n'),
          "ファイル名が長すぎるため保存しません:" + std::string(252, 'n') },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        ClearBoxes();
        RemoveOutputs("song.wav");
        SetRows({ Row("a-1", "0.00000", "1.00000"), Row(c.refused.c_str(), "1.00000", "2.00000"),
                  Row("a-1", "2.00000", "4.00000") }, 1);
        SendCommand(IDM_SAVE);

        EXPECT_EQ((std::vector<std::string>{ c.box }), BoxTexts());
        EXPECT_EQ((std::vector<std::string>{ "a-1.wav", "song.wav" }), FilesHere());
        EXPECT_EQ(Expected({ { 16000, 32000 } }), ReadHere("a-1.wav"));
    }
}

/* Only the upper-case name marks an erased row; a lower-case nul is an
   ordinary name for the run rule, though Windows sends it nowhere. */
TEST_F(Save, LowerCaseNulIsRememberedAsLastWritten)
{
    SetRows({ Row("a", "0.00000", "1.00000"), Row("nul", "1.00000", "2.00000"),
              Row("NUL", "2.00000", "4.00000") }, 1);
    SendCommand(IDM_SAVE);
    EXPECT_STREQ("nul.wav", Segments.LastWrittenName);
    EXPECT_EQ(Expected({ { 0, 8000 } }), ReadHere("a.wav"));
}

TEST_F(Save, EmptyListWritesNothingAndEnablesCommands)
{
    std::string bad = ScratchDir() + "\\bad.wav";
    WriteBytes(bad, Bytes(64, 'x'));
    OpenThroughDialog(bad);
    ASSERT_EQ(0, RowTotal());
    ClearBoxes();

    SendCommand(IDM_SAVE);

    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ((std::vector<std::string>{ "bad.wav", "song.wav" }), FilesHere());
    EXPECT_COMMANDS({ { IDM_SAVE, true }, { IDM_OPEN, true }, { IDM_PLAY, true },
                      { IDM_DIVIDE, true }, { IDM_JOIN, true } });
}

/* Every length, rate and depth: the pieces saved from a divided, erased,
   joined and renamed list join back to the data without the erased row. */
TEST_F(Save, SavedPiecesJoinBackToTheData)
{
    const uint32_t rates[] = { 8000, 11025, 22050, 44100, 48000, 96000 }, extra[] = { 1, 2, 7, 441, 12345 };
    auto samples = [](const char *name) { Bytes f = ReadHere(name); return Bytes(f.begin() + 44, f.begin() + 44 + GetLe32(f, 40)); };
    for (int i = 0; i < 30; i++)
    {
        uint16_t channels = (uint16_t)(1 + i / 5 % 2), bits = (uint16_t)(8 + 8 * (i / 6 % 3));
        size_t frames = i / 3 % 3 * rates[i % 6] + extra[i % 5];
        SCOPED_TRACE(testing::Message() << frames << " frames, " << rates[i % 6] << " Hz, " << bits << " bits, " << channels);
        Data = OpenWave("take.wav", channels, rates[i % 6], bits, frames * channels * bits / 8, i);
        for (double f : { 0.37, 0.5, 0.61 })
            DivideSegment(f);
        SelectOnly(1);
        EraseSegment();
        SelectOnly(2);
        JoinSegment();
        RenameSegments();
        SendCommand(IDM_SAVE);
        Bytes joined = samples("take-1.wav"), last = samples("take-2.wav");
        joined.insert(joined.end(), last.begin(), last.end());
        Data.erase(Data.begin() + TextToOffset(RowText(1, COL_START).c_str()),
                   Data.begin() + TextToOffset(RowText(1, COL_END).c_str()));
        ASSERT_TRUE(Data == joined) << Data.size() << " bytes, joined " << joined.size();
    }
}

/* A source changed after its first use is refused at the next save and
   nothing is written from it; opening it again starts afresh. */
TEST_F(Save, ChangedSourceIsRefusedAndNothingIsWrittenFromIt)
{
    SetRows({ Row("a", "0.00000", "2.00000"), Row("b", "2.00000", "4.00000") }, 0);
    SendCommand(IDM_SAVE);
    WriteBytes(ScratchDir() + "\\song.wav", PcmWav(1, 8000, 8, PatternBytes(40000)));
    SendCommand(IDM_SAVE);
    EXPECT_EQ(std::vector<std::string>(2, "ファイルが変更されています。"), BoxTexts());
    EXPECT_EQ(Expected({ { 0, 16000 } }), ReadHere("a.wav"));
    EXPECT_EQ(Expected({ { 16000, 32000 } }), ReadHere("b.wav"));
    OpenThroughDialog(ScratchDir() + "\\song.wav");
    EXPECT_EQ("5.00000", RowText(0, COL_END));
}

/* Saving driven by tests/save_check.py, which builds the source with
   Python's wave module, chooses the rows and checks the outputs on its
   own. The file PELNOR_CHECK_ROWS holds the source's Windows path on its
   first line, then one row per line: name, start and end separated by
   tabs. Skipped when the variable is not set. */
TEST_F(AppTest, SavesRowsGivenByHostCheck)
{
    char rowsPath[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("PELNOR_CHECK_ROWS", rowsPath, sizeof(rowsPath));
    if (length == 0 || length >= sizeof(rowsPath))
        GTEST_SKIP() << "run by tests/save_check.py";

    FILE *file = fopen(rowsPath, "r");
    ASSERT_TRUE(file != NULL) << rowsPath;
    char line[1024];
    std::string source;
    std::vector<RowTexts> rows;
    while (fgets(line, sizeof(line), file))
    {
        line[strcspn(line, "\r\n")] = '\0';
        if (source.empty())
        {
            source = line;
            continue;
        }
        char *name = strtok(line, "\t");
        char *start = strtok(NULL, "\t");
        char *end = strtok(NULL, "\t");
        ASSERT_TRUE(name && start && end) << "row " << rows.size();
        rows.push_back({ name, start, end, "" });
    }
    fclose(file);

    OpenThroughDialog(source);
    ASSERT_EQ(1, RowTotal()) << "the source did not open";
    printf("END:%s\n", RowText(0, COL_END).c_str());
    SetRows(rows, 0);
    SendCommand(IDM_SAVE);
    /* the check decides which messages were due */
    for (const BoxSeen &box : Boxes())
        printf("BOX:%s\n", box.Text.c_str());
}
