// Download attempts against the loopback servers (scripts/with-servers.sh): the six attempts of a
// run, the proxies that Wine's WinHTTP reads from its settings, and a transfer that stalls.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/message_table.h"
#include "app/setup_worker.h"
#include "app/shared_state.h"
#include "download/download_file.h"
#include "download_scenario.h"
#include "recording_view.h"
#include "trace_recorder.h"

namespace {

using namespace testsupport;

// Wine's WinHTTP sends a proxy the path alone, instead of the whole address, when the proxy and
// the server have the same host name; the proxies are 127.0.0.1, so proxied servers are named so.
constexpr wchar_t kProxiedHost[] = L"localhost";
constexpr wchar_t kOpenProxy[] = L"QERV_TEST_PROXY_PORT";
constexpr wchar_t kAuthProxy[] = L"QERV_TEST_AUTH_PROXY_PORT";
const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);
const std::string kOk = "SafeDownloadFile: session connected, request opened, status 200 [OK]";
const std::string kFailed = "SafeDownloadFile: authentication failed, dwLastStatus = ";

std::string Opened(const char* type) {
    return std::string("WrapperOpen type WinHTTP_Download_Type_") + type + ", szAgent=" + kAgent;
}

std::wstring LoopbackUrl(const wchar_t* scheme, const wchar_t* portVariable,
                         const std::wstring& path, const wchar_t* host = L"127.0.0.1") {
    return std::wstring(scheme) + L"://" + host + L":" + Env(portVariable) + path;
}

std::string LoopbackProxy(const wchar_t* portVariable) {
    const std::wstring port = Env(portVariable);
    return "127.0.0.1:" + std::string(port.begin(), port.end());
}

