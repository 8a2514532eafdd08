/* The in-process test harness: the real main window, message boxes
   answered by the test, the program's key handling, and readers for
   menus, buttons and list rows. */
#ifndef PELNOR_TEST_HARNESS_H
#define PELNOR_TEST_HARNESS_H

#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "fakemem.h"
#include "fakewave.h"

/* One message box as the test saw it. */
struct BoxSeen
{
    std::string Text;
    std::string Caption;
    bool        Warning;        /* carries the warning icon */
    bool        Ok, Yes, No, Cancel;
    HWND        Owner;
};

/* Boxes shown since the last ClearBoxes, oldest first. */
std::vector<BoxSeen> &Boxes(void);
void ClearBoxes(void);
/* Answers for the next boxes, oldest first; with none queued a box is
   answered IDOK, or IDNO when it has no OK button. */
void QueueBoxAnswer(int id);
/* The texts of the boxes seen, for compact assertions. */
std::vector<std::string> BoxTexts(void);

/* Other dialogs (the open dialog) go to this handler when it is set,
   at their activation; it may fill them in and press a button. */
typedef void (*DIALOGHANDLER)(HWND dialog);
void SetDialogHandler(DIALOGHANDLER handler);

/* The message-box watcher for tests without the fixture. */
void InstallBoxHook(void);
void RemoveBoxHook(void);

/* Puts the program's records back to their start-up values. */
void ResetProgramState(void);

/* Creates the real main window as the program does at start-up, with a
   client area of the given size. */
void StartMainWindow(int clientWidth = 1000, int clientHeight = 500);
void CloseMainWindow(void);

/* Dispatches what is waiting, through the main window's accelerators as
   the program's own loop does. Never blocks. */
void PumpMessages(void);

/* Key input as the user gives it: a key press (down, char, up) posted to
   the focus window, then pumped through the accelerators. */
void PressKey(UINT vk, bool shift = false, bool ctrl = false);
void TypeChar(HWND target, char ch);

LRESULT SendCommand(int id);

bool MenuEnabled(int id);
bool MenuChecked(int id);
bool ButtonEnabled(int id);

/* Calls a check helper so that each failure it reports also names the
   caller's file and line: every EXPECT_ helper macro of the tests. */
#define CALLED_HERE(...) do { SCOPED_TRACE("called here"); __VA_ARGS__; } while (0)

/* A command's state as the menu and, where it has one, its button show it;
   failures are reported at the caller's line. */
#define EXPECT_COMMAND(id, on) ExpectCommand(__FILE__, __LINE__, (id), (on))
void ExpectCommand(const char *file, int line, int id, bool on);

struct CommandState
{
    int Id;
    bool Enabled;
};

#define EXPECT_COMMANDS(...) ExpectCommands(__FILE__, __LINE__, __VA_ARGS__)
void ExpectCommands(const char *file, int line, const std::vector<CommandState> &expected);
std::string WindowText(HWND window);

std::string RowText(int row, int column);
int RowTotal(void);

/* A scratch folder for one test, made current; removed by the fixture. */
std::string ScratchDir(void);

/* Fixture for tests that need the main window: fresh records, doubles
   reset (fake device on), the window created, boxes answered. */
class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

#endif
