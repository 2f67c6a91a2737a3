// One download attempt against the scripted WinHTTP and a scripted libcurl path: the WinHTTP
// downloads of each connection type, the thread, and the launcher's stall watchdog in fake time.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/test_hooks.h"
#include "app/shared_state.h"
#include "download/download_file.h"
#include "download/winhttp_rules.h"
#include "download_scenario.h"
#include "registry_guard.h"
#include "trace_recorder.h"

namespace {

using namespace testsupport;

constexpr unsigned kNever = UINT_MAX;
constexpr DWORD kNoProxy = WINHTTP_ACCESS_TYPE_NO_PROXY;
constexpr DWORD kDefaultProxy = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
constexpr DWORD kNamedProxy = WINHTTP_ACCESS_TYPE_NAMED_PROXY;

// Fake time: the launcher's waits (on the test's thread) move the clock on, and the scripted
// transfer waits for it. After each move the launcher waits until the download thread waits for a
// later time again (or, when it has ended, a short real-time grace), so that every sample sees a
// known percentage.
class AttemptClock {
  public:
    AttemptClock() : launcher_(GetCurrentThreadId()) {
        Current() = this;
        SetSleepFunction([](unsigned ms) { Current()->Advance(ms); });
    }
    ~AttemptClock() {
        ReleaseStalled();
        SetSleepFunction(nullptr);
        Current() = nullptr;
    }

    // Before each DownloadFile: one download thread is about to run.
    void ExpectThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = 1;
    }
    // Returns once the clock has reached ms, or for kNever once the stalled ones are released.
    void WaitUntil(unsigned ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (Reached(ms)) return;
        Waiter self{ms, false};
        waiters_.push_back(&self);
        --running_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return self.woken; });
    }
    void ReleaseStalled() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        WakeReached();
    }
    unsigned Now() {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    std::vector<unsigned> LauncherPauses() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pauses_;
    }
    // Runs at each launcher wait, once the download has caught up.
    void OnTick(std::function<void(unsigned now)> tick) { tick_ = std::move(tick); }

  private:
    struct Waiter {
        unsigned until;
        bool woken;
    };
    static AttemptClock*& Current() {
        static AttemptClock* clock = nullptr;
        return clock;
    }
    bool Reached(unsigned ms) const { return ms == kNever ? released_ : now_ >= ms; }
    void WakeReached() {
        for (auto it = waiters_.begin(); it != waiters_.end();) {
            if (!Reached((*it)->until)) {
                ++it;
                continue;
            }
            (*it)->woken = true;
            ++running_;
            it = waiters_.erase(it);
        }
        changed_.notify_all();
    }
    void Advance(unsigned ms) {
        // The download's own pauses (availability retries) wait for the clock too.
        if (GetCurrentThreadId() != launcher_) return WaitUntil(Now() + ms);
        unsigned now = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            now = now_ += ms;
            pauses_.push_back(ms);
            WakeReached();
            changed_.wait_for(lock, std::chrono::milliseconds(300), [&] { return running_ <= 0; });
        }
        if (tick_) tick_(now);
    }

    const DWORD launcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Waiter*> waiters_;
    unsigned now_ = 0;
    int running_ = 0;
    bool released_ = false;
    std::vector<unsigned> pauses_;
    std::function<void(unsigned)> tick_;
};

// The libcurl path as a script: it fails or writes body once the clock reaches endsAt, and
// records the proxy (none: not given) and the file of each call.
struct CurlScript {
    int result = -1;
    unsigned endsAt = 0;
    std::string body;
    AttemptClock* clock = nullptr;
    std::vector<std::optional<std::wstring>> proxies;
    std::vector<std::wstring> files;
};

CurlScript* g_curl = nullptr;

int ScriptedCurl(const wchar_t* proxy, const wchar_t*, const wchar_t* file, HWND,
                 std::atomic<LONG>* percent) {
    CurlScript& script = *g_curl;
    script.proxies.push_back(proxy != nullptr ? std::optional<std::wstring>(proxy) : std::nullopt);
    script.files.push_back(file);
    percent->store(0);
    if (script.clock != nullptr) script.clock->WaitUntil(script.endsAt);
    if (script.result < 1) return script.result;
    return WriteBytes(file, {script.body.begin(), script.body.end()}) ? script.result : -1;
}

