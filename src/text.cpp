#include "text.h"

unsigned TextLength(const char* text)
{
    unsigned length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

char* AppendText(char* at, const char* text)
{
    while (*text != '\0') {
        *at++ = *text++;
    }
    *at = '\0';
    return at;
}

// GBK trail bytes lie in 0x40-0xFE, so a '%' (0x25) or '#' (0x23) byte is always a character of its
// own and a byte-wise scan cannot split a double-byte character.
char* AppendResAddressPath(char* at, const char* path)
{
    for (; *path != '\0'; ++path) {
        if (*path == '%') {
            at = AppendText(at, "%25");
        } else if (*path == '#') {
            at = AppendText(at, "%23");
        } else {
            *at++ = *path;
        }
    }
    *at = '\0';
    return at;
}

// Trail bytes are never 32 or below either, so this byte scan is exact for code page 936.
bool NeedsQuotes(const char* path)
{
    for (; *path != '\0'; ++path) {
        if (static_cast<unsigned char>(*path) <= ' ') {
            return true;
        }
    }
    return false;
}

bool ContainsByte(const char* text, char c)
{
    for (; *text != '\0'; ++text) {
        if (*text == c) {
            return true;
        }
    }
    return false;
}
