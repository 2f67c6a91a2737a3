// The libcurl download path, and the toolchain's static Schannel libcurl under it, against the
// loopback nginx over HTTPS.
#include <curl/curl.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "app/debug_trace.h"
#include "download/https_download.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

using testsupport::ReadBytes;
using Bytes = std::vector<unsigned char>;
using Traces = std::vector<std::wstring>;

Bytes RandomBytes(std::size_t nSize) {
    std::mt19937 random(static_cast<unsigned>(nSize));
    Bytes bytes(nSize);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

// Stands in for the progress bar and keeps the last position it is sent (-1: none).
LRESULT CALLBACK ProgressProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg != PBM_SETPOS) return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
    return 0;
}

// Wine's Schannel leaves the certificate check to its callers, so the self-signed test server
// is accepted here although peer verification stays on.
class HttpsDownload : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(sPort_.empty()) << "run through scripts/with-servers.sh";
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ProgressProc;
        windowClass.lpszClassName = L"QervTestProgress";
        RegisterClassW(&windowClass);
        hWndProgress_ = CreateWindowW(L"QervTestProgress", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, nullptr, nullptr);
        SetWindowLongPtrW(hWndProgress_, GWLP_USERDATA, -1);
    }
    void TearDown() override { DestroyWindow(hWndProgress_); }

    std::wstring Url(const std::wstring& sScheme, const std::wstring& sPath) const {
        return sScheme + L"127.0.0.1:" + sPort_ + L"/" + sPath;
    }
    void Serve(const std::wstring& sName, const Bytes& body) const {
        ASSERT_TRUE(testsupport::WriteBytes(sWww_ + L"\\" + sName, body));
    }
    int Download(const wchar_t* szProxy, const std::wstring& sUrl) {
        return DownloadURLByHTTPS(szProxy, sUrl.c_str(), sFile_.c_str(), hWndProgress_, &nPercent_);
    }
    Bytes Downloaded() const {
        Bytes bytes;
        EXPECT_TRUE(ReadBytes(sFile_, &bytes));
        return bytes;
    }
    LONG_PTR ProgressPosition() const { return GetWindowLongPtrW(hWndProgress_, GWLP_USERDATA); }

    const std::wstring sPort_ = testsupport::Env(L"QERV_TEST_HTTPS_PORT");
    const std::wstring sWww_ = testsupport::Env(L"QERV_TEST_WWW_WIN");
    testsupport::TempDir dir_;
    const std::wstring sFile_ = dir_.File(L"Setup.dat");
    HWND hWndProgress_ = nullptr;
    testsupport::TraceRecorder traces_;
    std::atomic<LONG> nPercent_{77};
};

TEST_F(HttpsDownload, SmallAndLargeFilesArriveByteExact) {
    for (const std::size_t nSize : {1024u, 10u * 1024 * 1024, 100u * 1024 * 1024}) {
        const std::wstring sName = std::to_wstring(nSize) + L".bin";
        const Bytes body = RandomBytes(nSize);
        Serve(sName, body);
        traces_.Clear();
        nPercent_ = 77;
        EXPECT_EQ(Download(nullptr, Url(L"https://", sName)), 1);
        EXPECT_TRUE(Downloaded() == body) << nSize;
        EXPECT_EQ(ProgressPosition(), 100);
        EXPECT_EQ(nPercent_.load(), 0);
        EXPECT_EQ(traces_.Lines(), (Traces{Url(L"https://", sName), L"download url ok"}));
    }
}

TEST_F(HttpsDownload, AddressIsFetchedOverHttpsWithEscapedSpaces) {
    const Bytes body = RandomBytes(2048);
    Serve(L"my file.bin", body);
    const std::wstring sFetched = Url(L"https://", L"my%20file.bin");
    const std::wstring sRedirect = Url(L"https://", L"redirect/my%20file.bin");
    const struct {
        std::wstring sUrl, sFetched;
    } cases[] = {{Url(L"http://", L"my file.bin"), sFetched},
                 {Url(L"", L"my file.bin"), sFetched},
                 {sRedirect, sRedirect}};
    for (const auto& c : cases) {
        traces_.Clear();
        EXPECT_EQ(Download(nullptr, c.sUrl), 1) << testing::PrintToString(c.sUrl);
        EXPECT_TRUE(Downloaded() == body);
        EXPECT_EQ(traces_.Lines(), (Traces{c.sFetched, L"download url ok"}));
    }
}

