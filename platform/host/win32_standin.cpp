#include "win32_standin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// The predefined roots are handle values with the top bit set, sign-extended as on 64-bit Windows.
HKEY PredefinedKey(std::uint32_t value)
{
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

} // namespace

StandInKey* const HKEY_CURRENT_USER = PredefinedKey(0x80000001);
StandInKey* const HKEY_LOCAL_MACHINE = PredefinedKey(0x80000002);

namespace {

constexpr LONG ERROR_KEY_DELETED = 1018;

struct NamedValue {
    std::string name;
    standin::StoredValue value;
};

struct KeyRecord {
    std::string path;                         // "HKCU\..." as first created
    std::map<std::string, NamedValue> values; // by folded name
};

struct State {
    std::string commandLine;
    std::optional<std::string> modulePath = std::string("C:\\clipindex.exe");
    std::string moduleFile = "C:\\clipindex.exe";
    std::deque<int> answers;
    int failAt = 0;
    LONG failResult = ERROR_ACCESS_DENIED;
    int registryOperations = 0;
    std::map<std::string, KeyRecord> keys;         // by folded full path
    std::map<std::uintptr_t, std::string> handles; // open key -> folded full path
    std::uintptr_t nextHandle = 0x1000;
    std::vector<standin::Call> calls;
    std::vector<standin::Box> boxes;
    int exitCount = 0;
    UINT exitCode = 0xDEADBEEF;
    DWORD lastError = 0;
};

State& S()
{
    static State state;
    return state;
}

bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// Splits a code page 936 key path at backslashes, never at a trail byte, and folds ASCII letters
// of single-byte characters: key and value names match without regard to case.
std::string Fold(const std::string& text)
{
    std::string folded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            folded += text[i];
            folded += text[++i];
        } else {
            folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    return folded;
}

// The parents of a path, shortest first, the path itself last ("a", "a\b", "a\b\c").
std::vector<std::string> PathAndParents(const std::string& path)
{
    std::vector<std::string> chain;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(c) && i + 1 < path.size()) {
            ++i;
        } else if (c == '\\') {
            chain.push_back(path.substr(0, i));
        }
    }
    chain.push_back(path);
    return chain;
}

std::string RootName(HKEY root)
{
    if (root == HKEY_CURRENT_USER) {
        return "HKCU";
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKLM";
    }
    return {};
}

// The full path ("HKCU\...") of root + path, or empty where the root is no key.
std::string FullPath(HKEY root, const std::string& path)
{
    std::string base = RootName(root);
    if (base.empty()) {
        const auto open = S().handles.find(reinterpret_cast<std::uintptr_t>(root));
        if (open == S().handles.end()) {
            return {};
        }
        base = S().keys[open->second].path;
    }
    return path.empty() ? base : base + "\\" + path;
}

bool HasSubkey(const std::string& folded)
{
    const std::string prefix = folded + "\\";
    const auto next = S().keys.lower_bound(prefix);
    return next != S().keys.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

void CreateFullPath(const std::string& full)
{
    for (const std::string& key : PathAndParents(full)) {
        if (key.find('\\') == std::string::npos) {
            continue; // the root itself
        }
        auto& record = S().keys[Fold(key)];
        if (record.path.empty()) {
            record.path = key;
        }
    }
}

standin::Call NewCall(const char* function, HKEY root = nullptr, const char* path = nullptr)
{
    standin::Call call;
    call.function = function;
    call.root = root;
    call.path = path != nullptr ? path : "";
    return call;
}

// The open key behind a handle (handles.end() for none), its path noted in the call.
std::map<std::uintptr_t, std::string>::iterator FindOpenKey(HKEY key, standin::Call* call)
{
    const auto open = S().handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (open != S().handles.end()) {
        const auto record = S().keys.find(open->second);
        call->path = record != S().keys.end() ? record->second.path : open->second;
    }
    return open;
}

// Counts a registry operation; true when this one is to fail.
bool ShouldFail()
{
    return ++S().registryOperations == S().failAt;
}

LONG Record(standin::Call call, LONG result)
{
    call.result = result;
    S().calls.push_back(std::move(call));
    return result;
}

} // namespace

LPSTR GetCommandLineA()
{
    S().calls.push_back(NewCall("GetCommandLineA"));
    return S().commandLine.data();
}

