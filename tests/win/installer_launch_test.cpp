// The installer launch against real files, processes and the restart-removal list under Wine. The
// direct start is real and its command line is recorded by a stand-in installer; the elevated
// start and the box after a declined elevation go through fakes, since Wine never prompts.
#include "app/debug_trace.h"
#include "app/installer_launch.h"
#include "app/message_table.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "recording_view.h"
#include "registry_guard.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

// What the fakes were asked.
struct FakeStarts {
    int nDirect = 0;
    bool bDirectResult = false;
    int nElevated = 0;
    HWND hWndOwner = nullptr;
    std::wstring file;
    std::wstring parameters;
    bool bElevatedResult = true;
    DWORD dwElevatedError = ERROR_SUCCESS;
    int nDeclinedShown = 0;
};
FakeStarts g_fake;

bool FakeDirect(wchar_t*) {
    ++g_fake.nDirect;
    return g_fake.bDirectResult;
}

bool FakeElevated(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                  DWORD* pdwError) {
    ++g_fake.nElevated;
    g_fake.hWndOwner = hWndOwner;
    g_fake.file = szFile;
    g_fake.parameters = szParameters;
    if (!g_fake.bElevatedResult) *pdwError = g_fake.dwElevatedError;
    return g_fake.bElevatedResult;
}

void FakeDeclinedBox() { ++g_fake.nDeclinedShown; }

// The system's direct start with fake fallbacks; or fakes throughout.
const InstallerStarter kRealDirectStarter = {kSystemInstallerStarter.startDirect, FakeElevated,
                                             FakeDeclinedBox};
const InstallerStarter kFakeStarter = {FakeDirect, FakeElevated, FakeDeclinedBox};

class LaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_fake = FakeStarts();
        g_nLanguage = 0;
        paths.downloadFolder = downloads.File(L"0A3F.tmp");
        ASSERT_TRUE(CreateDirectoryW(paths.downloadFolder.c_str(), nullptr));
        paths.packageFile = paths.downloadFolder + L"\\Setup.dat";
        paths.decodedFile = paths.downloadFolder + L"\\DeSetup.dat";
        paths.installerFile = paths.downloadFolder + L"\\SetupB.exe";
        paths.programFolder = program.path();
        ASSERT_TRUE(testsupport::WriteBytes(paths.packageFile, {'H', 'C', 'S', 'I'}));
        ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", paths.installerFile));
        // Nothing scheduled by an earlier run may be mistaken for this test's.
        testsupport::DeleteMachineValue(testsupport::kSessionManagerKey,
                                        testsupport::kPendingValue);
    }
    void TearDown() override { g_nLanguage = 0; }

    std::vector<std::wstring> AllFourScheduled() const {
        return {paths.installerFile, paths.packageFile, paths.installerFile, paths.downloadFolder};
    }
    LaunchOutcome Launch(const InstallerStarter& starter) {
        return RunInstallerLaunch(paths, sArgumentFist, bSetupOnly, view, starter);
    }

    testsupport::RegistryValueGuard pending{testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue};
    testsupport::TempDir downloads;
    testsupport::TempDir program;
    SetupPaths paths;
    std::wstring sArgumentFist;
    bool bSetupOnly = false;
    RecordingView view;
};

struct DirectCase {
    std::int32_t nLanguage;
    const wchar_t* szFirstArgument;
    const wchar_t* szAfterPath;
};

TEST_F(LaunchTest, DirectStartGetsQuotedPathFirstArgumentAndLanguageWord) {
    const DirectCase kCases[] = {
        {0, L"", L"  x"},
        {1, L"/abc", L" /abc /English"},
        {2, L"/abc", L" /abc /Vietnamese"},
        {0, L"a b", L" a b x"},
    };
    for (const DirectCase& c : kCases) {
        SCOPED_TRACE(c.szAfterPath);
        DeleteFileW((paths.installerFile + L".cmdline").c_str());
        testsupport::DeleteMachineValue(testsupport::kSessionManagerKey,
                                        testsupport::kPendingValue);
        g_nLanguage = c.nLanguage;
        sArgumentFist = c.szFirstArgument;

        EXPECT_EQ(Launch(kRealDirectStarter), LaunchOutcome::kStartedDirectly);
        testsupport::StartRecord record;
        ASSERT_TRUE(testsupport::WaitForStartRecord(paths.installerFile, &record));
        EXPECT_EQ(record.commandLine, L"\"" + paths.installerFile + L"\"" + c.szAfterPath);
        EXPECT_EQ(g_fake.nElevated, 0);
        EXPECT_TRUE(view.calls.empty());
        // Nothing is removed now; everything at the next restart.
        EXPECT_TRUE(testsupport::FileExists(paths.packageFile));
        EXPECT_EQ(testsupport::PendingRemovals(), AllFourScheduled());
    }
}

