// The install run on the stand-in: the question, the registry operations in order, the boxes, what
// the registry holds afterwards, and exit code 0 whatever happens.
#include <gtest/gtest.h>

#include "gbk.h"

namespace {

const char* const kPath = "C:\\Tools\\clipindex.exe";

class Install : public ::testing::Test {
protected:
    void SetUp() override { standin::Reset(); }

    static std::string Menu() { return "HKCU\\" + Expected().menuKeyPath; }
    static std::string Uninstall() { return "HKLM\\" + Expected().uninstallKeyPath; }

    // The seven registry operations of a complete install, in order.
    static std::vector<std::string> FullTrace()
    {
        return {
            "RegCreateKeyExA " + Menu(),
            "RegSetValueExA " + Menu() + " []",
            "RegCloseKey " + Menu(),
            "RegCreateKeyExA " + Uninstall(),
            "RegSetValueExA " + Uninstall() + " [DisplayName]",
            "RegSetValueExA " + Uninstall() + " [UninstallString]",
            "RegCloseKey " + Uninstall(),
        };
    }

    static void ExpectBox(std::size_t index, const std::string& text, const std::string& caption, UINT style)
    {
        ASSERT_LT(index, standin::Boxes().size());
        const standin::Box& box = standin::Boxes()[index];
        EXPECT_EQ(Hex(box.text), Hex(text)) << "box " << index;
        EXPECT_EQ(Hex(box.caption), Hex(caption)) << "box " << index;
        EXPECT_EQ(box.style, style) << "box " << index;
        EXPECT_FALSE(box.ownerGiven) << "box " << index;
    }

    static void ExpectString(HKEY root, const std::string& path, const std::string& name, const std::string& text)
    {
        const auto value = standin::ReadValue(root, path, name);
        ASSERT_TRUE(value.has_value()) << "no value [" << name << "]";
        EXPECT_EQ(value->type, REG_SZ) << name;
        // stored with its terminating NUL: size is length + 1
        EXPECT_EQ(Hex(value->data), Hex(text + std::string(1, '\0'))) << name;
    }

    static void ExpectExitedWithZero()
    {
        EXPECT_EQ(standin::ExitCount(), 1);
        EXPECT_EQ(standin::LastExitCode(), 0u);
        EXPECT_EQ(standin::Calls().back().function, "ExitProcess");
    }

    // A run that had no usable path: no registry operation, the error box after the question, exit 0.
    static void ExpectRefusedWithRegistryError()
    {
        EXPECT_TRUE(RegistryTrace().empty());
        ASSERT_EQ(standin::Boxes().size(), 2u);
        ExpectBox(1, Expected().registryError, Expected().error, MB_OK | MB_ICONHAND);
        ExpectExitedWithZero();
    }
};

TEST_F(Install, YesWritesBothKeysAndReports)
{
    RunInstaller("clipindex.exe", {IDYES}, kPath);

    EXPECT_EQ(RegistryTrace(), FullTrace());
    ASSERT_EQ(standin::Boxes().size(), 2u);
    ExpectBox(0, Expected().installQuestion, Expected().install, MB_YESNO);
    ExpectBox(1, Expected().installDone, Expected().install, MB_OK | MB_ICONEXCLAMATION);

    ExpectString(HKEY_CURRENT_USER, Expected().menuKeyPath, "", "res://C:\\Tools\\clipindex.exe/clipindex");
    ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "DisplayName", Expected().displayName);
    ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString",
                 "C:\\Tools\\clipindex.exe /Uninstall");
    EXPECT_EQ(standin::ValueNames(HKEY_CURRENT_USER, Expected().menuKeyPath), std::vector<std::string>{""});
    EXPECT_EQ(standin::ValueNames(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath),
              (std::vector<std::string>{"DisplayName", "UninstallString"}));
    EXPECT_EQ(standin::OpenKeyCount(), 0);
    ExpectExitedWithZero();
}

