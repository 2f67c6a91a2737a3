// The launcher of one download attempt and its stall watchdog, in fake time, against the scripted
// WinHTTP and a scripted libcurl path.
#include <gtest/gtest.h>

#include "attempt_rig.h"
#include "download/abandoned_files.h"
#include "registry_guard.h"

namespace {

using namespace testsupport;

// A WinHTTP transfer must gain a point in every five samples, and the libcurl phase before it is
// not watched. Libcurl fails at 1 s unless curlSucceedsAt says otherwise.
TEST(Watchdog, CancelsAWinHttpTransferThatGainsNoPointInFiveSamples) {
    // cancelledAt: the sample (in seconds) that cancels, 0 for none; percent: what the launcher
    // shows at the end; traces: all of them, unless empty; slowWrite: the progress bar holds the
    // thread at 100 % until 8 s, a long write of a complete body.
    const auto check = [](const char* name, DWORD type, unsigned curlSucceedsAt,
                          std::function<unsigned(int)> pace, int cancelledAt, LONG percent,
                          const Calls& sessions, const Calls& traces = {}, bool slowWrite = false) {
        SCOPED_TRACE(name);
        WatchdogRig w;
        if (pace) w.Pace(pace);
        if (curlSucceedsAt != 0) {
            w.curl = {.result = 1, .endsAt = curlSucceedsAt, .body = kTenChunks, .clock = &w.clock};
        }
        std::optional<ProgressProbe> bar;
        if (slowWrite) {
            bar.emplace([&w](WPARAM position) {
                if (position == 100) w.clock.WaitUntil(8000);
            });
        }
        const bool cancelled = cancelledAt != 0;
        EXPECT_EQ(w.Attempt(type, bar ? bar->window() : nullptr), cancelled ? 0 : 1);
        EXPECT_EQ(w.traces.Count(L"Cancel download"), cancelled ? 1 : 0);
        if (!traces.empty()) {
            EXPECT_EQ(w.traces.Lines(), traces);
        }
        if (slowWrite) {
            EXPECT_GE(w.traces.Count(L"Download percent: 100"), 6);
        }
        if (cancelled) {
            EXPECT_EQ(w.clock.LauncherPauses(), Seconds(cancelledAt));
        } else {
            EXPECT_EQ(w.clock.LauncherPauses().back(), 2000u);
            EXPECT_TRUE(w.outcome.bFinished);
        }
        EXPECT_EQ(w.outcome.nResult, cancelled ? 0 : 1);
        EXPECT_EQ(w.outcome.bCancelled, cancelled);
        EXPECT_EQ(w.outcome.nPercent, percent);
        EXPECT_EQ(w.outcome.bCurlPhase, curlSucceedsAt != 0);
        EXPECT_EQ(FileText(w.target), cancelled ? "(missing)" : kTenChunks);
        // Once its read returns, a cancelled thread stops at its own flag and removes its file.
        // Within the launcher's wait it shows that it was cancelled; given up on, it leaves the
        // status as the status line showed it then.
        EXPECT_TRUE(w.Settle());
        if (cancelled) {
            EXPECT_TRUE(Eventually([&] { return Logged(w.log, kCancelledLine) == 1; }));
            EXPECT_EQ(w.scripted.wrapper.m_dwStatus.load(),
                      w.outcome.bFinished ? WinHTTP_Download_Status_Cancel_By_User
                                          : WinHTTP_Download_Status_Receiving);
        }
        EXPECT_EQ(Starting(w.scripted.fake.calls, {L"Open", L"IEConfig"}), sessions);
    };
    const Calls direct = {L"Open 1 - -"};
    Calls stalled = {L"Start DownloadThread", L"Download percent: 10"};
    stalled.insert(stalled.end(), 6, L"Download percent: 20");
    stalled.push_back(L"Cancel download");
    // 10 % at 1 s and 20 % from 2 s on: cancelled at 7 s while the thread is blocked.
    check("StallsAfterTwoChunks", 1, 0, Stalls(2), 7, 20, direct, stalled);
    check("ChunkEveryFiveSeconds", 1, 0, Every(1000, 5000), 0, 100, direct);
    check("ChunkEverySixSeconds", 1, 0, Every(1000, 6000), 6, 10, direct);
    check("FirstChunkAtFiveSeconds", 1, 0, Every(5000, 5000), 0, 100, direct);
    check("FirstChunkAtSixSeconds", 1, 0, Every(6000, 1000), 5, 0, direct);
    check("CompleteBodyWrittenSlowly", 1, 0, Every(1000, 0), 0, 100, direct, {}, true);
    // A cancelled type-0 attempt does not go on to the Internet Explorer proxy.
    check("CancelledAutoAttempt", 0, 0, Stalls(1), 6, 10, direct);
    check("LongLibcurlPhase", 1, 20000, nullptr, 0, 0, {}, {L"Start DownloadThread"});
}

// Two attempts in a row, the first given up while its thread is blocked in a read: the late
// thread must not end, fail or overwrite the next attempt, which has its own download object.
// Meanwhile the clean-up cannot delete the file that the thread holds: it schedules it for the
// next restart, once, so that the folder can go after it.
TEST(Watchdog, LateThreadOfACancelledAttemptDoesNotTouchTheNextOne) {
    RegistryValueGuard pending(kSessionManagerKey, kPendingValue);
    DeleteMachineValue(kSessionManagerKey, kPendingValue);
    WatchdogRig w;
    // Libcurl fails at 1 s, one chunk, then the read blocks: cancelled at 6 s, given up at 8 s.
    w.Pace(Stalls(1));
    ASSERT_EQ(w.Attempt(), 0);
    ASSERT_EQ(w.clock.LauncherPauses(), Seconds(6));
    ASSERT_EQ(w.outcome.bCancelled, true);
    const std::vector<std::wstring> parts = PartFiles(w.dir.path());
    ASSERT_EQ(parts.size(), 1u);
    RemoveAbandonedAttemptFiles();
    EXPECT_NE(ReadMachineText(kSessionManagerKey, kPendingValue).find(parts[0]),
              std::wstring::npos);
    DeleteMachineValue(kSessionManagerKey, kPendingValue);
    RemoveAbandonedAttemptFiles();
    EXPECT_TRUE(ReadMachineText(kSessionManagerKey, kPendingValue).empty());
    // Libcurl fails at 9 s, then a chunk a second; the late read returns with the third of them.
    const std::string second = Pattern(10 * 4096, 1);
    ScriptedWrapper next;
    next.fake.responses = {Ok(second)};
    next.fake.onRead = [&w](int i) {
        w.clock.WaitUntil(9000u + 1000u * i);
        if (i == 2) w.clock.ReleaseStalled();
    };
    w.curl.endsAt = 9000;
    EXPECT_EQ(w.Attempt(WinHTTP_Download_Type_Direct_Connect, nullptr, &next.wrapper), 1);
    // The late thread stopped at its own cancel flag and removed its own file, without a word on
    // the status that the status line shows ...
    EXPECT_TRUE(Eventually(
        [&] { return Logged(w.log, kCancelledLine) == 1 && PartFiles(w.dir.path()).empty(); }));
    EXPECT_EQ(w.scripted.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Receiving);
    // ... while the second attempt started with a clear flag and read every chunk.
    EXPECT_EQ(next.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
    EXPECT_EQ(Starting(next.fake.calls, {L"Read"}).size(), 10u);
    EXPECT_EQ(FileText(w.target), second);
    EXPECT_EQ(w.traces.Count(L"Cancel download"), 1);
    EXPECT_EQ(w.outcome.bCancelled, false);
    EXPECT_EQ(w.outcome.nResult, 1);
    EXPECT_TRUE(w.outcome.bFinished);
    EXPECT_EQ(w.outcome.nPercent, 100);
}

}  // namespace
