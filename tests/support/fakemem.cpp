#include "fakemem.h"
#include "imports.h"

FAKEMEMORY FakeMemory;

void FakeMemoryReset(void)
{
    FakeMemory = FAKEMEMORY();
}

static void *RealKernel(const char *name)
{
    static HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return (void *)GetProcAddress(kernel, name);
}

/* Global and local handles are both HANDLEs: one allocation and one
   lock, each counted and refused at its turn, serve both kinds. */
static HANDLE CountedAlloc(const char *name, int failAt, int *calls, std::set<HANDLE> *live,
                           UINT flags, SIZE_T bytes)
{
    typedef HANDLE (WINAPI *ALLOC)(UINT, SIZE_T);
    if (failAt && ++*calls == failAt)
        return NULL;
    HANDLE handle = ((ALLOC)RealKernel(name))(flags, bytes);
    if (handle)
        live->insert(handle);
    return handle;
}

static LPVOID CountedLock(const char *name, int failAt, int *calls, HANDLE handle)
{
    typedef LPVOID (WINAPI *LOCK)(HANDLE);
    if (failAt && ++*calls == failAt)
        return NULL;
    return ((LOCK)RealKernel(name))(handle);
}

extern "C" {

static HGLOBAL WINAPI CountedGlobalAlloc(UINT flags, SIZE_T bytes)
{
    return CountedAlloc("GlobalAlloc", FakeMemory.FailGlobalAllocAt, &FakeMemory.GlobalAllocs,
                        &FakeMemory.LiveGlobal, flags, bytes);
}

static LPVOID WINAPI CountedGlobalLock(HGLOBAL handle)
{
    LPVOID p = CountedLock("GlobalLock", FakeMemory.FailGlobalLockAt, &FakeMemory.GlobalLocks, handle);
    if (p)
        FakeMemory.LockedGlobal++;
    return p;
}

static BOOL WINAPI CountedGlobalUnlock(HGLOBAL handle)
{
    typedef BOOL (WINAPI *UNLOCK)(HGLOBAL);
    BOOL still = ((UNLOCK)RealKernel("GlobalUnlock"))(handle);
    FakeMemory.GlobalUnlocks++;
    FakeMemory.LockedGlobal--;
    return FakeMemory.FailGlobalUnlock ? TRUE : still;
}

static HGLOBAL WINAPI CountedGlobalFree(HGLOBAL handle)
{
    typedef HGLOBAL (WINAPI *FREE)(HGLOBAL);
    HGLOBAL result = ((FREE)RealKernel("GlobalFree"))(handle);
    FakeMemory.GlobalFrees++;
    if (!result)
        FakeMemory.LiveGlobal.erase(handle);
    return FakeMemory.FailGlobalFree ? handle : result;
}

static HLOCAL WINAPI CountedLocalAlloc(UINT flags, SIZE_T bytes)
{
    return CountedAlloc("LocalAlloc", FakeMemory.FailLocalAllocAt, &FakeMemory.LocalAllocs,
                        &FakeMemory.LiveLocal, flags, bytes);
}

static LPVOID WINAPI CountedLocalLock(HLOCAL handle)
{
    return CountedLock("LocalLock", FakeMemory.FailLocalLockAt, &FakeMemory.LocalLocks, handle);
}

static HLOCAL WINAPI CountedLocalFree(HLOCAL handle)
{
    typedef HLOCAL (WINAPI *FREE)(HLOCAL);
    HLOCAL result = ((FREE)RealKernel("LocalFree"))(handle);
    if (!result)
        FakeMemory.LiveLocal.erase(handle);
    return result;
}

IMPORT_DOUBLE(GlobalAlloc,  8, CountedGlobalAlloc);
IMPORT_DOUBLE(GlobalLock,   4, CountedGlobalLock);
IMPORT_DOUBLE(GlobalUnlock, 4, CountedGlobalUnlock);
IMPORT_DOUBLE(GlobalFree,   4, CountedGlobalFree);
IMPORT_DOUBLE(LocalAlloc,   8, CountedLocalAlloc);
IMPORT_DOUBLE(LocalLock,    4, CountedLocalLock);
IMPORT_DOUBLE(LocalFree,    4, CountedLocalFree);

}
