// The worker under Wine against a recording dialog, with the waits and trace lines captured: the
// download folder in a temporary folder chosen through TMP, the decoding, the end of the download
// stage, and whole runs of RunSetup with the libcurl phase scripted. The program's update server
// refuses connections, so an attempt that the script fails fails over WinHTTP too.
#include "app/setup_worker.h"

#include "base/debug_trace.h"
#include "app/message_table.h"
#include "ui/shared_state.h"
#include "base/held_file.h"
#include "download/abandoned_files.h"
#include "base/security_descriptor.h"
#include "base/test_hooks.h"
#include "system/package_format.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "recording_view.h"
#include "hook_guards.h"
#include "registry_guard.h"
#include "sleep_recorder.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

std::wstring Text(int nMessage) { return GetMessageText(nMessage); }
std::wstring Status(int nMessage) { return L"SetStatusText " + Text(nMessage); }
std::wstring Box(int nMessage) { return L"ShowMessageBox " + Text(nMessage) + L" 16"; }

// A recorder fixture's bytes: fixture_recorder is signed by the publisher the tests pin.
std::vector<unsigned char> FixtureBytes(const wchar_t* name) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(testsupport::ReadBytes(testsupport::Fixture(name), &bytes)) << name;
    return bytes;
}
const std::vector<unsigned char> kInstaller = FixtureBytes(L"fixture_recorder");

// The package of an installer.
std::vector<unsigned char> Package(const std::vector<unsigned char>& installer = kInstaller) {
    std::vector<unsigned char> bytes = installer;
    bytes.insert(bytes.begin(), kPackageHeaderBytes, 0);
    EXPECT_TRUE(
        SealPackage(0x5A17C3E9, static_cast<std::uint32_t>(installer.size()), bytes.data()));
    return bytes;
}

class SetupWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_nCancelState = kCancelStateNone;
        g_nLanguage = kLanguageEnglish;
    }
    void TearDown() override {
        g_nCancelState = kCancelStateNone;
        g_nLanguage = 0;
    }
    // Lines traced in this order, maybe with others between them; each traced line starts with
    // the one given (the rest may name a temporary path).
    ::testing::AssertionResult TracedInOrder(const std::vector<std::wstring>& lines) const {
        std::size_t next = 0;
        for (const std::wstring& traced : recorder.Lines()) {
            if (next < lines.size() && traced.rfind(lines[next], 0) == 0) ++next;
        }
        if (next == lines.size()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "missing or out of order: " << lines[next];
    }
    // The files of a download folder made in the temporary folder.
    SetupPaths PathsIn(const wchar_t* szName) const {
        const std::wstring folder = temp.File(szName);
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        return {folder, folder + L"\\Setup.dat", folder + L"\\DeSetup.dat",
                folder + L"\\SetupB.exe", temp.path()};
    }

    RecordingView view;
    testsupport::SleepRecorder sleeps;
    testsupport::TraceRecorder recorder;
    testsupport::TempDir temp;
};

// A good package becomes the installer; one that does not decode leaves nothing to move.
TEST_F(SetupWorkerTest, DecodingTurnsThePackageIntoTheInstaller) {
    const SetupPaths paths = PathsIn(L"0B12.tmp");
    ASSERT_TRUE(testsupport::WriteBytes(paths.packageFile, Package()));
    ASSERT_TRUE(DecodeInstaller(paths));
    std::vector<unsigned char> written;
    ASSERT_TRUE(testsupport::ReadBytes(paths.installerFile, &written));
    EXPECT_EQ(written, kInstaller);
    EXPECT_FALSE(testsupport::FileExists(paths.decodedFile));
    EXPECT_TRUE(TracedInOrder({L"sDecodedPath: " + paths.decodedFile, L"pqrlo -2 : bRet: 1",
                               L"sPathFileRun: " + paths.installerFile,
                               L"sDownloadedPath: " + paths.packageFile}));
    EXPECT_EQ(recorder.Lines().back(), L"sDownloadedPath: " + paths.packageFile);

    recorder.Clear();
    DeleteFileW(paths.installerFile.c_str());
    ASSERT_TRUE(testsupport::WriteBytes(paths.packageFile, std::vector<unsigned char>(64, 'x')));
    EXPECT_FALSE(DecodeInstaller(paths));
    EXPECT_TRUE(testsupport::FileExists(paths.packageFile));
    EXPECT_FALSE(testsupport::FileExists(paths.installerFile));
    // After the lines of old, one that says which failure it was.
    EXPECT_TRUE(TracedInOrder({L"pqrlo -2 : bRet: 0", L"MoveFileEx eror: 2"}));
    EXPECT_EQ(recorder.Lines().back(),
              L"Package not decoded: 1: wrong magic, or the payload length does not match the "
              L"file size");
}

