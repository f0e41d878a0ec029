// Keeps Wine's desktop open for the whole test run. Wine closes the desktop, and ends the process that
// draws it, shortly after the last program using it has gone; each run of the installer would then wait
// for a new one to start. This program uses the desktop and then sleeps until the wineserver ends it.
#include <windows.h>

int main()
{
    if (GetDesktopWindow() == nullptr) {
        return 1;
    }
    for (;;) {
        Sleep(INFINITE);
    }
}
