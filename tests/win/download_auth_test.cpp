// The request and authentication loop of SafeDownloadFile against the scripted WinHTTP: which
// answers end a download, which challenges are answered and with what, and the request sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/winhttp_rules.h"
#include "download_scenario.h"

namespace {

using testsupport::ChallengeResponse;
using testsupport::DownloadScenario;
using testsupport::FakeHandleKind;
using testsupport::FakeResponse;
using testsupport::OkResponse;
using testsupport::StatusResponse;

FakeResponse SendFailure(DWORD error) {
    FakeResponse response = OkResponse("body");
    response.sendError = error;
    return response;
}

FakeResponse ReceiveFailure(DWORD error, FakeResponse response = OkResponse("body")) {
    response.receiveError = error;
    return response;
}

FakeResponse StatusQueryFailure() {
    FakeResponse response;
    response.statusQueryFails = true;
    return response;
}

FakeResponse SchemesQueryFailure(DWORD status) {
    FakeResponse response = ChallengeResponse(status, kAuthSchemeBasic, 0);
    response.authSchemesFail = true;
    return response;
}

struct LoopCase {
    const char* name;
    std::vector<FakeResponse> responses;
    DWORD result;
    int sends;
    size_t credentialCalls;
    std::string lastLine;  // the last line of the request phase in the trace log
};

class RequestLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(RequestLoop, EndsAsScripted) {
    const LoopCase& c = GetParam();
    DownloadScenario s;
    s.fake.responses = c.responses;

    EXPECT_EQ(s.Run(), c.result);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(),
              c.result == 1 ? WinHTTP_Download_Status_Completed : WinHTTP_Download_Status_Error);
    EXPECT_EQ(s.fake.sends, c.sends);
    EXPECT_FALSE(s.fake.scriptOverrun);
    EXPECT_EQ(s.fake.credentials.size(), c.credentialCalls);
    EXPECT_TRUE(s.LogHas(c.lastLine)) << c.lastLine;
    EXPECT_EQ(s.TargetExists(), c.result == 1);
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

const char kAuthFailed[] = "SafeDownloadFile: authentication failed, dwLastStatus = ";
const char kOk[] = "SafeDownloadFile: session connected, request opened, status 200 [OK]";

INSTANTIATE_TEST_SUITE_P(
    Answers, RequestLoop,
    ::testing::Values(
        LoopCase{"ServerChallengesTwice",
                 {ChallengeResponse(401, kAuthSchemeNtlm, WINHTTP_AUTH_TARGET_SERVER),
                  ChallengeResponse(401, kAuthSchemeNtlm, WINHTTP_AUTH_TARGET_SERVER)},
                 0,
                 2,
                 2,
                 std::string(kAuthFailed) + "401"},
        LoopCase{"ProxyChallengesTwice",
                 {ChallengeResponse(407, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_PROXY),
                  ChallengeResponse(407, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_PROXY)},
                 0,
                 2,
                 1,
                 std::string(kAuthFailed) + "407"},
        LoopCase{"NotFound", {StatusResponse(404)}, 0, 1, 0, std::string(kAuthFailed) + "404"},
        LoopCase{"ServerError", {StatusResponse(500)}, 0, 1, 0, std::string(kAuthFailed) + "500"},
        LoopCase{"NotModified", {StatusResponse(304)}, 0, 1, 0, std::string(kAuthFailed) + "304"},
        LoopCase{"SendFails", {SendFailure(12029)}, 0, 1, 0, std::string(kAuthFailed) + "0"},
        LoopCase{"ReceiveFails", {ReceiveFailure(12002)}, 0, 1, 0, std::string(kAuthFailed) + "0"},
        LoopCase{
            "StatusQueryFails", {StatusQueryFailure()}, 0, 1, 0, std::string(kAuthFailed) + "0"},
        LoopCase{"SchemesOfChallengeUnreadable",
                 {SchemesQueryFailure(401)},
                 0,
                 1,
                 0,
                 std::string(kAuthFailed) + "401"},
        LoopCase{"ChallengeAnsweredOnce",
                 {ChallengeResponse(401, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_SERVER),
                  OkResponse("body")},
                 1,
                 2,
                 1,
                 kOk},
        LoopCase{"ChallengeThenMissing",
                 {ChallengeResponse(401, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_SERVER),
                  StatusResponse(404)},
                 0,
                 2,
                 1,
                 std::string(kAuthFailed) + "404"},
        LoopCase{"ProxyThenServerChallenge",
                 {ChallengeResponse(407, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_PROXY),
                  ChallengeResponse(401, kAuthSchemeDigest, WINHTTP_AUTH_TARGET_SERVER),
                  OkResponse("body")},
                 1,
                 3,
                 3,
                 kOk},
        LoopCase{"ResendAsked", {SendFailure(12032), OkResponse("body")}, 1, 2, 0, kOk},
        LoopCase{"ResendAskedOnReceive", {ReceiveFailure(12032), OkResponse("body")}, 1, 2, 0, kOk},
        LoopCase{"LoginFailureStillReadsTheAnswer", {ReceiveFailure(12015)}, 1, 1, 0, kOk},
        // A request is sent again at most ten times, however often WinHTTP asks.
        LoopCase{"ResendAskedWithoutEnd", std::vector<FakeResponse>(12, SendFailure(12032)), 0, 11,
                 0, std::string(kAuthFailed) + "0"},
        LoopCase{"ResendAskedOnReceiveWithoutEnd",
                 std::vector<FakeResponse>(12, ReceiveFailure(12032)), 0, 11, 0,
                 std::string(kAuthFailed) + "0"}),
    [](const ::testing::TestParamInfo<LoopCase>& info) { return std::string(info.param.name); });

// An attempt that the watchdog has given up on sends nothing again.
TEST(RequestLoop, CancelledAttemptDoesNotResend) {
    DownloadScenario s;
    s.fake.responses = {SendFailure(12032), OkResponse("body")};
    s.cancel = 1;
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.fake.sends, 1);
    EXPECT_FALSE(s.TargetExists());
}

