// The installer run: read the first argument, ask the one question, write or delete the two registry
// keys, say how it went, exit with code 0. Every text here is compiled to code page 936.
#include "../platform/win32.h"
#include "UTypes.h"
#include "arguments.h"
#include "text.h"

namespace {

// The ANSI path functions serve at most MAX_PATH (260) characters; this holds 260 bytes and the NUL. A
// longer path, or one whose double-byte characters take more bytes, comes back cut short, filling the
// buffer, and counts as not reported.
constexpr unsigned ModulePathCapacity = 260 + 1;
// "res://" + the path with each byte escaped to at most three + "/clipindex" + NUL; the uninstall
// command ("\"" + path + "\" /Uninstall" + NUL) is shorter.
constexpr unsigned ValueTextCapacity = 6 + (3 * (ModulePathCapacity - 1)) + 10 + 1;

// The one key slot serves both keys in turn; the disposition each creation reports is never read.
HKEY KeySlot;
DWORD Disposition;
// Reused in turn for the page address, the display name and the uninstall command.
char ValueText[ValueTextCapacity];
char ModulePath[ModulePathCapacity];

void ShowRegistryError()
{
    MessageBoxA(nullptr, "操作注册表错误。", "错误", MB_OK | MB_ICONHAND);
}

// The executable's own path, whole: a result of 0, or one that filled the buffer (cut short), is
// no path at all. So is a path with a '?': the ANSI form has one for each character that code page 936
// cannot write, and a \\?\ path keeps its prefix; no address or command written from either resolves.
// For other such characters the ANSI form carries a look-alike instead ("Bâle" comes back as "Bale"),
// naming a folder that is not there: only a path at which GetFileAttributesA finds an entry is written.
// That asks whether anything, a file or a folder, is there, not whether it is this program.
bool FetchModulePath()
{
    const DWORD length = GetModuleFileNameA(nullptr, ModulePath, ModulePathCapacity);
    return length != 0 && length < ModulePathCapacity && !ContainsByte(ModulePath, '?') &&
           GetFileAttributesA(ModulePath) != INVALID_FILE_ATTRIBUTES;
}

bool CreateKey(HKEY root, const char* path)
{
    return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &KeySlot, &Disposition) == ERROR_SUCCESS;
}

// String data is stored with its terminating NUL, so the size is the length plus one.
bool SetTextValue(const char* name, const char* text)
{
    return RegSetValueExA(KeySlot, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), TextLength(text) + 1) ==
           ERROR_SUCCESS;
}

void ComposePageUrl()
{
    char* end = AppendText(ValueText, "res://");
    end = AppendResAddressPath(end, ModulePath);
    AppendText(end, "/clipindex");
}

// A path with blanks goes in quotes, so that the programs list starts this program with "/Uninstall"
// as its first argument and never a program named by the path's first word.
void ComposeUninstallCommand()
{
    if (NeedsQuotes(ModulePath)) {
        char* end = AppendText(ValueText, "\"");
        end = AppendText(end, ModulePath);
        AppendText(end, "\" /Uninstall");
    } else {
        AppendText(AppendText(ValueText, ModulePath), " /Uninstall");
    }
}

// Current user's key first, then the machine's; each step only after the one before succeeded.
// A key left open by a failed step is released when the process ends.
bool WriteRegistration()
{
    if (!FetchModulePath()) {
        return false;
    }
    KeySlot = nullptr;
    if (!CreateKey(HKEY_CURRENT_USER, MenuExtKeyPath)) {
        return false;
    }
    ComposePageUrl();
    if (!SetTextValue("", ValueText)) {
        return false;
    }
    RegCloseKey(KeySlot);
    KeySlot = nullptr;
    if (!CreateKey(HKEY_LOCAL_MACHINE, UninstallKeyPath)) {
        return false;
    }
    AppendText(ValueText, "卸载IE右键扩展功能（列出Flash）");
    if (!SetTextValue("DisplayName", ValueText)) {
        return false;
    }
    ComposeUninstallCommand();
    if (!SetTextValue("UninstallString", ValueText)) {
        return false;
    }
    RegCloseKey(KeySlot);
    return true;
}

void InstallExtension()
{
    if (MessageBoxA(nullptr, "是否想要安装IE右键扩展功能（列出Flash）。", "安装", MB_YESNO) != IDYES) {
        return;
    }
    if (WriteRegistration()) {
        MessageBoxA(nullptr, "安装完成。", "安装", MB_OK | MB_ICONEXCLAMATION);
    } else {
        ShowRegistryError();
    }
}

// Nothing deleted is put back: after the second deletion fails, the menu entry stays deleted.
void UninstallExtension()
{
    if (MessageBoxA(nullptr, "是否想要卸载IE右键扩展功能（列出Flash）。", "卸载", MB_YESNO) != IDYES) {
        return;
    }
    if (RegDeleteKeyA(HKEY_CURRENT_USER, MenuExtKeyPath) == ERROR_SUCCESS &&
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKeyPath) == ERROR_SUCCESS) {
        MessageBoxA(nullptr, "卸载完成。", "卸载", MB_OK | MB_ICONEXCLAMATION);
    } else {
        ShowRegistryError();
    }
}

} // namespace

// The process entry point: there is no runtime library to call a main, so this is it.
extern "C" void ClipindexStart()
{
    // Only the switch's length and first bytes matter; a longer token can never be "/Uninstall".
    char firstArgument[16];
    const unsigned length = ReadFirstArgument(GetCommandLineA(), firstArgument, sizeof firstArgument);
    if (IsUninstallSwitch(firstArgument, length)) {
        UninstallExtension();
    } else {
        InstallExtension();
    }
    ExitProcess(0);
}
