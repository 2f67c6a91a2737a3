// The download thread and the WinHTTP downloads of each connection type, against the scripted
// WinHTTP and a scripted libcurl path, run on the test's own thread.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "base/sleep.h"
#include "download/winhttp_wrapper.h"
#include "download/download_file.h"
#include "download_scenario.h"
#include "download_thread_rig.h"

namespace {

using downloadtest::AttemptRig;
using downloadtest::PublishedWrapper;
using testsupport::FakeIEConfig;
using testsupport::FakeResponse;
using testsupport::OkResponse;
using testsupport::StatusResponse;

constexpr DWORD kNoProxy = WINHTTP_ACCESS_TYPE_NO_PROXY;
constexpr DWORD kDefaultProxy = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
constexpr DWORD kNamedProxy = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
constexpr wchar_t kIEProxy[] = L"127.0.0.1:3128";

FakeIEConfig StaticProxy(const std::wstring& proxy) {
    FakeIEConfig config;
    config.proxy = proxy;
    return config;
}

// --- DownloadByType -------------------------------------------------------------------------

enum class CancelFlag { Clear, Set, Absent };

struct ByTypeCase {
    const char* name;
    DWORD type;
    CancelFlag cancel;
    std::vector<FakeResponse> responses;
    std::vector<DWORD> sessions;  // access type of each session opened, in order
    int result;
};

class ByType : public ::testing::TestWithParam<ByTypeCase> {};

TEST_P(ByType, MakesTheDownloadsOfItsType) {
    const ByTypeCase& c = GetParam();
    testsupport::DownloadScenario s;
    s.fake.ieConfig = StaticProxy(kIEProxy);
    s.fake.responses = c.responses;
    s.cancel = c.cancel == CancelFlag::Set ? 1 : 0;
    const int result =
        DownloadByType(c.type, nullptr, c.cancel == CancelFlag::Absent ? nullptr : &s.cancel,
                       &s.percent, &s.wrapper, testsupport::kFakeUrl, s.target.c_str());
    EXPECT_EQ(result, c.result);
    std::vector<DWORD> sessions;
    for (const testsupport::FakeOpen& open : s.fake.opens) sessions.push_back(open.accessType);
    EXPECT_EQ(sessions, c.sessions);
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

const std::string kBody = downloadtest::ChunkedBody(3, 4096);

INSTANTIATE_TEST_SUITE_P(
    Types, ByType,
    ::testing::Values(
        ByTypeCase{"AutoDirect", 0, CancelFlag::Clear, {OkResponse(kBody)}, {kNoProxy}, 1},
        ByTypeCase{"AutoFallsBackToIEProxy",
                   0,
                   CancelFlag::Clear,
                   {StatusResponse(404), OkResponse(kBody)},
                   {kNoProxy, kNamedProxy},
                   1},
        ByTypeCase{"AutoWithoutFlagFallsBack",
                   0,
                   CancelFlag::Absent,
                   {StatusResponse(404), StatusResponse(500)},
                   {kNoProxy, kNamedProxy},
                   0},
        // The set flag stops the direct download after its first chunk, and nothing follows.
        ByTypeCase{"AutoCancelledStopsAfterDirect",
                   0,
                   CancelFlag::Set,
                   {OkResponse(kBody), OkResponse(kBody)},
                   {kNoProxy},
                   0},
        ByTypeCase{"Direct", 1, CancelFlag::Clear, {OkResponse(kBody)}, {kNoProxy}, 1},
        ByTypeCase{"DefaultProxy", 2, CancelFlag::Clear, {OkResponse(kBody)}, {kDefaultProxy}, 1},
        ByTypeCase{"IEProxy", 3, CancelFlag::Clear, {StatusResponse(404)}, {kNamedProxy}, 0},
        ByTypeCase{"UnknownType", 5, CancelFlag::Clear, {}, {}, 0}),
    [](const ::testing::TestParamInfo<ByTypeCase>& info) { return info.param.name; });

// Type 4 answers the proxy's challenge with the configured user name and password.
TEST(ByTypeConfiguredProxy, AnswersTheChallengeWithTheConfiguredCredentials) {
    struct Restore {
        ~Restore() { g_configuredProxy = {}; }
    } restore;
    wcscpy(g_configuredProxy.szHost, L"127.0.0.1");
    g_configuredProxy.nPort = 3128;
    wcscpy(g_configuredProxy.szUserName, L"qerv");
    wcscpy(g_configuredProxy.szPassword, L"secret");

    testsupport::DownloadScenario s;
    s.fake.responses = {
        testsupport::ChallengeResponse(407, WINHTTP_AUTH_SCHEME_BASIC, WINHTTP_AUTH_TARGET_PROXY),
        OkResponse(kBody)};
    EXPECT_EQ(DownloadByType(WinHTTP_Download_Type_By_User_Config_Proxy, nullptr, &s.cancel,
                             &s.percent, &s.wrapper, testsupport::kFakeUrl, s.target.c_str()),
              1);
    ASSERT_EQ(s.fake.opens.size(), 1u);
    EXPECT_EQ(s.fake.opens[0].proxy, std::optional<std::wstring>(L"127.0.0.1:3128"));
    ASSERT_EQ(s.fake.credentials.size(), 1u);
    EXPECT_EQ(s.fake.credentials[0].userName, std::optional<std::wstring>(L"qerv"));
    EXPECT_EQ(s.fake.credentials[0].password, std::optional<std::wstring>(L"secret"));
    EXPECT_EQ(s.TargetBytes(), kBody);
}

// --- DownloadThread -------------------------------------------------------------------------

class Thread : public ::testing::Test {
  protected:
    Thread() {
        SetSleepFunction([](unsigned) {});
    }
    ~Thread() override { SetSleepFunction(nullptr); }

    // Runs the thread procedure to its end on this thread, on an attempt that the test keeps.
    DownloadAttemptRef Run(DWORD type, bool abandoned = false) {
        DownloadAttemptRef attempt(
            DownloadAttempt::Create(testsupport::kFakeUrl, rig.target.c_str(), nullptr, type));
        if (!attempt) return attempt;
        if (abandoned) attempt->Abandon();
        attempt->AddRef();
        DownloadThread(attempt.get());
        return attempt;
    }
    std::string Bytes(const wchar_t* path) {
        std::vector<unsigned char> bytes;
        if (!testsupport::ReadBytes(path, &bytes)) return "(missing)";
        return std::string(bytes.begin(), bytes.end());
    }

    AttemptRig rig;
    PublishedWrapper published;
};

TEST_F(Thread, WithoutADownloadObjectTheAttemptFailsAtOnce) {
    g_pWinHttpWrapper.store(nullptr);
    DownloadAttemptRef attempt = Run(WinHTTP_Download_Type_Direct_Connect);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 0);
    EXPECT_TRUE(attempt->IsFinished());
    EXPECT_TRUE(rig.curl.proxies.empty()) << "libcurl must not run";
    EXPECT_EQ(rig.traces.Lines(), std::vector<std::wstring>{L"Start DownloadThread"});
}

TEST_F(Thread, LibcurlSuccessEndsTheAttemptWithoutWinHttp) {
    rig.curl.result = 1;
    rig.curl.body = kBody;
    DownloadAttemptRef attempt = Run(WinHTTP_Download_Type_Direct_Connect);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 1);
    EXPECT_EQ(attempt->bCurlPhase.load(), 1);
    EXPECT_TRUE(published.fake.opens.empty()) << "WinHTTP must not run";
    // The download stays in the attempt's own file for the launcher to take.
    EXPECT_EQ(Bytes(attempt->szOwnFile()), kBody);
    EXPECT_FALSE(testsupport::FileExists(rig.target));
}