// Code page 936: a lead byte 0x81-0xFE takes the next byte with it, unless that byte is the NUL.
LPSTR CharNextA(LPCSTR at)
{
    if (*at == '\0') {
        return const_cast<LPSTR>(at);
    }
    if (IsLeadByte(static_cast<unsigned char>(at[0])) && at[1] != '\0') {
        return const_cast<LPSTR>(at + 2);
    }
    return const_cast<LPSTR>(at + 1);
}

// As Windows does: a path that does not fit is cut to size - 1 bytes, and the result is `size`.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    standin::Call call = NewCall("GetModuleFileNameA");
    call.size = size;
    call.moduleGiven = module != nullptr;
    DWORD result = 0;
    const std::optional<std::string>& reported = S().modulePath;
    if (module == nullptr && reported.has_value() && size > 0) {
        const std::string& path = *reported;
        const DWORD copied = static_cast<DWORD>(std::min<std::size_t>(path.size(), size - 1));
        std::copy_n(path.data(), copied, buffer);
        buffer[copied] = '\0';
        result = path.size() >= size ? size : copied;
        if (result == size) {
            S().lastError = ERROR_INSUFFICIENT_BUFFER;
        }
    }
    Record(call, static_cast<LONG>(result));
    return result;
}

// The file system holds the executable's file and nothing else; names match without regard to case.
// As Windows' ANSI form does, a name of more than MAX_PATH (260) characters is refused before any
// lookup: it is turned into a 16-bit string of that many characters, a double-byte character being one.
DWORD GetFileAttributesA(LPCSTR path)
{
    const standin::Call call = NewCall("GetFileAttributesA", nullptr, path);
    std::size_t characters = 0;
    for (LPCSTR at = path; *at != '\0'; at = CharNextA(at)) {
        ++characters;
    }
    const bool found = characters <= 260 && Fold(call.path) == Fold(S().moduleFile);
    if (!found) {
        S().lastError = characters > 260 ? ERROR_FILENAME_EXCED_RANGE : ERROR_FILE_NOT_FOUND;
    }
    Record(call, found ? static_cast<LONG>(FILE_ATTRIBUTE_ARCHIVE) : -1);
    return found ? FILE_ATTRIBUTE_ARCHIVE : INVALID_FILE_ATTRIBUTES;
}

DWORD GetLastError()
{
    return S().lastError;
}