// What the product itself passed: the key paths as 59 and 65 bytes, the display name with its NUL.
TEST_F(Install, KeyPathsAndDisplayNameHaveTheirByteLengths)
{
    RunInstaller("clipindex.exe", {IDYES}, kPath);
    std::vector<std::size_t> created;
    DWORD displayNameSize = 0;
    for (const standin::Call& call : standin::Calls()) {
        if (call.function == "RegCreateKeyExA") {
            created.push_back(call.path.size());
        } else if (call.valueName == "DisplayName") {
            displayNameSize = call.size;
        }
    }
    EXPECT_EQ(created, (std::vector<std::size_t>{59, 65}));
    EXPECT_EQ(displayNameSize, 32u);
}

TEST_F(Install, CallParameters)
{
    // An earlier install in this process leaves the uninstall entry key's handle in the key slot.
    RunInstaller("clipindex.exe", {IDYES}, kPath);
    standin::Reset();
    RunInstaller("clipindex.exe", {IDYES}, kPath);
    int creations = 0;
    for (const standin::Call& call : standin::Calls()) {
        if (call.function == "RegCreateKeyExA") {
            ++creations;
            EXPECT_EQ(call.reserved, 0u);
            EXPECT_FALSE(call.classGiven);
            EXPECT_EQ(call.options, 0u);
            EXPECT_EQ(call.access, 0xF003Fu);
            EXPECT_FALSE(call.securityGiven);
            EXPECT_TRUE(call.dispositionGiven);
            EXPECT_EQ(call.slotBefore, nullptr) << "the key slot is emptied before each creation";
        } else if (call.function == "RegSetValueExA") {
            EXPECT_EQ(call.reserved, 0u);
            EXPECT_EQ(call.type, REG_SZ);
            ASSERT_FALSE(call.data.empty());
            EXPECT_EQ(call.data.back(), '\0') << call.valueName;
            EXPECT_EQ(call.data.find('\0'), call.data.size() - 1) << call.valueName;
        } else if (call.function == "GetModuleFileNameA") {
            EXPECT_FALSE(call.moduleGiven) << "the executable's own module";
            EXPECT_EQ(call.size, 261u) << "MAX_PATH + 1: the most the ANSI form serves, and its NUL";
        } else if (call.function == "GetFileAttributesA") {
            EXPECT_EQ(call.path, kPath) << "the path asked about is the one reported";
        }
    }
    EXPECT_EQ(creations, 2);
}

TEST_F(Install, ModulePathIsFetchedAndFoundAfterTheYesAndBeforeTheRegistry)
{
    RunInstaller("clipindex.exe", {IDYES}, kPath);
    std::vector<std::string> order;
    for (const standin::Call& call : standin::Calls()) {
        if (order.empty() || order.back() != call.function) {
            order.push_back(call.function);
        }
    }
    ASSERT_GE(order.size(), 5u);
    EXPECT_EQ(order[0], "GetCommandLineA");
    EXPECT_EQ(order[1], "MessageBoxA");
    EXPECT_EQ(order[2], "GetModuleFileNameA");
    EXPECT_EQ(order[3], "GetFileAttributesA");
    EXPECT_EQ(order[4], "RegCreateKeyExA");
}

TEST_F(Install, AnythingButYesChangesNothing)
{
    for (const int answer : {IDNO, 0, 2 /* IDCANCEL */, IDOK}) {
        standin::Reset();
        standin::SetValue(HKEY_CURRENT_USER, Expected().menuKeyPath, "", {REG_SZ, std::string("old\0", 4)});
        const auto before = RegistryPicture();
        RunInstaller("clipindex.exe", {answer}, kPath);
        EXPECT_EQ(standin::Boxes().size(), 1u) << "answer " << answer;
        EXPECT_TRUE(RegistryTrace().empty()) << "answer " << answer;
        EXPECT_EQ(RegistryPicture(), before) << "answer " << answer;
        for (const standin::Call& call : standin::Calls()) {
            EXPECT_NE(call.function, "GetModuleFileNameA") << "answer " << answer;
        }
        ExpectExitedWithZero();
    }
}