// The scripted WinHTTP published as the process's download object for the time of a test.
struct PublishedWrapper {
    PublishedWrapper() : previous(g_pWinHttpWrapper.exchange(&wrapper)) {}
    ~PublishedWrapper() { g_pWinHttpWrapper.store(previous); }
    FakeWinHttp fake;
    WinHttpWrapper wrapper{fake};
    WinHttpWrapper* previous;
};

// n chunks of size bytes, each chunk's bytes telling it apart.
std::string ChunkedBody(int chunks, unsigned size = 4096, char first = 'a') {
    std::string body;
    for (int i = 0; i < chunks; ++i) body.append(size, static_cast<char>(first + i % 26));
    return body;
}

// Waits in real time, up to a limit, for what a thread left running will do.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) Sleep(10);
    return done();
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

FakeIEConfig StaticProxy(const std::wstring& proxy) {
    FakeIEConfig config;
    config.proxy = proxy;
    return config;
}

const std::string kBody = ChunkedBody(3);

TEST(DownloadByType, MakesTheDownloadsOfItsType) {
    struct Restore {
        ~Restore() { g_configuredProxy = {}; }
    } restore;
    wcscpy(g_configuredProxy.szHost, L"127.0.0.1");
    g_configuredProxy.nPort = 3128;
    wcscpy(g_configuredProxy.szUserName, L"qerv");
    wcscpy(g_configuredProxy.szPassword, L"secret");
    const FakeResponse k404 = StatusResponse(404), kGot = OkResponse(kBody);
    const FakeResponse k407 = ChallengeResponse(407, kAuthSchemeBasic, WINHTTP_AUTH_TARGET_PROXY);
    enum Cancel { Clear, Set, Absent };
    const struct {
        const char* name;
        DWORD type;
        Cancel cancel;
        std::vector<FakeResponse> responses;
        std::vector<DWORD> sessions;  // access type of each session opened
        int result;
    } rows[] = {
        {"AutoDirect", 0, Clear, {kGot}, {kNoProxy}, 1},
        {"AutoFallsBackToIEProxy", 0, Clear, {k404, kGot}, {kNoProxy, kNamedProxy}, 1},
        {"AutoWithoutFlagFallsBack", 0, Absent, {k404, k404}, {kNoProxy, kNamedProxy}, 0},
        // The set flag stops the direct download after its first chunk, and nothing follows.
        {"AutoCancelledStopsAfterDirect", 0, Set, {kGot, kGot}, {kNoProxy}, 0},
        {"Direct", 1, Clear, {kGot}, {kNoProxy}, 1},
        {"DefaultProxy", 2, Clear, {kGot}, {kDefaultProxy}, 1},
        {"IEProxy", 3, Clear, {k404}, {kNamedProxy}, 0},
        // The configured proxy answers its challenge with its user name and password.
        {"ConfiguredProxy", 4, Clear, {k407, kGot}, {kNamedProxy}, 1},
        {"UnknownType", 5, Clear, {}, {}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DownloadScenario s;
        s.fake.ieConfig = StaticProxy(L"127.0.0.1:3128");
        s.fake.responses = row.responses;
        s.cancel = row.cancel == Set ? 1 : 0;
        EXPECT_EQ(DownloadByType(row.type, nullptr, row.cancel == Absent ? nullptr : &s.cancel,
                                 &s.percent, &s.wrapper, kFakeUrl, s.target.c_str()),
                  row.result);
        std::vector<DWORD> sessions;
        for (const FakeOpen& open : s.fake.opens) sessions.push_back(open.accessType);
        EXPECT_EQ(sessions, row.sessions);
        EXPECT_EQ(s.fake.OpenHandles(), 0);
        const bool configured = row.type == WinHTTP_Download_Type_By_User_Config_Proxy;
        const std::vector<FakeCredentials> qerv = {
            {WINHTTP_AUTH_TARGET_PROXY, kAuthSchemeBasic, L"qerv", L"secret"}};
        EXPECT_EQ(s.fake.credentials, configured ? qerv : std::vector<FakeCredentials>{});
        if (configured) {
            EXPECT_EQ(s.fake.opens.at(0).proxy, std::wstring(L"127.0.0.1:3128"));
        }
        if (row.result == 1) {
            EXPECT_EQ(FileText(s.target), kBody);
        }
    }
}

struct ThreadRig {
    ThreadRig() {
        g_curl = &curl;
        SetHttpsDownloadFunction(ScriptedCurl);
    }
    ~ThreadRig() {
        SetHttpsDownloadFunction(nullptr);
        g_curl = nullptr;
    }
    DownloadAttemptRef RunThread(DWORD type, bool abandoned = false) {
        DownloadAttemptRef attempt(
            DownloadAttempt::Create(kFakeUrl, target.c_str(), nullptr, type));
        if (!attempt) return attempt;
        if (abandoned) attempt->Abandon();
        attempt->AddRef();
        DownloadThread(attempt.get());
        return attempt;
    }

    CurlScript curl;
    TraceRecorder traces;
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    PublishedWrapper published;
};

class ThreadOnly : public ::testing::Test, public ThreadRig {
  protected:
    ThreadOnly() {
        SetSleepFunction([](unsigned) {});
    }
    ~ThreadOnly() override { SetSleepFunction(nullptr); }
};

TEST_F(ThreadOnly, WithoutADownloadObjectTheAttemptFailsAtOnce) {
    g_pWinHttpWrapper.store(nullptr);
    DownloadAttemptRef attempt = RunThread(WinHTTP_Download_Type_Direct_Connect);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 0);
    EXPECT_TRUE(attempt->IsFinished());
    EXPECT_TRUE(curl.proxies.empty()) << "libcurl must not run";
    EXPECT_EQ(traces.Lines(), std::vector<std::wstring>{L"Start DownloadThread"});
}