TEST_F(Thread, LibcurlFailureFallsBackToWinHttpOfTheSameTypeIntoTheSameFile) {
    rig.curl.result = -1;
    published.fake.responses = {OkResponse(kBody)};
    DownloadAttemptRef attempt = Run(WinHTTP_Download_Type_By_Default_Proxy);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 1);
    EXPECT_EQ(attempt->bCurlPhase.load(), 0);
    ASSERT_EQ(published.fake.opens.size(), 1u);
    EXPECT_EQ(published.fake.opens[0].accessType, kDefaultProxy);
    EXPECT_EQ(attempt->nPercent.load(), 100);
    ASSERT_EQ(rig.curl.files.size(), 1u);
    EXPECT_EQ(rig.curl.files[0], attempt->szOwnFile());
    EXPECT_EQ(Bytes(attempt->szOwnFile()), kBody);
}

TEST_F(Thread, FailedAttemptLeavesNoFile) {
    rig.curl.result = -1;
    FakeResponse shortBody = OkResponse(kBody);
    shortBody.contentLength = static_cast<DWORD>(kBody.size() * 2);
    published.fake.responses = {shortBody};
    DownloadAttemptRef attempt = Run(WinHTTP_Download_Type_Direct_Connect);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 0);
    EXPECT_TRUE(downloadtest::FilesIn(rig.dir.path()).empty());
}

