#include "arguments.h"

#include "../platform/win32.h"

namespace {

bool IsSeparator(char c)
{
    const unsigned code = static_cast<unsigned char>(c);
    return code >= 1 && code <= ' ';
}

// Before a token: blanks, control characters and pairs of double quotes ("" is no argument).
const char* SkipToToken(const char* at)
{
    for (;;) {
        while (IsSeparator(*at)) {
            ++at;
        }
        if (at[0] != '"' || at[1] != '"') {
            return at;
        }
        at += 2;
    }
}

// Takes one character (one or two bytes, as CharNextA says) into the token.
const char* TakeCharacter(const char* at, char* argument, unsigned capacity, unsigned* length)
{
    const char* next = CharNextA(at);
    for (; at < next; ++at) {
        if (*length + 1 < capacity) {
            argument[*length] = *at;
        }
        ++*length;
    }
    return next;
}

// A token ends at a byte of 32 or below outside quotes. Quoted stretches run to the next quote or to
// the end of the text and join the stretches they touch; a backslash escapes nothing.
const char* ReadToken(const char* at, char* argument, unsigned capacity, unsigned* length)
{
    *length = 0;
    while (static_cast<unsigned char>(*at) > ' ') {
        if (*at == '"') {
            ++at;
            while (*at != '\0' && *at != '"') {
                at = TakeCharacter(at, argument, capacity, length);
            }
            if (*at == '"') {
                ++at;
            }
        } else {
            at = TakeCharacter(at, argument, capacity, length);
        }
    }
    return at;
}

} // namespace

unsigned ReadFirstArgument(const char* commandLine, char* argument, unsigned capacity)
{
    unsigned length = 0;
    // Token 0 goes nowhere: a capacity of 0 keeps every byte of it out of `argument`.
    const char* at = ReadToken(SkipToToken(commandLine), argument, 0, &length);
    if (length == 0) {
        // An empty program token means the text has ended: there is no first argument.
        argument[0] = '\0';
        return 0;
    }
    ReadToken(SkipToToken(at), argument, capacity, &length);
    argument[length < capacity ? length : capacity - 1] = '\0';
    return length;
}

bool IsUninstallSwitch(const char* argument, unsigned length)
{
    const char uninstallSwitch[] = "/Uninstall";
    if (length != sizeof uninstallSwitch - 1) {
        return false;
    }
    for (unsigned i = 0; i < length; ++i) {
        if (argument[i] != uninstallSwitch[i]) {
            return false;
        }
    }
    return true;
}
