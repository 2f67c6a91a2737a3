// Composition of the OS description from the operating-system objects and the registry values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/os_description.h"

namespace {

constexpr long kAbsent = -1000;  // a property or value that cannot be read

struct Object {
    const wchar_t* szCaption;
    const wchar_t* szArchitecture;
    long nServicePackMajor;
    long nServicePackMinor;
    const wchar_t* szVersion;
};

struct Registry {
    const wchar_t* szCurrentBuild;
    const wchar_t* szDisplayVersion;
    long long nUbr;
};

class FakeSource : public OsDescriptionSource {
  public:
    FakeSource(std::vector<Object> objects, Registry registry)
        : objects_(std::move(objects)), registry_(registry) {}
    bool NextObject(OsObjectProperties* pProperties) override {
        if (next_ == objects_.size()) return false;
        const Object& o = objects_[next_++];
        *pProperties = {o.szCaption,
                        o.szArchitecture,
                        o.nServicePackMajor != kAbsent,
                        static_cast<short>(o.nServicePackMajor),
                        o.nServicePackMinor != kAbsent,
                        static_cast<short>(o.nServicePackMinor),
                        o.szVersion};
        return true;
    }
    OsRegistryValues ReadRegistry() override {
        return {registry_.szCurrentBuild, registry_.szDisplayVersion, registry_.nUbr != kAbsent,
                static_cast<unsigned long>(registry_.nUbr)};
    }

  private:
    std::vector<Object> objects_;
    Registry registry_;
    std::size_t next_ = 0;
};

struct Case {
    const char* name;
    std::vector<Object> objects;
    Registry registry;
    const wchar_t* szExpected;
    bool bResult;
};

const wchar_t kW10[] = L"Microsoft Windows 10 Enterprise";
const Registry kNone = {nullptr, nullptr, kAbsent};
Object Named(const wchar_t* szCaption) { return {szCaption, nullptr, kAbsent, kAbsent, nullptr}; }

const Case kCases[] = {
    {"XpServicePack3",
     {{L"Microsoft Windows XP Professional", nullptr, 3, 0, L"5.1.2600"}},
     {L"2600", nullptr, kAbsent},
     L"Microsoft Windows XP Professional Service Pack 3 version 5.1.2600",
     true},
    {"Windows10DisplayVersionAndUbr",
     {{kW10, L"64-bit", 0, 0, L"10.0.19045"}},
     {L"19045", L"22H2", 3803},
     L"Microsoft Windows 10 Enterprise for x64 version 22H2-10.0.19045.3803",
     true},
    {"Build17763NoUbr",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"17763", nullptr, kAbsent},
     L"W version 10.0",
     true},
    {"Build17764UbrOnly",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"17764", L"1809", 1},
     L"W version 10.0.1",
     true},
    {"Build18363UbrOnly",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"18363", nullptr, 1556},
     L"W version 10.0.1556",
     true},
    {"Build18364Both",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"18364.5 (x)", L"1909", 7},
     L"W version 1909-10.0.7",
     true},
    {"Arch64Bits", {{L"W", L"64 bits", 0, 0, nullptr}}, kNone, L"W for x64", true},
    {"Arch32Bit", {{L"W", L"32-bit", 0, 0, nullptr}}, kNone, L"W for 32-bit", true},
    {"ArchOther", {{L"W", L"ARM", 0, 0, nullptr}}, kNone, L"W for ARM", true},
    {"ServicePack0", {{L"W", nullptr, 0, 1, nullptr}}, kNone, L"W", true},
    {"ServicePackNegative", {{L"W", nullptr, -1, 1, nullptr}}, kNone, L"W", true},
    {"ServicePack2Minor0", {{L"W", nullptr, 2, 0, nullptr}}, kNone, L"W Service Pack 2", true},
    {"ServicePack2MinorAbsent",
     {{L"W", nullptr, 2, kAbsent, nullptr}},
     kNone,
     L"W Service Pack 2",
     true},
    {"ServicePack2Minor1", {{L"W", nullptr, 2, 1, nullptr}}, kNone, L"W Service Pack 2.1", true},
    {"NoCaption", {{nullptr, L"64-bit", 1, 0, L"6.1"}}, kNone, L"Unknown OS version !", true},
    {"EmptyCaption", {{L"", L"64-bit", 1, 0, L"6.1"}}, kNone, L"Unknown OS version !", true},
    {"CaptionlessObjectReplaces",
     {Named(L"A"), Named(nullptr)},
     kNone,
     L"Unknown OS version !",
     true},
    {"ObjectsAppend", {Named(L"A"), Named(L"B")}, kNone, L"AB", true},
    {"NoObject", {}, kNone, L"", true},
    {"NoCurrentBuild",
     {{kW10, L"64-bit", 0, 0, L"10.0.19045"}},
     kNone,
     L"Microsoft Windows 10 Enterprise for x64 version ",
     false},
    {"EmptyCurrentBuild",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"", L"22H2", 1},
     L"W version ",
     false},
    {"NoDisplayVersion",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"19045", nullptr, 1},
     L"W version ",
     false},
    {"NoUbrAfterDisplayVersion",
     {{L"W", nullptr, 0, 0, L"10.0"}},
     {L"19045", L"22H2", kAbsent},
     L"W version 22H2-",
     false},
    {"NoUbr", {{L"W", nullptr, 0, 0, L"10.0"}}, {L"17764", nullptr, kAbsent}, L"W version ", false},
    {"FailureEndsTheObjects",
     {{L"A", nullptr, 0, 0, L"1"}, Named(L"B")},
     kNone,
     L"A version ",
     false},
};

