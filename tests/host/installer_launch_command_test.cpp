#include "app/installer_launch_command.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// The two starts disagree only when no language is stored: the direct one then says "x". The
// first argument goes on unquoted, so the installer sees several arguments.
TEST(LaunchCommand, CarriesFirstArgumentAndLanguageWordOfEachStart) {
    const struct {
        std::int32_t nLanguage;
        const wchar_t* szFirstArgument;
        const wchar_t* szDirect;
        const wchar_t* szElevated;
    } kCases[] = {
        {0, L"", L"\"C:\\T\\SetupB.exe\"  x", L" /Vietnamese"},
        {1, L"/abc", L"\"C:\\T\\SetupB.exe\" /abc /English", L"/abc /English"},
        {2, L"/abc", L"\"C:\\T\\SetupB.exe\" /abc /Vietnamese", L"/abc /Vietnamese"},
        {-1, L"", L"\"C:\\T\\SetupB.exe\"  /Vietnamese", L" /Vietnamese"},
        {0, L"a b", L"\"C:\\T\\SetupB.exe\" a b x", L"a b /Vietnamese"},
        {1, L"\"q\"", L"\"C:\\T\\SetupB.exe\" \"q\" /English", L"\"q\" /English"},
    };
    for (const auto& c : kCases) {
        wchar_t szProcessPath[kLaunchBufferChars];
        wchar_t szParameters[kLaunchBufferChars];
        EXPECT_TRUE(ComposeDirectCommandLine(L"C:\\T\\SetupB.exe", c.szFirstArgument, c.nLanguage,
                                             szProcessPath));
        EXPECT_STREQ(szProcessPath, c.szDirect);
        EXPECT_TRUE(ComposeElevatedParameters(c.szFirstArgument, c.nLanguage, szParameters));
        EXPECT_STREQ(szParameters, c.szElevated);
    }
}

// A text fits when it leaves room for the terminator; one character more is refused whole, never
// cut, and leaves no stale text behind. An unknown installer is never started.
TEST(LaunchCommand, RefusesWhatDoesNotFitItsBufferAndAnUnknownInstaller) {
    // Quotes, two spaces and "x" around the path: 5 characters.
    const std::wstring fittingPath(kLaunchBufferChars - 1 - 5, L'p');
    wchar_t szProcessPath[kLaunchBufferChars];
    ASSERT_TRUE(ComposeDirectCommandLine(fittingPath, L"", 0, szProcessPath));
    EXPECT_EQ(std::wstring(szProcessPath).size(), kLaunchBufferChars - 1);
    EXPECT_FALSE(ComposeDirectCommandLine(fittingPath + L"p", L"", 0, szProcessPath));
    EXPECT_STREQ(szProcessPath, L"");
    EXPECT_FALSE(
        ComposeDirectCommandLine(L"C:\\SetupB.exe", std::wstring(300, L'a'), 1, szProcessPath));
    EXPECT_STREQ(szProcessPath, L"");
    wcscpy(szProcessPath, L"stale");
    EXPECT_FALSE(ComposeDirectCommandLine(L"", L"/abc", 1, szProcessPath));
    EXPECT_STREQ(szProcessPath, L"");

    // A space and "/English" after the argument: 9 characters.
    const std::wstring fittingArgument(kLaunchBufferChars - 1 - 9, L'a');
    wchar_t szParameters[kLaunchBufferChars];
    ASSERT_TRUE(ComposeElevatedParameters(fittingArgument, 1, szParameters));
    EXPECT_EQ(std::wstring(szParameters).size(), kLaunchBufferChars - 1);
    EXPECT_FALSE(ComposeElevatedParameters(fittingArgument + L"a", 1, szParameters));
    EXPECT_STREQ(szParameters, L"");
}

TEST(LaunchCommand, InstallerNextToProgramFitsItsBufferOrIsEmpty) {
    EXPECT_EQ(InstallerNextToProgram(L"C:\\Program"), L"C:\\Program\\SetupB.exe");
    // Joined as it is: a folder that the program path could not give stays without one.
    EXPECT_EQ(InstallerNextToProgram(L""), L"\\SetupB.exe");
    // A backslash and "SetupB.exe" after the folder: 11 characters.
    const std::wstring fittingFolder(kLaunchBufferChars - 1 - 11, L'f');
    EXPECT_EQ(InstallerNextToProgram(fittingFolder).size(), kLaunchBufferChars - 1);
    EXPECT_EQ(InstallerNextToProgram(fittingFolder + L"f"), L"");
}

}  // namespace
