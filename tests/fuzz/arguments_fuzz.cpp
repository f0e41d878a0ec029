// libFuzzer target: any byte string, as the process command line, through the first-argument scan and
// the mode choice, stepping with the code page 936 CharNextA of the host stand-in. It checks properties
// that hold for every input, not a second copy of the scan.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "src/arguments.h"

namespace {

// A finding: libFuzzer saves the input that led here.
void Check(bool holds, const char* what)
{
    if (!holds) {
        static_cast<void>(std::fprintf(stderr, "property broken: %s\n", what));
        __builtin_trap();
    }
}

// The argument's bytes appear in the command line in the same order (quotes and separators dropped).
bool IsSubsequence(const std::string& part, const char* whole)
{
    std::size_t next = 0;
    for (const char* at = whole; *at != '\0' && next < part.size(); ++at) {
        if (*at == part[next]) {
            ++next;
        }
    }
    return next == part.size();
}

// For plain ASCII without quotes the rule is simple: words separated by runs of bytes 1 to 32.
bool IsPlainAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c != '"' && static_cast<unsigned char>(c) <= 127; });
}

std::string SecondWord(const std::string& text)
{
    std::size_t at = 0;
    for (int word = 0; word < 2; ++word) {
        while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') {
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && static_cast<unsigned char>(text[at]) > ' ') {
            ++at;
        }
        if (word == 1) {
            return text.substr(start, at - start);
        }
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The command line ends at the first NUL. It sits in a heap block of exactly its length plus the
    // NUL, so AddressSanitizer reports any read past the end, also after a lone lead byte.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string commandLine = input.substr(0, input.find('\0'));
    const auto text = std::make_unique<char[]>(commandLine.size() + 1);
    std::memcpy(text.get(), commandLine.c_str(), commandLine.size() + 1);

    const auto whole = std::make_unique<char[]>(commandLine.size() + 1);
    const unsigned length = ReadFirstArgument(text.get(), whole.get(), static_cast<unsigned>(commandLine.size() + 1));
    const std::string argument(whole.get());
    Check(argument.size() == length, "the whole argument fits a buffer as long as the command line");
    Check(IsSubsequence(argument, text.get()), "the argument is made of the command line's bytes in order");
    if (IsPlainAscii(commandLine)) {
        Check(argument == SecondWord(commandLine), "plain ASCII: the first argument is the second word");
    }

    // The installer reads into 16 bytes: the length is still whole, the bytes a prefix of the argument.
    char small[16];
    const unsigned smallLength = ReadFirstArgument(text.get(), small, sizeof small);
    Check(smallLength == length, "the length does not depend on the buffer");
    Check(argument.compare(0, std::strlen(small), small) == 0 &&
              std::strlen(small) == std::min<std::size_t>(length, 15),
          "a small buffer holds the argument's first bytes");
    Check(IsUninstallSwitch(small, smallLength) == (argument == "/Uninstall"),
          "uninstall exactly when the first argument is /Uninstall");
    return 0;
}
