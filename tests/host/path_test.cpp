#include "install/combine_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

struct JoinCase {
    const wchar_t* szFolder;
    const wchar_t* szName;
    const wchar_t* szExpected;
};

TEST(CombinePath, JoinsWithExactlyOneBackslash) {
    const JoinCase kCases[] = {
        {L"C:\\Temp", L"Setup.dat", L"C:\\Temp\\Setup.dat"},
        {L"C:\\Temp\\", L"Setup.dat", L"C:\\Temp\\Setup.dat"},
        {L"C:\\", L"a", L"C:\\a"},
        {L"\\", L"a", L"\\a"},
        {L"x", L"y", L"x\\y"},
        // Only a single trailing backslash of the folder counts; the name is taken as it is.
        {L"C:\\Temp\\\\", L"a", L"C:\\Temp\\\\a"},
        {L"C:\\Temp", L"\\a", L"C:\\Temp\\\\a"},
        {L"C:/Temp/", L"a", L"C:/Temp/\\a"},
    };
    for (const JoinCase& c : kCases) {
        EXPECT_EQ(CombinePath(c.szFolder, c.szName), c.szExpected)
            << c.szFolder << " + " << c.szName;
    }
}

TEST(CombinePath, NullOrEmptyPartGivesEmptyString) {
    const JoinCase kCases[] = {
        {nullptr, L"a", L""}, {L"C:\\", nullptr, L""}, {nullptr, nullptr, L""},
        {L"", L"a", L""},     {L"C:\\", L"", L""},     {L"", L"", L""},
    };
    for (const JoinCase& c : kCases) EXPECT_EQ(CombinePath(c.szFolder, c.szName), L"");
}

TEST(CombinePath, PartsOfUpTo1022CharactersAreAccepted) {
    const std::wstring folder1022(1022, L'f');
    const std::wstring folder1021Slash = std::wstring(1021, L'f') + L'\\';
    const std::wstring folder1023(1023, L'f');
    const std::wstring name1022(1022, L'n');
    const std::wstring name1023(1023, L'n');

    EXPECT_EQ(CombinePath(folder1022.c_str(), name1022.c_str()), folder1022 + L'\\' + name1022);
    EXPECT_EQ(CombinePath(folder1021Slash.c_str(), L"a"), folder1021Slash + L'a');
    EXPECT_EQ(CombinePath(folder1023.c_str(), L"a"), L"");
    EXPECT_EQ(CombinePath(L"C:\\", name1023.c_str()), L"");
}

TEST(CombinePath, OverlongPartIsNotReadToItsEnd) {
    // 1023 characters with no terminator: only a bounded look-ahead keeps this inside the array.
    wchar_t unterminated[kCombinePathMaxPart + 1];
    std::fill(std::begin(unterminated), std::end(unterminated), L'u');
    EXPECT_EQ(CombinePath(unterminated, L"a"), L"");
    EXPECT_EQ(CombinePath(L"C:\\", unterminated), L"");
}

}  // namespace