// Libcurl's download stays in the attempt's own file for the launcher to take; when the launcher
// has given up, the thread removes it.
TEST_F(ThreadOnly, LibcurlSuccessEndsTheAttemptWithoutWinHttp) {
    curl.result = 1;
    curl.body = kBody;
    for (const bool abandoned : {false, true}) {
        SCOPED_TRACE(abandoned ? "abandoned" : "awaited");
        DownloadAttemptRef attempt = RunThread(WinHTTP_Download_Type_Direct_Connect, abandoned);
        ASSERT_TRUE(attempt);
        EXPECT_EQ(attempt->nResult.load(), 1);
        EXPECT_EQ(attempt->bCurlPhase.load(), 1);
        EXPECT_EQ(attempt->IsFinished(), !abandoned);
        EXPECT_EQ(FileText(attempt->szOwnFile()), abandoned ? "(missing)" : kBody);
        EXPECT_FALSE(FileExists(target));
    }
    EXPECT_TRUE(published.fake.opens.empty()) << "WinHTTP must not run";
}

TEST_F(ThreadOnly, LibcurlFailureFallsBackToWinHttpOfTheSameTypeIntoTheSameFile) {
    published.fake.responses = {OkResponse(kBody)};
    DownloadAttemptRef attempt = RunThread(WinHTTP_Download_Type_By_Default_Proxy);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 1);
    EXPECT_EQ(attempt->bCurlPhase.load(), 0);
    ASSERT_EQ(published.fake.opens.size(), 1u);
    EXPECT_EQ(published.fake.opens[0].accessType, kDefaultProxy);
    EXPECT_EQ(attempt->nPercent.load(), 100);
    EXPECT_EQ(curl.files, std::vector<std::wstring>{attempt->szOwnFile()});
    EXPECT_EQ(FileText(attempt->szOwnFile()), kBody);
}

TEST_F(ThreadOnly, FailedAttemptLeavesNoFile) {
    published.fake.responses = {OkResponse(kBody, static_cast<DWORD>(kBody.size() * 2))};
    DownloadAttemptRef attempt = RunThread(WinHTTP_Download_Type_Direct_Connect);
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->nResult.load(), 0);
    EXPECT_TRUE(FilesIn(dir.path()).empty());
}

