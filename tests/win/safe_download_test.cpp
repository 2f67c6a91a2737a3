// SafeDownloadFile against the scripted WinHTTP: one row per server behaviour and call, with the
// outcome, the file left behind and the trace log lines that tell what happened.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "download/winhttp_rules.h"
#include "download_scenario.h"

namespace {

using namespace testsupport;

constexpr DWORD kProxy = WINHTTP_AUTH_TARGET_PROXY;
constexpr DWORD kServer = WINHTTP_AUTH_TARGET_SERVER;
const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);
const std::string kOk = "SafeDownloadFile: session connected, request opened, status 200 [OK]";
const std::string kStart = "SafeDownloadFile: start WinHTTP_Download_Status_Init";
const std::string kNullStop =
    "SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)";

std::string Failed(int status) {
    return "SafeDownloadFile: authentication failed, dwLastStatus = " + std::to_string(status);
}

FakeResponse Fails(FakeResponse response, DWORD send, DWORD receive = 0) {
    response.sendError = send;
    response.receiveError = receive;
    return response;
}

FakeResponse With(FakeResponse response, void (*change)(FakeResponse&)) {
    change(response);
    return response;
}

// "abc", whose first availability queries fail.
FakeResponse Unavailable(size_t failures) {
    FakeResponse response = OkResponse("abc");
    response.availabilityErrors.assign(failures, 12002);
    return response;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

const FakeResponse kBody = OkResponse("body");
const std::string k300 = Pattern(300);

// A progress bar stand-in that keeps the positions it is sent.
std::vector<WPARAM> g_positions;

LRESULT CALLBACK RecordPositions(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != PBM_SETPOS) return DefWindowProcW(window, message, wParam, lParam);
    g_positions.push_back(wParam);
    return 0;
}

void WithProgressBar(DownloadScenario& s) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordPositions;
    windowClass.lpszClassName = L"QervDownloadProgressProbe";
    RegisterClassW(&windowClass);
    s.progressWindow = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, nullptr, nullptr);
    g_positions.clear();
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

std::vector<DWORD> SecurityFlags(const DownloadScenario& s) {
    std::vector<DWORD> flags;
    for (const FakeSetOption& option : s.fake.options) {
        if (option.option == WINHTTP_OPTION_SECURITY_FLAGS) flags.push_back(option.value);
    }
    return flags;
}

// The secure test is a case-sensitive search for "https" anywhere in the normalised URL.
void SecureRequest(DownloadScenario& s) {
    EXPECT_EQ(s.fake.requests.at(0).flags, static_cast<DWORD>(WINHTTP_FLAG_SECURE));
    EXPECT_EQ(SecurityFlags(s), std::vector<DWORD>{0x3300});
}

void PlainRequest(DownloadScenario& s) {
    EXPECT_EQ(s.fake.requests.at(0).flags, static_cast<DWORD>(WINHTTP_FLAG_REFRESH));
    EXPECT_EQ(SecurityFlags(s), std::vector<DWORD>{});
}

enum class LogIs { Containing, EndingWith, Exactly };

struct Row {
    const char* name = "";
    std::vector<FakeResponse> responses = {};
    void (*setup)(DownloadScenario&) = nullptr;
    const wchar_t* url = kFakeUrl;
    DWORD type = WinHTTP_Download_Type_Direct_Connect;
    const wchar_t* user = nullptr;
    const wchar_t* password = nullptr;
    DWORD result = 0;
    std::optional<DWORD> status = {};      // none: completed on success, else error
    std::optional<std::string> file = {};  // none: no file is left
    size_t opens = 1;
    int sends = 1;
    std::vector<FakeCredentials> credentials = {};
    std::vector<DWORD> reads = {};
    std::vector<unsigned> pauses = {};
    std::optional<LONG> percent = {};
    LogIs logIs = LogIs::Containing;
    std::vector<std::string> log = {};
    void (*check)(DownloadScenario&) = nullptr;
};