// NOLINTNEXTLINE(readability-non-const-parameter): the class parameter is LPSTR in Windows' own declaration
LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition)
{
    standin::Call call = NewCall("RegCreateKeyExA", root, path);
    call.reserved = reserved;
    call.options = options;
    call.access = access;
    call.classGiven = keyClass != nullptr;
    call.securityGiven = security != nullptr;
    call.dispositionGiven = disposition != nullptr;
    call.slotBefore = *key;
    if (ShouldFail()) {
        return Record(call, S().failResult);
    }
    const std::string full = FullPath(root, call.path);
    if (full.empty()) {
        return Record(call, ERROR_INVALID_HANDLE);
    }
    const bool existed = S().keys.count(Fold(full)) != 0;
    CreateFullPath(full);
    const std::uintptr_t handle = S().nextHandle;
    S().nextHandle += 4;
    S().handles[handle] = Fold(full);
    *key = reinterpret_cast<HKEY>(handle);
    if (disposition != nullptr) {
        *disposition = existed ? 2 : 1; // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    }
    return Record(call, ERROR_SUCCESS);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    standin::Call call = NewCall("RegSetValueExA");
    call.valueName = name != nullptr ? name : "";
    call.reserved = reserved;
    call.type = type;
    call.size = size;
    call.data.assign(reinterpret_cast<const char*>(data), size);
    const auto open = FindOpenKey(key, &call);
    if (ShouldFail()) {
        return Record(call, S().failResult);
    }
    if (open == S().handles.end()) {
        return Record(call, ERROR_INVALID_HANDLE);
    }
    const auto record = S().keys.find(open->second);
    if (record == S().keys.end()) {
        return Record(call, ERROR_KEY_DELETED);
    }
    record->second.values[Fold(call.valueName)] = {call.valueName, {type, call.data}};
    return Record(call, ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key)
{
    standin::Call call = NewCall("RegCloseKey");
    const auto open = FindOpenKey(key, &call);
    if (ShouldFail()) {
        return Record(call, S().failResult);
    }
    if (open == S().handles.end()) {
        return Record(call, ERROR_INVALID_HANDLE);
    }
    S().handles.erase(open);
    return Record(call, ERROR_SUCCESS);
}

LONG RegDeleteKeyA(HKEY root, LPCSTR path)
{
    const standin::Call call = NewCall("RegDeleteKeyA", root, path);
    if (ShouldFail()) {
        return Record(call, S().failResult);
    }
    const std::string full = FullPath(root, call.path);
    if (full.empty()) {
        return Record(call, ERROR_INVALID_HANDLE);
    }
    const std::string folded = Fold(full);
    if (S().keys.count(folded) == 0) {
        return Record(call, ERROR_FILE_NOT_FOUND);
    }
    if (HasSubkey(folded)) {
        return Record(call, ERROR_ACCESS_DENIED);
    }
    S().keys.erase(folded);
    return Record(call, ERROR_SUCCESS);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    S().boxes.push_back({text != nullptr ? text : "", caption != nullptr ? caption : "", style, owner != nullptr});
    int answer = 0;
    if (!S().answers.empty()) {
        answer = S().answers.front();
        S().answers.pop_front();
    } else if ((style & 0xF) == MB_OK) {
        answer = IDOK;
    }
    standin::Call call = NewCall("MessageBoxA");
    call.data = text != nullptr ? text : "";
    Record(call, answer);
    return answer;
}

void ExitProcess(UINT exitCode)
{
    S().calls.push_back(NewCall("ExitProcess"));
    ++S().exitCount;
    S().exitCode = exitCode;
}

namespace standin {

void Reset()
{
    S() = State();
}

void SetCommandLine(const std::string& commandLine)
{
    S().commandLine = commandLine;
}

void SetModulePath(const std::optional<std::string>& path)
{
    S().modulePath = path;
    S().moduleFile = path.value_or("");
}

void SetModuleFile(const std::string& file)
{
    S().moduleFile = file;
}

void ScriptAnswers(const std::vector<int>& answers)
{
    S().answers.assign(answers.begin(), answers.end());
}

void FailRegistryOperation(int n, LONG result)
{
    S().failAt = n;
    S().failResult = result;
}

const std::vector<Call>& Calls()
{
    return S().calls;
}

const std::vector<Box>& Boxes()
{
    return S().boxes;
}

int ExitCount()
{
    return S().exitCount;
}

UINT LastExitCode()
{
    return S().exitCode;
}

int OpenKeyCount()
{
    return static_cast<int>(S().handles.size());
}

void CreateKey(HKEY root, const std::string& path)
{
    CreateFullPath(FullPath(root, path));
}

void SetValue(HKEY root, const std::string& path, const std::string& name, const StoredValue& value)
{
    const std::string full = FullPath(root, path);
    CreateFullPath(full);
    S().keys[Fold(full)].values[Fold(name)] = {name, value};
}

void DeleteKey(HKEY root, const std::string& path)
{
    const std::string folded = Fold(FullPath(root, path));
    const std::string prefix = folded + "\\";
    for (auto key = S().keys.begin(); key != S().keys.end();) {
        const bool under = key->first == folded || key->first.compare(0, prefix.size(), prefix) == 0;
        key = under ? S().keys.erase(key) : std::next(key);
    }
}

bool KeyExists(HKEY root, const std::string& path)
{
    return S().keys.count(Fold(FullPath(root, path))) != 0;
}

std::optional<StoredValue> ReadValue(HKEY root, const std::string& path, const std::string& name)
{
    const auto record = S().keys.find(Fold(FullPath(root, path)));
    if (record == S().keys.end()) {
        return std::nullopt;
    }
    const auto value = record->second.values.find(Fold(name));
    if (value == record->second.values.end()) {
        return std::nullopt;
    }
    return value->second.value;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path)
{
    std::vector<std::string> names;
    const auto record = S().keys.find(Fold(FullPath(root, path)));
    if (record != S().keys.end()) {
        for (const auto& entry : record->second.values) {
            names.push_back(entry.second.name);
        }
    }
    return names;
}

std::vector<std::string> AllKeys()
{
    std::vector<std::string> all;
    for (const auto& entry : S().keys) {
        all.push_back(entry.second.path);
    }
    return all;
}

} // namespace standin
