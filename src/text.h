// Byte strings of the installer: NUL-terminated code page 936 bytes, handled with our own small
// loops because the executable carries no runtime library.
#pragma once

// Number of bytes before the terminating NUL.
unsigned TextLength(const char* text);

// Copies `text` with its NUL to `at`; returns the position of the copied NUL, where the next piece goes.
// The caller's buffer is sized for the longest text it composes.
char* AppendText(char* at, const char* text);

// Copies a file path into a res: address: the browser's res: handler percent-decodes the file part and
// reads '#' as the start of a fragment, so '%' becomes "%25" and '#' becomes "%23"; every other byte,
// blanks and backslashes included, stays as it is. Writes at most 3 bytes per path byte, plus the NUL.
char* AppendResAddressPath(char* at, const char* path);

// True when the path holds a blank or a control character (1 to 32), which would split it into
// several arguments on a command line.
bool NeedsQuotes(const char* path);

// True when `text` holds the byte `c`. For an ASCII character below 0x40 this is exact in code page
// 936: trail bytes lie in 0x40-0xFE, so none of them can be taken for it.
bool ContainsByte(const char* text, char c);
