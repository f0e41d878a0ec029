// The first argument as the installer reads it from its command line, and the mode it selects.
#include <gtest/gtest.h>

#include <cstring>

#include "gbk.h"
#include "src/arguments.h"

namespace {

// `text`, its NUL, then more bytes: a scan that runs past the NUL takes them into the token.
std::string WithTail(const std::string& text, const std::string& tail)
{
    return text + std::string(1, '\0') + tail;
}

struct SplitCase {
    const char* what;
    std::string commandLine;
    std::string firstArgument;
};

const SplitCase kSplitCases[] = {
    {"empty command line", std::string(""), ""},
    {"blanks only", "  \t ", ""},
    {"program only", "clipindex.exe", ""},
    {"one argument", "clipindex.exe arg", "arg"},
    {"arguments after the first are ignored", "clipindex.exe one two three", "one"},
    {"leading and trailing blanks", "   clipindex.exe    arg   ", "arg"},
    {"tab and control characters separate", std::string("clipindex.exe\t\x01\x1f arg\x02rest"), "arg"},
    {"DEL (127) belongs to a token",
     "clipindex.exe \x7f"
     "a b",
     "\x7f"
     "a"},
    {"quoted stretch keeps blanks", "clipindex.exe \"a b\" c", "a b"},
    {"quoted and unquoted stretches join", "clipindex.exe a\"b c\"d e", "ab cd"},
    {"quote pair before the token is skipped", "clipindex.exe \"\" arg", "arg"},
    {"several quote pairs before the token", "clipindex.exe \"\"  \"\"\"\" arg", "arg"},
    {"quote pair before the program", "\"\" clipindex.exe arg", "arg"},
    {"quote pair inside a token adds nothing", "clipindex.exe a\"\"b", "ab"},
    {"quoted stretch runs to the end", "clipindex.exe \"open to the end", "open to the end"},
    {"lone quote at the end", "clipindex.exe \"", ""},
    {"three quotes: pair skipped, then an empty stretch", "clipindex.exe \"\"\" x", " x"},
    {"backslash is no escape", "clipindex.exe a\\\"b c\"", "a\\b c"},
    {"trailing backslash kept", "clipindex.exe C:\\dir\\ x", "C:\\dir\\"},
    {"quoted program path with blanks", "\"C:\\Program Files\\Clip Index\\clipindex.exe\" arg", "arg"},
    {"unquoted program path with blanks", "C:\\Program Files\\clipindex.exe /Uninstall", "Files\\clipindex.exe"},
    {"trail byte that is a quote", "clipindex.exe \x81\"x y", "\x81\"x"},
    {"trail byte that is a blank", "clipindex.exe \x81 x y", "\x81 x"},
    {"double-byte program name", Gbk("剪辑.exe 参数 z"), Gbk("参数")},
    {"lead byte just before a closing quote: the pair is one character", "clipindex.exe \"\x81\" /Uninstall\"",
     "\x81\" /Uninstall"},
    {"double-byte characters in quotes", "clipindex.exe \"" + Gbk("列出 所有") + "\"", Gbk("列出 所有")},
    {"lone lead byte ends the text", WithTail("clipindex.exe a\x81", "zz"), "a\x81"},
    {"lone lead byte in an open quote", WithTail("clipindex.exe \"a\x81", "\"zz"), "a\x81"},
    {"lone lead byte ends the program", WithTail("clipindex.exe\x81", " zz"), ""},
    {"nothing is read past the end", WithTail("clipindex.exe", " zz"), ""},
};

TEST(ArgumentSplitting, FirstArgumentOfEachCommandLine)
{
    for (const SplitCase& c : kSplitCases) {
        char argument[256];
        const unsigned length = ReadFirstArgument(c.commandLine.c_str(), argument, sizeof argument);
        EXPECT_EQ(Hex(std::string(argument)), Hex(c.firstArgument)) << c.what;
        EXPECT_EQ(length, c.firstArgument.size()) << c.what;
    }
}

TEST(ArgumentSplitting, SmallBufferKeepsWholeLengthAndNul)
{
    char argument[11];
    std::memset(argument, 'Z', sizeof argument);
    const unsigned length = ReadFirstArgument("clipindex.exe /Uninstallx", argument, sizeof argument);
    EXPECT_EQ(length, 11u);
    EXPECT_STREQ(argument, "/Uninstall");
    EXPECT_FALSE(IsUninstallSwitch(argument, length)) << "a token cut to fit must not become the switch";

    char one[1] = {'Z'};
    EXPECT_EQ(ReadFirstArgument("clipindex.exe abc", one, 1), 3u);
    EXPECT_EQ(one[0], '\0');
}

TEST(ArgumentSplitting, SwitchComparison)
{
    const struct {
        std::string argument;
        bool uninstall;
    } cases[] = {
        {"/Uninstall", true}, {"/uninstall", false},  {"/UNINSTALL", false}, {"-Uninstall", false},
        {"/Uninstal", false}, {"/Uninstallx", false}, {"", false},           {" /Uninstall", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUninstallSwitch(c.argument.c_str(), static_cast<unsigned>(c.argument.size())), c.uninstall)
            << c.argument;
    }
}

// The whole run: which question a command line leads to.
TEST(ModeSelection, QuestionShownForEachCommandLine)
{
    const struct {
        const char* commandLine;
        bool uninstall;
    } cases[] = {
        {"clipindex.exe", false},
        {"clipindex.exe /Uninstall", true},
        {"clipindex.exe /uninstall", false},
        {"clipindex.exe /UNINSTALL", false},
        {"clipindex.exe -Uninstall", false},
        {"clipindex.exe /Uninstall more arguments", true},
        {"clipindex.exe \"/Uninstall\"", true},
        {"clipindex.exe \"\" /Uninstall", true},
        {"clipindex.exe /Unin\"stall\"", true},
        {"clipindex.exe \"/Uninstall\"x", false},
        {"\"C:\\Program Files\\Clip Index\\clipindex.exe\" /Uninstall", true},
        {"C:\\Program Files\\Clip Index\\clipindex.exe /Uninstall", false},
        {"clipindex.exe /install", false},
    };
    for (const auto& c : cases) {
        standin::Reset();
        RunInstaller(c.commandLine, {IDNO});
        ASSERT_EQ(standin::Boxes().size(), 1u) << c.commandLine;
        EXPECT_EQ(standin::Boxes()[0].text, c.uninstall ? Expected().uninstallQuestion : Expected().installQuestion)
            << c.commandLine;
        EXPECT_EQ(standin::ExitCount(), 1) << c.commandLine;
        EXPECT_EQ(standin::LastExitCode(), 0u) << c.commandLine;
        EXPECT_TRUE(RegistryTrace().empty()) << c.commandLine;
    }
}

} // namespace