TEST_F(Thread, DownloadThatFinishesAfterTheLauncherGaveUpIsRemoved) {
    rig.curl.result = 1;
    rig.curl.body = kBody;
    DownloadAttemptRef attempt = Run(WinHTTP_Download_Type_Direct_Connect, true);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 1);
    EXPECT_FALSE(attempt->IsFinished());
    EXPECT_TRUE(downloadtest::FilesIn(rig.dir.path()).empty());
}

// The libcurl path gets a proxy only for the Internet Explorer type: the static proxy list of
// the settings read there, or the empty text (no proxy) when there is none to pass on.
struct ProxyCase {
    const char* name;
    DWORD type;
    std::optional<FakeIEConfig> settings;
    std::optional<std::wstring> proxy;
};

class ThreadProxy : public Thread, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ThreadProxy, LibcurlGetsTheIEStaticProxyForTheIEType) {
    const ProxyCase& c = GetParam();
    published.fake.ieConfig = c.settings;
    rig.curl.result = 1;
    ASSERT_TRUE(Run(c.type));
    ASSERT_EQ(rig.curl.proxies.size(), 1u);
    EXPECT_EQ(rig.curl.proxies[0], c.proxy);
}

const std::wstring kProxyList = L"http=http://127.0.0.1:3128;https=https://127.0.0.1:3129";
const std::wstring kLongestList = L"127.0.0.1:3128;" + std::wstring(255 - 15, L'x');

INSTANTIATE_TEST_SUITE_P(
    Types, ThreadProxy,
    ::testing::Values(ProxyCase{"Auto", 0, StaticProxy(kProxyList), std::nullopt},
                      ProxyCase{"Direct", 1, StaticProxy(kProxyList), std::nullopt},
                      ProxyCase{"DefaultProxy", 2, StaticProxy(kProxyList), std::nullopt},
                      ProxyCase{"IEStaticProxy", 3, StaticProxy(kProxyList), kProxyList},
                      ProxyCase{"IELongestList", 3, StaticProxy(kLongestList), kLongestList},
                      ProxyCase{"IEListTooLong", 3, StaticProxy(kLongestList + L"x"),
                                std::wstring()},
                      ProxyCase{"IEWithoutStaticProxy", 3, FakeIEConfig{}, std::wstring()},
                      ProxyCase{"IEUnreadable", 3, std::nullopt, std::wstring()}),
    [](const ::testing::TestParamInfo<ProxyCase>& info) { return info.param.name; });

}  // namespace
