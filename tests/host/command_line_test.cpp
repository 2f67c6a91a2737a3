#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JoinArguments, JoinsWithSingleSpacesAndAddsNoQuotes) {
    const struct {
        std::vector<std::wstring> arguments;
        const wchar_t* szExpected;
    } kCases[] = {
        {{}, L""},
        {{L"a"}, L"a"},
        {{L"a", L"b c", L"d"}, L"a b c d"},
        {{L""}, L""},
        {{L"", L"x"}, L" x"},
        {{L"a", L"", L"b"}, L"a  b"},
        {{L"\"q\""}, L"\"q\""},
    };
    for (const auto& c : kCases) EXPECT_EQ(JoinArguments(c.arguments), c.szExpected);
}

// Whether /DownloadOnly and /SetupOnly are found, case-sensitively, anywhere in the text.
TEST(HasSwitch, IsACaseSensitiveSubstringMatch) {
    const struct {
        const wchar_t* szAllArguments;
        bool bDownloadOnly;
        bool bSetupOnly;
    } kCases[] = {
        {L"/DownloadOnly", true, false},
        {L"a /DownloadOnly b", true, false},
        {L"/downloadonly", false, false},
        {L"/DOWNLOADONLY /SETUPONLY", false, false},
        {L"/DownloadOnl /SetupOnl", false, false},
        {L"/SetupOnlyNow", false, true},
        {L"x/SetupOnly", false, true},
        {L"/Setup Only", false, false},
        {L"", false, false},
        {L"/SetupOnly /DownloadOnly", true, true},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(HasSwitch(c.szAllArguments, kSwitchDownloadOnly), c.bDownloadOnly)
            << c.szAllArguments;
        EXPECT_EQ(HasSwitch(c.szAllArguments, kSwitchSetupOnly), c.bSetupOnly) << c.szAllArguments;
    }
}

}  // namespace
