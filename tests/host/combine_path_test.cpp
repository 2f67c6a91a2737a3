#include "install/combine_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

// Exactly one backslash between the parts: only a single trailing backslash of the folder counts
// and the name is taken as it is. Parts of up to 1022 characters are accepted; a null, empty or
// longer part gives the empty string.
TEST(CombinePath, JoinsWithOneBackslashOrGivesEmpty) {
    const std::wstring f1021 = std::wstring(1021, L'f') + L'\\', f1022(1022, L'f'),
                       f1023(1023, L'f');
    const std::wstring n1022(1022, L'n'), n1023(1023, L'n');
    const struct {
        const wchar_t* szFolder;
        const wchar_t* szName;
        std::wstring expected;
    } kCases[] = {
        {L"C:\\Temp", L"Setup.dat", L"C:\\Temp\\Setup.dat"},
        {L"C:\\Temp\\", L"Setup.dat", L"C:\\Temp\\Setup.dat"},
        {L"C:\\", L"a", L"C:\\a"},
        {L"\\", L"a", L"\\a"},
        {L"x", L"y", L"x\\y"},
        {L"C:\\Temp\\\\", L"a", L"C:\\Temp\\\\a"},
        {L"C:\\Temp", L"\\a", L"C:\\Temp\\\\a"},
        {L"C:/Temp/", L"a", L"C:/Temp/\\a"},
        {f1022.c_str(), n1022.c_str(), f1022 + L'\\' + n1022},
        {f1021.c_str(), L"a", f1021 + L'a'},
        {f1023.c_str(), L"a", L""},
        {L"C:\\", n1023.c_str(), L""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(CombinePath(c.szFolder, c.szName), c.expected) << c.szFolder << " + " << c.szName;
    }
    const wchar_t* const kMissing[][2] = {{nullptr, L"a"}, {L"C:\\", nullptr}, {nullptr, nullptr},
                                          {L"", L"a"},     {L"C:\\", L""},     {L"", L""}};
    for (const auto& c : kMissing) EXPECT_EQ(CombinePath(c[0], c[1]), L"");
}

// 1023 characters with no terminator: only a bounded look-ahead keeps this inside the array.
TEST(CombinePath, OverlongPartIsNotReadToItsEnd) {
    wchar_t unterminated[kCombinePathMaxPart + 1];
    std::fill(std::begin(unterminated), std::end(unterminated), L'u');
    EXPECT_EQ(CombinePath(unterminated, L"a"), L"");
    EXPECT_EQ(CombinePath(L"C:\\", unterminated), L"");
}

}  // namespace