TEST(RequestLoop, ServerChallengeIsAnsweredWithTheGivenCredentialsForTheNamedTarget) {
    DownloadScenario s;
    s.fake.responses = {ChallengeResponse(401, kAuthSchemeBasic | kAuthSchemeNtlm, 0),
                        OkResponse("body")};
    ASSERT_EQ(
        s.Run(testsupport::kFakeUrl, WinHTTP_Download_Type_Direct_Connect, L"alice", L"secret"),
        1u);
    ASSERT_EQ(s.fake.credentials.size(), 1u);
    EXPECT_EQ(s.fake.credentials[0].target, 0u);
    EXPECT_EQ(s.fake.credentials[0].scheme, kAuthSchemeNtlm);
    EXPECT_EQ(s.fake.credentials[0].userName, std::wstring(L"alice"));
    EXPECT_EQ(s.fake.credentials[0].password, std::wstring(L"secret"));
    EXPECT_TRUE(s.LogHas("SafeDownloadFile: status 401 [The server requires authentication]"));
    EXPECT_TRUE(s.LogHas("SafeDownloadFile: WinHttpSetCredentials for authentication"));
}

TEST(RequestLoop, ProxyChallengeWithoutUserNameIsAnsweredOnceWithNullCredentials) {
    DownloadScenario s;
    FakeResponse challenge = ChallengeResponse(407, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_PROXY);
    challenge.firstScheme = kAuthSchemeBasic;
    s.fake.responses = {challenge, challenge};

    EXPECT_EQ(s.Run(), 0u);
    ASSERT_EQ(s.fake.credentials.size(), 1u);
    EXPECT_EQ(s.fake.credentials[0].target, static_cast<DWORD>(WINHTTP_AUTH_TARGET_PROXY));
    EXPECT_EQ(s.fake.credentials[0].scheme, kAuthSchemeBasic);
    EXPECT_FALSE(s.fake.credentials[0].userName.has_value());
    EXPECT_FALSE(s.fake.credentials[0].password.has_value());
    EXPECT_TRUE(
        s.LogHas("SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: "
                 "dwSupportedSchemes=1, dwFirstScheme=1, dwTarget=1"));
    EXPECT_TRUE(s.LogHas("SafeDownloadFile: ChooseAuthScheme for authentication"));
    EXPECT_TRUE(
        s.LogHas("SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = 1, bResults = 1"));
}

struct SchemeCase {
    const wchar_t* url;
    DWORD requestFlags;
    bool certificateFlags;
};

class RequestFlags : public ::testing::TestWithParam<SchemeCase> {};

// The secure test is a case-sensitive search for "https" anywhere in the normalised URL.
TEST_P(RequestFlags, FollowTheLowerCaseHttpsTest) {
    DownloadScenario s;
    s.fake.responses = {OkResponse("body")};
    ASSERT_EQ(s.Run(GetParam().url), 1u);
    ASSERT_EQ(s.fake.requests.size(), 1u);
    EXPECT_EQ(s.fake.requests[0].flags, GetParam().requestFlags);
    std::vector<DWORD> securityFlags;
    for (const auto& option : s.fake.options) {
        if (option.option == WINHTTP_OPTION_SECURITY_FLAGS) securityFlags.push_back(option.value);
    }
    EXPECT_EQ(securityFlags,
              GetParam().certificateFlags ? std::vector<DWORD>{0x3300} : std::vector<DWORD>{});
}

INSTANTIATE_TEST_SUITE_P(
    Urls, RequestFlags,
    ::testing::Values(SchemeCase{L"https://127.0.0.1/qerv/Setup.dat", WINHTTP_FLAG_SECURE, true},
                      SchemeCase{L"HTTPS://127.0.0.1/qerv/Setup.dat", WINHTTP_FLAG_REFRESH, false},
                      SchemeCase{L"http://127.0.0.1/https/Setup.dat", WINHTTP_FLAG_SECURE, true},
                      SchemeCase{L"127.0.0.1/qerv/Setup.dat", WINHTTP_FLAG_REFRESH, false}));

TEST(Request, CarriesThePathWithItsQueryToTheHostAndPort) {
    DownloadScenario s;
    s.fake.responses = {OkResponse("body")};
    ASSERT_EQ(s.Run(L"http://127.0.0.1:8080/qerv/Setup.dat?v=2&os=64"), 1u);
    EXPECT_EQ(s.fake.connectedHost, L"127.0.0.1");
    EXPECT_EQ(s.fake.connectedPort, 8080);
    ASSERT_EQ(s.fake.requests.size(), 1u);
    const testsupport::FakeOpenRequest& request = s.fake.requests[0];
    EXPECT_EQ(request.verb, L"GET");
    EXPECT_EQ(request.object, L"/qerv/Setup.dat?v=2&os=64");
    EXPECT_EQ(request.version, L"HTTP/1.1");
    EXPECT_FALSE(request.hasReferrer);
    EXPECT_EQ(request.acceptTypes,
              (std::vector<std::wstring>{L"text/*", L"application/*", L"image/*"}));
    ASSERT_EQ(s.fake.opens.size(), 1u);
    EXPECT_EQ(s.fake.opens[0].agent, szDefaultAgent);
    EXPECT_EQ(s.fake.closed,
              (std::vector<FakeHandleKind>{FakeHandleKind::Request, FakeHandleKind::Connection,
                                           FakeHandleKind::Session}));
}

}  // namespace
