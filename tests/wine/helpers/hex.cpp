#include "hex.h"

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool DecodeHex(const std::string& hex, std::string* bytes)
{
    bytes->clear();
    if (hex == "-") {
        return true;
    }
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (std::string::size_type i = 0; i < hex.size(); i += 2) {
        const int high = DigitValue(hex[i]);
        const int low = DigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes->push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

std::string EncodeHex(const std::string& bytes)
{
    if (bytes.empty()) {
        return "-";
    }
    const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        hex.push_back(digits[value >> 4U]);
        hex.push_back(digits[value & 0x0FU]);
    }
    return hex;
}