class Composition : public testing::TestWithParam<Case> {};

TEST_P(Composition, GivesTextAndResult) {
    FakeSource source(GetParam().objects, GetParam().registry);
    // Filled beforehand: composing starts from the empty text.
    std::vector<wchar_t> buffer(kOsDescriptionChars, L'x');
    EXPECT_EQ(ComposeOSDescription(source, buffer.data()), GetParam().bResult);
    EXPECT_EQ(std::wstring(buffer.data()), GetParam().szExpected);
}

INSTANTIATE_TEST_SUITE_P(OsDescription, Composition, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// Every part is cut where the buffer ends (the heap buffer lets the sanitizer see overruns).
TEST(OsDescription, OverlongTextIsCutToTheBuffer) {
    const std::wstring sLong(400, L'W');
    const std::wstring sNearlyFull(kOsDescriptionChars - 8, L'W');
    const Case cases[] = {
        {"caption", {Named(sLong.c_str())}, kNone, nullptr, true},
        {"architecture", {{L"W", sLong.c_str(), 0, 0, nullptr}}, kNone, nullptr, true},
        {"service pack",
         {{sNearlyFull.c_str(), nullptr, 32767, 32767, nullptr}},
         kNone,
         nullptr,
         true},
        {"display version",
         {{L"W", nullptr, 0, 0, L"1"}},
         {L"19045", sLong.c_str(), 1},
         nullptr,
         true},
        {"update revision",
         {{sNearlyFull.c_str(), nullptr, 0, 0, L"1"}},
         {L"19045", L"2", 99999},
         nullptr,
         true},
    };
    for (const Case& c : cases) {
        FakeSource source(c.objects, c.registry);
        std::vector<wchar_t> buffer(kOsDescriptionChars);
        EXPECT_TRUE(ComposeOSDescription(source, buffer.data())) << c.name;
        EXPECT_EQ(std::wstring(buffer.data()).size(), kOsDescriptionChars - 1u) << c.name;
    }
    FakeSource source({Named(nullptr)}, kNone);
    EXPECT_FALSE(ComposeOSDescription(source, nullptr));
}

}  // namespace