// Seeds the proxy settings that Wine's WinHTTP reads, and deletes them again (the build's own
// prefix has none): the user's "DefaultConnectionSettings" (magic 0x46, a counter, flags with 2
// for a static proxy, then the length-prefixed proxy list, bypass list and script address), or
// the machine's "WinHttpSettings", WinHTTP's default proxy (magic 0x18, a zero, flags, proxy list
// and bypass list), in both views, as an administrator sets it on 64-bit Windows.
class SeededProxy {
  public:
    SeededProxy(bool user, const std::string& proxy) : user_(user) {
        std::vector<BYTE> blob;
        const auto append = [&blob](std::uint32_t value) {
            for (int i = 0; i < 4; ++i) blob.push_back(static_cast<BYTE>(value >> (8 * i)));
        };
        for (std::uint32_t word : {user ? 0x46u : 0x18u, user ? 1u : 0u, 3u}) append(word);
        append(static_cast<std::uint32_t>(proxy.size()));
        blob.insert(blob.end(), proxy.begin(), proxy.end());
        for (int empty = user ? 2 : 1; empty > 0; --empty) append(0);
        seeded = true;
        for (REGSAM view : Views()) {
            HKEY key = nullptr;
            seeded &= RegCreateKeyExW(Root(), kKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                                      nullptr) == ERROR_SUCCESS &&
                      RegSetValueExW(key, Name(), 0, REG_BINARY, blob.data(),
                                     static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~SeededProxy() {
        for (REGSAM view : Views()) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(Root(), kKey, 0, KEY_WRITE | view, &key) != ERROR_SUCCESS) continue;
            RegDeleteValueW(key, Name());
            RegCloseKey(key);
        }
    }

    bool seeded = false;

  private:
    static constexpr wchar_t kKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    HKEY Root() const { return user_ ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
    const wchar_t* Name() const {
        return user_ ? L"DefaultConnectionSettings" : L"WinHttpSettings";
    }
    std::vector<REGSAM> Views() const {
        return user_ ? std::vector<REGSAM>{0}
                     : std::vector<REGSAM>{KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    }

    bool user_;
};

class Attempts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env(L"QERV_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
        // A fresh download object, so that no proxy settings are cached from an earlier test. It
        // is never freed, as in the program: a thread given up on may still use it.
        g_pWinHttpWrapper.store(new WinHttpWrapper());
    }

    TraceRecorder traces;
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    DownloadThreadParam record;
    DownloadLogTail log;
};

// The worker's download stage: every attempt fails, first on libcurl (its forced https meets
// plain-http ports), then on WinHTTP (404 for the package, 500 for the alternative address), over
// the direct connection, the Internet Explorer proxy and WinHTTP's default proxy in turn.
TEST_F(Attempts, SixAttemptsRunOverTheThreeTypesEachFallingBackFromLibcurlToWinHttp) {
    const SeededProxy ieProxy(true, LoopbackProxy(kOpenProxy));
    ASSERT_TRUE(ieProxy.seeded);
    const std::wstring url =
        LoopbackUrl(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin", kProxiedHost);
    const std::wstring alternate =
        LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/status/500", kProxiedHost);
    RecordingView view;
    EXPECT_EQ(DownloadPackage(view, &record, target, url, alternate), 0);

    // The attempts' own lines, without the samples and libcurl's error texts.
    std::vector<std::wstring> attempts;
    for (const std::wstring& line : traces.Lines()) {
        if (line.rfind(L"https://", 0) == 0 || line.rfind(L"DownloadFile ", 0) == 0 ||
            line == L"Start DownloadThread" || line == L"Download curl failed" ||
            line == L"Cancel download" || line == L"pqrlo - 1: bRet = 0") {
            attempts.push_back(line);
        }
    }
    std::vector<std::wstring> expected;
    for (const wchar_t* type : {L"1", L"2", L"3"}) {
        for (const std::wstring& address : {url, alternate}) {
            expected.insert(expected.end(), {L"Start DownloadThread", L"https" + address.substr(4),
                                             L"Download curl failed"});
            if (address == url) expected.push_back(std::wstring(L"DownloadFile ") + type);
        }
    }
    expected.push_back(L"pqrlo - 1: bRet = 0");
    EXPECT_EQ(attempts, expected);
    EXPECT_EQ(
        view.calls,
        (std::vector<std::wstring>{
            L"Pause", L"SetStatusText " + GetMessageText(kMsgSwitchToIeProxy), L"Resume", L"Pause",
            L"SetStatusText " + GetMessageText(kMsgSwitchToDefaultProxy), L"Resume"}));
    std::vector<std::string> logged;
    for (const char* type : {"Direct_Connect", "By_IE_Proxy", "By_Default_Proxy"}) {
        for (const char* status : {"404", "500"}) {
            logged.insert(logged.end(), {Opened(type), kFailed + status});
        }
    }
    EXPECT_EQ(log.Starting({"WrapperOpen type", kFailed}), logged);
    EXPECT_EQ(record.nType, WinHTTP_Download_Type_By_Default_Proxy);
    EXPECT_EQ(record.bCancel.load(), 0);
    EXPECT_EQ(record.nResult.load(), 0);
    EXPECT_TRUE(record.bFinished.load());
    EXPECT_EQ(FileText(target), "(missing)");
}

// Each proxy setting is tried through the open proxy and through the one that wants credentials,
// whose 407 proves that the proxy was really asked.
TEST_F(Attempts, ReachTheServerThroughTheConfiguredProxy) {
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + i / 257);
    ASSERT_TRUE(
        WriteBytes(Env(L"QERV_TEST_WWW_WIN") + L"\\proxied.bin", {content.begin(), content.end()}));
    const std::string ie = Opened("By_IE_Proxy"), byDefault = Opened("By_Default_Proxy");
    const std::string k407 = kFailed + "407";
    const struct {
        const char* name;
        bool ieSettings;  // else WinHTTP's default proxy
        const wchar_t* proxyPort;
        bool https;  // nginx's HTTPS port, else its plain one
        int result;
        bool curlSucceeds;
        const wchar_t* curlErrorHas;   // in libcurl's error text when it fails
        std::vector<std::string> log;  // the WinHTTP path's key lines
    } rows[] = {
        // libcurl is given the static proxy of the IE settings and tunnels through it ...
        {"IEProxyCarriesLibcurl", true, kOpenProxy, true, 1, true, L"", {}},
        // ... which the proxy that wants credentials refuses; WinHTTP then tries that proxy too.
        {"IEProxyRefusesLibcurl", true, kAuthProxy, true, 0, false, L"407", {ie}},
        // Over plain http libcurl's forced https fails, and WinHTTP goes through the IE proxy.
        {"IEProxyCarriesWinHttp", true, kOpenProxy, false, 1, false, L"", {ie, kOk}},
        {"IEProxyChallengesWinHttp", true, kAuthProxy, false, 0, false, L"407", {ie, k407}},
        // The default proxy is WinHTTP's alone: libcurl goes direct and fails on plain http.
        {"DefaultProxyCarriesWinHttp", false, kOpenProxy, false, 1, false, L"", {byDefault, kOk}},
        {"DefaultProxyChallenges", false, kAuthProxy, false, 0, false, L"", {byDefault, k407}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        g_pWinHttpWrapper.store(new WinHttpWrapper());
        traces.Clear();
        const SeededProxy settings(row.ieSettings, LoopbackProxy(row.proxyPort));
        ASSERT_TRUE(settings.seeded);
        const std::wstring url =
            LoopbackUrl(row.https ? L"https" : L"http",
                        row.https ? L"QERV_TEST_HTTPS_PORT" : L"QERV_TEST_HTTP_PORT",
                        L"/proxied.bin", kProxiedHost);
        const DownloadLogTail rowLog;
        EXPECT_EQ(DownloadFile(&record, url.c_str(), target.c_str(), nullptr,
                               row.ieSettings ? WinHTTP_Download_Type_By_IE_Proxy
                                              : WinHTTP_Download_Type_By_Default_Proxy),
                  row.result);
        EXPECT_EQ(traces.Count(L"download url ok"), row.curlSucceeds ? 1 : 0);
        EXPECT_EQ(traces.Count(L"Download curl failed"), row.curlSucceeds ? 0 : 1);
        bool named = *row.curlErrorHas == L'\0';
        for (const std::wstring& line : traces.Lines())
            named |= line.find(row.curlErrorHas) != line.npos;
        EXPECT_TRUE(named) << "libcurl's error text does not name "
                           << ::testing::PrintToString(std::wstring(row.curlErrorHas));
        std::vector<std::string> logged =
            rowLog.Starting({"WrapperOpen type", "SafeDownloadFile: session connected", kFailed});
        if (logged.size() > row.log.size()) logged.resize(row.log.size());
        EXPECT_EQ(logged, row.log);
        EXPECT_TRUE(FileText(target) == (row.result == 1 ? content : "(missing)"))
            << "the file differs";
        DeleteFileW(target.c_str());
    }
}

// A transfer that stalls mid-body in real time: libcurl fails on its forced https, WinHTTP gets
// 5 % of the body and then nothing. The watchdog cancels after five samples without a rise and
// DownloadFile returns two seconds later, while the thread is still blocked in its read.
TEST_F(Attempts, StalledTransferIsCancelledAfterFiveSamplesAndGivenUpTwoSecondsLater) {
    const std::wstring url =
        LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/stall/500000/10000000");
    const unsigned long long start = SteadyMs();
    EXPECT_EQ(DownloadFile(&record, url.c_str(), target.c_str(), nullptr,
                           WinHTTP_Download_Type_Direct_Connect),
              0);
    const unsigned long long end = SteadyMs();
    EXPECT_EQ(traces.Count(L"Download curl failed"), 1);
    EXPECT_EQ(traces.Count(L"Cancel download"), 1);
    const std::vector<std::wstring> samples = traces.Starting(L"Download percent: ");
    ASSERT_GE(samples.size(), 6u);
    EXPECT_EQ(std::vector<std::wstring>(samples.end() - 6, samples.end()),
              std::vector<std::wstring>(6, L"Download percent: 5"));
    const unsigned long long cancelled = traces.TimeOf(L"Cancel download");
    EXPECT_GE(end - cancelled, 1900u);
    EXPECT_LT(end - cancelled, 3000u);
    EXPECT_GE(end - start, 7000u);
    EXPECT_LT(end - start, 15000u);
    EXPECT_EQ(record.bCancel.load(), 1);
    EXPECT_FALSE(record.bFinished.load());
    EXPECT_EQ(record.nPercent.load(), 5);
    EXPECT_FALSE(FileExists(target));
    // WinHTTP received the headers and the first part of the body, and waits for the rest.
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "SafeDownloadFile dwCurrentDownloaded = 500000, TotalDownloadSize = 10000000");
    EXPECT_EQ(log.Starting({"SafeDownloadFile: WinHttpQueryHeaders"}),
              std::vector<std::string>{
                  "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 10000000"});
}

}  // namespace
