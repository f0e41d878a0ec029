#include "message_box.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>

namespace {

// The static control that shows a message box's icon, and the one that shows its text.
constexpr int IconControlId = 0x0440;
constexpr int TextControlId = 0xFFFF;

struct Search {
    DWORD processId;
    const std::vector<HWND>* seen;
    HWND found;
};

BOOL CALLBACK TakeBoxOfProcess(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || IsWindowVisible(window) == FALSE) {
        return TRUE;
    }
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770") {
        return TRUE;
    }
    for (HWND known : *search->seen) {
        if (known == window) {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

std::string ButtonName(int id)
{
    switch (id) {
    case IDOK:
        return "ok";
    case IDCANCEL:
        return "cancel";
    case IDYES:
        return "yes";
    case IDNO:
        return "no";
    default:
        return std::to_string(id);
    }
}

// The text of a control in another process: WM_GETTEXT is carried across processes and converted to
// the ANSI code page on the way back.
std::string ControlText(HWND control)
{
    char text[1024] = {};
    DWORD_PTR length = 0;
    if (SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                            &length) == 0) {
        return "";
    }
    return {text, static_cast<std::size_t>(length)};
}

// The box's visible push buttons, from left to right.
std::vector<HWND> VisibleButtons(HWND box)
{
    std::vector<HWND> buttons;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child) != FALSE) {
            buttons.push_back(child);
        }
    }
    std::sort(buttons.begin(), buttons.end(), [](HWND left, HWND right) {
        RECT leftRect{};
        RECT rightRect{};
        GetWindowRect(left, &leftRect);
        GetWindowRect(right, &rightRect);
        return leftRect.left < rightRect.left;
    });
    return buttons;
}

// The button drawn as the default, the one Enter presses. Wine's DM_GETDEFID names IDOK even in a box
// without an OK button, so the buttons' own style is asked instead.
std::string DefaultButton(const std::vector<HWND>& buttons)
{
    for (HWND button : buttons) {
        const auto style = static_cast<DWORD>(GetWindowLongA(button, GWL_STYLE));
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            return ButtonName(GetDlgCtrlID(button));
        }
    }
    return "none";
}

// A rectangle of the screen as 32-bit pixels, top row first (blue, green, red, unused in each).
std::vector<std::uint32_t> CaptureScreen(const RECT& rect)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<std::uint32_t> pixels;
    if (width <= 0 || height <= 0) {
        return pixels;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE) {
            GdiFlush();
            const auto* first = static_cast<const std::uint32_t*>(bits);
            pixels.assign(first, first + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// An icon drawn by another process cannot be asked for its handle's picture here, so the icon is told
// by what the screen shows: the hand is a red disc, the exclamation mark a yellow triangle.
std::string IconOnScreen(HWND iconControl)
{
    RECT rect{};
    GetWindowRect(iconControl, &rect);
    int red = 0;
    int yellow = 0;
    int other = 0;
    for (const std::uint32_t pixel : CaptureScreen(rect)) {
        const unsigned r = (pixel >> 16U) & 0xFFU;
        const unsigned g = (pixel >> 8U) & 0xFFU;
        const unsigned b = pixel & 0xFFU;
        if (r >= 160 && g <= 100 && b <= 100) {
            ++red;
        } else if (r >= 170 && g >= 150 && b <= 100) {
            ++yellow;
        } else if (b >= 150 && r <= 100) {
            ++other; // the blue of the question and information icons
        }
    }
    if (red >= 20 && red > 4 * yellow) {
        return "hand";
    }
    if (yellow >= 20 && yellow > 4 * red) {
        return "exclamation";
    }
    return red + yellow + other == 0 ? "blank" : "other";
}

// The icon control is there in every box, holding no icon when the box has none. One that holds an
// icon may not be painted yet when the box first shows, so it is looked at until it shows a picture.
// The run's deadline bounds the wait, as it does the others: a busy machine may paint late.
std::string BoxIcon(HWND box, ULONGLONG deadline)
{
    HWND control = GetDlgItem(box, IconControlId);
    DWORD_PTR handle = 0;
    if (control == nullptr || IsWindowVisible(control) == FALSE ||
        SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &handle) == 0 || handle == 0) {
        return "none";
    }
    std::string icon = "blank";
    while (icon == "blank" && GetTickCount64() < deadline) {
        icon = IconOnScreen(control);
        if (icon == "blank") {
            Sleep(50);
        }
    }
    return icon == "blank" ? "unpainted" : icon;
}

// Pixels that differ from the most common one, the background: what has been drawn on it.
int CountInk(const std::vector<std::uint32_t>& pixels)
{
    std::map<std::uint32_t, int> counts;
    int most = 0;
    for (const std::uint32_t pixel : pixels) {
        most = std::max(most, ++counts[pixel & 0xFFFFFFU]);
    }
    return static_cast<int>(pixels.size()) - most;
}

RECT TextRect(HWND box)
{
    RECT rect{};
    GetWindowRect(GetDlgItem(box, TextControlId), &rect);
    return rect;
}

// A box is visible before its controls have drawn themselves: waits (up to the deadline) until its text has
// drawn something and two looks at the whole box, 100 ms apart, see the same picture.
void WaitUntilPainted(HWND box, ULONGLONG deadline)
{
    RECT boxRect{};
    GetWindowRect(box, &boxRect);
    std::vector<std::uint32_t> previous;
    while (GetTickCount64() < deadline) {
        std::vector<std::uint32_t> current = CaptureScreen(boxRect);
        if (CountInk(CaptureScreen(TextRect(box))) > 0 && current == previous) {
            return;
        }
        previous = std::move(current);
        Sleep(100);
    }
}

} // namespace