// The libcurl path gets a proxy only for the Internet Explorer type: the static proxy list of the
// settings, or the empty text (no proxy) when there is none to pass on.
TEST_F(ThreadOnly, LibcurlGetsTheIEStaticProxyForTheIEType) {
    const std::wstring list = L"http=http://127.0.0.1:3128;https=https://127.0.0.1:3129";
    const std::wstring longest = L"127.0.0.1:3128;" + std::wstring(255 - 15, L'x');
    const struct {
        DWORD type;
        std::optional<FakeIEConfig> settings;
        std::optional<std::wstring> proxy;
    } rows[] = {
        {0, StaticProxy(list), std::nullopt}, {1, StaticProxy(list), std::nullopt},
        {2, StaticProxy(list), std::nullopt}, {3, StaticProxy(list), list},
        {3, StaticProxy(longest), longest},   {3, StaticProxy(longest + L"x"), std::wstring()},
        {3, FakeIEConfig{}, std::wstring()},  {3, std::nullopt, std::wstring()}};
    curl.result = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.type << " " << (row.proxy ? "" : "no proxy"));
        PublishedWrapper fresh;  // the settings are cached by the download object
        fresh.fake.ieConfig = row.settings;
        curl.proxies.clear();
        ASSERT_TRUE(RunThread(row.type));
        EXPECT_EQ(curl.proxies, std::vector<std::optional<std::wstring>>{row.proxy});
    }
}

const std::string kTenChunks = ChunkedBody(10);  // ten percent each

struct WatchdogRig : ThreadRig {
    WatchdogRig() {
        curl.clock = &clock;
        curl.endsAt = 1000;
        published.fake.ieConfig = StaticProxy(L"127.0.0.1:3128");
        published.fake.responses = {OkResponse(kTenChunks)};
    }
    ~WatchdogRig() {
        // A stalled thread still holds the scripted WinHTTP: let it end, removing its own file.
        clock.ReleaseStalled();
        EXPECT_TRUE(Eventually([&] { return PartFiles().empty(); }));
    }
    // Chunk i of the WinHTTP body is read at at(i) ms.
    void Pace(std::function<unsigned(int)> at) {
        published.fake.onRead = [this, at](int i) { clock.WaitUntil(at(i)); };
    }
    int Attempt(DWORD type = WinHTTP_Download_Type_Direct_Connect, HWND progress = nullptr) {
        clock.ExpectThread();
        return DownloadFile(&record, kFakeUrl, target.c_str(), progress, type);
    }
    std::vector<std::wstring> PartFiles() {
        std::vector<std::wstring> parts = FilesIn(dir.path());
        parts.erase(std::remove_if(parts.begin(), parts.end(),
                                   [](const std::wstring& n) {
                                       return n.size() < 5 || n.substr(n.size() - 5) != L".part";
                                   }),
                    parts.end());
        return parts;
    }

    AttemptClock clock;
    DownloadThreadParam record;
};

class Watchdog : public ::testing::Test, public WatchdogRig {};

std::vector<unsigned> Seconds(int samples) {
    std::vector<unsigned> pauses(static_cast<size_t>(samples), 1000u);
    pauses.push_back(2000u);
    return pauses;
}

const auto kStallsAfterTwoChunks = [](int i) { return i < 2 ? 1000u * (i + 1) : kNever; };

TEST_F(Watchdog, StalledTransferIsCancelledAfterFiveSamplesAndTheLauncherReturnsTwoSecondsLater) {
    Pace(kStallsAfterTwoChunks);
    EXPECT_EQ(Attempt(), 0);
    // Libcurl fails at 1 s; the samples then see 10 %, and 20 % from 2 s on, five times more.
    std::vector<std::wstring> expected = {L"Start DownloadThread", L"Download percent: 10"};
    expected.insert(expected.end(), 6, L"Download percent: 20");
    expected.push_back(L"Cancel download");
    EXPECT_EQ(traces.Lines(), expected);
    EXPECT_EQ(clock.LauncherPauses(), Seconds(7));
    EXPECT_EQ(clock.Now(), 9000u);
    // The thread is still blocked in its read; the record shows the attempt as it was given up.
    EXPECT_EQ(record.bCancel.load(), 1);
    EXPECT_EQ(record.nResult.load(), 0);
    EXPECT_FALSE(record.bFinished.load());
    EXPECT_EQ(record.nPercent.load(), 20);
    EXPECT_EQ(record.bCurlPhase.load(), 0);
    EXPECT_FALSE(FileExists(target));
    // Once its read returns, the thread stops at the cancel flag and removes its own file.
    clock.ReleaseStalled();
    EXPECT_TRUE(Eventually([&] {
        return published.wrapper.m_dwStatus.load() == WinHTTP_Download_Status_Cancel_By_User &&
               FilesIn(dir.path()).empty();
    }));
}

