#include "app/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdline, int show)
{
    return AppMain(instance, previous, cmdline, show);
}