// Each operation whose result counts, made to fail in turn: the run stops there with the error box.
TEST_F(Install, EachFailingOperationStopsTheRun)
{
    const struct {
        int failing;
        bool menuKey, pageUrl, uninstallKey, displayName;
        int openKeys;
    } cases[] = {
        {1, false, false, false, false, 0}, {2, true, false, false, false, 1}, {4, true, true, false, false, 0},
        {5, true, true, true, false, 1},    {6, true, true, true, true, 1},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::FailRegistryOperation(c.failing);
        RunInstaller("clipindex.exe", {IDYES}, kPath);
        SCOPED_TRACE("failing operation " + std::to_string(c.failing));

        const auto full = FullTrace();
        EXPECT_EQ(RegistryTrace(), std::vector<std::string>(full.begin(), full.begin() + c.failing));
        ASSERT_EQ(standin::Boxes().size(), 2u);
        ExpectBox(1, Expected().registryError, Expected().error, MB_OK | MB_ICONHAND);

        EXPECT_EQ(standin::KeyExists(HKEY_CURRENT_USER, Expected().menuKeyPath), c.menuKey);
        EXPECT_EQ(standin::ReadValue(HKEY_CURRENT_USER, Expected().menuKeyPath, "").has_value(), c.pageUrl);
        EXPECT_EQ(standin::KeyExists(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath), c.uninstallKey);
        EXPECT_EQ(standin::ReadValue(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "DisplayName").has_value(),
                  c.displayName);
        EXPECT_FALSE(
            standin::ReadValue(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString").has_value());
        EXPECT_EQ(standin::OpenKeyCount(), c.openKeys) << "a key left open by a failed step stays open";
        ExpectExitedWithZero();
    }
}

TEST_F(Install, FailingCloseChangesNothing)
{
    for (const int closing : {3, 7}) {
        standin::Reset();
        standin::FailRegistryOperation(closing);
        RunInstaller("clipindex.exe", {IDYES}, kPath);
        SCOPED_TRACE("failing close " + std::to_string(closing));
        EXPECT_EQ(RegistryTrace(), FullTrace());
        ASSERT_EQ(standin::Boxes().size(), 2u);
        ExpectBox(1, Expected().installDone, Expected().install, MB_OK | MB_ICONEXCLAMATION);
        ExpectString(HKEY_CURRENT_USER, Expected().menuKeyPath, "", "res://C:\\Tools\\clipindex.exe/clipindex");
        ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString",
                     "C:\\Tools\\clipindex.exe /Uninstall");
        ExpectExitedWithZero();
    }
}

TEST_F(Install, TwiceOverwritesWithTheCurrentPathAndKeepsOtherValues)
{
    standin::SetValue(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "Publisher", {REG_SZ, std::string("me\0", 3)});
    RunInstaller("clipindex.exe", {IDYES}, "C:\\Old\\clipindex.exe");
    RunInstaller("clipindex.exe", {IDYES}, "C:\\New\\clipindex.exe");

    ASSERT_EQ(standin::Boxes().size(), 4u);
    ExpectBox(1, Expected().installDone, Expected().install, MB_OK | MB_ICONEXCLAMATION);
    ExpectBox(3, Expected().installDone, Expected().install, MB_OK | MB_ICONEXCLAMATION);
    ExpectString(HKEY_CURRENT_USER, Expected().menuKeyPath, "", "res://C:\\New\\clipindex.exe/clipindex");
    ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString",
                 "C:\\New\\clipindex.exe /Uninstall");
    ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "Publisher", "me");
    EXPECT_EQ(standin::ExitCount(), 2);
    EXPECT_EQ(standin::OpenKeyCount(), 0);
}