HWND WaitForBox(DWORD processId, HANDLE process, const std::vector<HWND>& seen, ULONGLONG deadline)
{
    while (GetTickCount64() < deadline) {
        Search search{processId, &seen, nullptr};
        EnumWindows(TakeBoxOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        if (WaitForSingleObject(process, 25) == WAIT_OBJECT_0) {
            return nullptr;
        }
    }
    return nullptr;
}

BoxRecord ReadBox(HWND box, ULONGLONG deadline)
{
    BoxRecord record;
    char caption[1024] = {};
    const int length = GetWindowTextA(box, caption, sizeof caption);
    record.caption.assign(caption, length > 0 ? static_cast<std::size_t>(length) : 0);
    if (HWND text = GetDlgItem(box, TextControlId)) {
        record.text = ControlText(text);
    }
    const std::vector<HWND> buttons = VisibleButtons(box);
    for (HWND button : buttons) {
        record.buttons.push_back(ButtonName(GetDlgCtrlID(button)));
    }
    record.defaultButton = DefaultButton(buttons);
    record.icon = BoxIcon(box, deadline);
    record.owned = GetWindow(box, GW_OWNER) != nullptr;
    return record;
}

int SavePicture(HWND box, const std::string& path, ULONGLONG deadline)
{
    WaitUntilPainted(box, deadline);
    RECT rect{};
    GetWindowRect(box, &rect);
    const std::vector<std::uint32_t> pixels = CaptureScreen(rect);
    if (pixels.empty()) {
        return -1;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return -1;
    }
    bool written = std::fprintf(file, "P6\n%ld %ld\n255\n", rect.right - rect.left, rect.bottom - rect.top) > 0;
    for (const std::uint32_t pixel : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(pixel >> 16U), static_cast<unsigned char>(pixel >> 8U),
                                      static_cast<unsigned char>(pixel)};
        written = written && std::fwrite(rgb, 1, sizeof rgb, file) == sizeof rgb;
    }
    if (std::fclose(file) != 0 || !written) {
        return -1;
    }
    return CountInk(CaptureScreen(TextRect(box)));
}

bool AnswerBox(HWND box, const std::string& answer)
{
    if (answer == "close") {
        return PostMessageA(box, WM_CLOSE, 0, 0) != 0;
    }
    std::vector<int> candidates;
    if (answer == "yes") {
        candidates = {IDYES};
    } else if (answer == "no") {
        candidates = {IDNO};
    } else if (answer == "ok") {
        candidates = {IDOK};
    } else if (answer == "dismiss") {
        candidates = {IDNO, IDOK, IDCANCEL};
    }
    for (const int id : candidates) {
        HWND button = GetDlgItem(box, id);
        if (button != nullptr && IsWindowVisible(button) != FALSE) {
            return PostMessageA(button, BM_CLICK, 0, 0) != 0;
        }
    }
    return false;
}