// The four-byte body arrives in one read and is written whole.
Row Got(Row row) {
    row.result = 1;
    row.file = "body";
    row.reads = {4};
    row.log.push_back(kOk);
    return row;
}

// A failure before the request: nothing is sent, and the log ends with the step's lines.
Row Stops(const char* name, void (*setup)(DownloadScenario&), std::vector<std::string> last) {
    return {.name = name, .setup = setup, .sends = 0, .logIs = LogIs::EndingWith, .log = last};
}

const FakeCredentials kNtlmServer{kServer, kAuthSchemeNtlm, {}, {}};
const FakeCredentials kBasicServer{kServer, kAuthSchemeBasic, {}, {}};
const FakeCredentials kBasicProxy{kProxy, kAuthSchemeBasic, {}, {}};

const std::vector<Row> kRows = {
    // Challenges: a server's is answered each time, a proxy's once.
    {.name = "ServerChallengesTwice",
     .responses = {ChallengeResponse(401, kAuthSchemeNtlm, kServer),
                   ChallengeResponse(401, kAuthSchemeNtlm, kServer)},
     .sends = 2,
     .credentials = {kNtlmServer, kNtlmServer},
     .log = {"SafeDownloadFile: status 401 [The server requires authentication]", Failed(401)}},
    {.name = "ProxyChallengesTwiceWithoutUser",
     .responses = {With(ChallengeResponse(407, kAuthSchemeBasic, kProxy),
                        [](FakeResponse& r) { r.firstScheme = kAuthSchemeBasic; }),
                   ChallengeResponse(407, kAuthSchemeBasic, kProxy)},
     .sends = 2,
     .credentials = {kBasicProxy},
     .log = {"SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: "
             "dwSupportedSchemes=1, dwFirstScheme=1, dwTarget=1",
             "SafeDownloadFile: ChooseAuthScheme for authentication",
             "SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = 1, bResults = 1",
             Failed(407)}},
    Got({.name = "ServerChallengeGetsTheGivenCredentials",
         .responses = {ChallengeResponse(401, kAuthSchemeBasic | kAuthSchemeNtlm, 0), kBody},
         .user = L"alice",
         .password = L"secret",
         .sends = 2,
         .credentials = {{0, kAuthSchemeNtlm, L"alice", L"secret"}},
         .log = {"SafeDownloadFile: WinHttpSetCredentials for authentication"}}),
    {.name = "ChallengeThenMissing",
     .responses = {ChallengeResponse(401, kAuthSchemeBasic, kServer), StatusResponse(404)},
     .sends = 2,
     .credentials = {kBasicServer},
     .log = {Failed(404)}},
    Got({.name = "ProxyThenServerChallenge",
         .responses = {ChallengeResponse(407, kAuthSchemeBasic, kProxy),
                       ChallengeResponse(401, kAuthSchemeDigest, kServer), kBody},
         .sends = 3,
         .credentials = {kBasicProxy, {kServer, kAuthSchemeDigest, {}, {}}, kBasicProxy}}),
    {.name = "SchemesOfChallengeUnreadable",
     .responses = {With(ChallengeResponse(401, kAuthSchemeBasic, 0),
                        [](FakeResponse& r) { r.authSchemesFail = true; })},
     .log = {Failed(401)}},
    // Other answers end the download with their status (0: none was read).
    {.name = "NotFound", .responses = {StatusResponse(404)}, .log = {Failed(404)}},
    {.name = "ServerError", .responses = {StatusResponse(500)}, .log = {Failed(500)}},
    {.name = "NotModified", .responses = {StatusResponse(304)}, .log = {Failed(304)}},
    {.name = "SendFails", .responses = {Fails(kBody, 12029)}, .log = {Failed(0)}},
    {.name = "ReceiveFails", .responses = {Fails(kBody, 0, 12002)}, .log = {Failed(0)}},
    {.name = "StatusQueryFails",
     .responses = {With({}, [](FakeResponse& r) { r.statusQueryFails = true; })},
     .log = {Failed(0)}},
    Got({.name = "LoginFailureStillReadsTheAnswer", .responses = {Fails(kBody, 0, 12015)}}),
    // A request is sent again when WinHTTP asks, at most ten times, and not once cancelled.
    Got({.name = "ResendAsked", .responses = {Fails(kBody, 12032), kBody}, .sends = 2}),
    Got({.name = "ResendAskedOnReceive", .responses = {Fails(kBody, 0, 12032), kBody}, .sends = 2}),
    {.name = "ResendAskedWithoutEnd",
     .responses = std::vector<FakeResponse>(12, Fails(kBody, 12032)),
     .sends = 11,
     .log = {Failed(0)}},
    {.name = "ResendAskedOnReceiveWithoutEnd",
     .responses = std::vector<FakeResponse>(12, Fails(kBody, 0, 12032)),
     .sends = 11,
     .log = {Failed(0)}},
    {.name = "CancelledAttemptDoesNotResend",
     .responses = {Fails(kBody, 12032), kBody},
     .setup = [](DownloadScenario& s) { s.cancel = 1; }},
    // The request: its flags by the URL, its path and query, host and port, and what is closed.
    Got({.name = "LowerCaseHttpsIsSecure",
         .responses = {kBody},
         .url = L"https://127.0.0.1/qerv/Setup.dat",
         .check = SecureRequest}),
    Got({.name = "UpperCaseHttpsIsNot",
         .responses = {kBody},
         .url = L"HTTPS://127.0.0.1/qerv/Setup.dat",
         .check = PlainRequest}),
    Got({.name = "HttpsInThePathIsSecure",
         .responses = {kBody},
         .url = L"http://127.0.0.1/https/Setup.dat",
         .check = SecureRequest}),
    Got({.name = "RequestCarriesPathQueryHostAndPort",
         .responses = {kBody},
         .url = L"http://127.0.0.1:8080/qerv/Setup.dat?v=2&os=64",
         .check =
             [](DownloadScenario& s) {
                 EXPECT_EQ(s.fake.connectedHost, L"127.0.0.1");
                 EXPECT_EQ(s.fake.connectedPort, 8080);
                 const FakeOpenRequest& request = s.fake.requests.at(0);
                 EXPECT_EQ(request.verb, L"GET");
                 EXPECT_EQ(request.object, L"/qerv/Setup.dat?v=2&os=64");
                 EXPECT_EQ(request.version, L"HTTP/1.1");
                 EXPECT_FALSE(request.hasReferrer);
                 EXPECT_EQ(request.acceptTypes,
                           (std::vector<std::wstring>{L"text/*", L"application/*", L"image/*"}));
                 EXPECT_EQ(s.fake.opens.at(0).agent, szDefaultAgent);
                 EXPECT_EQ(s.fake.closed, (std::vector<FakeHandleKind>{FakeHandleKind::Request,
                                                                       FakeHandleKind::Connection,
                                                                       FakeHandleKind::Session}));
             }}),
    // Every step of a whole download, in order; without a scheme the address is plain http.
    {.name = "WholeDownloadLog",
     .responses = {OkResponse("0123456789", {}, 6)},
     .url = L"127.0.0.1/qerv/Setup.dat?v=1",
     .result = 1,
     .file = "0123456789",
     .reads = {6, 4},
     .percent = 100,
     .logIs = LogIs::Exactly,
     .log = {kStart, "SafeDownloadFile: step 1",
             "szDefaultAgent = " + kAgent + ", szURL = http://127.0.0.1/qerv/Setup.dat?v=1",
             "WrapperOpen type WinHTTP_Download_Type_Direct_Connect, szAgent=" + kAgent,
             "SafeDownloadFile: step 1.1, error code 0", "SafeDownloadFile: step 1.2",
             "SafeDownloadFile: step 1.4", "SafeDownloadFile: step 2", "SafeDownloadFile: step 3",
             kOk, "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 10",
             "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 6",
             "SafeDownloadFile: WinHttpReadData dwNumberByRead = 6",
             "SafeDownloadFile dwCurrentDownloaded = 6, TotalDownloadSize = 10",
             "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 4",
             "SafeDownloadFile: WinHttpReadData dwNumberByRead = 4",
             "SafeDownloadFile dwCurrentDownloaded = 10, TotalDownloadSize = 10",
             "Before WriteFile", "Before CloseHandle"},
     .check = PlainRequest},
    // Each failure before the request leaves its own last lines.
    Stops("NoSession", [](DownloadScenario& s) { s.fake.openError = 12345; },
          {"SafeDownloadFile: step 1.1, error code 12345"}),
    Stops("UrlNotSplit", [](DownloadScenario& s) { s.fake.crackFails = true; },
          {"SafeDownloadFile: step 1.2", "SafeDownloadFile: step 1.3 error code 12005"}),
    Stops("NoConnection", [](DownloadScenario& s) { s.fake.connectFails = true; },
          {"SafeDownloadFile: step 1.4", "SafeDownloadFile: step 1.5"}),
    Stops("NoRequest", [](DownloadScenario& s) { s.fake.openRequestFails = true; },
          {"SafeDownloadFile: step 2"}),
    // The settings reading's error code survives the log lines written after it.
    {.name = "IEProxyTypeWithoutSettings",
     .type = WinHTTP_Download_Type_By_IE_Proxy,
     .opens = 0,
     .sends = 0,
     .logIs = LogIs::EndingWith,
     .log = {"WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=" + kAgent,
             "SafeDownloadFile: step 1.1, error code 2"}},
    {.name = "NullUrl",
     .url = nullptr,
     .type = WinHTTP_Download_Type_By_Default_Proxy,
     .opens = 0,
     .sends = 0,
     .logIs = LogIs::Exactly,
     .log = {kStart, kNullStop}},
    {.name = "NullTarget",
     .setup = [](DownloadScenario& s) { s.target.clear(); },
     .type = WinHTTP_Download_Type_By_Default_Proxy,
     .opens = 0,
     .sends = 0,
     .logIs = LogIs::Exactly,
     .log = {kStart, kNullStop}},
    // The body: Content-Length rules, chunks, availability retries, cancel, progress, writing.
    {.name = "NoContentLength",
     .responses = {With(kBody, [](FakeResponse& r) { r.contentLength.reset(); })}},
    {.name = "ZeroContentLength", .responses = {OkResponse("body", 0)}},
    {.name = "ChunksOfTheAvailableSize",
     .responses = {OkResponse(Pattern(10000))},
     .result = 1,
     .file = Pattern(10000),
     .reads = {4096, 4096, 1808},
     .percent = 100},
    {.name = "BytesBeyondContentLengthDropped",
     .responses = {OkResponse("0123456789SURPLUS", 10)},
     .result = 1,
     .file = "0123456789",
     .reads = {17}},
    {.name = "EarlyCloseKeepsTheShortFileAfterOnePause",
     .responses = {OkResponse(Pattern(60), 100, 40)},
     .file = Pattern(60),
     .reads = {40, 20},
     .pauses = {3000},
     .percent = 60,
     .log = {"SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 0", "Before CloseHandle"}},
    // A failed availability query is asked again after a pause; the third failure ends it.
    {.name = "AvailabilityFailsOnce",
     .responses = {Unavailable(1)},
     .result = 1,
     .file = "abc",
     .reads = {3},
     .pauses = {3000}},
    {.name = "AvailabilityFailsTwice",
     .responses = {Unavailable(2)},
     .result = 1,
     .file = "abc",
     .reads = {3},
     .pauses = {3000, 3000}},
    {.name = "AvailabilityFailsThrice",
     .responses = {Unavailable(3)},
     .file = "",
     .pauses = {3000, 3000},
     .log = {"SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=12002"}},
    {.name = "ReadFails",
     .responses = {With(OkResponse("abc"), [](FakeResponse& r) { r.readFails = true; })},
     .file = "",
     .reads = {3},
     .log = {"SafeDownloadFile return by WinHttpReadData error"}},
    {.name = "CancelledBeforeTheStartStopsAfterTheFirstChunk",
     .responses = {OkResponse(k300, {}, 100)},
     .setup = [](DownloadScenario& s) { s.cancel = 1; },
     .status = WinHTTP_Download_Status_Cancel_By_User,
     .file = "",
     .reads = {100},
     .log = {"SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User"}},
    {.name = "CancelledDuringAReadStopsWhenItCompletes",
     .responses = {OkResponse(k300, {}, 100)},
     .setup =
         [](DownloadScenario& s) {
             s.fake.onRead = [&s](int read) {
                 if (read == 1) s.cancel = 1;
             };
         },
     .status = WinHTTP_Download_Status_Cancel_By_User,
     .file = "",
     .reads = {100, 100},
     .percent = 33},
    {.name = "EveryChunkMovesTheBar",
     .responses = {OkResponse(k300, {}, 100)},
     .setup = WithProgressBar,
     .result = 1,
     .file = k300,
     .reads = {100, 100, 100},
     .percent = 100,
     .check =
         [](DownloadScenario& s) {
             EXPECT_EQ(g_positions, (std::vector<WPARAM>{33, 66, 100}));
             DestroyWindow(s.progressWindow);
         }},
    {.name = "FailedWriteFailsThoughEveryByteArrived",
     .responses = {OkResponse("whole body")},
     .setup = UnwritableTarget,
     .reads = {10},
     .percent = 100,
     .log = {"WriteFile Error !"}},
};

