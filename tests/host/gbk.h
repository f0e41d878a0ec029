// What the tests expect, written in UTF-8 and converted here by the C library's iconv, so that the
// expected bytes never come from the product's own literals.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

std::string Gbk(const std::string& utf8);
std::string Hex(const std::string& bytes);

// The expected texts, in code page 936.
struct ExpectedTexts {
    std::string menuKeyPath, uninstallKeyPath, displayName;
    std::string installQuestion, installDone, install;
    std::string uninstallQuestion, uninstallDone, uninstall;
    std::string registryError, error;
};
const ExpectedTexts& Expected();

// The registry calls of the last run, one line each ("RegSetValueExA HKCU\...\x [DisplayName]").
std::vector<std::string> RegistryTrace();
// The whole in-memory registry, keys and values, one line each.
std::vector<std::string> RegistryPicture();

extern "C" void ClipindexStart();
// Starts a run of the installer with this command line, module path and box answers; the executable's
// file lies at `moduleFile` when one is given, else at the module path.
void RunInstaller(const std::string& commandLine, const std::vector<int>& answers,
                  const std::string& modulePath = "C:\\Tools\\clipindex.exe", const std::string& moduleFile = "");