TEST_F(LaunchTest, ElevatedStartFollowsAFailedDirectStart) {
    g_nLanguage = 1;
    sArgumentFist = L"/abc";
    // The dialog's end lets the process end: everything must be removed or scheduled by then.
    std::vector<std::wstring> scheduledAtEnd;
    bool bPackageLeftAtEnd = true;
    view.onCall = [&](const std::wstring& call) {
        if (call != L"EndSetupDialog") return;
        scheduledAtEnd = testsupport::PendingRemovals();
        bPackageLeftAtEnd = testsupport::FileExists(paths.packageFile);
    };

    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kStartedElevated);
    EXPECT_EQ(g_fake.nDirect, 1);
    ASSERT_EQ(g_fake.nElevated, 1);
    EXPECT_EQ(g_fake.file, paths.installerFile);
    EXPECT_EQ(g_fake.parameters, L"/abc /English");
    EXPECT_EQ(g_fake.hWndOwner, view.window);
    EXPECT_EQ(view.calls, std::vector<std::wstring>{L"EndSetupDialog"});
    EXPECT_EQ(scheduledAtEnd, AllFourScheduled());
    EXPECT_FALSE(bPackageLeftAtEnd);
    // What is not in use goes at once, and everything is scheduled as well.
    EXPECT_FALSE(testsupport::FileExists(paths.packageFile));
    EXPECT_FALSE(testsupport::FileExists(paths.installerFile));
    EXPECT_FALSE(testsupport::FileExists(paths.downloadFolder));
    EXPECT_EQ(testsupport::PendingRemovals(), AllFourScheduled());
}

TEST_F(LaunchTest, DeclinedElevationTellsTheUserRemovesFilesAndSchedulesNothing) {
    g_fake.bElevatedResult = false;
    g_fake.dwElevatedError = ERROR_CANCELLED;

    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kElevationDeclined);
    EXPECT_EQ(g_fake.nDeclinedShown, 1);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_FALSE(testsupport::FileExists(paths.packageFile));

    EXPECT_FALSE(testsupport::FileExists(paths.downloadFolder));
    EXPECT_TRUE(testsupport::PendingRemovals().empty());
}

TEST_F(LaunchTest, OtherElevationFailureSchedulesEverythingSilently) {
    g_fake.bElevatedResult = false;
    g_fake.dwElevatedError = ERROR_ACCESS_DENIED;

    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kNotStarted);
    EXPECT_EQ(g_fake.nDeclinedShown, 0);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_TRUE(testsupport::FileExists(paths.packageFile));
    EXPECT_EQ(testsupport::PendingRemovals(), AllFourScheduled());
}

TEST_F(LaunchTest, SetUpOnlyStartsTheInstallerNextToTheProgram) {
    const std::wstring besideProgram = program.File(L"SetupB.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", besideProgram));
    bSetupOnly = true;

    EXPECT_EQ(Launch(kRealDirectStarter), LaunchOutcome::kStartedDirectly);
    testsupport::StartRecord record;
    ASSERT_TRUE(testsupport::WaitForStartRecord(besideProgram, &record));
    EXPECT_EQ(record.commandLine, L"\"" + besideProgram + L"\"  x");
    EXPECT_EQ(testsupport::PendingRemovals(),
              (std::vector<std::wstring>{besideProgram, paths.downloadFolder}));
}

TEST_F(LaunchTest, SetUpOnlyDeclinedElevationDeletesTheInstallerNextToTheProgram) {
    const std::wstring besideProgram = program.File(L"SetupB.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", besideProgram));
    bSetupOnly = true;
    g_fake.bElevatedResult = false;
    g_fake.dwElevatedError = ERROR_CANCELLED;

    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kElevationDeclined);
    EXPECT_EQ(g_fake.file, besideProgram);
    EXPECT_FALSE(testsupport::FileExists(besideProgram));
    EXPECT_TRUE(testsupport::PendingRemovals().empty());
}

// A command line that does not fit is never started cut short: the elevated start, which takes
// the path apart, is still tried while its parameters fit.
TEST_F(LaunchTest, CommandLineThatDoesNotFitIsNotStarted) {
    const std::wstring longInstaller = L"C:\\" + std::wstring(300, L'p') + L"\\SetupB.exe";
    paths.installerFile = longInstaller;

    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kStartedElevated);
    EXPECT_EQ(g_fake.nDirect, 0);
    EXPECT_EQ(g_fake.file, longInstaller);

    g_fake = FakeStarts();
    sArgumentFist = std::wstring(300, L'a');
    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kNotStarted);
    EXPECT_EQ(g_fake.nDirect, 0);
    EXPECT_EQ(g_fake.nElevated, 0);

    g_fake = FakeStarts();
    sArgumentFist.clear();
    bSetupOnly = true;
    paths.programFolder = L"C:\\" + std::wstring(300, L'f');
    testsupport::TraceRecorder traces;
    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kNotStarted);
    EXPECT_EQ(g_fake.nDirect, 0);
    EXPECT_EQ(g_fake.nElevated, 0);
    // The trace names the path that did not fit, though it was never composed.
    EXPECT_EQ(traces.Lines(), std::vector<std::wstring>{L"szProcessPath does not fit: " +
                                                        paths.programFolder + L"\\SetupB.exe"});
}

TEST(SystemInstallerStarter, ElevatedStartPassesFileAndParameters) {
    testsupport::TempDir folder;
    const std::wstring installer = folder.File(L"SetupB.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", installer));
    DWORD dwError = ERROR_SUCCESS;

    ASSERT_TRUE(kSystemInstallerStarter.startElevated(nullptr, installer.c_str(), L"/abc /English",
                                                      &dwError));
    testsupport::StartRecord record;
    ASSERT_TRUE(testsupport::WaitForStartRecord(installer, &record));
    EXPECT_NE(record.commandLine.find(L"SetupB.exe"), std::wstring::npos);
    EXPECT_EQ(record.commandLine.substr(record.commandLine.size() - 14), L" /abc /English");
}

}  // namespace
