// Host stand-in for the Win32 functions the installer calls: an in-memory registry, scripted message
// box answers, a scripted command line and module path, and a way to make the Nth registry operation
// fail. The product code sees only the declarations at the top, the same as <windows.h> gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BYTE = unsigned char;
using REGSAM = DWORD;
using LPDWORD = DWORD*;
using LPSTR = char*;
using LPCSTR = const char*;
struct StandInKey;
using HKEY = StandInKey*;
using PHKEY = HKEY*;
struct StandInWindow;
using HWND = StandInWindow*;
struct StandInModule;
using HMODULE = StandInModule*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Predefined roots, sign-extended as on 64-bit Windows.
extern StandInKey* const HKEY_CURRENT_USER;
extern StandInKey* const HKEY_LOCAL_MACHINE;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

LPSTR GetCommandLineA();
LPSTR CharNextA(LPCSTR at);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetFileAttributesA(LPCSTR path);
// What GetModuleFileNameA (a path cut short) and GetFileAttributesA (no such file, a name too long) set.
DWORD GetLastError();
LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);
LONG RegDeleteKeyA(HKEY root, LPCSTR path);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
void ExitProcess(UINT exitCode);

// The tests' side of the stand-in.
namespace standin {

// One call to a stand-in function, with what it was given and what it returned.
struct Call {
    std::string function;          // "RegCreateKeyExA", "MessageBoxA", ...
    HKEY root = nullptr;           // root key, for creation and deletion
    std::string path;              // key path as passed; for RegSetValueExA and RegCloseKey the key's own path;
                                   // GetFileAttributesA: the file path asked about
    std::string valueName;         // RegSetValueExA
    std::string data;              // RegSetValueExA: the bytes given, `size` of them
    DWORD type = 0;                // RegSetValueExA
    DWORD size = 0;                // RegSetValueExA; GetModuleFileNameA: the buffer size
    DWORD reserved = 0;            // RegCreateKeyExA, RegSetValueExA
    DWORD options = 0;             // RegCreateKeyExA
    REGSAM access = 0;             // RegCreateKeyExA
    bool classGiven = false;       // RegCreateKeyExA: a class text was passed
    bool securityGiven = false;    // RegCreateKeyExA: security attributes were passed
    bool dispositionGiven = false; // RegCreateKeyExA: a disposition word was passed
    HKEY slotBefore = nullptr;     // RegCreateKeyExA: what the key slot held when the call was made
    bool moduleGiven = false;      // GetModuleFileNameA: a module other than the executable was named
    LONG result = 0;               // registry result; MessageBoxA: the answer
};

struct Box {
    std::string text;
    std::string caption;
    UINT style = 0;
    bool ownerGiven = false;
};

struct StoredValue {
    DWORD type = 0;
    std::string data; // the stored bytes, the terminating NUL of a string included
};

// Forgets everything: empty registry, no calls, no boxes, no script, no failure, no exit.
void Reset();

void SetCommandLine(const std::string& commandLine);
// The path GetModuleFileNameA reports; std::nullopt makes it report none (result 0). The executable's
// file lies there too, the one file GetFileAttributesA finds.
void SetModulePath(const std::optional<std::string>& path);
// Puts the executable's file elsewhere than the path reported, as when the ANSI form of its real name
// holds look-alikes: the path reported then names no file.
void SetModuleFile(const std::string& file);
// Answers for the message boxes in turn; once they run out, OK boxes get IDOK and others 0, as a box
// that cannot be shown.
void ScriptAnswers(const std::vector<int>& answers);
// Makes registry operation `n` (1 = the first RegCreateKeyExA, RegSetValueExA, RegCloseKey or
// RegDeleteKeyA of the run) fail with `result`, changing nothing; 0 makes none fail.
void FailRegistryOperation(int n, LONG result = ERROR_ACCESS_DENIED);

const std::vector<Call>& Calls();
const std::vector<Box>& Boxes();
int ExitCount();
UINT LastExitCode();
// Keys opened and not closed.
int OpenKeyCount();

// Direct access to the in-memory registry, to prepare a state and read what a run left.
void CreateKey(HKEY root, const std::string& path);
void SetValue(HKEY root, const std::string& path, const std::string& name, const StoredValue& value);
// Removes a key and everything under it.
void DeleteKey(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
std::optional<StoredValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
std::vector<std::string> ValueNames(HKEY root, const std::string& path);
// Every key, as "HKCU\path" or "HKLM\path", in a stable order: a picture of the whole registry.
std::vector<std::string> AllKeys();

} // namespace standin