TEST(SafeDownloadFile, EndsAsTheServerAndTheCallerScriptIt) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        DownloadScenario s;
        s.fake.responses = row.responses;
        if (row.setup != nullptr) row.setup(s);
        const bool ownTarget = s.target == s.dir.File(L"Setup.dat");
        EXPECT_EQ(s.wrapper.SafeDownloadFile(row.url, s.target.empty() ? nullptr : s.target.c_str(),
                                             s.progressWindow, &s.cancel, row.type, row.user,
                                             row.password, &s.percent),
                  row.result);
        EXPECT_EQ(s.wrapper.m_dwStatus.load(),
                  row.status.value_or(row.result == 1 ? WinHTTP_Download_Status_Completed
                                                      : WinHTTP_Download_Status_Error));
        EXPECT_EQ(s.wrapper.m_dwType.load(), row.type);
        if (ownTarget) {
            EXPECT_EQ(FileText(s.target), row.file.value_or("(missing)"));
        }
        EXPECT_EQ(s.fake.opens.size(), row.opens);
        EXPECT_EQ(s.fake.sends, row.sends);
        EXPECT_FALSE(s.fake.scriptOverrun);
        EXPECT_EQ(s.fake.credentials, row.credentials);
        EXPECT_EQ(s.fake.readSizes, row.reads);
        EXPECT_EQ(s.pauses.Waits(), row.pauses);
        if (row.percent) {
            EXPECT_EQ(s.percent.load(), *row.percent);
        }
        EXPECT_EQ(s.fake.OpenHandles(), 0);
        std::vector<std::string> lines = s.log.Lines();
        for (const std::string& line : lines) {
            // A download that succeeds took no error return on its way, retried ones included.
            EXPECT_TRUE(row.result == 0 || line.rfind("SafeDownloadFile return by", 0) != 0)
                << line;
        }
        if (row.logIs == LogIs::EndingWith && lines.size() > row.log.size()) {
            lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(row.log.size()));
        }
        if (row.logIs == LogIs::Containing) {
            auto at = lines.begin();
            for (const std::string& line : row.log) {
                at = std::find(at, lines.end(), line);
                EXPECT_NE(at, lines.end()) << "no \"" << line << "\" in order in the log";
            }
        } else {
            EXPECT_EQ(lines, row.log);
        }
        if (row.check != nullptr) row.check(s);
    }
}

}  // namespace
