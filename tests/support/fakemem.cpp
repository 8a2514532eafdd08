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

extern "C" {

static HGLOBAL WINAPI CountedGlobalAlloc(UINT flags, SIZE_T bytes)
{
    typedef HGLOBAL (WINAPI *ALLOC)(UINT, SIZE_T);
    if (FakeMemory.FailGlobalAllocAt && ++FakeMemory.GlobalAllocs == FakeMemory.FailGlobalAllocAt)
        return NULL;
    HGLOBAL handle = ((ALLOC)RealKernel("GlobalAlloc"))(flags, bytes);
    if (handle)
        FakeMemory.LiveGlobal.insert(handle);
    return handle;
}

static LPVOID WINAPI CountedGlobalLock(HGLOBAL handle)
{
    typedef LPVOID (WINAPI *LOCK)(HGLOBAL);
    if (FakeMemory.FailGlobalLockAt && ++FakeMemory.GlobalLocks == FakeMemory.FailGlobalLockAt)
        return NULL;
    LPVOID p = ((LOCK)RealKernel("GlobalLock"))(handle);
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
    typedef HLOCAL (WINAPI *ALLOC)(UINT, SIZE_T);
    if (FakeMemory.FailLocalAllocAt && ++FakeMemory.LocalAllocs == FakeMemory.FailLocalAllocAt)
        return NULL;
    HLOCAL handle = ((ALLOC)RealKernel("LocalAlloc"))(flags, bytes);
    if (handle)
        FakeMemory.LiveLocal.insert(handle);
    return handle;
}

static LPVOID WINAPI CountedLocalLock(HLOCAL handle)
{
    typedef LPVOID (WINAPI *LOCK)(HLOCAL);
    if (FakeMemory.FailLocalLockAt && ++FakeMemory.LocalLocks == FakeMemory.FailLocalLockAt)
        return NULL;
    return ((LOCK)RealKernel("LocalLock"))(handle);
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
