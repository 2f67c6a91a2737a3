// The worker under Wine against a recording dialog, with the waits and trace lines captured: the
// download folder in a temporary folder chosen through TMP, the decoding, the end of the download
// stage, and whole runs of RunSetup with the libcurl phase scripted. The program's update server
// refuses connections, so an attempt that the script fails fails over WinHTTP too.
#include "app/setup_worker.h"

#include "app/debug_trace.h"
#include "app/message_table.h"
#include "app/shared_state.h"
#include "base/security_descriptor.h"
#include "base/test_hooks.h"
#include "system/package_format.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recording_view.h"
#include "registry_guard.h"
#include "sleep_recorder.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

std::wstring Text(int nMessage) { return GetMessageText(nMessage); }
std::wstring Status(int nMessage) { return L"SetStatusText " + Text(nMessage); }
std::wstring Box(int nMessage) { return L"ShowMessageBox " + Text(nMessage) + L" 16"; }

// Points GetTempPathW at another folder while it lives.
class TemporaryFolderOverride {
  public:
    explicit TemporaryFolderOverride(const std::wstring& folder) : m_old(testsupport::Env(L"TMP")) {
        SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TemporaryFolderOverride() {
        SetEnvironmentVariableW(L"TMP", m_old.empty() ? nullptr : m_old.c_str());
    }

  private:
    std::wstring m_old;
};

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

TEST_F(SetupWorkerTest, DownloadFolderIsANewEmptyFolderInTheTemporaryFolder) {
    TemporaryFolderOverride override(temp.path());
    SetupPaths paths;

    ASSERT_TRUE(CreateDownloadFolder(&paths));
    const std::wstring& folder = paths.downloadFolder;
    EXPECT_EQ(folder.rfind(temp.path() + L"\\0", 0), 0u) << folder;
    EXPECT_EQ(folder.substr(folder.size() - 4), L".tmp");
    EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(paths.packageFile, folder + L"\\Setup.dat");
    EXPECT_EQ(paths.decodedFile, folder + L"\\DeSetup.dat");
    EXPECT_EQ(paths.installerFile, folder + L"\\SetupB.exe");
    // Made elevated in the user's own folder: only SYSTEM and Administrators may reach it, and
    // nothing is inherited that would let others in. Wine keeps an access list as file modes:
    // it shows the owner in the Administrators' place and drops the protection flag.
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &pDacl, nullptr, &pDescriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const ScopedLocalMemory descriptor(pDescriptor);
    ASSERT_TRUE(pDacl != nullptr && pDacl->AceCount > 0);
    for (WORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        ASSERT_TRUE(GetAce(pDacl, i, &pAce));
        const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart;
        EXPECT_FALSE(IsWellKnownSid(sid, WinWorldSid) || IsWellKnownSid(sid, WinBuiltinUsersSid) ||
                     IsWellKnownSid(sid, WinAuthenticatedUserSid))
            << "entry " << i << " lets others in";
    }

    const std::wstring tempSlash = temp.path() + L"\\";
    EXPECT_EQ(recorder.Lines(), (std::vector<std::wstring>{
                                    L"szFileSavePath 1: " + tempSlash,
                                    L"szFileSavePath 2: " + tempSlash,
                                    L"szFileSavePath 2.e: " + folder,
                                    L"szFileSavePath 3: " + folder,
                                    L"szFileSavePath 4: " + folder,
                                    L"szDirectoryDownload : " + folder,
                                    L"szFileSavePath 5: " + paths.packageFile,
                                }));
    SetupPaths second;
    ASSERT_TRUE(CreateDownloadFolder(&second));
    EXPECT_NE(second.downloadFolder, folder);
}

// A temporary folder of 260 characters or more is refused before anything is traced; a shorter
// one that cannot hold a unique name fails at that step.
TEST_F(SetupWorkerTest, UnusableTemporaryFolderFailsTheDownloadFolder) {
    const struct {
        std::size_t nTempLength;  // without the trailing backslash that GetTempPathW adds
        const wchar_t* szLastTrace;
    } kCases[] = {{20, L"szFileSavePath 2.1: "},
                  {MAX_PATH - 2, L"szFileSavePath 2.1: "},
                  {MAX_PATH - 1, nullptr},
                  {300, nullptr}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.nTempLength);
        TemporaryFolderOverride override(L"C:\\" + std::wstring(c.nTempLength - 3, L'm'));
        recorder.Clear();
        SetupPaths paths;

        EXPECT_FALSE(CreateDownloadFolder(&paths));
        const std::vector<std::wstring> lines = recorder.Lines();
        if (c.szLastTrace == nullptr) {
            EXPECT_TRUE(lines.empty());
        } else {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back().rfind(c.szLastTrace, 0), 0u) << lines.back();
        }
        EXPECT_TRUE(paths.downloadFolder.empty());
    }
}

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
    EXPECT_TRUE(TracedInOrder({L"pqrlo -2 : bRet: 0", L"MoveFileEx eror: 2"}));
    EXPECT_EQ(recorder.Lines().back(), L"MoveFileEx eror: 2");
}