TEST_F(HttpsDownload, NotFoundFailsWithoutWritingTheErrorPage) {
    ASSERT_TRUE(testsupport::WriteBytes(sFile_, {'o', 'l', 'd'}));
    EXPECT_EQ(Download(nullptr, Url(L"https://", L"missing.bin")), -1);
    EXPECT_TRUE(Downloaded().empty());
    EXPECT_EQ(traces_.Lines(),
              (Traces{Url(L"https://", L"missing.bin"), L"download url failed",
                      L"Download curl failed", L"The requested URL returned error: 404"}));
}

// An empty proxy setting means no proxy; a given one is used, whole or after "http=http://".
TEST_F(HttpsDownload, ProxySetting) {
    Serve(L"small.bin", RandomBytes(16));
    const struct {
        const wchar_t* szProxy;
        int nResult;
    } cases[] = {{L"", 1},
                 {L"127.0.0.1:1", -1},
                 {L"http=http://127.0.0.1:1", -1},
                 {L"https=https://127.0.0.1:1;http=http://127.0.0.1:1", -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(Download(c.szProxy, Url(L"https://", L"small.bin")), c.nResult)
            << testing::PrintToString(std::wstring(c.szProxy));
    }
}

// Addresses that cannot be built are refused before anything is traced or opened.
TEST_F(HttpsDownload, OverlongAddressIsRefused) {
    const std::wstring sBase = Url(L"https://", L"");
    const std::wstring sFits(kHttpsUrlBytes - 1 - sBase.size(), L'a');
    EXPECT_EQ(Download(nullptr, sBase + sFits + L"a"), -1);
    EXPECT_EQ(Download(nullptr, sBase + sFits.substr(2) + L" "), -1);
    EXPECT_EQ(DownloadURLByHTTPS(nullptr, nullptr, sFile_.c_str(), nullptr, nullptr), -1);
    EXPECT_TRUE(traces_.Lines().empty());
    EXPECT_FALSE(testsupport::FileExists(sFile_));
}

TEST_F(HttpsDownload, FailuresAreTracedInOrder) {
    const std::wstring sUrl = Url(L"https://", L"small.bin");
    Serve(L"small.bin", RandomBytes(16));
    const std::wstring sNoFolder = dir_.File(L"no-such-folder\\Setup.dat");
    EXPECT_EQ(DownloadURLByHTTPS(nullptr, sUrl.c_str(), sNoFolder.c_str(), nullptr, nullptr), -1);
    EXPECT_EQ(traces_.Lines(), (Traces{sUrl, L"_tfopen failed", L"Download curl failed", L""}));

    traces_.Clear();
    EXPECT_EQ(Download(nullptr, L"https://127.0.0.1:1/small.bin"), -1);
    const Traces lines = traces_.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], L"download url failed");
    EXPECT_EQ(lines[2], L"Download curl failed");
    EXPECT_NE(lines[3].find(L"127.0.0.1"), std::wstring::npos) << lines[3];
    EXPECT_EQ(ProgressPosition(), -1);
}

// A server that trickles the body below the floor is given up on (at a compressed floor here:
// 1 KiB a second for two seconds), instead of holding the unwatched libcurl phase for good.
TEST_F(HttpsDownload, CrawlingTransferFails) {
    const std::wstring sFaultPort = testsupport::Env(L"QERV_TEST_FAULT_HTTPS_PORT");
    ASSERT_FALSE(sFaultPort.empty());
    SetCurlCrawlFloor(1024, 2);
    const ULONGLONG start = GetTickCount64();
    const int nResult = Download(nullptr, L"https://127.0.0.1:" + sFaultPort + L"/slow/40000/400");
    const ULONGLONG elapsed = GetTickCount64() - start;
    SetCurlCrawlFloor(0, 0);

    EXPECT_EQ(nResult, -1);
    EXPECT_LT(elapsed, 20000u);
    const Traces lines = traces_.Lines();
    const bool bTooSlow = std::any_of(lines.begin(), lines.end(), [](const std::wstring& s) {
        return s.find(L"too slow") != std::wstring::npos;
    });
    EXPECT_TRUE(bTooSlow) << "no \"too slow\" among the traces";
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

TEST_F(HttpsDownload, ToolchainLibcurlIsSchannelAndFetchesOverHttps) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    EXPECT_NE(std::string(info->ssl_version).find("Schannel"), std::string::npos)
        << info->ssl_version;
    ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);
    CURL* curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    const std::wstring wide = Url(L"https://", L"hello.txt");
    const std::string url(wide.begin(), wide.end());
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);  // the server's certificate is self-signed
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    EXPECT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, "hello from nginx\n");
}

}  // namespace
