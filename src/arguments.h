// The first command-line argument and the mode it selects.
#pragma once

// Finds token 1 of `commandLine` (token 0, the program, is skipped) and copies at most capacity - 1 of
// its bytes, NUL-terminated, to `argument` (capacity at least 1). Returns the token's whole length in bytes, which may
// exceed what was copied. The scan steps with CharNextA, so a trail byte is never read as a quote or a blank.
unsigned ReadFirstArgument(const char* commandLine, char* argument, unsigned capacity);

// True only for the switch "/Uninstall", byte for byte (letter case counts).
bool IsUninstallSwitch(const char* argument, unsigned length);
