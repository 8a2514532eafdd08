/* A test double takes the place of a system function by defining the import
   pointer that the program calls through. The pointer's name comes from the
   architecture: __imp__Name@ArgBytes on x86 (stdcall), __imp_Name on x64.
   A pointer under the wrong name would silently be left out of the link and
   the program would reach the real function, so every double also checks at
   start-up that the program's import resolves to it. */
#ifndef PELNOR_TEST_IMPORTS_H
#define PELNOR_TEST_IMPORTS_H

#include <windows.h>
#include <stdio.h>

#ifdef _WIN64
#define IMPORT_SYMBOL(name, argbytes) "__imp_" #name
#else
#define IMPORT_SYMBOL(name, argbytes) "__imp__" #name "@" #argbytes
#endif

/* Taking the address of an imported function reads its import pointer. */
#define IMPORT_DOUBLE(name, argbytes, replacement)                                   \
    extern "C" void *Double_##name __asm__(IMPORT_SYMBOL(name, argbytes));           \
    void *Double_##name = (void *)(replacement);                                     \
    static const bool Linked_##name = ImportResolvesTo(#name, (void *)&name, Double_##name)

static inline bool ImportResolvesTo(const char *name, void *import, void *replacement)
{
    /* The compiler takes two functions to have two addresses; make it
       compare what the import pointer holds when the program runs. */
    __asm__ volatile("" : "+r"(import));
    if (import == replacement)
        return true;
    fprintf(stderr, "test double for %s is not linked: the program would call the real %s\n",
            name, name);
    fflush(stderr);
    ExitProcess(70);
    return false;
}

#endif
