// The stand-in behaves as the Windows functions do where the installer's tests rely on it.
#include <gtest/gtest.h>

#include "gbk.h"

namespace {

TEST(StandIn, CharNextAStepsOverDoubleByteCharacters)
{
    const struct {
        std::string text;
        std::ptrdiff_t step;
    } cases[] = {
        {std::string(1, '\0'), 0}, // never past the NUL
        {"a", 1},
        {"\x80"
         "a",
         1}, // 0x80 is a character of its own
        {"\xFF"
         "a",
         1},
        {"\x81\x40", 2},
        {"\xFE\xFE", 2},
        {"\xB1\x22", 2},               // a trail byte that looks like a quote
        {std::string("\x81\0", 2), 1}, // lone lead byte before the NUL
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CharNextA(c.text.c_str()) - c.text.c_str(), c.step) << Hex(c.text);
    }
}

TEST(StandIn, GetModuleFileNameACutsLongPathsAsWindowsDoes)
{
    standin::Reset();
    standin::SetModulePath(std::string("C:\\abc.exe"));
    char buffer[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\abc.");
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char whole[16];
    EXPECT_EQ(GetModuleFileNameA(nullptr, whole, sizeof whole), 10u);
    EXPECT_STREQ(whole, "C:\\abc.exe");
    standin::SetModulePath(std::nullopt);
    EXPECT_EQ(GetModuleFileNameA(nullptr, whole, sizeof whole), 0u);
}

// At most MAX_PATH characters, a double-byte character counting as one: Windows turns the name into a
// 16-bit string of at most that many before any lookup.
TEST(StandIn, GetFileAttributesAServesAtMostMaxPathCharacters)
{
    std::string chinese;
    for (int i = 0; i < 243; ++i) {
        chinese += "剪";
    }
    const std::string name = "\\clipindex.exe";
    const struct {
        std::string path; // where the executable lies, and the name asked about
        DWORD attributes, error;
    } cases[] = {
        {"C:\\" + std::string(243, 'a') + name, FILE_ATTRIBUTE_ARCHIVE, 0}, // 260 characters
        {"C:\\" + std::string(244, 'a') + name, INVALID_FILE_ATTRIBUTES, ERROR_FILENAME_EXCED_RANGE},
        {"C:\\" + Gbk(chinese) + name, FILE_ATTRIBUTE_ARCHIVE, 0}, // 260 characters in 503 bytes
        {"C:\\" + Gbk(chinese + "剪") + name, INVALID_FILE_ATTRIBUTES, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetModulePath(c.path);
        EXPECT_EQ(GetFileAttributesA(c.path.c_str()), c.attributes) << c.path.size() << " bytes";
        EXPECT_EQ(GetLastError(), c.error) << c.path.size() << " bytes";
    }
    EXPECT_EQ(GetFileAttributesA("C:\\Tools\\clipindex.exe"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(StandIn, RegistryKeys)
{
    standin::Reset();
    HKEY key = nullptr;
    DWORD disposition = 0;
    // A trail byte 0x5C is no path separator.
    const std::string name = "a\\b\\" + std::string("\x81\x5C", 2);
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, 1u);
    EXPECT_EQ(standin::AllKeys(), (std::vector<std::string>{"HKCU\\a", "HKCU\\a\\b", "HKCU\\" + name}));
    EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2), ERROR_SUCCESS);
    EXPECT_EQ(standin::ValueNames(HKEY_CURRENT_USER, "A\\B\\" + std::string("\x81\x5C", 2)),
              std::vector<std::string>{"x"})
        << "names match without regard to case";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "a\\b"), ERROR_ACCESS_DENIED) << "a key with a subkey stays";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, name.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, name.c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(standin::KeyExists(HKEY_CURRENT_USER, "a\\b"));
}

TEST(StandIn, NthRegistryOperationFails)
{
    standin::Reset();
    standin::FailRegistryOperation(2, 1234);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 1234);
    EXPECT_FALSE(standin::KeyExists(HKEY_CURRENT_USER, "k")) << "a failed operation changes nothing";
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
}

} // namespace