// A transfer must gain a point in every five samples; chunk i arrives at first + i * every ms.
TEST(WatchdogPace, TransferMustGainAPointInEveryFiveSamples) {
    const struct {
        unsigned first, every;
        int cancelledAtSecond;  // 0: the transfer runs to its end
    } rows[] = {{1000, 5000, 0}, {1000, 6000, 6}, {5000, 5000, 0}, {6000, 1000, 5}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.first << "+" << row.every);
        WatchdogRig w;
        w.Pace([&row](int i) { return row.first + static_cast<unsigned>(i) * row.every; });
        const int result = w.Attempt();
        const bool cancelled = row.cancelledAtSecond != 0;
        EXPECT_EQ(result, cancelled ? 0 : 1);
        EXPECT_EQ(w.traces.Count(L"Cancel download"), cancelled ? 1 : 0);
        EXPECT_EQ(FileText(w.target), cancelled ? "(missing)" : kTenChunks);
        EXPECT_EQ(w.record.nResult.load(), result);
        if (cancelled) {
            EXPECT_EQ(w.clock.LauncherPauses(), Seconds(row.cancelledAtSecond));
        } else {
            EXPECT_TRUE(w.record.bFinished.load());
        }
        EXPECT_EQ(w.record.bCancel.load(), cancelled ? 1 : 0);
    }
}

TEST_F(Watchdog, LibcurlPhaseIsNeitherTracedNorCounted) {
    curl.result = 1;
    curl.endsAt = 20000;
    curl.body = kTenChunks;
    EXPECT_EQ(Attempt(), 1);
    EXPECT_TRUE(traces.Starting(L"Download percent: ").empty());
    EXPECT_EQ(traces.Count(L"Cancel download"), 0);
    EXPECT_TRUE(published.fake.opens.empty()) << "WinHTTP must not run";
    EXPECT_EQ(FileText(target), kTenChunks);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::wstring>{L"Setup.dat"});
    const std::vector<unsigned> pauses = clock.LauncherPauses();
    ASSERT_GE(pauses.size(), 21u);
    EXPECT_EQ(pauses.back(), 2000u);
    EXPECT_EQ(record.nResult.load(), 1);
    EXPECT_TRUE(record.bFinished.load());
}

// A cancelled type-0 attempt does not go on to the Internet Explorer proxy.
TEST_F(Watchdog, CancelledAutoAttemptDoesNotFallBackToTheIEProxy) {
    Pace([](int i) { return i < 1 ? 1000u : kNever; });
    published.fake.responses.push_back(OkResponse(kTenChunks));
    EXPECT_EQ(Attempt(WinHTTP_Download_Type_Auto), 0);
    EXPECT_EQ(traces.Count(L"Cancel download"), 1);
    clock.ReleaseStalled();
    EXPECT_TRUE(Eventually([&] { return FilesIn(dir.path()).empty(); }));
    EXPECT_EQ(published.fake.ieConfigReads, 0);
    ASSERT_EQ(published.fake.opens.size(), 1u);
    EXPECT_EQ(published.fake.opens[0].accessType, kNoProxy);
}

// The file of an attempt given up while its thread holds it cannot be deleted: the clean-up
// schedules it for the next restart, once, so that the folder can go after it.
TEST_F(Watchdog, GivenUpAttemptsFileIsScheduledByTheCleanUp) {
    RegistryValueGuard pending(kSessionManagerKey, kPendingValue);
    DeleteMachineValue(kSessionManagerKey, kPendingValue);
    Pace(kStallsAfterTwoChunks);
    EXPECT_EQ(Attempt(), 0);
    const std::vector<std::wstring> parts = PartFiles();
    ASSERT_EQ(parts.size(), 1u);
    RemoveAbandonedAttemptFiles();
    EXPECT_NE(ReadMachineText(kSessionManagerKey, kPendingValue).find(parts[0]),
              std::wstring::npos);
    DeleteMachineValue(kSessionManagerKey, kPendingValue);
    RemoveAbandonedAttemptFiles();
    EXPECT_TRUE(ReadMachineText(kSessionManagerKey, kPendingValue).empty());
}

