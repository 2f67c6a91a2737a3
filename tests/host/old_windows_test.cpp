#include "system/old_windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>

namespace {

TEST(OldWindows, VersionAndDescriptionRules) {
    const struct {
        unsigned long dwMajor, dwMinor;
        unsigned char wProductType;  // 1 workstation, 2 domain controller, 3 server
        bool bOld;
    } kVersions[] = {{5, 0, 1, true},  {5, 1, 1, true},  {5, 2, 3, true},  {6, 0, 1, true},
                     {6, 0, 3, false}, {6, 0, 2, false}, {6, 1, 1, false}, {10, 0, 1, false}};
    for (const auto& v : kVersions) {
        EXPECT_EQ(IsOldWindowsVersion(v.dwMajor, v.dwMinor, v.wProductType), v.bOld)
            << v.dwMajor << "." << v.dwMinor << " type " << int{v.wProductType};
    }
    EXPECT_TRUE(IsOldWindowsDescription(L"Microsoft Windows XP Professional version 5.1.2600"));
    EXPECT_TRUE(IsOldWindowsDescription(L"Microsoft Windows Vista Business for 32-bit"));
    EXPECT_FALSE(IsOldWindowsDescription(L"Microsoft Windows 7 Professional for x64"));
    EXPECT_FALSE(IsOldWindowsDescription(L"microsoft windows xp"));
}

// Scripted facts, and how often the version was asked for.
struct Facts {
    bool bVersion = false;
    unsigned long dwMajor = 0;
    bool bDescription = false;
    const wchar_t* szDescription = L"";
    int nAsked = 0;
} g_facts;

bool Version(unsigned long* pdwMajor, unsigned long* pdwMinor, unsigned char* pwProductType) {
    ++g_facts.nAsked;
    *pdwMajor = g_facts.dwMajor;
    *pdwMinor = 0;
    *pwProductType = kWorkstationProductType;
    return g_facts.bVersion;
}

bool Description(wchar_t* szDescription) {
    wcscpy(szDescription, g_facts.szDescription);
    return g_facts.bDescription;
}

// A kept answer is given again without asking; an unknown one is asked for again.
TEST(OldWindows, CacheKeepsOnlyDefiniteAnswers) {
    const struct {
        const char* name;
        Facts facts;
        bool bOld;
        int nCached;
    } kCases[] = {
        {"version says old", {true, 5}, true, 1},
        {"version says new", {true, 10}, false, 0},
        {"description says old", {false, 0, true, L"Microsoft Windows Vista"}, true, 1},
        {"description without objects", {false, 0, true, L""}, false, 0},
        {"nothing known", {false, 0, false}, false, -1},
    };
    for (const auto& c : kCases) {
        g_facts = c.facts;
        std::atomic<int> nCache{-1};
        EXPECT_EQ(DecideOldWindows(nCache, {Version, Description}), c.bOld) << c.name;
        EXPECT_EQ(nCache.load(), c.nCached) << c.name;
        g_facts.dwMajor = 6;
        EXPECT_EQ(DecideOldWindows(nCache, {Version, Description}), c.bOld) << c.name;
        EXPECT_EQ(g_facts.nAsked, c.nCached == -1 ? 2 : 1) << c.name;
    }
}

}  // namespace
