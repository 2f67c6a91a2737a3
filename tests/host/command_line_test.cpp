#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JoinArguments, JoinsWithSingleSpacesAndAddsNoQuotes) {
    struct Case {
        std::vector<std::wstring> arguments;
        const wchar_t* szExpected;
    };
    const Case kCases[] = {
        {{}, L""},
        {{L"a"}, L"a"},
        {{L"a", L"b c", L"d"}, L"a b c d"},
        {{L""}, L""},
        {{L"", L"x"}, L" x"},
        {{L"a", L"", L"b"}, L"a  b"},
        {{L"\"q\""}, L"\"q\""},
    };
    for (const Case& c : kCases) EXPECT_EQ(JoinArguments(c.arguments), c.szExpected);
}

TEST(HasSwitch, IsACaseSensitiveSubstringMatch) {
    struct Case {
        const wchar_t* szAllArguments;
        const wchar_t* szSwitch;
        bool bExpected;
    };
    const Case kCases[] = {
        {L"/DownloadOnly", kSwitchDownloadOnly, true},
        {L"a /DownloadOnly b", kSwitchDownloadOnly, true},
        {L"/downloadonly", kSwitchDownloadOnly, false},
        {L"/DOWNLOADONLY", kSwitchDownloadOnly, false},
        {L"/DownloadOnl", kSwitchDownloadOnly, false},
        {L"/SetupOnlyNow", kSwitchSetupOnly, true},
        {L"x/SetupOnly", kSwitchSetupOnly, true},
        {L"/Setup Only", kSwitchSetupOnly, false},
        {L"", kSwitchSetupOnly, false},
        {L"/DownloadOnly", kSwitchSetupOnly, false},
        {L"/SetupOnly /DownloadOnly", kSwitchDownloadOnly, true},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(HasSwitch(c.szAllArguments, c.szSwitch), c.bExpected)
            << c.szAllArguments << " ? " << c.szSwitch;
    }
}

}  // namespace