// The download thread moves the progress bar with SendMessageW; this bar, on a thread of its own,
// holds it at 100 % until 8 s, a long write of a body complete at 1 s.
AttemptClock* g_barClock = nullptr;

LRESULT CALLBACK SlowBar(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS && wParam == 100) g_barClock->WaitUntil(8000);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST_F(Watchdog, CompleteBodyIsNotCancelledWhileItIsWritten) {
    Pace([](int) { return 1000u; });
    g_barClock = &clock;
    std::atomic<HWND> bar{nullptr};
    DWORD barThread = 0;
    std::thread ui([&bar, &barThread] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = SlowBar;
        wc.lpszClassName = L"QervSlowProgressBar";
        RegisterClassW(&wc);
        HWND window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
        barThread = GetCurrentThreadId();
        bar = window;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        DestroyWindow(window);
    });
    while (bar == nullptr) Sleep(1);
    EXPECT_EQ(Attempt(WinHTTP_Download_Type_Direct_Connect, bar), 1);
    PostThreadMessageW(barThread, WM_QUIT, 0, 0);
    ui.join();
    EXPECT_EQ(traces.Count(L"Cancel download"), 0);
    const std::vector<std::wstring> samples = traces.Starting(L"Download percent: ");
    EXPECT_GE(samples.size(), 6u);
    EXPECT_EQ(samples.back(), L"Download percent: 100");
    EXPECT_EQ(FileText(target), kTenChunks);
    EXPECT_TRUE(PartFiles().empty());
}

// Two attempts in a row, the first given up while its thread is blocked in a read: the late
// thread must not end, fail or overwrite the next attempt, which has its own download object.
TEST_F(Watchdog, LateThreadOfACancelledAttemptDoesNotTouchTheNextOne) {
    // Libcurl fails at 1 s, one chunk, then the read blocks: cancelled at 6 s, given up at 8 s.
    Pace([](int i) { return i < 1 ? 1000u : kNever; });
    ASSERT_EQ(Attempt(), 0);
    ASSERT_EQ(clock.Now(), 8000u);
    ASSERT_EQ(record.bCancel.load(), 1);
    // Libcurl fails at 9 s, then a chunk a second; the first read returns at 11 s, half-way.
    const std::string second = ChunkedBody(10, 4096, 'A');
    std::optional<PublishedWrapper> next(std::in_place);
    next->fake.responses = {OkResponse(second)};
    next->fake.onRead = [this](int i) { clock.WaitUntil(9000u + 1000u * i); };
    curl.endsAt = 9000;
    clock.OnTick([this](unsigned now) {
        if (now == 11000) clock.ReleaseStalled();
    });
    EXPECT_EQ(Attempt(), 1);
    // The late thread stopped at its own cancel flag and removed its own file ...
    EXPECT_TRUE(Eventually([&] {
        return published.wrapper.m_dwStatus.load() == WinHTTP_Download_Status_Cancel_By_User &&
               FilesIn(dir.path()) == std::vector<std::wstring>{L"Setup.dat"};
    }));
    // ... while the second attempt started with a clear flag and read every chunk.
    EXPECT_EQ(next->wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
    EXPECT_EQ(next->fake.readSizes.size(), 10u);
    EXPECT_EQ(FileText(target), second);
    EXPECT_EQ(traces.Count(L"Cancel download"), 1);
    EXPECT_GE(clock.Now(), 18000u);
    EXPECT_EQ(record.bCancel.load(), 0);
    EXPECT_EQ(record.nResult.load(), 1);
    EXPECT_TRUE(record.bFinished.load());
    EXPECT_EQ(record.nPercent.load(), 100);
    clock.OnTick(nullptr);
}

}  // namespace
