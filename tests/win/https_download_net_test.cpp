// The libcurl download path, and the toolchain's static Schannel libcurl under it, against the
// loopback nginx over HTTPS.
#include <curl/curl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "download/https_download.h"
#include "download_scenario.h"
#include "fault_server.h"
#include "hook_guards.h"
#include "trace_recorder.h"

namespace {

using namespace testsupport;
using Traces = std::vector<std::wstring>;

// Wine's Schannel leaves the certificate check to its callers, so the self-signed test server
// is accepted here although peer verification stays on.
class HttpsDownload : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_port.empty()) << "run through scripts/with-servers.sh"; }

    std::wstring Url(const std::wstring& scheme, const std::wstring& path) const {
        return scheme + L"127.0.0.1:" + m_port + L"/" + path;
    }
    std::string Serve(const std::wstring& name, size_t size) const {
        const std::string body = Pattern(size);
        EXPECT_TRUE(
            WriteBytes(Env(L"QERV_TEST_WWW_WIN") + L"\\" + name, {body.begin(), body.end()}));
        return body;
    }
    // The last position the download sent to the progress bar (-1: none).
    LONG_PTR Download(const wchar_t* proxy, const std::wstring& url, int* result) {
        const size_t before = m_bar.Positions().size();
        m_percent = 77;
        *result =
            DownloadURLByHTTPS(proxy, url.c_str(), m_file.c_str(), m_bar.window(), &m_percent);
        const std::vector<WPARAM> positions = m_bar.Positions();
        return positions.size() > before ? static_cast<LONG_PTR>(positions.back()) : -1;
    }

    const std::wstring m_port = Env(L"QERV_TEST_HTTPS_PORT");
    TempDir m_dir;
    const std::wstring m_file = m_dir.File(L"Setup.dat");
    ProgressProbe m_bar;
    TraceRecorder m_traces;
    std::atomic<LONG> m_percent{77};
};

// What each size, address, proxy setting and failure gives: the result, the progress bar's last
// position, what the target file holds (it held "old" before), the trace lines (one ending in '*'
// is a prefix), and the percentage, set to 0 once the transfer is prepared.
TEST_F(HttpsDownload, EndsAsTheAddressProxyAndServerSay) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    EXPECT_NE(std::string(info->ssl_version).find("Schannel"), std::string::npos)
        << info->ssl_version;
    const auto check = [this](const std::string& name, const wchar_t* proxy,
                              const std::wstring& url, int result, LONG_PTR position,
                              const std::string& file, const Traces& traces) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteBytes(m_file, {'o', 'l', 'd'}));
        m_traces.Clear();
        int got = 0;
        EXPECT_EQ(Download(proxy, url, &got), position);
        EXPECT_EQ(got, result);
        EXPECT_TRUE(FileText(m_file) == file) << "the file differs";
        EXPECT_EQ(m_percent.load(), traces.empty() ? 77 : 0);
        const Traces lines = m_traces.Lines();
        EXPECT_EQ(lines.size(), traces.size()) << ::testing::PrintToString(lines);
        for (size_t i = 0; i < lines.size() && i < traces.size(); ++i) {
            const bool prefix = !traces[i].empty() && traces[i].back() == L'*';
            const size_t length = prefix ? traces[i].size() - 1 : std::wstring::npos;
            EXPECT_EQ(lines[i].substr(0, length), traces[i].substr(0, length));
        }
    };
    const std::string body = Serve(L"my file.bin", 2048);
    const std::wstring fetched = Url(L"https://", L"my%20file.bin");
    const std::wstring redirect = Url(L"https://", L"redirect/my%20file.bin");
    const std::wstring missing = Url(L"https://", L"missing.bin");
    const std::wstring refused = L"https://127.0.0.1:1/my%20file.bin";
    const Traces ok = {fetched, L"download url ok"};
    const auto failed = [](const std::wstring& url, const wchar_t* error) {
        return Traces{url, L"download url failed", L"Download curl failed", error};
    };
    const wchar_t* noConnection = L"Failed to connect to 127.0.0.1 port 1*";
    for (const size_t size : {size_t{1024}, size_t{10} << 20, size_t{100} << 20}) {
        const std::wstring name = std::to_wstring(size) + L".bin";
        check("Size" + std::to_string(size), nullptr, Url(L"https://", name), 1, 100,
              Serve(name, size), {Url(L"https://", name), L"download url ok"});
    }
    // Addresses are fetched over https with their spaces escaped, redirects followed.
    check("HttpAddress", nullptr, Url(L"http://", L"my file.bin"), 1, 100, body, ok);
    check("AddressWithoutScheme", nullptr, Url(L"", L"my file.bin"), 1, 100, body, ok);
    check("Redirect", nullptr, redirect, 1, 100, body, {redirect, L"download url ok"});
    check("RefusedConnection", nullptr, refused, -1, -1, "", failed(refused, noConnection));
    // Redirects end after ten and never lead to plain HTTP (the redirects' own short bodies are
    // no part of the package and move no bar); a body above the largest package is refused by its
    // announced length.
    const auto fault = [](const wchar_t* path) {
        return LoopbackUrl(L"https", L"QERV_TEST_FAULT_HTTPS_PORT", path);
    };
    check("RedirectLoop", nullptr, fault(L"/loop/0"), -1, -1, "",
          failed(fault(L"/loop/0"), L"Maximum (10) redirects followed"));
    check("RedirectToHttp", nullptr, fault(L"/tohttp/100"), -1, -1, "",
          failed(fault(L"/tohttp/100"), L"Protocol \"http\" not supported*"));
    check("Oversized", nullptr, fault(L"/close/1000/209715201"), -1, -1, "",
          failed(fault(L"/close/1000/209715201"), L"Maximum file size exceeded"));
    // An empty proxy setting means no proxy; a given one is used, whole or after "http=".
    check("EmptyProxy", L"", fetched, 1, 100, body, ok);
    check("Proxy", L"127.0.0.1:1", fetched, -1, -1, "", failed(fetched, noConnection));
    check("HttpProxy", L"http=http://127.0.0.1:1", fetched, -1, -1, "",
          failed(fetched, noConnection));
    check("ProxyList", L"https=https://127.0.0.1:1;http=http://127.0.0.1:1", fetched, -1, -1, "",
          failed(fetched, noConnection));
    // Addresses that cannot be built are refused before anything is traced or opened.
    const std::wstring base = Url(L"https://", L"");
    const std::wstring fits(kHttpsUrlBytes - 1 - base.size(), L'a');
    check("AddressTooLong", nullptr, base + fits + L"a", -1, -1, "old", {});
    check("AddressTooLongOnceEscaped", nullptr, base + fits.substr(2) + L" ", -1, -1, "old", {});
    check("NoAddress", nullptr, L"", -1, -1, "old", {});
    // Without a progress bar or a percentage: a missing file writes no error page, and a file
    // that cannot be made fails the download.
    ASSERT_TRUE(WriteBytes(m_file, {'o', 'l', 'd'}));
    m_traces.Clear();
    EXPECT_EQ(DownloadURLByHTTPS(nullptr, missing.c_str(), m_file.c_str(), nullptr, nullptr), -1);
    EXPECT_EQ(FileText(m_file), "");
    const std::wstring noFolder = m_dir.File(L"no-such-folder\\Setup.dat");
    EXPECT_EQ(DownloadURLByHTTPS(nullptr, fetched.c_str(), noFolder.c_str(), nullptr, nullptr), -1);
    EXPECT_EQ(DownloadURLByHTTPS(nullptr, nullptr, m_file.c_str(), nullptr, nullptr), -1);
    Traces expected = failed(missing, L"The requested URL returned error: 404");
    expected.insert(expected.end(), {fetched, L"_tfopen failed", L"Download curl failed", L""});
    EXPECT_EQ(m_traces.Lines(), expected);
}

