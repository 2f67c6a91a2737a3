// DownloadFile's stall watchdog against the scripted WinHTTP and libcurl paths, in fake time: the
// launcher's once-a-second samples and its two-second wait move a clock that the scripted
// transfer follows.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "download/download_file.h"
#include "download_thread_rig.h"
#include "fixtures_flow/registry_value_guard.h"

namespace {

using downloadtest::AttemptClock;
using downloadtest::AttemptRig;
using downloadtest::kNever;
using downloadtest::PublishedWrapper;

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Ten chunks of ten percent each.
const std::string kBody = downloadtest::ChunkedBody(10, 4096);

class Watchdog : public ::testing::Test {
  protected:
    Watchdog() {
        rig.curl.clock = &clock;
        rig.curl.endsAt = 1000;
        published.fake.ieConfig = testsupport::FakeIEConfig{};
        published.fake.ieConfig->proxy = L"127.0.0.1:3128";
        published.fake.responses = {testsupport::OkResponse(kBody)};
    }
    ~Watchdog() override {
        // A stalled thread still holds the scripted WinHTTP: let it end first. It removes its
        // own file on its way out.
        clock.ReleaseStalled();
        EXPECT_TRUE(downloadtest::Eventually([&] { return PartFiles().empty(); }));
    }

    // Chunk i of the WinHTTP body is read at at(i) ms of fake time.
    void Pace(std::function<unsigned(int)> at) {
        published.fake.onRead = [this, at](int i) { clock.WaitUntil(at(i)); };
    }
    int Attempt(DWORD type = WinHTTP_Download_Type_Direct_Connect) {
        clock.ExpectThread();
        return DownloadFile(&record, testsupport::kFakeUrl, rig.target.c_str(), nullptr, type);
    }
    std::vector<std::wstring> Samples() { return rig.traces.Starting(L"Download percent: "); }
    std::vector<std::wstring> Files() { return downloadtest::FilesIn(rig.dir.path()); }
    std::vector<std::wstring> PartFiles() {
        std::vector<std::wstring> parts;
        for (const std::wstring& name : Files()) {
            if (name.size() > 5 && name.compare(name.size() - 5, 5, L".part") == 0) {
                parts.push_back(name);
            }
        }
        return parts;
    }
    std::string Target() { return testsupport::FileText(rig.target); }

    AttemptClock clock;
    AttemptRig rig;
    PublishedWrapper published;
    DownloadThreadParam record;
};

std::vector<unsigned> Seconds(int samples, bool withFinalWait = true) {
    std::vector<unsigned> pauses(static_cast<size_t>(samples), 1000u);
    if (withFinalWait) pauses.push_back(2000u);
    return pauses;
}

TEST_F(Watchdog, StalledTransferIsCancelledAfterFiveSamplesAndTheLauncherReturnsTwoSecondsLater) {
    Pace([](int i) { return i < 2 ? 1000u * static_cast<unsigned>(i + 1) : kNever; });
    EXPECT_EQ(Attempt(), 0);

    // Libcurl fails at 1 s; the samples then see 10 %, and 20 % from 2 s on, five times more.
    const std::vector<std::wstring> samples = {L"Download percent: 10", L"Download percent: 20",
                                               L"Download percent: 20", L"Download percent: 20",
                                               L"Download percent: 20", L"Download percent: 20",
                                               L"Download percent: 20"};
    std::vector<std::wstring> expected = {L"Start DownloadThread"};
    expected.insert(expected.end(), samples.begin(), samples.end());
    expected.push_back(L"Cancel download");
    EXPECT_EQ(rig.traces.Lines(), expected);
    EXPECT_EQ(clock.LauncherPauses(), Seconds(7));
    EXPECT_EQ(clock.Now(), 9000u);

    // The thread is still blocked in its read; the record shows the attempt as it was given up.
    EXPECT_EQ(record.bCancel.load(), 1);
    EXPECT_EQ(record.nResult.load(), 0);
    EXPECT_FALSE(record.bFinished.load());
    EXPECT_EQ(record.nPercent.load(), 20);
    EXPECT_EQ(record.bCurlPhase.load(), 0);
    EXPECT_FALSE(testsupport::FileExists(rig.target));

    // Once its read returns, the thread stops at the cancel flag and removes its own file.
    clock.ReleaseStalled();
    EXPECT_TRUE(downloadtest::Eventually([&] {
        return published.wrapper.m_dwStatus.load() == WinHTTP_Download_Status_Cancel_By_User &&
               Files().empty();
    }));
}

// Chunk i arrives at firstAt + i * every ms; the WinHTTP phase starts at 1 s.
struct PaceCase {
    const char* name;
    unsigned firstAt;
    unsigned every;
    int cancelledAtSecond;  // 0: the transfer runs to its end
};

class WatchdogPace : public Watchdog, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(WatchdogPace, TransferMustGainAPointInEveryFiveSamples) {
    const PaceCase& c = GetParam();
    Pace([&c](int i) { return c.firstAt + static_cast<unsigned>(i) * c.every; });
    const int result = Attempt();
    if (c.cancelledAtSecond == 0) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(rig.traces.Count(L"Cancel download"), 0);
        EXPECT_EQ(Target(), kBody);
        EXPECT_EQ(record.nResult.load(), 1);
        EXPECT_TRUE(record.bFinished.load());
        EXPECT_EQ(record.bCancel.load(), 0);
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(rig.traces.Count(L"Cancel download"), 1);
        EXPECT_EQ(clock.LauncherPauses(), Seconds(c.cancelledAtSecond));
        EXPECT_FALSE(testsupport::FileExists(rig.target));
    }
}