TEST_F(SetupWorkerTest, OutcomeStaysOnThePausedStatusLineAndAFailureRemovesTheFiles) {
    const SetupPaths paths = PathsIn(L"0A3F.tmp");
    const std::wstring& folder = paths.downloadFolder;
    HeldFiles held;
    ShowDownloadOutcome(view, true, paths, &held);
    EXPECT_EQ(view.calls, (std::vector<std::wstring>{L"Pause", Status(kMsgDownloadCompleted)}));
    EXPECT_EQ(sleeps.Waits(), std::vector<unsigned>{1500});
    EXPECT_EQ(recorder.Lines(), std::vector<std::wstring>{L"pqrlo -3"});
    EXPECT_TRUE(testsupport::FileExists(folder));

    // A package that failed to decode leaves the package, a partial output and maybe the
    // installer; all of them go, and the folder with them.
    view.calls.clear();
    sleeps.Clear();
    recorder.Clear();
    for (const std::wstring* file :
         {&paths.packageFile, &paths.decodedFile, &paths.installerFile}) {
        ASSERT_TRUE(testsupport::WriteBytes(*file, {1}));
    }
    held.folder = OpenFolderHeld(folder);
    ShowDownloadOutcome(view, false, paths, &held);
    EXPECT_FALSE(held.folder.valid());
    EXPECT_FALSE(testsupport::FileExists(folder));
    EXPECT_EQ(view.calls,
              (std::vector<std::wstring>{L"Pause", L"SetProgress 0", Status(kMsgDownloadFailed)}));
    EXPECT_TRUE(sleeps.Waits().empty());
    EXPECT_EQ(recorder.Lines(), std::vector<std::wstring>{L"pqrlo -4"});
}

TEST_F(SetupWorkerTest, StopPointWaitsForTheOpenQuestionAndHonoursItsAnswer) {
    const struct {
        int nStateAtStopPoint;
        std::size_t nSleepsUntilAnswer;  // 0: the state does not change while waiting
        int nAnsweredState;
        bool bStopped;
        int nFinalState;
    } kCases[] = {
        {kCancelStateNone, 0, kCancelStateNone, false, kCancelStatePastStopPoint},
        {kCancelStateConfirmed, 0, kCancelStateNone, true, kCancelStateConfirmed},
        {kCancelStateAsked, 3, kCancelStateConfirmed, true, kCancelStateConfirmed},
        {kCancelStateAsked, 2, kCancelStateNone, false, kCancelStatePastStopPoint},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.nStateAtStopPoint);
        sleeps.Clear();
        recorder.Clear();
        g_nCancelState = c.nStateAtStopPoint;
        // The question is answered while the worker waits.
        sleeps.SetAfterWait([&c](std::size_t nWaits) {
            if (nWaits == c.nSleepsUntilAnswer) g_nCancelState = c.nAnsweredState;
        });

        EXPECT_EQ(StopAtStopPoint(), c.bStopped);
        EXPECT_EQ(g_nCancelState.load(), c.nFinalState);
        EXPECT_EQ(sleeps.Waits(), std::vector<unsigned>(c.nSleepsUntilAnswer, 200u));
        EXPECT_EQ(recorder.Lines(), std::vector<std::wstring>{L"pqrlo -5"});
    }
}

// The libcurl phase as the runs script it: it writes this into the attempt's file, or fails.
std::vector<unsigned char> g_served;
bool g_serves = false;
int ScriptedCurl(const wchar_t*, const wchar_t*, const wchar_t* szSaveFile, HWND,
                 std::atomic<LONG>* pnPercent) {
    if (!g_serves || !testsupport::WriteBytes(szSaveFile, g_served)) return 0;
    *pnPercent = 100;
    return 1;
}