// A server that trickles the body below the floor is given up on (at a compressed floor here:
// 1 KiB a second for two seconds), instead of holding the unwatched libcurl phase for good.
TEST_F(HttpsDownload, CrawlingTransferFails) {
    const ULONGLONG start = GetTickCount64();
    int result = 0;
    {
        const CurlCrawlFloor floor(1024, 2);
        Download(nullptr, LoopbackUrl(L"https", L"QERV_TEST_FAULT_HTTPS_PORT", L"/slow/40000/400"),
                 &result);
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(result, -1);
    EXPECT_LT(elapsed, 20000u);
    const Traces lines = m_traces.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(0, 18), L"Operation too slow") << lines.back();
}

constexpr std::uint32_t kMiB = 1 << 20;

// The tries of one attempt share a resume point: each continues what the last one left, where
// the server answers for the same package; a 200 for the rest is taken whole in the same
// request, and an answer that does not fit leaves the next try to ask for the whole. ranges: the
// Range of each request the server got. A try that continues the part moves the bar on from
// where the part ends.
TEST_F(HttpsDownload, ResumesWhereTheLastTryStoppedAndOnlyThere) {
    const auto check = [this](const std::string& id, const std::string& faults, std::uint32_t total,
                              int tries, unsigned version, const std::vector<std::string>& ranges,
                              bool continues = false, const wchar_t* proxy = nullptr) {
        SCOPED_TRACE(id);
        const std::string path = "/ranged/" + std::to_string(total) + "?id=" + id + "&" + faults;
        const std::wstring url = FaultUrl(L"https", std::wstring(path.begin(), path.end()));
        ResumePoint point;
        int result = -1;
        int made = 0;
        std::vector<WPARAM> lastTry;
        while (result != 1 && made < tries + 2) {
            const size_t before = m_bar.Positions().size();
            const std::uint32_t start = continues && point.CanResume() ? point.nBytes : 0;
            result = DownloadURLByHTTPS(proxy, url.c_str(), m_file.c_str(), m_bar.window(),
                                        &m_percent, {nullptr, &point});
            const std::vector<WPARAM> positions = m_bar.Positions();
            lastTry.assign(positions.begin() + static_cast<std::ptrdiff_t>(before),
                           positions.end());
            for (const WPARAM position : lastTry) {
                EXPECT_GE(position, static_cast<WPARAM>(start / (total / 100))) << made;
            }
            ++made;
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(made, tries);
        ASSERT_FALSE(lastTry.empty());
        EXPECT_EQ(lastTry.back(), 100u);
        EXPECT_TRUE(HoldsFaultBody(m_file, total, version)) << "the file differs";
        EXPECT_EQ(FaultRanges("id=" + id + "&"), ranges);
    };
    std::vector<std::string> everyCut = {"-"};
    for (std::uint32_t at = 25 * kMiB; at < 200 * kMiB; at += 25 * kMiB) {
        everyCut.push_back("bytes=" + std::to_string(at) + "-");
    }
    check("c-cut", "cut=26214400", 200 * kMiB, 8, 0, everyCut, true);
    // Through a proxy, whose "200 Connection established" is no answer to the request.
    const std::wstring proxy = L"127.0.0.1:" + Env(L"QERV_TEST_PROXY_PORT");
    check("c-proxied", "cut=400000&cuts=1", 1000000, 2, 0, {"-", "bytes=400000-"}, true,
          proxy.c_str());
    check("c-date", "cut=400000&cuts=1&validator=date", 1000000, 2, 0, {"-", "bytes=400000-"},
          true);
    const std::vector<std::string> taken = {"-", "bytes=400000-"};
    check("c-ignored", "cut=400000&cuts=1&ranges=ignore", 1000000, 2, 0, taken);
    check("c-changed", "cut=400000&cuts=1&change=1", 1000000, 2, 1, taken);
    const std::vector<std::string> again = {"-", "bytes=400000-", "-"};
    check("c-wrong-start", "cut=400000&cuts=1&ranges=wrong-start", 1000000, 3, 0, again);
    check("c-wrong-total", "cut=400000&cuts=1&ranges=wrong-total", 1000000, 3, 0, again);
    check("c-other-version", "cut=400000&cuts=1&ranges=other-version", 1000000, 3, 0, again);
    check("c-weak", "cut=400000&cuts=1&validator=weak", 1000000, 2, 0, {"-", "-"});
}

// Only the package's own bytes move the bar: an error page, for the whole package or for the
// rest of a part on disk, sends it nothing, where its few bytes would have shown the package as
// nearly or wholly there.
TEST_F(HttpsDownload, ErrorPageMovesNoBar) {
    const std::string part = Pattern(400000);
    for (const bool bRest : {false, true}) {
        for (const wchar_t* path : {L"/status/404", L"/status/503"}) {
            SCOPED_TRACE(::testing::Message() << path << (bRest ? " for the rest" : ""));
            ResumePoint point;
            if (bRest) {
                ASSERT_TRUE(WriteBytes(m_file, {part.begin(), part.end()}));
                point.StartOver(1000000, "\"v1\"", nullptr);
                point.nBytes = 400000;
            }
            const size_t before = m_bar.Positions().size();
            const std::wstring url = LoopbackUrl(L"https", L"QERV_TEST_FAULT_HTTPS_PORT", path);
            EXPECT_EQ(DownloadURLByHTTPS(nullptr, url.c_str(), m_file.c_str(), m_bar.window(),
                                         &m_percent, {nullptr, &point}),
                      -1);
            EXPECT_EQ(m_bar.Positions().size(), before);
        }
    }
}

// libcurl has no authentication loop: the first challenge fails the transfer.
TEST_F(HttpsDownload, ChallengesTakingTurnsEndAtTheFirst) {
    int result = 0;
    Download(nullptr, FaultUrl(L"https", L"/taking-turns?id=c-turns&"), &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(FaultRequests("id=c-turns&").size(), 1u);
}

// With the Internet Explorer proxy comes its bypass list, applied to the address's host as
// WinHTTP applies it: a bypassed host is reached directly, any other through the proxy (one that
// refuses every connection here).
TEST_F(HttpsDownload, ProxyBypassListIsAppliedToTheHost) {
    const std::string body = Serve(L"bypass.bin", 4096);
    const auto check = [this, &body](const wchar_t* host, const wchar_t* bypass, int expected) {
        SCOPED_TRACE(::testing::Message() << host << " / " << (bypass ? bypass : L"(none)"));
        const std::wstring url = L"https://" + std::wstring(host) + L":" + m_port + L"/bypass.bin";
        DeleteFileW(m_file.c_str());
        EXPECT_EQ(DownloadURLByHTTPS(L"127.0.0.1:1", url.c_str(), m_file.c_str(), nullptr, nullptr,
                                     {bypass, nullptr}),
                  expected);
        EXPECT_TRUE(FileText(m_file) == (expected == 1 ? body : "")) << "the file differs";
    };
    check(L"127.0.0.1", nullptr, -1);
    check(L"127.0.0.1", L"127.0.0.*", 1);
    check(L"127.0.0.1", L"*.example.com; 127.0.0.1", 1);
    check(L"127.0.0.1", L"<local>", -1);
    check(L"localhost", L"<local>", 1);
    check(L"localhost", L"local", -1);
}

}  // namespace