INSTANTIATE_TEST_SUITE_P(Paces, WatchdogPace,
                         ::testing::Values(PaceCase{"PointEveryFiveSeconds", 1000, 5000, 0},
                                           PaceCase{"PointEverySixSeconds", 1000, 6000, 6},
                                           PaceCase{"FirstPointAtFiveSeconds", 5000, 5000, 0},
                                           PaceCase{"FirstPointAtSixSeconds", 6000, 1000, 5}),
                         [](const ::testing::TestParamInfo<PaceCase>& info) {
                             return info.param.name;
                         });

TEST_F(Watchdog, LibcurlPhaseIsNeitherTracedNorCounted) {
    rig.curl.result = 1;
    rig.curl.endsAt = 20000;
    rig.curl.body = kBody;
    EXPECT_EQ(Attempt(), 1);
    EXPECT_TRUE(Samples().empty());
    EXPECT_EQ(rig.traces.Count(L"Cancel download"), 0);
    EXPECT_TRUE(published.fake.opens.empty()) << "WinHTTP must not run";
    EXPECT_EQ(Target(), kBody);
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"Setup.dat"});
    const std::vector<unsigned> pauses = clock.LauncherPauses();
    ASSERT_GE(pauses.size(), 21u);
    EXPECT_EQ(pauses.back(), 2000u);
    EXPECT_EQ(record.nResult.load(), 1);
    EXPECT_TRUE(record.bFinished.load());
}

// A cancelled type-0 attempt does not go on to the Internet Explorer proxy once its direct
// download has stopped.
TEST_F(Watchdog, CancelledAutoAttemptDoesNotFallBackToTheIEProxy) {
    Pace([](int i) { return i < 1 ? 1000u : kNever; });
    published.fake.responses.push_back(testsupport::OkResponse(kBody));
    EXPECT_EQ(Attempt(WinHTTP_Download_Type_Auto), 0);
    EXPECT_EQ(rig.traces.Count(L"Cancel download"), 1);
    clock.ReleaseStalled();
    EXPECT_TRUE(downloadtest::Eventually([&] { return Files().empty(); }));
    EXPECT_EQ(published.fake.ieConfigReads, 0);
    ASSERT_EQ(published.fake.opens.size(), 1u);
    EXPECT_EQ(published.fake.opens[0].accessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
}

// An attempt given up while its thread still holds its file: the clean-up cannot delete the file
// and schedules it for the next restart instead, so that the folder can go after it.
TEST_F(Watchdog, GivenUpAttemptsFileIsScheduledByTheCleanUp) {
    flowfixtures::RegistryValueGuard pending(kSessionManagerKey, kPendingValue);
    flowfixtures::DeleteMachineValue(kSessionManagerKey, kPendingValue);
    Pace([](int i) { return i < 2 ? 1000u * static_cast<unsigned>(i + 1) : kNever; });
    EXPECT_EQ(Attempt(), 0);
    const std::vector<std::wstring> parts = PartFiles();
    ASSERT_EQ(parts.size(), 1u);

    RemoveAbandonedAttemptFiles();
    const std::wstring scheduled = flowfixtures::ReadMachineText(kSessionManagerKey, kPendingValue);
    EXPECT_NE(scheduled.find(parts[0]), std::wstring::npos);
    // Recorded once: a second clean-up has nothing left to do.
    flowfixtures::DeleteMachineValue(kSessionManagerKey, kPendingValue);
    RemoveAbandonedAttemptFiles();
    EXPECT_TRUE(flowfixtures::ReadMachineText(kSessionManagerKey, kPendingValue).empty());
}

// A progress bar on a thread of its own. The download thread moves it with SendMessageW and so
// waits while it handles a position; at 100 % it holds the thread until holdUntil in fake time,
// which stands for a long write of the complete body.
class SlowProgressBar {
  public:
    SlowProgressBar(AttemptClock& clock, unsigned holdUntil) {
        s_clock = &clock;
        s_holdUntil = holdUntil;
        m_thread = std::thread([this] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = &SlowProgressBar::WndProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"QervSlowProgressBar";
            RegisterClassW(&wc);
            m_threadId = GetCurrentThreadId();
            m_hWnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
            m_ready.store(true);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            DestroyWindow(m_hWnd);
        });
        while (!m_ready.load()) Sleep(1);
    }
    ~SlowProgressBar() {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND hWnd() const { return m_hWnd; }

  private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == PBM_SETPOS && wParam == 100) s_clock->WaitUntil(s_holdUntil);
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
    static inline AttemptClock* s_clock = nullptr;
    static inline unsigned s_holdUntil = 0;
    std::thread m_thread;
    std::atomic<bool> m_ready{false};
    DWORD m_threadId = 0;
    HWND m_hWnd = nullptr;
};

TEST_F(Watchdog, CompleteBodyIsNotCancelledWhileItIsWritten) {
    // The whole body has arrived at 1 s; its write then takes until 8 s, longer than five
    // samples.
    Pace([](int) { return 1000u; });
    SlowProgressBar progress(clock, 8000);
    clock.ExpectThread();
    EXPECT_EQ(DownloadFile(&record, testsupport::kFakeUrl, rig.target.c_str(), progress.hWnd(),
                           WinHTTP_Download_Type_Direct_Connect),
              1);

    EXPECT_EQ(rig.traces.Count(L"Cancel download"), 0);
    EXPECT_GE(Samples().size(), 6u);
    EXPECT_EQ(Samples().back(), L"Download percent: 100");
    EXPECT_EQ(Target(), kBody);
    EXPECT_TRUE(PartFiles().empty());
}

}  // namespace
