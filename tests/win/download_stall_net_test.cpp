// A transfer that stalls mid-body, in real time against the fault server over plain http: libcurl
// fails on its forced https, WinHTTP receives 5 % of the body and then nothing more. The watchdog
// cancels after five samples without a rise and DownloadFile returns 0 two seconds later, while
// the download thread is still blocked in its read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_file.h"
#include "download_thread_net_rig.h"
#include "download_thread_rig.h"

namespace {

TEST(StalledDownload, IsCancelledAfterFiveSamplesAndGivenUpTwoSecondsLater) {
    if (!downloadtest::ServersRunning()) GTEST_SKIP() << "run through with-servers.sh";
    downloadtest::PublishFreshDownloadObject();
    downloadtest::TraceLog traces;
    testsupport::TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    const std::wstring url =
        downloadtest::LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/stall/500000/10000000");
    testsupport::DownloadLogTail log;
    DownloadThreadParam record;

    const unsigned long long start = testsupport::SteadyMs();
    EXPECT_EQ(DownloadFile(&record, url.c_str(), target.c_str(), nullptr,
                           WinHTTP_Download_Type_Direct_Connect),
              0);
    const unsigned long long end = testsupport::SteadyMs();

    EXPECT_EQ(traces.Count(L"Download curl failed"), 1);
    EXPECT_EQ(traces.Count(L"Cancel download"), 1);
    // The last rise (to 5 %) and then five samples without one.
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
    EXPECT_FALSE(testsupport::FileExists(target));
    // WinHTTP received the headers and the first part of the body, and is waiting for the rest.
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "SafeDownloadFile dwCurrentDownloaded = 500000, TotalDownloadSize = "
              "10000000");
    EXPECT_EQ(downloadtest::LogLinesStarting(log, {"SafeDownloadFile: WinHttpQueryHeaders"}),
              std::vector<std::string>{"SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = "
                                       "10000000"});
}

}  // namespace
