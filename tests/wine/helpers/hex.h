// Bytes on the helpers' command lines and in their reports travel as hex: arguments from Linux pass
// through the Unix locale on their way in, and hex keeps every code page 936 byte exactly as it is.
#pragma once

#include <string>

// Decodes pairs of hex digits; false when `hex` has an odd length or a character that is no hex digit.
bool DecodeHex(const std::string& hex, std::string* bytes);

// Two lower-case hex digits a byte; an empty text gives "-" so that a report field is never empty.
std::string EncodeHex(const std::string& bytes);