// What the starts were given: the command line, and the bytes of the file started as they were
// when it was started. The hook runs first, as the last chance to change the file.
struct DirectStartRecord {
    std::wstring commandLine;
    std::vector<unsigned char> started;
};
std::vector<DirectStartRecord> g_directStarts;
std::function<void()> g_beforeStart;
DirectStart RecordDirectStart(HANDLE hInstaller, const wchar_t* szApplication,
                              wchar_t* szCommandLine) {
    if (g_beforeStart) g_beforeStart();
    DirectStartRecord record{szCommandLine, {}};
    EXPECT_NE(hInstaller, nullptr);
    EXPECT_TRUE(szApplication != nullptr && testsupport::ReadBytes(szApplication, &record.started));
    g_directStarts.push_back(record);
    return DirectStart::kStarted;
}
bool NoElevatedStart(HWND, const wchar_t*, const wchar_t*, DWORD* pdwError) {
    *pdwError = ERROR_ACCESS_DENIED;
    return false;
}
void NoBox() {}
const InstallerStarter kRecordingStarter = {RecordDirectStart, NoElevatedStart, NoBox};

// The one folder that a run made in the temporary folder, or empty when there is none.
std::wstring DownloadFolderIn(const std::wstring& temp) {
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW((temp + L"\\0*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return temp + L"\\" + found.cFileName;
}

enum class Serve { kPackage, kUnsignedPackage, kVersionedPackage, kGarbage, kNothing, kNoWindow };

// What a run leaves: the installer started through the recording starter, "SetupB.exe" copied
// next to the program, the download folder kept (neither removed nor scheduled for removal).
enum : unsigned { kStarted = 1, kCopied = 2, kFolderKept = 4 };

struct RunCase {
    const char* name;
    const wchar_t* szArguments;
    Serve serve;
    int nCancelState;  // at the stop point
    SetupEnd end;
    std::vector<std::wstring> calls;
    unsigned left;
    std::vector<std::wstring> traces;  // in this order, with others between
    const wchar_t* besideProgram =
        nullptr;               // the fixture lying next to the program as "SetupB.exe"
    const char* minimum = "";  // the lowest installer version started
};

// The runs of the table below: every mode and outcome. The texts are built when the rows are,
// in the language of that moment.
std::vector<RunCase> RunCases() {
    const std::wstring done = Status(kMsgDownloadCompleted);
    const std::vector<std::wstring> allFailed = {L"Pause",
                                                 Status(kMsgSwitchToIeProxy),
                                                 L"Resume",
                                                 L"Pause",
                                                 Status(kMsgSwitchToDefaultProxy),
                                                 L"Resume",
                                                 L"Pause",
                                                 L"SetProgress 0",
                                                 Status(kMsgDownloadFailed)};
    std::vector<std::wstring> shownFailure = allFailed;
    shownFailure.push_back(Box(kMsgDownloadFailed));
    std::vector<std::wstring> hiddenFailure = {L"Hide"};
    hiddenFailure.insert(hiddenFailure.end(), allFailed.begin(), allFailed.end());
    const std::vector<std::wstring> refused = {L"Pause", L"SetProgress 0",
                                               Status(kMsgDownloadFailed), Box(kMsgDownloadFailed)};
    const std::wstring unsigned0 = L"Installer signature refused: WinVerifyTrust 0x800B0100: ";
    const int kNone = kCancelStateNone;
    // clang-format off
    return {
        {"installs", L"", Serve::kPackage, kNone, SetupEnd::kInstallerLaunched,
         {L"Pause", done, L"Hide"}, kStarted, {L"pqrlo - 1: bRet = 1", L"pqrlo -3", L"pqrlo -5"}},
        {"download only", L"/DownloadOnly", Serve::kPackage, kNone, SetupEnd::kDownloadOnlyCopied,
         {L"Hide", L"Pause", done, L"Hide", L"EndSetupDialog"}, kCopied | kFolderKept,
         {L"sArgumentTotal : /DownloadOnly", L"pqrlo -3"}},
        {"all attempts fail", L"", Serve::kNothing, kNone, SetupEnd::kDownloadFailed, shownFailure, 0,
         {L"DownloadFile 1", L"DownloadFile 2", L"DownloadFile 3", L"pqrlo - 1: bRet = 0", L"pqrlo -4"}},
        {"hidden run fails quietly", L"/DownloadOnly", Serve::kNothing, kNone,
         SetupEnd::kDownloadFailed, hiddenFailure, 0, {L"pqrlo -4", Text(kMsgDownloadFailed)}},
        {"package does not decode", L"", Serve::kGarbage, kNone, SetupEnd::kDownloadFailed,
         {L"Pause", L"SetProgress 0", Status(kMsgDownloadFailed), Box(kMsgDownloadFailed)}, 0,
         {L"pqrlo - 1: bRet = 1", L"MoveFileEx eror: 2", L"Package not decoded: 1: ",
          L"pqrlo -4"}},
        {"installer not signed", L"", Serve::kUnsignedPackage, kNone, SetupEnd::kDownloadFailed,
         refused, 0, {L"pqrlo -2 : bRet: 1", unsigned0, L"pqrlo -4"}},
        {"download only, installer not signed", L"/DownloadOnly", Serve::kUnsignedPackage, kNone,
         SetupEnd::kDownloadFailed, {L"Hide", L"Pause", L"SetProgress 0", Status(kMsgDownloadFailed)},
         0, {unsigned0, L"pqrlo -4", Text(kMsgDownloadFailed)}},
        {"stop confirmed", L"", Serve::kPackage, kCancelStateConfirmed, SetupEnd::kStoppedByUser,
         {L"Pause", done}, kFolderKept, {L"pqrlo -5"}},
        {"set-up only", L"/SetupOnly", Serve::kNothing, kNone, SetupEnd::kInstallerLaunched,
         {L"Hide"}, kStarted | kCopied,
         {L"sArgumentTotal : /SetupOnly", L"Installer signer pinned: CN=Qerv Test Publisher"},
         L"fixture_recorder"},
        {"set-up only, installer not signed", L"/SetupOnly", Serve::kNothing, kNone,
         SetupEnd::kDownloadFailed, refused, kCopied, {unsigned0, L"pqrlo -4", L"pqrlo -5"},
         L"fixture_recorder_unsigned"},
        {"set-up only, no installer", L"/SetupOnly", Serve::kNothing, kNone,
         SetupEnd::kDownloadFailed, refused, 0, {L"Installer not opened: 2: ", L"pqrlo -4"}},
        {"installer at the lowest version", L"", Serve::kVersionedPackage, kNone,
         SetupEnd::kInstallerLaunched, {L"Pause", done, L"Hide"}, kStarted,
         {L"Installer signer pinned: ", L"pqrlo -3"}, nullptr, "1.2.3.4"},
        {"installer below the lowest version", L"", Serve::kVersionedPackage, kNone,
         SetupEnd::kDownloadFailed, refused, 0,
         {L"Installer version refused: 1.2.3.4 below 1.2.4.0", L"pqrlo -4"}, nullptr, "1.2.4"},
        {"both switches copy nothing", L"/DownloadOnly /SetupOnly", Serve::kNothing, kNone,
         SetupEnd::kDownloadOnlyCopied, {L"Hide", L"Hide", L"EndSetupDialog"}, kFolderKept,
         {L"CopyFile error: 2"}},
        {"no window", L"", Serve::kNoWindow, kNone, SetupEnd::kInitFailed, {Box(kMsgInitFailed)}, 0,
         {}},
    };
    // clang-format on
}

class RunSetupEnds : public SetupWorkerTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RunSetupEnds, AsItsModeAndOutcomeSay) {
    const RunCase c = RunCases()[GetParam()];
    const std::wstring beside = testsupport::BesideTestProgram(L"SetupB.exe");
    testsupport::RegistryValueGuard pending(testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue);
    // Runs do not wait: every wait only yields, so that the attempts' threads get on.
    sleeps.SetThen(testsupport::SleepRecorder::Then::kYield);
    const testsupport::HttpsDownloadScript curl(ScriptedCurl);
    {
        testsupport::TempDir runTemp;
        testsupport::TemporaryFolderOverride override(runTemp.path());
        DeleteFileW(beside.c_str());
        if (c.besideProgram != nullptr) {
            ASSERT_TRUE(testsupport::CopyFixture(c.besideProgram, beside));
        }
        recorder.Clear();
        view.calls.clear();
        view.window = c.serve == Serve::kNoWindow ? nullptr : GetDesktopWindow();
        g_directStarts.clear();
        g_serves = c.serve != Serve::kNothing && c.serve != Serve::kNoWindow;
        const std::vector<unsigned char> installer =
            c.serve == Serve::kUnsignedPackage    ? FixtureBytes(L"fixture_recorder_unsigned")
            : c.serve == Serve::kVersionedPackage ? FixtureBytes(L"fixture_versioned")
                                                  : kInstaller;
        g_served =
            c.serve == Serve::kGarbage ? std::vector<unsigned char>(64, 'x') : Package(installer);
        g_nCancelState = c.nCancelState;
        const std::wstring sArgumentFist = c.szArguments[0] == L'\0' ? L"" : L"/x";

        EXPECT_EQ(RunSetup(view, sArgumentFist, c.szArguments, kRecordingStarter,
                           InstallerPolicy{kInstallerPolicy.szSigners, c.minimum}),
                  c.end);
        EXPECT_EQ(view.calls, c.calls);
        EXPECT_TRUE(TracedInOrder(c.traces));
        ASSERT_EQ(g_directStarts.size(), (c.left & kStarted) != 0 ? 1u : 0u);
        if ((c.left & kStarted) != 0) {
            // The decoded installer in the run's folder, or in set-up-only mode the one beside
            // the program, with the first argument and the language word.
            const std::wstring& commandLine = g_directStarts.front().commandLine;
            EXPECT_NE(commandLine.find(L"\\SetupB.exe\" "), std::wstring::npos) << commandLine;
            EXPECT_EQ(commandLine.rfind(L"/English"), commandLine.size() - 8) << commandLine;
            if (std::wstring(c.szArguments) == L"/SetupOnly") {
                EXPECT_EQ(commandLine.find(L"\"" + beside + L"\""), 0u) << commandLine;
            }
            EXPECT_TRUE(g_directStarts.front().started ==
                        (c.besideProgram ? FixtureBytes(c.besideProgram) : installer));
        }
        // Only the download-only copy puts an installer next to the program; one that lay there
        // before stays as it was.
        std::vector<unsigned char> copied;
        EXPECT_EQ(testsupport::ReadBytes(beside, &copied), (c.left & kCopied) != 0);
        if ((c.left & kCopied) != 0) {
            EXPECT_EQ(copied,
                      FixtureBytes(c.besideProgram ? c.besideProgram : L"fixture_recorder"));
        }
        // A failed run removes its folder, or schedules it when a given-up attempt still holds
        // a file in it; a launch schedules it.
        const std::wstring folder = DownloadFolderIn(runTemp.path());
        const std::vector<std::wstring> scheduled = testsupport::PendingRemovals();
        const bool bKept = !folder.empty() &&
                           std::find(scheduled.begin(), scheduled.end(), folder) == scheduled.end();
        EXPECT_EQ(bKept, (c.left & kFolderKept) != 0) << folder;
    }
    DeleteFileW(beside.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, RunSetupEnds, ::testing::Range<std::size_t>(0, RunCases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name = RunCases()[info.param].name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

// Another process of the user tries to put an unsigned program in the checked installer's place
// while the run shows its outcome for 1.5 s, or at the last moment before the start: it cannot,
// and the file started is the one checked.
TEST_F(SetupWorkerTest, TheInstallerCheckedIsTheOneStarted) {
    const std::wstring beside = testsupport::BesideTestProgram(L"SetupB.exe");
    const std::wstring foreign = temp.File(L"foreign.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder_unsigned", foreign));
    testsupport::RegistryValueGuard pending(testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue);
    sleeps.SetThen(testsupport::SleepRecorder::Then::kYield);
    const testsupport::HttpsDownloadScript curl(ScriptedCurl);
    g_serves = true;
    g_served = Package();
    // Every way to put another file there; each must fail.
    int nTries = 0;
    const auto trySwap = [&](const std::wstring& installer) {
        ++nTries;
        EXPECT_FALSE(MoveFileExW(foreign.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_FALSE(CopyFileW(foreign.c_str(), installer.c_str(), FALSE));
        EXPECT_FALSE(DeleteFileW(installer.c_str()));
        const std::wstring aside = installer + L".aside";
        EXPECT_FALSE(MoveFileW(installer.c_str(), aside.c_str()));
        EXPECT_EQ(CreateFileW(installer.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
    };
    for (const bool bSetupOnly : {false, true}) {
        SCOPED_TRACE(bSetupOnly ? "set-up only" : "download");
        testsupport::TempDir runTemp;
        testsupport::TemporaryFolderOverride override(runTemp.path());
        ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", beside));
        g_directStarts.clear();
        nTries = 0;
        const DWORD dwRunner = GetCurrentThreadId();
        sleeps.SetAfterWait([&](std::size_t) {
            const std::vector<unsigned> waits = sleeps.WaitsOf(dwRunner);
            if (!waits.empty() && waits.back() == 1500) {
                trySwap(DownloadFolderIn(runTemp.path()) + L"\\SetupB.exe");
            }
        });
        g_beforeStart = [&] {
            trySwap(bSetupOnly ? beside : DownloadFolderIn(runTemp.path()) + L"\\SetupB.exe");
        };

        EXPECT_EQ(RunSetup(view, L"", bSetupOnly ? L"/SetupOnly" : L"", kRecordingStarter,
                           kInstallerPolicy),
                  SetupEnd::kInstallerLaunched);
        EXPECT_EQ(nTries, bSetupOnly ? 1 : 2);
        ASSERT_EQ(g_directStarts.size(), 1u);
        EXPECT_TRUE(g_directStarts.front().started == kInstaller);
        g_beforeStart = nullptr;
        sleeps.SetAfterWait(nullptr);
        DeleteFileW(beside.c_str());
    }
}

// A start that ran another file than the one checked (which the system starter ends at once)
// ends the run as a refused installer does: message 1, and the run's files and folder gone.
TEST_F(SetupWorkerTest, AnotherFileStartedEndsTheRunAsARefusal) {
    testsupport::RegistryValueGuard pending(testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue);
    sleeps.SetThen(testsupport::SleepRecorder::Then::kYield);
    const testsupport::HttpsDownloadScript curl(ScriptedCurl);
    g_serves = true;
    g_served = Package();
    testsupport::TempDir runTemp;
    testsupport::TemporaryFolderOverride override(runTemp.path());
    const InstallerStarter notTheChecked = {
        [](HANDLE, const wchar_t*, wchar_t*) { return DirectStart::kNotTheCheckedFile; },
        NoElevatedStart, NoBox};

    EXPECT_EQ(RunSetup(view, L"", L"", notTheChecked, kInstallerPolicy), SetupEnd::kDownloadFailed);
    EXPECT_EQ(view.calls.back(), Box(kMsgDownloadFailed));
    EXPECT_TRUE(TracedInOrder(
        {L"szProcessPath: ", L"Installer started is not the one checked: ", L"pqrlo -4"}));
    EXPECT_EQ(DownloadFolderIn(runTemp.path()), L"");
}

// A download-only run that succeeds removes the files of the attempts it gave up on, as every
// other ending does.
TEST_F(SetupWorkerTest, DownloadOnlyRemovesTheFilesOfAttemptsGivenUp) {
    sleeps.SetThen(testsupport::SleepRecorder::Then::kYield);
    const testsupport::HttpsDownloadScript curl(ScriptedCurl);
    g_serves = true;
    g_served = Package();
    testsupport::TempDir runTemp;
    testsupport::TemporaryFolderOverride override(runTemp.path());
    const std::wstring beside = testsupport::BesideTestProgram(L"SetupB.exe");
    const std::wstring givenUp = temp.File(L"Setup.dat.7.part");
    ASSERT_TRUE(testsupport::WriteBytes(givenUp, {1, 2, 3}));
    RememberAbandonedFile(givenUp.c_str());

    EXPECT_EQ(RunSetup(view, L"/x", L"/DownloadOnly", kRecordingStarter, kInstallerPolicy),
              SetupEnd::kDownloadOnlyCopied);
    EXPECT_FALSE(testsupport::FileExists(givenUp));
    DeleteFileW(beside.c_str());
}

// The download-only copy lands in the program's folder as a new file moved onto the name, whatever
// lay there before. (Links in its place, which Wine only knows from the Linux side, are tried by
// the end-to-end tests.)
TEST_F(SetupWorkerTest, CopyNextToTheProgramIsTheCheckedInstallerWhole) {
    const std::wstring installer = temp.File(L"checked.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", installer));
    const ScopedHandle held = OpenFileHeld(installer);
    ASSERT_TRUE(held.valid());
    testsupport::TempDir program;
    const std::wstring copy = program.File(L"SetupB.exe");
    ASSERT_TRUE(testsupport::WriteBytes(copy, {1, 2, 3}));

    EXPECT_TRUE(CopyInstallerNextToProgram(held.get(), program.path()));
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(testsupport::ReadBytes(copy, &bytes));
    EXPECT_TRUE(bytes == kInstaller);
    // Nothing but the copy is left in the folder.
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW((program.path() + L"\\*.part").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    DeleteFileW(copy.c_str());

    // A copy that cannot be made leaves nothing: no installer to copy, no folder to copy to.
    EXPECT_FALSE(CopyInstallerNextToProgram(nullptr, program.path()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyInstallerNextToProgram(held.get(), program.File(L"missing")));
    EXPECT_FALSE(testsupport::FileExists(copy));
}

}  // namespace
