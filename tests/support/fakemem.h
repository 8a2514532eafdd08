/* Global and local memory calls of the program, counted and, when a test
   asks, refused. The program reaches them through the import table; every
   call not refused goes on to kernel32. */
#ifndef PELNOR_TEST_FAKEMEM_H
#define PELNOR_TEST_FAKEMEM_H

#include <windows.h>
#include <set>

struct FAKEMEMORY
{
    /* 1-based count of calls from now at which the call fails; 0: never */
    int FailGlobalAllocAt, FailGlobalLockAt, FailLocalAllocAt, FailLocalLockAt;
    bool FailGlobalUnlock;         /* report "still locked" */
    bool FailGlobalFree;           /* return the handle */
    int GlobalAllocs, GlobalLocks, LocalAllocs, LocalLocks;
    int GlobalUnlocks, GlobalFrees;  /* every call through the program, counted */
    std::set<HGLOBAL> LiveGlobal;  /* allocated by the program and not freed */
    std::set<HLOCAL>  LiveLocal;
    int LockedGlobal;              /* locks minus unlocks through the program */
};

extern FAKEMEMORY FakeMemory;

void FakeMemoryReset(void);

#endif
