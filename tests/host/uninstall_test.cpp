// The uninstall run on the stand-in: two deletions, current user first, stopping at the first failure.
#include <gtest/gtest.h>

#include "gbk.h"

namespace {

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin::Reset();
        // An installation as the install leaves it, with the parents the browser and Windows keep.
        standin::SetValue(HKEY_CURRENT_USER, Expected().menuKeyPath, "", {REG_SZ, std::string("res://x\0", 8)});
        standin::SetValue(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath, "DisplayName",
                          {REG_SZ, Expected().displayName + std::string(1, '\0')});
    }

    static const char* CommandLine() { return "\"C:\\Program Files\\Clip Index\\clipindex.exe\" /Uninstall"; }

    static void ExpectBoxes(const std::vector<std::pair<std::string, UINT>>& texts)
    {
        ASSERT_EQ(standin::Boxes().size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(Hex(standin::Boxes()[i].text), Hex(texts[i].first)) << "box " << i;
            EXPECT_EQ(standin::Boxes()[i].style, texts[i].second) << "box " << i;
            EXPECT_FALSE(standin::Boxes()[i].ownerGiven) << "box " << i;
        }
        const std::string& lastCaption = standin::Boxes().back().caption;
        EXPECT_EQ(Hex(standin::Boxes()[0].caption), Hex(Expected().uninstall));
        if (texts.size() > 1 && texts.back().second == (MB_OK | MB_ICONHAND)) {
            EXPECT_EQ(Hex(lastCaption), Hex(Expected().error));
        } else {
            EXPECT_EQ(Hex(lastCaption), Hex(Expected().uninstall));
        }
    }

    static void ExpectExitedWithZero()
    {
        EXPECT_EQ(standin::ExitCount(), 1);
        EXPECT_EQ(standin::LastExitCode(), 0u);
    }
};

TEST_F(Uninstall, YesDeletesBothKeysAndKeepsTheirParents)
{
    RunInstaller(CommandLine(), {IDYES});
    EXPECT_EQ(RegistryTrace(), (std::vector<std::string>{"RegDeleteKeyA HKCU\\" + Expected().menuKeyPath,
                                                         "RegDeleteKeyA HKLM\\" + Expected().uninstallKeyPath}));
    ExpectBoxes({{Expected().uninstallQuestion, MB_YESNO}, {Expected().uninstallDone, MB_OK | MB_ICONEXCLAMATION}});
    EXPECT_FALSE(standin::KeyExists(HKEY_CURRENT_USER, Expected().menuKeyPath));
    EXPECT_FALSE(standin::KeyExists(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath));
    EXPECT_TRUE(standin::KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\MenuExt"));
    EXPECT_TRUE(standin::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    for (const standin::Call& call : standin::Calls()) {
        EXPECT_NE(call.function, "GetModuleFileNameA") << "the uninstall needs no path";
    }
    ExpectExitedWithZero();
}

TEST_F(Uninstall, AnythingButYesChangesNothing)
{
    const auto before = RegistryPicture();
    for (const int answer : {IDNO, 0, 2 /* IDCANCEL */}) {
        standin::ScriptAnswers({});
        RunInstaller(CommandLine(), {answer});
        EXPECT_TRUE(RegistryTrace().empty()) << "answer " << answer;
        EXPECT_EQ(RegistryPicture(), before) << "answer " << answer;
    }
    EXPECT_EQ(standin::Boxes().size(), 3u) << "only the questions";
    EXPECT_EQ(standin::ExitCount(), 3);
    EXPECT_EQ(standin::LastExitCode(), 0u);
}

TEST_F(Uninstall, FailuresStopAtTheFirst)
{
    const struct {
        const char* what;
        std::size_t operations;
        int failing;             // registry operation made to fail, 0 for none
        bool removeMenuKeyFirst; // this user never installed
        bool emptyRegistry;      // nothing installed at all
        bool menuKeyLeft, uninstallKeyLeft;
    } cases[] = {
        {"first deletion fails", 1, 1, false, false, true, true},
        {"second deletion fails: the first stays done", 2, 2, false, false, false, true},
        {"nothing installed", 1, 0, false, true, false, false},
        {"this user's menu entry missing", 1, 0, true, false, false, true},
    };
    for (const auto& c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        if (c.emptyRegistry) {
            standin::Reset();
        }
        if (c.removeMenuKeyFirst) {
            standin::DeleteKey(HKEY_CURRENT_USER, Expected().menuKeyPath);
        }
        standin::FailRegistryOperation(c.failing);
        RunInstaller(CommandLine(), {IDYES});
        EXPECT_EQ(RegistryTrace().size(), c.operations);
        ExpectBoxes({{Expected().uninstallQuestion, MB_YESNO}, {Expected().registryError, MB_OK | MB_ICONHAND}});
        EXPECT_EQ(standin::KeyExists(HKEY_CURRENT_USER, Expected().menuKeyPath), c.menuKeyLeft);
        EXPECT_EQ(standin::KeyExists(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath), c.uninstallKeyLeft);
        ExpectExitedWithZero();
    }
}

TEST_F(Uninstall, KeyWithASubkeyCannotBeDeleted)
{
    standin::CreateKey(HKEY_CURRENT_USER, Expected().menuKeyPath + "\\child");
    RunInstaller(CommandLine(), {IDYES});
    EXPECT_EQ(RegistryTrace().size(), 1u);
    ExpectBoxes({{Expected().uninstallQuestion, MB_YESNO}, {Expected().registryError, MB_OK | MB_ICONHAND}});
    EXPECT_TRUE(standin::KeyExists(HKEY_LOCAL_MACHINE, Expected().uninstallKeyPath));
}

TEST_F(Uninstall, InstallThenUninstallLeavesOnlyTheParents)
{
    standin::Reset();
    RunInstaller("clipindex.exe", {IDYES});
    RunInstaller("clipindex.exe /Uninstall", {IDYES});
    for (const std::string& key : standin::AllKeys()) {
        EXPECT_EQ(key.find("Flash"), std::string::npos) << key;
        EXPECT_EQ(key.find("Clipindex"), std::string::npos) << key;
    }
    EXPECT_EQ(standin::Boxes().size(), 4u);
}

} // namespace