// How the executable's path goes into the two values that carry it.
TEST_F(Install, PathsInTheValues)
{
    const std::string chinese = Gbk("D:\\工具\\剪辑\\clipindex.exe");
    const std::string chineseBlank = Gbk("D:\\剪辑 工具\\clipindex.exe");
    const struct {
        const char* what;
        std::string path, pageUrl, uninstallString;
        std::string file = {}; // where the executable lies, when the path reported names no file
    } cases[] = {
        {"plain", "C:\\Tools\\clipindex.exe", "res://C:\\Tools\\clipindex.exe/clipindex",
         "C:\\Tools\\clipindex.exe /Uninstall"},
        {"blanks: raw in the address, quoted in the command", "C:\\Program Files\\Clip Index\\clipindex.exe",
         "res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex",
         "\"C:\\Program Files\\Clip Index\\clipindex.exe\" /Uninstall"},
        {"code page 936 characters, byte for byte", chinese, "res://" + chinese + "/clipindex",
         chinese + " /Uninstall"},
        {"code page 936 characters and a blank", chineseBlank, "res://" + chineseBlank + "/clipindex",
         "\"" + chineseBlank + "\" /Uninstall"},
        {"percent and hash escaped in the address only", "C:\\100%\\a#b\\clipindex.exe",
         "res://C:\\100%25\\a%23b\\clipindex.exe/clipindex", "C:\\100%\\a#b\\clipindex.exe /Uninstall"},
        {"an escape-looking folder is escaped again", "C:\\c%20d\\clipindex.exe",
         "res://C:\\c%2520d\\clipindex.exe/clipindex", "C:\\c%20d\\clipindex.exe /Uninstall"},
        {"control character is quoted", "C:\\a\tb\\clipindex.exe", "res://C:\\a\tb\\clipindex.exe/clipindex",
         "\"C:\\a\tb\\clipindex.exe\" /Uninstall"},
        // No value written from these could resolve: the run says so and writes nothing.
        {"characters code page 936 cannot write come back as '?'", "C:\\??\\clipindex.exe", "", ""},
        {"a \\\\?\\ path", "\\\\?\\C:\\Tools\\clipindex.exe", "", ""},
        {"look-alikes of characters code page 936 cannot write name no file", "C:\\Bale\\clipindex.exe", "", "",
         "C:\\Bâle\\clipindex.exe"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetValue(HKEY_CURRENT_USER, Expected().menuKeyPath, "", {REG_SZ, std::string("old\0", 4)});
        const auto before = RegistryPicture();
        RunInstaller("clipindex.exe", {IDYES}, c.path, c.file);
        SCOPED_TRACE(c.what);
        if (c.pageUrl.empty()) {
            EXPECT_EQ(RegistryPicture(), before);
            ExpectRefusedWithRegistryError();
            continue;
        }
        ExpectString(HKEY_CURRENT_USER, Expected().menuKeyPath, "", c.pageUrl);
        ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString", c.uninstallString);
    }
}

TEST_F(Install, NoPathReportedWritesNothing)
{
    standin::SetCommandLine("clipindex.exe");
    standin::SetModulePath(std::nullopt);
    standin::ScriptAnswers({IDYES});
    ClipindexStart();
    EXPECT_TRUE(standin::AllKeys().empty());
    ExpectRefusedWithRegistryError();
}

TEST_F(Install, LongPaths)
{
    // The longest path the ANSI forms serve (260 characters) installs, even when every byte is escaped.
    const std::string longest = "C:\\" + std::string(260 - 3, '%');
    RunInstaller("clipindex.exe", {IDYES}, longest);
    std::string escaped = "C:\\";
    for (std::size_t i = 3; i < longest.size(); ++i) {
        escaped += "%25";
    }
    ExpectString(HKEY_CURRENT_USER, Expected().menuKeyPath, "", "res://" + escaped + "/clipindex");
    ExpectString(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "UninstallString", longest + " /Uninstall");

    // One character more, or many more, and the path comes back cut short: nothing is written.
    for (const std::size_t length : {261u, 32767u}) {
        standin::Reset();
        RunInstaller("clipindex.exe", {IDYES}, "C:\\" + std::string(length - 3, 'a'));
        SCOPED_TRACE(length);
        ExpectRefusedWithRegistryError();
    }
}

} // namespace
