// The six attempts of a run, driven by the worker's download stage against the loopback servers:
// every attempt fails, first on libcurl (its forced https meets plain-http ports) and then on
// WinHTTP (404 for the package address, 500 for the alternative one), over the direct connection,
// the Internet Explorer proxy and WinHTTP's default proxy in turn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/message_table.h"
#include "app/setup_worker.h"
#include "download/download_file.h"
#include "download_proxy_settings.h"
#include "download_thread_net_rig.h"
#include "download_thread_rig.h"
#include "fixtures_flow/recording_view.h"

namespace {

using downloadtest::LoopbackUrl;

// The trace lines of the attempts themselves, without the samples and libcurl's error texts,
// whose number and wording depend on timing and on the TLS library.
std::vector<std::wstring> AttemptLines(const std::vector<std::wstring>& lines) {
    const std::vector<std::wstring> exact = {L"Start DownloadThread", L"Download curl failed",
                                             L"Cancel download", L"pqrlo - 1: bRet = 0"};
    std::vector<std::wstring> kept;
    for (const std::wstring& line : lines) {
        bool keep = line.rfind(L"https://", 0) == 0 || line.rfind(L"DownloadFile ", 0) == 0;
        for (const std::wstring& wanted : exact) keep |= line == wanted;
        if (keep) kept.push_back(line);
    }
    return kept;
}

TEST(SixAttempts, RunOverTheThreeConnectionTypesEachFallingBackFromLibcurlToWinHttp) {
    if (!downloadtest::ServersRunning()) GTEST_SKIP() << "run through with-servers.sh";
    downloadtest::PublishFreshDownloadObject();
    const downloadtest::SeededIEProxy ieProxy(downloadtest::LoopbackProxy(L"QERV_TEST_PROXY_PORT"));
    ASSERT_TRUE(ieProxy.seeded());
    downloadtest::TraceLog traces;
    testsupport::TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    const std::wstring url =
        LoopbackUrl(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin", downloadtest::kProxiedHost);
    const std::wstring alternate = LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT",
                                               L"/status/500", downloadtest::kProxiedHost);
    RecordingView view;
    DownloadThreadParam record;
    testsupport::DownloadLogTail log;

    EXPECT_EQ(DownloadPackage(view, &record, target, url, alternate), 0);

    const std::wstring httpsUrl = L"https" + url.substr(4);
    const std::wstring httpsAlternate = L"https" + alternate.substr(4);
    const std::wstring start = L"Start DownloadThread";
    const std::wstring curlFailed = L"Download curl failed";
    const std::vector<std::wstring> expectedTraces = {start,
                                                      httpsUrl,
                                                      curlFailed,
                                                      L"DownloadFile 1",
                                                      start,
                                                      httpsAlternate,
                                                      curlFailed,
                                                      start,
                                                      httpsUrl,
                                                      curlFailed,
                                                      L"DownloadFile 2",
                                                      start,
                                                      httpsAlternate,
                                                      curlFailed,
                                                      start,
                                                      httpsUrl,
                                                      curlFailed,
                                                      L"DownloadFile 3",
                                                      start,
                                                      httpsAlternate,
                                                      curlFailed,
                                                      L"pqrlo - 1: bRet = 0"};
    EXPECT_EQ(AttemptLines(traces.Lines()), expectedTraces);

    EXPECT_EQ(
        view.calls,
        (std::vector<std::wstring>{
            L"Pause", L"SetStatusText " + GetMessageText(kMsgSwitchToIeProxy), L"Resume", L"Pause",
            L"SetStatusText " + GetMessageText(kMsgSwitchToDefaultProxy), L"Resume"}));

    const std::string agent =
        ", szAgent=Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.2) Gecko/20100115 "
        "Firefox/3.6";
    const std::string direct = "WrapperOpen type WinHTTP_Download_Type_Direct_Connect" + agent;
    const std::string ie = "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy" + agent;
    const std::string byDefault = "WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy" + agent;
    const std::string failed404 = "SafeDownloadFile: authentication failed, dwLastStatus = 404";
    const std::string failed500 = "SafeDownloadFile: authentication failed, dwLastStatus = 500";
    EXPECT_EQ(downloadtest::LogLinesStarting(
                  log, {"WrapperOpen type", "SafeDownloadFile: authentication failed"}),
              (std::vector<std::string>{direct, failed404, direct, failed500, ie, failed404, ie,
                                        failed500, byDefault, failed404, byDefault, failed500}));

    EXPECT_EQ(record.nType, WinHTTP_Download_Type_By_Default_Proxy);
    EXPECT_EQ(record.bCancel.load(), 0);
    EXPECT_EQ(record.nResult.load(), 0);
    EXPECT_TRUE(record.bFinished.load());
    EXPECT_TRUE(downloadtest::FilesIn(dir.path()).empty()) << "failed attempts leave no file";
}

}  // namespace
