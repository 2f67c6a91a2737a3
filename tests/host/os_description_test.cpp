#include "system/os_description.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr long kAbsent = -1000;  // a property or value that cannot be read

OsObjectProperties Object(const wchar_t* szCaption, const wchar_t* szArchitecture = nullptr,
                          long nMajor = kAbsent, long nMinor = kAbsent,
                          const wchar_t* szVersion = nullptr) {
    // An absent number holds 1, which must not show.
    return {szCaption,         szArchitecture,
            nMajor != kAbsent, static_cast<short>(nMajor == kAbsent ? 1 : nMajor),
            nMinor != kAbsent, static_cast<short>(nMinor == kAbsent ? 1 : nMinor),
            szVersion};
}

OsRegistryValues Registry(const wchar_t* szBuild = nullptr, const wchar_t* szDisplay = nullptr,
                          long long nUbr = kAbsent) {
    return {szBuild, szDisplay, nUbr != kAbsent, static_cast<unsigned long>(nUbr)};
}

struct Case {
    std::vector<OsObjectProperties> objects;
    OsRegistryValues registry;
    const wchar_t* szExpected;
    bool bResult;
};

class FakeSource : public OsDescriptionSource {
  public:
    explicit FakeSource(const Case& c) : m_case(c) {}
    bool NextObject(OsObjectProperties* pProperties) override {
        if (m_next == m_case.objects.size()) return false;
        *pProperties = m_case.objects[m_next++];
        return true;
    }
    OsRegistryValues ReadRegistry() override { return m_case.registry; }

  private:
    const Case& m_case;
    std::size_t m_next = 0;
};

const OsObjectProperties kW = Object(L"W", nullptr, 0, 0, L"10.0");
OsObjectProperties Arch(const wchar_t* szArch) { return Object(L"W", szArch, 0, 0); }
OsObjectProperties Sp(long nMajor, long nMinor) { return Object(L"W", nullptr, nMajor, nMinor); }

TEST(ComposeOSDescription, GivesTextAndResult) {
    const wchar_t kW10[] = L"Microsoft Windows 10 Enterprise";
    const Case kCases[] = {
        {{Object(L"Microsoft Windows XP Professional", nullptr, 3, 0, L"5.1.2600")},
         Registry(L"2600"),
         L"Microsoft Windows XP Professional Service Pack 3 version 5.1.2600",
         true},
        {{Object(kW10, L"64-bit", 0, 0, L"10.0.19045")},
         Registry(L"19045", L"22H2", 3803),
         L"Microsoft Windows 10 Enterprise for x64 version 22H2-10.0.19045.3803",
         true},
        // Below build 17764 the version alone; then its update revision; from 18364 the display
        // version in front too.
        {{kW}, Registry(L"17763"), L"W version 10.0", true},
        {{kW}, Registry(L"17764", L"1809", 1), L"W version 10.0.1", true},
        {{kW}, Registry(L"18363", nullptr, 1556), L"W version 10.0.1556", true},
        {{kW}, Registry(L"18364.5 (x)", L"1909", 7), L"W version 1909-10.0.7", true},
        {{Arch(L"64 bits")}, Registry(), L"W for x64", true},
        {{Arch(L"32-bit")}, Registry(), L"W for 32-bit", true},
        {{Arch(L"ARM")}, Registry(), L"W for ARM", true},
        {{Sp(0, 1)}, Registry(), L"W", true},
        {{Sp(-1, 1)}, Registry(), L"W", true},
        {{Sp(2, 0)}, Registry(), L"W Service Pack 2", true},
        {{Sp(2, kAbsent)}, Registry(), L"W Service Pack 2", true},
        {{Sp(2, 1)}, Registry(), L"W Service Pack 2.1", true},
        {{Object(nullptr, L"64-bit", 1, 0, L"6.1")}, Registry(), L"Unknown OS version !", true},
        {{Object(L"", L"64-bit", 1, 0, L"6.1")}, Registry(), L"Unknown OS version !", true},
        {{Object(L"A"), Object(nullptr)}, Registry(), L"Unknown OS version !", true},
        {{Object(L"A"), Object(L"B")}, Registry(), L"AB", true},
        {{}, Registry(), L"", true},
        // A registry value that the version needs is missing; the objects after it are not read.
        {{Object(kW10, L"64-bit", 0, 0, L"10.0.19045")},
         Registry(),
         L"Microsoft Windows 10 Enterprise for x64 version ",
         false},
        {{kW}, Registry(L"", L"22H2", 1), L"W version ", false},
        {{kW}, Registry(L"19045", nullptr, 1), L"W version ", false},
        {{kW}, Registry(L"19045", L"22H2"), L"W version 22H2-", false},
        {{kW}, Registry(L"17764"), L"W version ", false},
        {{Object(L"A", nullptr, 0, 0, L"1"), Object(L"B")}, Registry(), L"A version ", false},
    };
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        FakeSource source(kCases[i]);
        // Filled beforehand: composing starts from the empty text.
        std::vector<wchar_t> buffer(kOsDescriptionChars, L'x');
        EXPECT_EQ(ComposeOSDescription(source, buffer.data()), kCases[i].bResult) << "case " << i;
        EXPECT_EQ(std::wstring(buffer.data()), kCases[i].szExpected) << "case " << i;
    }
}

// Every part is cut where the buffer ends (a heap buffer, so that the sanitizer sees overruns).
TEST(ComposeOSDescription, OverlongTextIsCutToTheBuffer) {
    const std::wstring sLong(400, L'W'), sNearlyFull(kOsDescriptionChars - 8, L'W');
    const Case kCases[] = {
        {{Object(sLong.c_str())}, Registry(), L"caption", true},
        {{Arch(sLong.c_str())}, Registry(), L"architecture", true},
        {{Object(sNearlyFull.c_str(), nullptr, 32767, 32767)}, Registry(), L"service pack", true},
        {{Object(L"W", nullptr, 0, 0, L"1")},
         Registry(L"19045", sLong.c_str(), 1),
         L"display",
         true},
        {{Object(sNearlyFull.c_str(), nullptr, 0, 0, L"1")},
         Registry(L"19045", L"2", 99999),
         L"revision",
         true},
    };
    for (const Case& c : kCases) {
        FakeSource source(c);
        std::vector<wchar_t> buffer(kOsDescriptionChars);
        EXPECT_TRUE(ComposeOSDescription(source, buffer.data())) << c.szExpected;
        EXPECT_EQ(std::wstring(buffer.data()).size(), kOsDescriptionChars - 1u) << c.szExpected;
    }
    const Case unnamed = {{Object(nullptr)}, Registry(), L"", true};
    FakeSource source(unnamed);
    EXPECT_FALSE(ComposeOSDescription(source, nullptr));
}

}  // namespace
