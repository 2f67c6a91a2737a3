// The WinHTTP downloads of each connection type, against the scripted WinHTTP.
#include <gtest/gtest.h>

#include "attempt_rig.h"
#include "download/download_by_type.h"
#include "download/winhttp_rules.h"

namespace {

using namespace testsupport;

const std::string kBody = Pattern(3 * 4096);

TEST(DownloadByType, MakesTheDownloadsOfItsType) {
    struct Restore {
        ~Restore() { g_configuredProxy = {}; }
    } restore;
    g_configuredProxy = {L"127.0.0.1", 3128, L"qerv", L"secret"};
    const FakeResponse k404{.status = 404}, kGot = Ok(kBody);
    const FakeResponse k407{.status = 407, .schemes = kAuthSchemeBasic, .target = 1};
    const std::wstring direct = L"Open 1 - -", ie = L"Open 3 127.0.0.1:3128 -";
    enum Cancel { Clear, Set, Absent };
    // sessions: the sessions opened, with the credentials given.
    const auto check = [](const char* name, DWORD type, Cancel cancel,
                          std::vector<FakeResponse> responses, int result, const Calls& sessions) {
        SCOPED_TRACE(name);
        DownloadScenario s;
        s.fake.ieConfig = StaticProxy(L"127.0.0.1:3128");
        s.fake.responses = responses;
        s.cancel = cancel == Set ? 1 : 0;
        EXPECT_EQ(DownloadByType(type, nullptr, cancel == Absent ? nullptr : &s.cancel, &s.percent,
                                 &s.wrapper, kFakeUrl, s.target.c_str()),
                  result);
        EXPECT_EQ(Starting(s.fake.calls, {L"Open", L"Credentials"}), sessions);
        EXPECT_EQ(s.fake.OpenHandles(), 0);
        if (result == 1) {
            EXPECT_EQ(FileText(s.target), kBody);
        }
    };
    check("AutoDirect", 0, Clear, {kGot}, 1, {direct});
    check("AutoFallsBackToIEProxy", 0, Clear, {k404, kGot}, 1, {direct, ie});
    check("AutoWithoutFlagFallsBack", 0, Absent, {k404, k404}, 0, {direct, ie});
    // The set flag stops the direct download before it opens anything, and nothing follows.
    check("AutoCancelledStartsNothing", 0, Set, {kGot, kGot}, 0, {});
    check("Direct", 1, Clear, {kGot}, 1, {direct});
    check("DefaultProxy", 2, Clear, {kGot}, 1, {L"Open 0 - -"});
    check("IEProxy", 3, Clear, {k404}, 0, {ie});
    // The configured proxy answers its challenge with its user name and password.
    check("ConfiguredProxy", 4, Clear, {k407, kGot}, 1,
          {L"Open 3 127.0.0.1:3128 <local>", L"Credentials 1 1 qerv secret"});
    check("UnknownType", 5, Clear, {}, 0, {});
}

}  // namespace