TEST_F(SetupWorkerTest, OutcomeStaysOnThePausedStatusLineAndAFailureRemovesTheFiles) {
    const SetupPaths paths = PathsIn(L"0A3F.tmp");
    const std::wstring& folder = paths.downloadFolder;
    ShowDownloadOutcome(view, true, paths);
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
    ShowDownloadOutcome(view, false, paths);
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

std::vector<std::wstring> g_directStarts;
bool RecordDirectStart(wchar_t* szCommandLine) {
    g_directStarts.emplace_back(szCommandLine);
    return true;
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

enum class Serve { kPackage, kUnsignedPackage, kGarbage, kNothing, kNoWindow };

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
        nullptr;  // the fixture lying next to the program as "SetupB.exe"
};

TEST_F(SetupWorkerTest, RunSetupEndsEachWayAsItsModeAndOutcomeSay) {
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
    const RunCase kCases[] = {
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
         {L"pqrlo - 1: bRet = 1", L"MoveFileEx eror: 2", L"pqrlo -4"}},
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
        {"both switches copy nothing", L"/DownloadOnly /SetupOnly", Serve::kNothing, kNone,
         SetupEnd::kDownloadOnlyCopied, {L"Hide", L"Hide", L"EndSetupDialog"}, kFolderKept, {}},
        {"no window", L"", Serve::kNoWindow, kNone, SetupEnd::kInitFailed, {Box(kMsgInitFailed)}, 0,
         {}},
    };
    // clang-format on

    const std::wstring beside = testsupport::BesideTestProgram(L"SetupB.exe");
    testsupport::RegistryValueGuard pending(testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue);
    // Runs do not wait: every wait only yields, so that the attempts' threads get on.
    sleeps.SetThen(testsupport::SleepRecorder::Then::kYield);
    SetHttpsDownloadFunction(ScriptedCurl);
    for (const RunCase& c : kCases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir runTemp;
        TemporaryFolderOverride override(runTemp.path());
        DeleteFileW(beside.c_str());
        if (c.besideProgram != nullptr) {
            ASSERT_TRUE(testsupport::CopyFixture(c.besideProgram, beside));
        }
        recorder.Clear();
        view.calls.clear();
        view.window = c.serve == Serve::kNoWindow ? nullptr : GetDesktopWindow();
        g_directStarts.clear();
        g_serves = c.serve != Serve::kNothing && c.serve != Serve::kNoWindow;
        g_served = c.serve == Serve::kPackage ? Package()
                   : c.serve == Serve::kUnsignedPackage
                       ? Package(FixtureBytes(L"fixture_recorder_unsigned"))
                       : std::vector<unsigned char>(64, 'x');
        g_nCancelState = c.nCancelState;
        const std::wstring sArgumentFist = c.szArguments[0] == L'\0' ? L"" : L"/x";

        EXPECT_EQ(RunSetup(view, sArgumentFist, c.szArguments, kRecordingStarter), c.end);
        EXPECT_EQ(view.calls, c.calls);
        EXPECT_TRUE(TracedInOrder(c.traces));
        ASSERT_EQ(g_directStarts.size(), (c.left & kStarted) != 0 ? 1u : 0u);
        if ((c.left & kStarted) != 0) {
            // The decoded installer in the run's folder, or in set-up-only mode the one beside
            // the program, with the first argument and the language word.
            const std::wstring& commandLine = g_directStarts.front();
            EXPECT_NE(commandLine.find(L"\\SetupB.exe\" "), std::wstring::npos) << commandLine;
            EXPECT_EQ(commandLine.rfind(L"/English"), commandLine.size() - 8) << commandLine;
            if (std::wstring(c.szArguments) == L"/SetupOnly") {
                EXPECT_EQ(commandLine.find(L"\"" + beside + L"\""), 0u) << commandLine;
            }
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
    SetHttpsDownloadFunction(nullptr);
}

}  // namespace
