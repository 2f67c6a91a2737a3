// Download attempts against the loopback servers (scripts/with-servers.sh): the six attempts of a
// run, the proxies that Wine's WinHTTP reads from its settings, and a transfer that stalls.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "app/message_table.h"
#include "app/setup_worker.h"
#include "download/download_file.h"
#include "download_scenario.h"
#include "fault_server.h"
#include "recording_view.h"
#include "trace_recorder.h"

namespace {

using namespace testsupport;

// Wine's WinHTTP sends a proxy the path alone, instead of the whole address, when the proxy and
// the server have the same host name; the proxies are 127.0.0.1, so proxied servers are named so.
constexpr wchar_t kProxiedHost[] = L"localhost";
constexpr wchar_t kOpenProxy[] = L"QERV_TEST_PROXY_PORT";
constexpr wchar_t kAuthProxy[] = L"QERV_TEST_AUTH_PROXY_PORT";
constexpr char kFailed[] = "SafeDownloadFile: authentication failed";

// Seeds the proxy settings that Wine's WinHTTP reads, and deletes them again (the build's own
// prefix has none): the user's "DefaultConnectionSettings" (magic 0x46, a counter, flags with 2
// for a static proxy, then the length-prefixed proxy list, bypass list and script address), or
// the machine's "WinHttpSettings", WinHTTP's default proxy (magic 0x18, a zero, flags, proxy list
// and bypass list), in both views, as an administrator sets it on 64-bit Windows.
class SeededProxy {
  public:
    SeededProxy(bool user, const wchar_t* portVariable)
        : m_root(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
          m_name(user ? L"DefaultConnectionSettings" : L"WinHttpSettings"),
          m_views(user ? std::vector<REGSAM>{0}
                      : std::vector<REGSAM>{KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const std::wstring port = Env(portVariable);
        const std::string proxy = "127.0.0.1:" + std::string(port.begin(), port.end());
        const std::vector<std::uint32_t> words = {user ? 0x46u : 0x18u, user ? 1u : 0u, 3u,
                                                  static_cast<std::uint32_t>(proxy.size())};
        std::vector<BYTE> blob(reinterpret_cast<const BYTE*>(words.data()),
                               reinterpret_cast<const BYTE*>(words.data() + words.size()));
        blob.insert(blob.end(), proxy.begin(), proxy.end());
        blob.resize(blob.size() + (user ? 8 : 4));  // the empty lists that follow
        for (REGSAM view : m_views) {
            seeded &= RegSetKeyValueW(Key(view).get(), nullptr, m_name, REG_BINARY, blob.data(),
                                      static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
        }
    }
    ~SeededProxy() {
        for (REGSAM view : m_views) RegDeleteValueW(Key(view).get(), m_name);
    }

    bool seeded = true;

  private:
    std::unique_ptr<HKEY__, decltype(&RegCloseKey)> Key(REGSAM view) const {
        HKEY key = nullptr;
        RegCreateKeyExW(
            m_root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
            0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr);
        return {key, &RegCloseKey};
    }

    HKEY m_root;
    const wchar_t* m_name;
    std::vector<REGSAM> m_views;
};

class Attempts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env(L"QERV_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    }
    // A fresh object each time, so that no proxy settings are cached from an earlier download.
    // It is never freed, as in the program: a thread given up on may still use it.
    static WinHttpWrapper* FreshDownloadObject() { return new WinHttpWrapper(); }

    TraceRecorder traces;
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    WinHttpWrapper* wrapper = FreshDownloadObject();
    DownloadLogTail log;
};

// The worker's download stage: every attempt fails, first on libcurl (its forced https meets
// plain-http ports), then on WinHTTP (404 for the package, 500 for the alternative address), over
// the direct connection, the Internet Explorer proxy and WinHTTP's default proxy in turn.
TEST_F(Attempts, SixAttemptsRunOverTheThreeTypesEachFallingBackFromLibcurlToWinHttp) {
    const SeededProxy ieProxy(true, kOpenProxy);
    ASSERT_TRUE(ieProxy.seeded);
    const std::wstring url =
        LoopbackUrl(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin", kProxiedHost);
    const std::wstring alternate =
        LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/status/500", kProxiedHost);
    RecordingView view;
    EXPECT_EQ(DownloadPackage(view, wrapper, target, url, alternate), 0);

    // The attempts' own lines, without the samples and libcurl's error texts.
    const std::vector<std::wstring> attempts =
        Starting(traces.Lines(), {L"https://", L"DownloadFile ", L"Start DownloadThread",
                                  L"Download curl failed", L"Cancel download", L"pqrlo - 1: "});
    std::vector<std::wstring> expected;
    std::vector<std::string> logged;
    for (const wchar_t* type : {L"1", L"2", L"3"}) {
        for (const std::wstring& address : {url, alternate}) {
            expected.insert(expected.end(), {L"Start DownloadThread", L"https" + address.substr(4),
                                             L"Download curl failed"});
            if (address == url) expected.push_back(std::wstring(L"DownloadFile ") + type);
        }
    }
    expected.push_back(L"pqrlo - 1: bRet = 0");
    EXPECT_EQ(attempts, expected);
    for (const char* type : {"Direct_Connect", "By_IE_Proxy", "By_Default_Proxy"}) {
        logged.insert(logged.end(), {Opened(type), Failed(404), Opened(type), Failed(500)});
    }
    EXPECT_EQ(Starting(log.Lines(), {"WrapperOpen type", kFailed}), logged);
    EXPECT_EQ(
        view.calls,
        (std::vector<std::wstring>{
            L"Pause", L"SetStatusText " + GetMessageText(kMsgSwitchToIeProxy), L"Resume", L"Pause",
            L"SetStatusText " + GetMessageText(kMsgSwitchToDefaultProxy), L"Resume"}));
    EXPECT_EQ(traces.Count(L"Cancel download"), 0);
    EXPECT_FALSE(FileExists(target));
}

// Each proxy setting is tried through the open proxy and through the one that wants credentials,
// whose 407 proves that the proxy was really asked.
TEST_F(Attempts, ReachTheServerThroughTheConfiguredProxy) {
    const std::string content = Pattern(200000);
    ASSERT_TRUE(
        WriteBytes(Env(L"QERV_TEST_WWW_WIN") + L"\\proxied.bin", {content.begin(), content.end()}));
    // ieSettings: the proxy is the IE settings' static one, else WinHTTP's default proxy; https:
    // nginx's HTTPS port, else its plain one; curlError: what libcurl's error text names (null:
    // libcurl succeeds); log: the WinHTTP path's key lines.
    const auto check = [&](const char* name, bool ieSettings, const wchar_t* proxyPort, bool https,
                           int result, const wchar_t* curlError,
                           const std::vector<std::string>& logged) {
        SCOPED_TRACE(name);
        wrapper = FreshDownloadObject();
        traces.Clear();
        const SeededProxy settings(ieSettings, proxyPort);
        ASSERT_TRUE(settings.seeded);
        const std::wstring url = LoopbackUrl(
            https ? L"https" : L"http", https ? L"QERV_TEST_HTTPS_PORT" : L"QERV_TEST_HTTP_PORT",
            L"/proxied.bin", kProxiedHost);
        const DownloadLogTail rowLog;
        EXPECT_EQ(DownloadFile(wrapper, url.c_str(), target.c_str(), nullptr,
                               ieSettings ? WinHTTP_Download_Type_By_IE_Proxy
                                          : WinHTTP_Download_Type_By_Default_Proxy)
                      .nResult,
                  result);
        EXPECT_EQ(traces.Count(L"download url ok"), curlError == nullptr ? 1 : 0);
        EXPECT_EQ(traces.Count(L"Download curl failed"), curlError == nullptr ? 0 : 1);
        bool named = curlError == nullptr;
        for (const std::wstring& line : traces.Lines()) {
            named |= curlError != nullptr && line.find(curlError) != line.npos;
        }
        EXPECT_TRUE(named) << "libcurl's error text does not name " << curlError;
        std::vector<std::string> lines = Starting(
            rowLog.Lines(), {"WrapperOpen type", "SafeDownloadFile: session connected", kFailed});
        if (lines.size() > logged.size()) lines.resize(logged.size());
        EXPECT_EQ(lines, logged);
        EXPECT_TRUE(FileText(target) == (result == 1 ? content : "(missing)"))
            << "the file differs";
        DeleteFileW(target.c_str());
    };
    const std::string ie = Opened("By_IE_Proxy"), byDefault = Opened("By_Default_Proxy");
    const std::string k407 = Failed(407);
    // libcurl is given the static proxy of the IE settings and tunnels through it ...
    check("IEProxyCarriesLibcurl", true, kOpenProxy, true, 1, nullptr, {});
    // ... which the proxy that wants credentials refuses; WinHTTP then tries that proxy too.
    check("IEProxyRefusesLibcurl", true, kAuthProxy, true, 0, L"407", {ie});
    // Over plain http libcurl's forced https fails, and WinHTTP goes through the IE proxy.
    check("IEProxyCarriesWinHttp", true, kOpenProxy, false, 1, L"", {ie, kOk});
    check("IEProxyChallengesWinHttp", true, kAuthProxy, false, 0, L"407", {ie, k407});
    // The default proxy is WinHTTP's alone: libcurl goes direct and fails on plain http.
    check("DefaultProxyCarriesWinHttp", false, kOpenProxy, false, 1, L"", {byDefault, kOk});
    check("DefaultProxyChallenges", false, kAuthProxy, false, 0, L"", {byDefault, k407});
}

// A transfer that stalls mid-body in real time: libcurl fails on its forced https, WinHTTP gets
// 5 % of the body and then nothing. The watchdog cancels after five samples without a rise and
// DownloadFile returns two seconds later, while the thread is still blocked in its read.
TEST_F(Attempts, StalledTransferIsCancelledAfterFiveSamplesAndGivenUpTwoSecondsLater) {
    const std::wstring url =
        LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/stall/500000/10000000");
    const unsigned long long start = SteadyMs();
    const AttemptOutcome outcome = DownloadFile(wrapper, url.c_str(), target.c_str(), nullptr,
                                                WinHTTP_Download_Type_Direct_Connect);
    const unsigned long long end = SteadyMs();
    EXPECT_EQ(outcome.nResult, 0);
    EXPECT_TRUE(outcome.bCancelled);
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
    EXPECT_EQ(outcome.nPercent, 5);
    // WinHTTP received the first part of the body and waits for the rest.
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "SafeDownloadFile dwCurrentDownloaded = 500000, TotalDownloadSize = 10000000");
}

// A link that drops every 25 MiB of a 200 MiB package: each try of the run's attempts, libcurl's
// and WinHTTP's, continues what the last one left, and the eighth brings the last part. The
// Internet Explorer type has no proxy here, so its attempts try libcurl alone.
TEST_F(Attempts, PackageCutEvery25MiBArrivesByResumingAcrossTheAttempts) {
    const std::wstring url = FaultUrl(L"https", L"/ranged/209715200?id=a-cut&cut=26214400");
    RecordingView view;
    EXPECT_EQ(DownloadPackage(view, wrapper, target, url, url), 1);
    EXPECT_TRUE(HoldsFaultBody(target, 209715200)) << "the file differs";
    std::vector<std::string> ranges = {"-"};
    for (std::uint32_t at = 25u << 20; at < 200u << 20; at += 25u << 20) {
        ranges.push_back("bytes=" + std::to_string(at) + "-");
    }
    EXPECT_EQ(FaultRanges("id=a-cut&"), ranges);
    EXPECT_EQ(traces.Count(L"Start DownloadThread"), 5);
    EXPECT_EQ(traces.Count(L"Cancel download"), 0);
    // Only the package is left in the folder.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(dir.File(L"*.part").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

}  // namespace
