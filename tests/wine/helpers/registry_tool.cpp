// The registry reader of the Wine tests, and the few changes the tests make to prepare a state.
// Names, paths and data travel as hex bytes in the ANSI code page (code page 936 here).
//
// usage: registry_tool OPERATION... where each operation is one of
//   read ROOT PATH                     prints the key: whether it exists, its values, its subkeys
//   set ROOT PATH NAME TYPE DATA       creates the key if needed and stores DATA, its size as given
//   create ROOT PATH                   an ordinary key (and its missing parents)
//   create-volatile ROOT PATH          a key that lives only until the wineserver stops
//   delete ROOT PATH                   RegDeleteKeyA: the key alone, which must have no subkeys
//   delete-tree ROOT PATH              the key with everything under it; a missing key is no error
// ROOT is HKCU or HKLM. A read prints
//   key ROOT PATH present|missing
//   value NAME TYPE SIZE DATA          for each value, as stored
//   subkey NAME                        for each subkey
//   end
// and every other operation "done ROOT PATH" or "failed CODE OPERATION ROOT PATH". The program stops at
// the first failed operation, with exit code 1.
#include "hex.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool ParseRoot(const std::string& name, HKEY* root)
{
    if (name == "HKCU") {
        *root = HKEY_CURRENT_USER;
    } else if (name == "HKLM") {
        *root = HKEY_LOCAL_MACHINE;
    } else {
        return false;
    }
    return true;
}

LSTATUS ReadKey(HKEY root, const std::string& rootName, const std::string& path)
{
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND) {
        std::printf("key %s %s missing\nend\n", rootName.c_str(), EncodeHex(path).c_str());
        return ERROR_SUCCESS;
    }
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    std::printf("key %s %s present\n", rootName.c_str(), EncodeHex(path).c_str());
    // Fixed room for names: the longest lengths that RegQueryInfoKeyA reports may count characters,
    // where a code page 936 name takes up to two bytes each.
    std::vector<char> name(32768);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;;) {
        auto nameSize = static_cast<DWORD>(name.size());
        auto dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LSTATUS result =
            RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_MORE_DATA) {
            data.resize(data.size() * 2);
            continue;
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        const std::string bytes(reinterpret_cast<const char*>(data.data()), dataSize);
        std::printf("value %s %lu %lu %s\n", EncodeHex(std::string(name.data(), nameSize)).c_str(), type, dataSize,
                    EncodeHex(bytes).c_str());
        ++index;
    }
    for (DWORD index = 0;; ++index) {
        auto nameSize = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key, index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        std::printf("subkey %s\n", EncodeHex(std::string(name.data(), nameSize)).c_str());
    }
    std::printf("end\n");
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

LSTATUS CreateKey(HKEY root, const std::string& path, DWORD options)
{
    HKEY key = nullptr;
    const LSTATUS result =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return result;
}

LSTATUS SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const std::string& data)
{
    HKEY key = nullptr;
    LSTATUS result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }
    return result;
}

LSTATUS DeleteTree(HKEY root, const std::string& path)
{
    const LSTATUS result = RegDeleteTreeA(root, path.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

int Usage()
{
    (void)std::fputs("usage: registry_tool read|set|create|create-volatile|delete|delete-tree ROOT PATH_HEX ...\n",
                     stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::size_t at = 0;
    while (at < arguments.size()) {
        const std::string& operation = arguments[at];
        const std::size_t count = operation == "set" ? 6 : 3;
        HKEY root = nullptr;
        std::string path;
        if (at + count > arguments.size() || !ParseRoot(arguments[at + 1], &root) ||
            !DecodeHex(arguments[at + 2], &path)) {
            return Usage();
        }
        LSTATUS result = ERROR_SUCCESS;
        if (operation == "read") {
            result = ReadKey(root, arguments[at + 1], path);
        } else if (operation == "set") {
            std::string name;
            std::string data;
            if (!DecodeHex(arguments[at + 3], &name) || !DecodeHex(arguments[at + 5], &data)) {
                return Usage();
            }
            const auto type = static_cast<DWORD>(std::strtoul(arguments[at + 4].c_str(), nullptr, 10));
            result = SetValue(root, path, name, type, data);
        } else if (operation == "create") {
            result = CreateKey(root, path, REG_OPTION_NON_VOLATILE);
        } else if (operation == "create-volatile") {
            result = CreateKey(root, path, REG_OPTION_VOLATILE);
        } else if (operation == "delete") {
            result = RegDeleteKeyA(root, path.c_str());
        } else if (operation == "delete-tree") {
            result = DeleteTree(root, path);
        } else {
            return Usage();
        }
        if (result != ERROR_SUCCESS) {
            std::printf("failed %ld %s %s %s\n", static_cast<long>(result), operation.c_str(),
                        arguments[at + 1].c_str(), arguments[at + 2].c_str());
            return 1;
        }
        if (operation != "read") {
            std::printf("done %s %s\n", arguments[at + 1].c_str(), arguments[at + 2].c_str());
        }
        at += count;
    }
    return 0;
}
