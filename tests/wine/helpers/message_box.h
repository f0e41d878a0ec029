// The box answerer: finds the message box that one process shows, reads what it says and how it
// looks, and answers it the way a user would, by clicking one of its buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What a message box shows. Texts are bytes in the ANSI code page, as the program passed them.
struct BoxRecord {
    std::string caption;
    std::string text;
    std::vector<std::string> buttons; // "yes", "no", "ok", "cancel" or the control id, left to right
    std::string defaultButton;        // the same names; "none" when the box has no default button
    std::string icon;                 // "none", "hand", "exclamation", "other" or "unpainted"
    bool owned = false;               // the box has an owner window
};

// The next visible top-level dialog (class "#32770") of process `processId` that is not among `seen`;
// nullptr once `deadline` (a GetTickCount64 value) has passed or the process has ended.
HWND WaitForBox(DWORD processId, HANDLE process, const std::vector<HWND>& seen, ULONGLONG deadline);

// The icon is looked at until it is painted or `deadline` (a GetTickCount64 value) has passed.
BoxRecord ReadBox(HWND box, ULONGLONG deadline);

// Saves what the screen shows of the box, once it is drawn (or at `deadline`), as a binary PPM picture (RGB, 8 bits a
// channel). Returns how many pixels the box's text has drawn on its background (0 for a text not
// drawn), -1 when no picture could be saved.
int SavePicture(HWND box, const std::string& path, ULONGLONG deadline);

// "yes", "no", "ok" click that button (BM_CLICK); "close" asks the box to close (WM_CLOSE), as the
// title bar's close button or Alt+F4 would; "dismiss" clicks No, OK or Cancel, whichever the box has.
bool AnswerBox(HWND box, const std::string& answer);
