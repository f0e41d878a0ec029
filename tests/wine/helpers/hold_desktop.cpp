// Keeps Wine's desktop open for the whole test run. Wine closes the desktop, and ends the process that
// draws it, shortly after the last program using it has gone; each run of the installer would then wait
// for a new one to start. This program uses the desktop, says "desktop" on its standard output, so that
// the session knows it is up, and then sleeps until the wineserver ends it.
#include <windows.h>

#include <cstdio>

int main()
{
    if (GetDesktopWindow() == nullptr) {
        return 1;
    }
    std::fputs("desktop\n", stdout);
    std::fflush(stdout);
    for (;;) {
        Sleep(INFINITE);
    }
}
