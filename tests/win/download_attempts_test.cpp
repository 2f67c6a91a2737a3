// Two attempts in a row, the first one given up while its thread is blocked in a read: the late
// thread must not end, fail or overwrite the attempt that follows it. Fake time as in the
// watchdog tests; each attempt's thread keeps the download object it started with, so each
// attempt has its own scripted WinHTTP.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "download/download_file.h"
#include "download_thread_rig.h"

namespace {

using downloadtest::AttemptClock;
using downloadtest::AttemptRig;
using downloadtest::kNever;
using downloadtest::PublishedWrapper;

const std::string kFirstBody = downloadtest::ChunkedBody(10, 4096, 'a');
const std::string kSecondBody = downloadtest::ChunkedBody(10, 4096, 'A');

class Attempts : public ::testing::Test {
  protected:
    Attempts() {
        rig.curl.clock = &clock;
        first.fake.responses = {testsupport::OkResponse(kFirstBody)};
    }
    ~Attempts() override {
        clock.ReleaseStalled();
        EXPECT_TRUE(downloadtest::Eventually(
            [&] { return downloadtest::FilesIn(rig.dir.path()).size() <= 1; }));
    }

    int Attempt() {
        clock.ExpectThread();
        return DownloadFile(&record, testsupport::kFakeUrl, rig.target.c_str(), nullptr,
                            WinHTTP_Download_Type_Direct_Connect);
    }
    std::string Target() { return testsupport::FileText(rig.target); }

    AttemptClock clock;
    AttemptRig rig;
    PublishedWrapper first;
    std::optional<PublishedWrapper> second;
    DownloadThreadParam record;
};

TEST_F(Attempts, LateThreadOfACancelledAttemptDoesNotTouchTheNextOne) {
    // First attempt: libcurl fails at 1 s, one chunk, then the read blocks: cancelled at 6 s,
    // given up at 8 s.
    rig.curl.endsAt = 1000;
    first.fake.onRead = [this](int i) { clock.WaitUntil(i < 1 ? 1000u : kNever); };
    ASSERT_EQ(Attempt(), 0);
    ASSERT_EQ(clock.Now(), 8000u);
    ASSERT_EQ(record.bCancel.load(), 1);

    // Second attempt: libcurl fails at 9 s, then a chunk a second. At 11 s the first attempt's
    // read returns, while the second attempt is half-way; its thread still holds its own file
    // open until then.
    second.emplace();
    second->fake.responses = {testsupport::OkResponse(kSecondBody)};
    second->fake.onRead = [this](int i) { clock.WaitUntil(9000u + 1000u * i); };
    rig.curl.endsAt = 9000;
    clock.OnTick([this](unsigned now) {
        if (now == 11000) clock.ReleaseStalled();
    });
    EXPECT_EQ(Attempt(), 1);

    // The late thread stopped at its own cancel flag and removed its own file ...
    EXPECT_TRUE(downloadtest::Eventually(
        [&] { return first.wrapper.m_dwStatus.load() == WinHTTP_Download_Status_Cancel_By_User; }));
    EXPECT_TRUE(downloadtest::Eventually([&] {
        return downloadtest::FilesIn(rig.dir.path()) == std::vector<std::wstring>{L"Setup.dat"};
    }));
    // ... while the second attempt started with a clear flag, read every chunk and was not
    // ended early by the first attempt's end.
    EXPECT_EQ(second->wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
    EXPECT_EQ(second->fake.readSizes.size(), 10u);
    EXPECT_EQ(Target(), kSecondBody);
    EXPECT_EQ(rig.traces.Count(L"Cancel download"), 1);
    EXPECT_GE(clock.Now(), 18000u);
    EXPECT_EQ(record.bCancel.load(), 0);
    EXPECT_EQ(record.nResult.load(), 1);
    EXPECT_TRUE(record.bFinished.load());
    EXPECT_EQ(record.nPercent.load(), 100);
}

}  // namespace
