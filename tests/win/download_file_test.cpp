// One download attempt against the scripted WinHTTP and a scripted libcurl path: the WinHTTP
// downloads of each connection type, the thread, and the launcher's stall watchdog in fake time.
#include <gtest/gtest.h>

#include "attempt_rig.h"
#include "download/abandoned_files.h"
#include "download/download_by_type.h"
#include "download/winhttp_rules.h"
#include "registry_guard.h"

namespace {

using namespace testsupport;

FakeIEConfig StaticProxy(const std::wstring& proxy) { return {FALSE, {}, proxy, {}}; }

const std::string kBody = Pattern(3 * 4096);

TEST(DownloadByType, MakesTheDownloadsOfItsType) {
    struct Restore {
        ~Restore() { g_configuredProxy = {}; }
    } restore;
    g_configuredProxy = {L"127.0.0.1", 3128, L"qerv", L"secret"};
    const FakeResponse k404{.status = 404}, kGot = Ok(kBody);
    const FakeResponse k407{.status = 407, .schemes = kAuthSchemeBasic, .target = 1};
    const std::wstring direct = L"Open 1 - -", ie = L"Open 3 127.0.0.1:3128 -";
    enum Cancel { Clear, Set, Absent };
    // sessions: the sessions opened, with the credentials given.
    const auto check = [](const char* name, DWORD type, Cancel cancel,
                          std::vector<FakeResponse> responses, int result, const Calls& sessions) {
        SCOPED_TRACE(name);
        DownloadScenario s;
        s.fake.ieConfig = StaticProxy(L"127.0.0.1:3128");
        s.fake.responses = responses;
        s.cancel = cancel == Set ? 1 : 0;
        EXPECT_EQ(DownloadByType(type, nullptr, cancel == Absent ? nullptr : &s.cancel, &s.percent,
                                 &s.wrapper, kFakeUrl, s.target.c_str()),
                  result);
        EXPECT_EQ(Starting(s.fake.calls, {L"Open", L"Credentials"}), sessions);
        EXPECT_EQ(s.fake.OpenHandles(), 0);
        if (result == 1) {
            EXPECT_EQ(FileText(s.target), kBody);
        }
    };
    check("AutoDirect", 0, Clear, {kGot}, 1, {direct});
    check("AutoFallsBackToIEProxy", 0, Clear, {k404, kGot}, 1, {direct, ie});
    check("AutoWithoutFlagFallsBack", 0, Absent, {k404, k404}, 0, {direct, ie});
    // The set flag stops the direct download before it opens anything, and nothing follows.
    check("AutoCancelledStartsNothing", 0, Set, {kGot, kGot}, 0, {});
    check("Direct", 1, Clear, {kGot}, 1, {direct});
    check("DefaultProxy", 2, Clear, {kGot}, 1, {L"Open 0 - -"});
    check("IEProxy", 3, Clear, {k404}, 0, {ie});
    // The configured proxy answers its challenge with its user name and password.
    check("ConfiguredProxy", 4, Clear, {k407, kGot}, 1,
          {L"Open 3 127.0.0.1:3128 <local>", L"Credentials 1 1 qerv secret"});
    check("UnknownType", 5, Clear, {}, 0, {});
}

// The thread runs libcurl into the attempt's own file and, when that fails, WinHTTP of the
// attempt's type into the same file. The launcher takes a finished file; a thread that ends after
// the launcher gave up, or fails, removes it.
TEST(DownloadThread, RunsLibcurlThenWinHttpOfItsTypeIntoTheAttemptsOwnFile) {
    // published: a download object exists; curl: libcurl's result.
    const auto check = [](const char* name, bool published, int curl, bool abandoned, DWORD type,
                          std::vector<FakeResponse> responses, LONG result, LONG curlPhase,
                          const std::string& ownFile, const Calls& sessions) {
        SCOPED_TRACE(name);
        SleepRecorder pauses;
        Rig rig;
        rig.curl.result = curl;
        rig.curl.body = kBody;
        rig.scripted.fake.responses = responses;
        DownloadAttemptRef attempt = rig.RunThread(type, abandoned, published);
        ASSERT_TRUE(attempt);
        EXPECT_EQ(attempt->nResult.load(), result);
        EXPECT_EQ(attempt->bCurlPhase.load(), curlPhase);
        EXPECT_EQ(attempt->IsFinished(), !abandoned);
        EXPECT_EQ(FileText(attempt->szOwnFile()), ownFile);
        EXPECT_FALSE(FileExists(rig.target));
        EXPECT_EQ(rig.curl.calls,
                  published ? Calls{L"- " + std::wstring(attempt->szOwnFile())} : Calls{});
        EXPECT_EQ(Starting(rig.scripted.fake.calls, {L"Open"}), sessions);
        EXPECT_EQ(rig.traces.Lines(), Calls{L"Start DownloadThread"});
    };
    check("NoDownloadObject", false, 1, false, 1, {}, 0, 1, "(missing)", {});
    check("LibcurlSucceeds", true, 1, false, 1, {}, 1, 1, kBody, {});
    check("LibcurlSucceedsAfterTheLauncherGaveUp", true, 1, true, 1, {}, 1, 1, "(missing)", {});
    check("WinHttpOfTheSameType", true, -1, false, 2, {Ok(kBody)}, 1, 0, kBody, {L"Open 0 - -"});
    check("BothFail", true, -1, false, 1, {Ok(kBody, 2 * 3 * 4096)}, 0, 0, "(missing)",
          {L"Open 1 - -"});
}

// The libcurl path gets a proxy only for the Internet Explorer type: the static proxy list of the
// settings, or the empty text (no proxy) when there is none to pass on.
TEST(DownloadThread, LibcurlGetsTheIEStaticProxyForTheIEType) {
    const auto check = [](DWORD type, std::optional<FakeIEConfig> settings,
                          const std::wstring& proxy) {
        SCOPED_TRACE(::testing::Message() << type << " " << settings.has_value());
        Rig rig;
        rig.curl.result = 1;
        rig.scripted.fake.ieConfig = settings;
        const DownloadAttemptRef attempt = rig.RunThread(type);
        ASSERT_TRUE(attempt);
        EXPECT_EQ(rig.curl.calls, Calls{proxy + L" " + attempt->szOwnFile()});
    };
    const std::wstring list = L"http=http://127.0.0.1:3128;https=https://127.0.0.1:3129";
    const std::wstring longest = L"127.0.0.1:3128;" + std::wstring(255 - 15, L'x');
    for (const DWORD type : {0u, 1u, 2u}) check(type, StaticProxy(list), L"-");
    check(3, StaticProxy(list), list);
    check(3, StaticProxy(longest), longest);
    check(3, StaticProxy(longest + L"x"), L"");
    check(3, FakeIEConfig{}, L"");
    check(3, std::nullopt, L"");
}

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
