// SafeDownloadFile against the scripted WinHTTP: one row per server behaviour and call, with the
// outcome, the file left behind, the WinHTTP calls made and the trace log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "download/winhttp_rules.h"
#include "download_scenario.h"

namespace {

using namespace testsupport;
using Calls = std::vector<std::wstring>;
using Lines = std::vector<std::string>;

constexpr DWORD kProxy = WINHTTP_AUTH_TARGET_PROXY;
constexpr DWORD kServer = WINHTTP_AUTH_TARGET_SERVER;
const std::string kStart = "SafeDownloadFile: start WinHTTP_Download_Status_Init";
const std::string kNone = "(missing)";
const FakeResponse kBody = Ok("body");

// The calls of a download of kFakeUrl that has its request, then the rest.
Calls Talk(const Calls& rest) {
    Calls calls = {L"Open 1 - -", L"Connect 127.0.0.1:80", L"Request /qerv/Setup.dat refresh"};
    calls.insert(calls.end(), rest.begin(), rest.end());
    return calls;
}

// The target is the client end of a named pipe whose server ends go away once the whole body has
// been read, so every byte arrives but none can be written. Two server ends, because opening the
// name to delete it may take one.
std::vector<HANDLE> g_pipes;

void UnwritableTarget(DownloadScenario& s) {
    s.target = L"\\\\.\\pipe\\qerv-download-" + std::to_wstring(GetCurrentProcessId());
    for (int i = 0; i < 2; ++i) {
        g_pipes.push_back(CreateNamedPipeW(s.target.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                           PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
        EXPECT_NE(g_pipes.back(), INVALID_HANDLE_VALUE);
    }
    s.fake.onRead = [](int) {
        for (HANDLE pipe : g_pipes) CloseHandle(pipe);
        g_pipes.clear();
    };
}

enum class LogIs { Containing, EndingWith, Exactly };

// What a row may change of a download of kFakeUrl over a direct connection.
struct Extra {
    const wchar_t* url = kFakeUrl;
    DWORD type = WinHTTP_Download_Type_Direct_Connect;
    const wchar_t* user = nullptr;  // with the password "secret"
    void (*setup)(DownloadScenario&) = nullptr;
    std::optional<DWORD> status = {};  // none: completed on success, else error
    std::vector<unsigned> pauses = {};
    std::optional<LONG> percent = {};
    std::optional<std::vector<WPARAM>> bar = {};  // none: no progress bar is given
    LogIs logIs = LogIs::Containing;
};

// One download against the scripted responses: its result, the file it leaves in its own folder,
// every WinHTTP call it made, and the log lines it wrote (found in this order unless the row
// says otherwise).
void Expect(const char* name, std::vector<FakeResponse> responses, DWORD result,
            const std::string& file, const Calls& calls, const Lines& log, const Extra& row = {}) {
    SCOPED_TRACE(name);
    DownloadScenario s;
    s.fake.responses = std::move(responses);
    if (row.setup != nullptr) row.setup(s);
    std::optional<ProgressProbe> bar;
    if (row.bar) bar.emplace();
    const bool ownTarget = s.target == s.dir.File(L"Setup.dat");
    EXPECT_EQ(s.wrapper.SafeDownloadFile(row.url, s.target.empty() ? nullptr : s.target.c_str(),
                                         bar ? bar->window() : nullptr, &s.cancel, row.type,
                                         row.user, row.user ? L"secret" : nullptr, &s.percent),
              result);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(),
              row.status.value_or(result == 1 ? WinHTTP_Download_Status_Completed
                                              : WinHTTP_Download_Status_Error));
    EXPECT_EQ(s.wrapper.m_dwType.load(), row.type);
    if (ownTarget) {
        EXPECT_EQ(FileText(s.target), file);
    }
    EXPECT_EQ(s.fake.calls, calls);
    EXPECT_EQ(s.fake.OpenHandles(), 0);
    EXPECT_EQ(s.pauses.Waits(), row.pauses);
    if (row.percent) {
        EXPECT_EQ(s.percent.load(), *row.percent);
    }
    if (bar) {
        EXPECT_EQ(bar->Positions(), *row.bar);
    }
    Lines lines = s.log.Lines();
    for (const std::string& line : lines) {
        // A download that succeeds took no error return on its way, retried ones included.
        EXPECT_TRUE(result == 0 || line.rfind("SafeDownloadFile return by", 0) != 0) << line;
    }
    if (row.logIs == LogIs::EndingWith && lines.size() > log.size()) {
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(log.size()));
    }
    if (row.logIs != LogIs::Containing) {
        EXPECT_EQ(lines, log);
        return;
    }
    auto at = lines.begin();
    for (const std::string& line : log) {
        at = std::find(at, lines.end(), line);
        EXPECT_NE(at, lines.end()) << "no \"" << line << "\" in order in the log";
    }
}

void Cancel(DownloadScenario& s) { s.cancel = 1; }

// The flag is set while the request of the given send is on its way.
template <int kSend>
void CancelAtSend(DownloadScenario& s) {
    s.fake.onSend = [&s](int send) {
        if (send == kSend) s.cancel = 1;
    };
}

// A server's 401 and a proxy's 407, taking turns, n answers in all.
std::vector<FakeResponse> TakingTurns(int n) {
    std::vector<FakeResponse> responses;
    for (int i = 0; i < n; ++i) {
        responses.push_back(i % 2 == 0 ? FakeResponse{.status = 401, .schemes = kAuthSchemeBasic}
                                       : FakeResponse{.status = 407,
                                                      .schemes = kAuthSchemeBasic,
                                                      .target = WINHTTP_AUTH_TARGET_PROXY});
    }
    return responses;
}

// The calls of n sends to TakingTurns: the server's challenge is answered at once, the proxy's
// before every send after its first challenge.
Calls TurnCalls(int n) {
    Calls calls;
    for (int i = 0; i < n; ++i) {
        if (i >= 2) calls.push_back(L"Credentials 1 1 - -");
        calls.push_back(L"Send");
        if (i % 2 == 0) calls.push_back(L"Credentials 0 1 - -");
    }
    return calls;
}

// The flag is set while the second chunk is read.
void CancelDuringSecondRead(DownloadScenario& s) {
    s.fake.onRead = [&s](int read) {
        if (read == 1) s.cancel = 1;
    };
}

// A failure before the request: the log ends with the step's lines.
Extra Stopping(void (*setup)(DownloadScenario&)) {
    return {.setup = setup, .logIs = LogIs::EndingWith};
}

// One row of the table below: a download's script and what it must end with.
struct EndingRow {
    const char* name;
    std::vector<FakeResponse> responses;
    DWORD result;
    std::string file;
    Calls calls;
    Lines log;
    Extra extra = {};
};

std::vector<EndingRow> EndingRows() {
    std::vector<EndingRow> rows;
    const FakeResponse ntlm401{.status = 401, .schemes = kAuthSchemeNtlm, .target = kServer};
    const FakeResponse basic407{.status = 407, .schemes = kAuthSchemeBasic, .target = kProxy};
    const Calls sent = Talk({L"Send"}), got = Talk({L"Send", L"Read 4"});
    // Challenges: a server's is answered each time, a proxy's once and before the next send.
    rows.push_back(
        {"ServerChallengesTwice",
         {ntlm401, ntlm401},
         0,
         kNone,
         Talk({L"Send", L"Credentials 0 2 - -", L"Send", L"Credentials 0 2 - -"}),
         {"SafeDownloadFile: status 401 [The server requires authentication]", Failed(401)}});
    rows.push_back({"ProxyChallengesTwiceWithoutUser",
                    {basic407, basic407},
                    0,
                    kNone,
                    Talk({L"Send", L"Credentials 1 1 - -", L"Send"}),
                    {"SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: "
                     "dwSupportedSchemes=1, dwFirstScheme=1, dwTarget=1",
                     "SafeDownloadFile: ChooseAuthScheme for authentication",
                     "SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = 1, bResults = 1",
                     Failed(407)}});
    rows.push_back({"ServerChallengeGetsTheGivenCredentials",
                    {{.status = 401, .schemes = kAuthSchemeBasic | kAuthSchemeNtlm}, kBody},
                    1,
                    "body",
                    Talk({L"Send", L"Credentials 0 2 alice secret", L"Send", L"Read 4"}),
                    {"SafeDownloadFile: WinHttpSetCredentials for authentication", kOk},
                    {.user = L"alice"}});
    rows.push_back({"ChallengeThenMissing",
                    {{.status = 401, .schemes = kAuthSchemeBasic}, {.status = 404}},
                    0,
                    kNone,
                    Talk({L"Send", L"Credentials 0 1 - -", L"Send"}),
                    {Failed(404)}});
    rows.push_back(
        {"ProxyThenServerChallenge",
         {basic407, {.status = 401, .schemes = kAuthSchemeDigest, .target = kServer}, kBody},
         1,
         "body",
         Talk({L"Send", L"Credentials 1 1 - -", L"Send", L"Credentials 0 8 - -",
               L"Credentials 1 1 - -", L"Send", L"Read 4"}),
         {kOk}});
    rows.push_back({"SchemesOfChallengeUnreadable",
                    {{.status = 401, .schemes = kAuthSchemeBasic, .schemesFail = true}},
                    0,
                    kNone,
                    sent,
                    {Failed(401)}});
    // Other answers end the download with their status (0: none was read).
    rows.push_back({"NotFound", {{.status = 404}}, 0, kNone, sent, {Failed(404)}});
    rows.push_back({"ServerError", {{.status = 500}}, 0, kNone, sent, {Failed(500)}});
    rows.push_back({"NotModified", {{.status = 304}}, 0, kNone, sent, {Failed(304)}});
    rows.push_back({"SendFails", {{.sendError = 12029}}, 0, kNone, sent, {Failed(0)}});
    rows.push_back({"ReceiveFails", {{.receiveError = 12002}}, 0, kNone, sent, {Failed(0)}});
    rows.push_back({"StatusQueryFails", {{.status = 0}}, 0, kNone, sent, {Failed(0)}});
    rows.push_back({"LoginFailureStillReadsTheAnswer",
                    {{.contentLength = 4, .body = "body", .receiveError = 12015}},
                    1,
                    "body",
                    got,
                    {kOk}});
    // A request is sent again when WinHTTP asks, at most ten times, and not once cancelled.
    const Calls twice = Talk({L"Send", L"Send", L"Read 4"});
    rows.push_back({"ResendAsked", {{.sendError = 12032}, kBody}, 1, "body", twice, {kOk}});
    rows.push_back(
        {"ResendAskedOnReceive", {{.receiveError = 12032}, kBody}, 1, "body", twice, {kOk}});
    rows.push_back({"ResendAskedWithoutEnd",
                    std::vector<FakeResponse>(12, {.sendError = 12032}),
                    0,
                    kNone,
                    Talk(Calls(11, L"Send")),
                    {Failed(0)}});
    rows.push_back({"ResendAskedOnReceiveWithoutEnd",
                    std::vector<FakeResponse>(12, {.receiveError = 12032}),
                    0,
                    kNone,
                    Talk(Calls(11, L"Send")),
                    {Failed(0)}});
    rows.push_back({"CancelledAttemptDoesNotResend",
                    {{.sendError = 12032}, kBody},
                    0,
                    kNone,
                    sent,
                    {Failed(0)},
                    {.setup = CancelAtSend<0>}});
    // A server and a proxy that take turns with their challenges are answered ten times at most,
    // and not once the attempt is cancelled.
    rows.push_back({"ChallengesTakingTurnsEndAfterTen",
                    TakingTurns(12),
                    0,
                    kNone,
                    Talk(TurnCalls(10)),
                    {Failed(407)}});
    rows.push_back({"CancelledWhileChallengesTakeTurns",
                    TakingTurns(12),
                    0,
                    kNone,
                    Talk(TurnCalls(3)),
                    {Failed(401)},
                    {.setup = CancelAtSend<2>}});
    // The request: secure when "https" appears anywhere in the URL, case-sensitively, with the
    // certificate errors ignored (0x3300); host, port, path and query as the URL gives them.
    rows.push_back({"LowerCaseHttpsIsSecure",
                    {kBody},
                    1,
                    "body",
                    {L"Open 1 - -", L"Connect 127.0.0.1:443", L"Request /qerv/Setup.dat secure",
                     L"SetOption 31 13056", L"Send", L"Read 4"},
                    {kOk},
                    {.url = L"https://127.0.0.1/qerv/Setup.dat"}});
    rows.push_back({"UpperCaseHttpsIsNot",
                    {kBody},
                    1,
                    "body",
                    {L"Open 1 - -", L"Connect 127.0.0.1:443", L"Request /qerv/Setup.dat refresh",
                     L"Send", L"Read 4"},
                    {kOk},
                    {.url = L"HTTPS://127.0.0.1/qerv/Setup.dat"}});
    rows.push_back(
        {"HttpsInThePathIsSecure",
         {kBody},
         1,
         "body",
         {L"Open 1 - -", L"Connect 127.0.0.1:8080", L"Request /https/Setup.dat?v=2&os=64 secure",
          L"SetOption 31 13056", L"Send", L"Read 4"},
         {kOk},
         {.url = L"http://127.0.0.1:8080/https/Setup.dat?v=2&os=64"}});
    // Every step of a whole download, in order; without a scheme the address is plain http.
    rows.push_back(
        {"WholeDownloadLog",
         {Ok("0123456789", {}, 6)},
         1,
         "0123456789",
         {L"Open 1 - -", L"Connect 127.0.0.1:80", L"Request /qerv/Setup.dat?v=1 refresh", L"Send",
          L"Read 6", L"Read 4"},
         {kStart, "SafeDownloadFile: step 1",
          "szDefaultAgent = " + kAgent + ", szURL = http://127.0.0.1/qerv/Setup.dat?v=1",
          Opened("Direct_Connect"), "SafeDownloadFile: step 1.1, error code 0",
          "SafeDownloadFile: step 1.2", "SafeDownloadFile: step 1.4", "SafeDownloadFile: step 2",
          "SafeDownloadFile: step 3", kOk,
          "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 10",
          "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 6",
          "SafeDownloadFile: WinHttpReadData dwNumberByRead = 6",
          "SafeDownloadFile dwCurrentDownloaded = 6, TotalDownloadSize = 10",
          "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 4",
          "SafeDownloadFile: WinHttpReadData dwNumberByRead = 4",
          "SafeDownloadFile dwCurrentDownloaded = 10, TotalDownloadSize = 10", "Before WriteFile",
          "Before CloseHandle"},
         {.url = L"127.0.0.1/qerv/Setup.dat?v=1", .percent = 100, .logIs = LogIs::Exactly}});
    // Each failure before the request leaves its own last lines; the settings reading's error
    // code survives the log lines written after it.
    rows.push_back({"NoSession",
                    {},
                    0,
                    kNone,
                    {L"Open 1 - -"},
                    {"SafeDownloadFile: step 1.1, error code 12345"},
                    Stopping([](DownloadScenario& s) { s.fake.openError = 12345; })});
    rows.push_back({"UrlNotSplit",
                    {},
                    0,
                    kNone,
                    {L"Open 1 - -"},
                    {"SafeDownloadFile: step 1.2", "SafeDownloadFile: step 1.3 error code 12005"},
                    Stopping([](DownloadScenario& s) { s.fake.crackFails = true; })});
    rows.push_back({"NoConnection",
                    {},
                    0,
                    kNone,
                    {L"Open 1 - -", L"Connect 127.0.0.1:80"},
                    {"SafeDownloadFile: step 1.4", "SafeDownloadFile: step 1.5"},
                    Stopping([](DownloadScenario& s) { s.fake.connectFails = true; })});
    rows.push_back({"NoRequest",
                    {},
                    0,
                    kNone,
                    Talk({}),
                    {"SafeDownloadFile: step 2"},
                    Stopping([](DownloadScenario& s) { s.fake.openRequestFails = true; })});
    rows.push_back({"IEProxyTypeWithoutSettings",
                    {},
                    0,
                    kNone,
                    {L"IEConfig"},
                    {Opened("By_IE_Proxy"), "SafeDownloadFile: step 1.1, error code 2"},
                    {.type = WinHTTP_Download_Type_By_IE_Proxy, .logIs = LogIs::EndingWith}});
    // A null URL or target: nothing is opened.
    const Lines nullStop = {
        kStart, "SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)"};
    rows.push_back({"NullUrl",
                    {},
                    0,
                    kNone,
                    {},
                    nullStop,
                    {.url = nullptr,
                     .type = WinHTTP_Download_Type_By_Default_Proxy,
                     .logIs = LogIs::Exactly}});
    rows.push_back({"NullTarget",
                    {},
                    0,
                    kNone,
                    {},
                    nullStop,
                    {.type = WinHTTP_Download_Type_By_Default_Proxy,
                     .setup = [](DownloadScenario& s) { s.target.clear(); },
                     .logIs = LogIs::Exactly}});
    // The body: Content-Length rules, chunks, availability retries, cancel, writing.
    rows.push_back({"NoContentLength", {{.body = "body"}}, 0, kNone, sent, {}});
    rows.push_back({"ZeroContentLength", {Ok("body", 0)}, 0, kNone, sent, {}});
    // Each chunk is read as it becomes available and moves the progress bar.
    rows.push_back({"ChunksOfTheAvailableSize",
                    {Ok(Pattern(10000))},
                    1,
                    Pattern(10000),
                    Talk({L"Send", L"Read 4096", L"Read 4096", L"Read 1808"}),
                    {kOk},
                    {.percent = 100, .bar = std::vector<WPARAM>{40, 81, 100}}});
    rows.push_back({"BytesBeyondContentLengthDropped",
                    {Ok("0123456789SURPLUS", 10)},
                    1,
                    "0123456789",
                    Talk({L"Send", L"Read 17"}),
                    {kOk}});
    rows.push_back(
        {"EarlyCloseKeepsTheShortFileAfterOnePause",
         {Ok(Pattern(60), 100, 40)},
         0,
         Pattern(60),
         Talk({L"Send", L"Read 40", L"Read 20"}),
         {"SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 0", "Before CloseHandle"},
         {.pauses = {3000}, .percent = 60}});
    // A failed availability query is asked again after a pause; the third failure ends it.
    FakeResponse unavailable = Ok("abc");
    unavailable.availabilityErrors = {12002, 12002};
    rows.push_back({"AvailabilityFailsTwice",
                    {unavailable},
                    1,
                    "abc",
                    Talk({L"Send", L"Read 3"}),
                    {kOk},
                    {.pauses = {3000, 3000}}});
    unavailable.availabilityErrors.push_back(12002);
    rows.push_back({"AvailabilityFailsThrice",
                    {unavailable},
                    0,
                    "",
                    sent,
                    {"SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=12002"},
                    {.pauses = {3000, 3000}}});
    rows.push_back({"ReadFails",
                    {{.contentLength = 3, .body = "abc", .readFails = true}},
                    0,
                    "",
                    Talk({L"Send", L"Read 3"}),
                    {"SafeDownloadFile return by WinHttpReadData error"}});
    // A cancelled attempt starts nothing on the network and makes no file; during the body the
    // flag is read once a read has returned, before its bytes count, and what was written stays.
    const FakeResponse k300 = Ok(Pattern(300), {}, 100);
    const std::string cancelled =
        "SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User";
    rows.push_back({"CancelledBeforeTheStartOpensNothing",
                    {k300},
                    0,
                    kNone,
                    {},
                    {kStart, "SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User"},
                    {.setup = Cancel,
                     .status = WinHTTP_Download_Status_Cancel_By_User,
                     .logIs = LogIs::Exactly}});
    rows.push_back({"CancelledDuringTheRequestOpensNoFile",
                    {k300},
                    0,
                    kNone,
                    sent,
                    {kOk, cancelled},
                    {.setup = CancelAtSend<0>, .status = WinHTTP_Download_Status_Cancel_By_User}});
    rows.push_back({"CancelledDuringAReadStopsWhenItCompletes",
                    {k300},
                    0,
                    Pattern(100),
                    Talk({L"Send", L"Read 100", L"Read 100"}),
                    {cancelled},
                    {.setup = CancelDuringSecondRead,
                     .status = WinHTTP_Download_Status_Cancel_By_User,
                     .percent = 33}});
    // Each piece is written as it arrives: a failed write ends the download there.
    rows.push_back({"FailedWriteFailsThoughEveryByteArrived",
                    {Ok("whole body")},
                    0,
                    kNone,
                    Talk({L"Send", L"Read 10"}),
                    {"WriteFile Error !"},
                    {.setup = UnwritableTarget, .percent = -1}});
    return rows;
}

class SafeDownloadFileEnds : public ::testing::TestWithParam<EndingRow> {};

TEST_P(SafeDownloadFileEnds, AsTheServerAndTheCallerScriptIt) {
    const EndingRow& row = GetParam();
    Expect(row.name, row.responses, row.result, row.file, row.calls, row.log, row.extra);
}

INSTANTIATE_TEST_SUITE_P(Rows, SafeDownloadFileEnds, ::testing::ValuesIn(EndingRows()),
                         [](const ::testing::TestParamInfo<EndingRow>& info) {
                             return std::string(info.param.name);
                         });

// What a resume point holds, compared whole.
std::string Described(const ResumePoint& point) {
    return std::to_string(point.nBytes) + "/" + std::to_string(point.nTotal) + " " +
           point.szValidator;
}

ResumePoint Point(std::uint32_t bytes, std::uint32_t total, const char* validator) {
    ResumePoint point;
    point.nBytes = bytes;
    point.nTotal = total;
    std::snprintf(point.szValidator, sizeof(point.szValidator), "%s", validator);
    return point;
}

FakeResponse Partial(const std::string& body, const wchar_t* range,
                     std::optional<DWORD> length = {}) {
    FakeResponse response = Ok(body, length);
    response.status = 206;
    if (range != nullptr) response.headers[WINHTTP_QUERY_CONTENT_RANGE] = range;
    return response;
}

FakeResponse Tagged(FakeResponse response, const wchar_t* etag, const wchar_t* date = nullptr) {
    if (etag != nullptr) response.headers[WINHTTP_QUERY_ETAG] = etag;
    if (date != nullptr) response.headers[WINHTTP_QUERY_LAST_MODIFIED] = date;
    return response;
}

// A download with a resume point: the part on disk before, the point before and after, the
// file, the calls (the Range and If-Range headers among them), the log lines in order and the
// progress bar.
TEST(SafeDownloadFile, AsksForTheRestAndAppendsOnlyWhatContinuesThePart) {
    const struct {
        const char* name;
        const char* onDisk;  // null: no file
        ResumePoint before;
        std::vector<FakeResponse> responses;
        DWORD result;
        std::string file;
        Calls calls;
        Lines log;
        std::string after;
        std::vector<WPARAM> bar;
        void (*setup)(DownloadScenario&) = nullptr;
    } kRows[] = {
        {"206ForTheRestIsAppended",
         "0123",
         Point(4, 10, "\"v1\""),
         {Tagged(Partial("456789", L"bytes 4-9/10"), L"\"v1\"")},
         1,
         "0123456789",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send", L"Read 6"}),
         {"SafeDownloadFile: resume dwCurrentDownloaded = 4, TotalDownloadSize = 10",
          "SafeDownloadFile: session connected, request opened, status 206 [OK]",
          "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 6",
          "SafeDownloadFile dwCurrentDownloaded = 10, TotalDownloadSize = 10", "Before WriteFile"},
         "10/10 \"v1\"",
         {40, 100}},
        {"DateValidatorAndLargePackage",
         "0123",
         Point(4, 209715200, "Tue, 14 May 2024 08:00:00 GMT"),
         {Tagged(Partial("4567", L"bytes 4-209715199/209715200", 209715196), L"\"v1\"",
                 L"Tue, 14 May 2024 08:00:00 GMT")},
         0,
         "01234567",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: Tue, 14 May 2024 08:00:00 GMT", L"Send",
               L"Read 4"}),
         {"SafeDownloadFile dwCurrentDownloaded = 8, TotalDownloadSize = 209715200"},
         "8/209715200 Tue, 14 May 2024 08:00:00 GMT",
         {0, 0}},
        {"200ToTheRequestStartsAgain",
         "0123",
         Point(4, 10, "\"v1\""),
         {Tagged(Ok("ABCDEFGHIJ"), L"\"v2\"")},
         1,
         "ABCDEFGHIJ",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send", L"Read 10"}),
         {kOk, "SafeDownloadFile: resume refused, download from the start"},
         "10/10 \"v2\"",
         {100}},
        {"206OfAnotherStartIsRefused",
         "0123",
         Point(4, 10, "\"v1\""),
         {Partial("0123456789", L"bytes 0-9/10")},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        {"206OfAnotherTotalIsRefused",
         "0123",
         Point(4, 10, "\"v1\""),
         {Partial("4567890", L"bytes 4-10/11")},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        // The rest must come from the version of the part: the 206 names the validator asked
        // with, or it is refused.
        {"206OfAnotherVersionIsRefused",
         "0123",
         Point(4, 10, "\"v1\""),
         {Tagged(Partial("456789", L"bytes 4-9/10"), L"\"v2\"")},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        {"206OfAnotherDateIsRefused",
         "0123",
         Point(4, 10, "Tue, 14 May 2024 08:00:00 GMT"),
         {Tagged(Partial("456789", L"bytes 4-9/10"), L"\"v1\"", L"Wed, 15 May 2024 08:00:00 GMT")},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: Tue, 14 May 2024 08:00:00 GMT", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        {"206NamingNoVersionIsRefused",
         "0123",
         Point(4, 10, "\"v1\""),
         {Partial("456789", L"bytes 4-9/10")},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        {"206WithoutContentRangeIsRefused",
         "0123",
         Point(4, 10, "\"v1\""),
         {Partial("456789", nullptr)},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by Content-Range refused"},
         "0/0 ",
         {}},
        {"OtherAnswersFailAsBefore",
         "0123",
         Point(4, 10, "\"v1\""),
         {{.status = 416}},
         0,
         "0123",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {Failed(416)},
         "4/10 \"v1\"",
         {}},
        {"PartOnDiskNotAsRecorded",
         "012",
         Point(4, 10, "\"v1\""),
         {Tagged(Partial("456789", L"bytes 4-9/10"), L"\"v1\"")},
         0,
         "012",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send"}),
         {"SafeDownloadFile return by CreateFileW error"},
         "0/0 ",
         {}},
        {"HeadersNotAddedAskForTheWhole",
         "0123",
         Point(4, 10, "\"v1\""),
         {Ok("ABCDEFGHIJ")},
         1,
         "ABCDEFGHIJ",
         Talk({L"AddHeaders Range: bytes=4-\r\nIf-Range: \"v1\"", L"Send", L"Read 10"}),
         {kOk},
         "10/10 ",
         {100},
         [](DownloadScenario& s) { s.fake.addHeadersFails = true; }},
        // The first answer gives the validator: a strong ETag, else Last-Modified, else none.
        {"CutAnswerKeepsItsETag",
         nullptr,
         {},
         {Tagged(Ok(Pattern(60), 100, 40), L"\"v1\"", L"Tue, 14 May 2024 08:00:00 GMT")},
         0,
         Pattern(60),
         Talk({L"Send", L"Read 40", L"Read 20"}),
         {"Before CloseHandle"},
         "60/100 \"v1\"",
         {40, 60}},
        {"WeakETagGivesWayToTheDate",
         nullptr,
         {},
         {Tagged(Ok(Pattern(60), 100, 40), L"W/\"v1\"", L"Tue, 14 May 2024 08:00:00 GMT")},
         0,
         Pattern(60),
         Talk({L"Send", L"Read 40", L"Read 20"}),
         {},
         "60/100 Tue, 14 May 2024 08:00:00 GMT",
         {40, 60}},
        {"NoValidatorNoResume",
         nullptr,
         {},
         {Ok(Pattern(60), 100, 40)},
         0,
         Pattern(60),
         Talk({L"Send", L"Read 40", L"Read 20"}),
         {},
         "60/100 ",
         {40, 60}},
        // A 206 that the request did not ask for is taken whole, as a 200 is, but a cut one
        // leaves nothing that a later try would continue.
        {"Unasked206LeavesNothingToContinue",
         nullptr,
         {},
         {Tagged(Partial(Pattern(30), L"bytes 40-99/100", 60), L"\"v1\"")},
         0,
         Pattern(30),
         Talk({L"Send", L"Read 30"}),
         {"SafeDownloadFile: session connected, request opened, status 206 [OK]"},
         "30/60 ",
         {50}},
        {"CancelKeepsWhatWasWritten",
         nullptr,
         {},
         {Tagged(Ok(Pattern(300), {}, 100), L"\"v1\"")},
         0,
         Pattern(100),
         Talk({L"Send", L"Read 100", L"Read 100"}),
         {},
         "100/300 \"v1\"",
         {33},
         CancelDuringSecondRead},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.name);
        DownloadScenario s;
        s.fake.responses = row.responses;
        if (row.setup != nullptr) row.setup(s);
        if (row.onDisk != nullptr) {
            ASSERT_TRUE(WriteBytes(s.target, {row.onDisk, row.onDisk + std::strlen(row.onDisk)}));
        }
        ResumePoint point = row.before;
        ProgressProbe bar;
        EXPECT_EQ(s.wrapper.SafeDownloadFile(kFakeUrl, s.target.c_str(), bar.window(), &s.cancel,
                                             WinHTTP_Download_Type_Direct_Connect, nullptr, nullptr,
                                             &s.percent, {&point, nullptr}),
                  row.result);
        EXPECT_EQ(FileText(s.target), row.file);
        EXPECT_EQ(s.fake.calls, row.calls);
        EXPECT_EQ(Described(point), row.after);
        EXPECT_EQ(bar.Positions(), row.bar);
        const Lines lines = s.log.Lines();
        auto at = lines.begin();
        for (const std::string& line : row.log) {
            at = std::find(at, lines.end(), line);
            EXPECT_NE(at, lines.end()) << "no \"" << line << "\" in order in the log";
        }
    }
}

}  // namespace
