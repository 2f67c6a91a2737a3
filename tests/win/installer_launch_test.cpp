// The installer launch against real files, processes and the restart-removal list under Wine. The
// direct start is real and its command line is recorded by a stand-in installer; the elevated
// start and the box after a declined elevation go through fakes, since Wine never prompts.
#include "base/debug_trace.h"
#include "app/installer_launch.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "base/held_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "recording_view.h"
#include "registry_guard.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

// What the fakes were asked. The fake direct start always fails; the elevated one fails with
// dwElevatedError unless that is ERROR_SUCCESS.
struct FakeStarts {
    int nDirect = 0;
    int nElevated = 0;
    HWND hWndOwner = nullptr;
    std::wstring file;
    std::wstring parameters;
    DWORD dwElevatedError = ERROR_SUCCESS;
    int nDeclinedShown = 0;
};
FakeStarts g_fake;

DirectStart FakeDirect(HANDLE, const wchar_t*, wchar_t*) {
    ++g_fake.nDirect;
    return DirectStart::kFailed;
}

bool FakeElevated(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                  DWORD* pdwError) {
    ++g_fake.nElevated;
    g_fake.hWndOwner = hWndOwner;
    g_fake.file = szFile;
    g_fake.parameters = szParameters;
    *pdwError = g_fake.dwElevatedError;
    return g_fake.dwElevatedError == ERROR_SUCCESS;
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
        // Made again for each case of a table; a folder that a case left is used as it is.
        CreateDirectoryW(paths.downloadFolder.c_str(), nullptr);
        paths.packageFile = paths.downloadFolder + L"\\Setup.dat";
        paths.decodedFile = paths.downloadFolder + L"\\DeSetup.dat";
        paths.installerFile = paths.downloadFolder + L"\\SetupB.exe";
        paths.programFolder = program.path();
        ASSERT_TRUE(testsupport::WriteBytes(paths.packageFile, {'H', 'C', 'S', 'I'}));
        ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", paths.installerFile));
        ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", besideProgram));
        // Nothing scheduled by an earlier run may be mistaken for this test's.
        ForgetScheduled();
    }
    void TearDown() override { g_nLanguage = 0; }

    static void ForgetScheduled() {
        testsupport::DeleteMachineValue(testsupport::kSessionManagerKey,
                                        testsupport::kPendingValue);
    }
    std::vector<std::wstring> AllFourScheduled() const {
        return {paths.installerFile, paths.packageFile, paths.installerFile, paths.downloadFolder};
    }
    // The launch of the installer held open, as the worker hands it over after its check.
    LaunchOutcome Launch(const InstallerStarter& starter) {
        HeldFiles held;
        held.installer = OpenFileHeld(bSetupOnly ? InstallerNextToProgram(paths.programFolder)
                                                 : paths.installerFile);
        const LaunchOutcome outcome =
            RunInstallerLaunch(paths, sArgumentFist, bSetupOnly, view, starter, &held);
        // Nothing stays held once the launch is over: the restart may remove it all.
        EXPECT_FALSE(held.installer.valid());
        return outcome;
    }

    testsupport::RegistryValueGuard pending{testsupport::kSessionManagerKey,
                                            testsupport::kPendingValue};
    testsupport::TempDir downloads;
    testsupport::TempDir program;
    const std::wstring besideProgram = program.File(L"SetupB.exe");
    SetupPaths paths;
    std::wstring sArgumentFist;
    bool bSetupOnly = false;
    RecordingView view;
};

// Nothing is removed now; everything at the next restart. In set-up-only mode the installer next
// to the program is started, and only it and the download folder are scheduled.
TEST_F(LaunchTest, DirectStartGetsQuotedPathFirstArgumentAndLanguageWord) {
    const struct {
        std::int32_t nLanguage;
        const wchar_t* szFirstArgument;
        bool bSetupOnly;
        const wchar_t* szAfterPath;
    } kCases[] = {
        {0, L"", false, L"  x"},
        {1, L"/abc", false, L" /abc /English"},
        {2, L"/abc", false, L" /abc /Vietnamese"},
        {0, L"a b", false, L" a b x"},
        {0, L"", true, L"  x"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.szAfterPath);
        const std::wstring installer = c.bSetupOnly ? besideProgram : paths.installerFile;
        DeleteFileW((installer + L".cmdline").c_str());
        ForgetScheduled();
        g_nLanguage = c.nLanguage;
        sArgumentFist = c.szFirstArgument;
        bSetupOnly = c.bSetupOnly;

        EXPECT_EQ(Launch(kRealDirectStarter), LaunchOutcome::kStartedDirectly);
        testsupport::StartRecord record;
        ASSERT_TRUE(testsupport::WaitForStartRecord(installer, &record));
        EXPECT_EQ(record.commandLine, L"\"" + installer + L"\"" + c.szAfterPath);
        EXPECT_EQ(g_fake.nElevated, 0);
        EXPECT_TRUE(view.calls.empty());
        EXPECT_TRUE(testsupport::FileExists(paths.packageFile));
        const std::vector<std::wstring> setupOnlyScheduled = {besideProgram, paths.downloadFolder};
        EXPECT_EQ(testsupport::PendingRemovals(),
                  c.bSetupOnly ? setupOnlyScheduled : AllFourScheduled());
    }
}

// After a failed direct start the elevated one gets the file and the parameters. Once started,
// what is not in use goes at once and everything is scheduled, both before the dialog is ended
// (which lets the process end). A declined elevation tells the user and removes the files at once,
// scheduling nothing (in set-up-only mode the installer next to the program, not the package);
// any other failure schedules everything silently.
TEST_F(LaunchTest, ElevatedStartAndItsFailures) {
    const struct {
        DWORD dwError;
        bool bSetupOnly;
        LaunchOutcome outcome;
        bool bPackageLeft;
    } kCases[] = {
        {ERROR_SUCCESS, false, LaunchOutcome::kStartedElevated, false},
        {ERROR_CANCELLED, false, LaunchOutcome::kElevationDeclined, false},
        {ERROR_ACCESS_DENIED, false, LaunchOutcome::kNotStarted, true},
        {ERROR_CANCELLED, true, LaunchOutcome::kElevationDeclined, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.dwError);
        SetUp();
        g_fake.dwElevatedError = c.dwError;
        bSetupOnly = c.bSetupOnly;
        g_nLanguage = 1;
        sArgumentFist = L"/abc";
        std::vector<std::wstring> scheduledAtEnd;
        bool bPackageLeftAtEnd = true;
        view.calls.clear();
        view.onCall = [&](const std::wstring& call) {
            if (call != L"EndSetupDialog") return;
            scheduledAtEnd = testsupport::PendingRemovals();
            bPackageLeftAtEnd = testsupport::FileExists(paths.packageFile);
        };
        const bool bStarted = c.outcome == LaunchOutcome::kStartedElevated;
        const bool bDeclined = c.outcome == LaunchOutcome::kElevationDeclined;

        EXPECT_EQ(Launch(kFakeStarter), c.outcome);
        EXPECT_EQ(g_fake.nDirect, 1);
        EXPECT_EQ(g_fake.file, c.bSetupOnly ? besideProgram : paths.installerFile);
        EXPECT_EQ(g_fake.parameters, L"/abc /English");
        EXPECT_EQ(g_fake.hWndOwner, view.window);
        EXPECT_EQ(g_fake.nDeclinedShown, bDeclined ? 1 : 0);
        EXPECT_EQ(view.calls, bStarted ? std::vector<std::wstring>{L"EndSetupDialog"}
                                       : std::vector<std::wstring>());
        if (bStarted) {
            EXPECT_EQ(scheduledAtEnd, AllFourScheduled());
            EXPECT_FALSE(bPackageLeftAtEnd);
        }
        EXPECT_EQ(testsupport::FileExists(g_fake.file), c.outcome == LaunchOutcome::kNotStarted);
        EXPECT_EQ(testsupport::FileExists(paths.packageFile), c.bPackageLeft);
        EXPECT_EQ(testsupport::FileExists(paths.downloadFolder), c.bPackageLeft);
        EXPECT_EQ(testsupport::PendingRemovals(),
                  bDeclined ? std::vector<std::wstring>() : AllFourScheduled());
    }
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
    EXPECT_EQ(g_fake.nDirect + g_fake.nElevated, 0);

    g_fake = FakeStarts();
    sArgumentFist.clear();
    bSetupOnly = true;
    paths.programFolder = L"C:\\" + std::wstring(300, L'f');
    testsupport::TraceRecorder traces;
    EXPECT_EQ(Launch(kFakeStarter), LaunchOutcome::kNotStarted);
    EXPECT_EQ(g_fake.nDirect + g_fake.nElevated, 0);
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

namespace {

// The direct start runs the held file only: another file started under its name is ended before
// it has run, and the launch says so.
TEST(SystemInstallerStarter, DirectStartRunsOnlyTheHeldFile) {
    testsupport::TempDir folder;
    const std::wstring checked = folder.File(L"SetupB.exe");
    const std::wstring other = folder.File(L"Other.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", checked));
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder_unsigned", other));
    const ScopedHandle held = OpenFileHeld(checked);
    ASSERT_TRUE(held.valid());
    const struct {
        const wchar_t* name;
        const std::wstring& started;
        DirectStart result;
    } kCases[] = {{L"the held file", checked, DirectStart::kStarted},
                  {L"another file", other, DirectStart::kNotTheCheckedFile}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::wstring commandLine = L"\"" + c.started + L"\" x";
        EXPECT_EQ(
            kSystemInstallerStarter.startDirect(held.get(), c.started.c_str(), &commandLine[0]),
            c.result);
        // An ended process never writes its record; a started one does within a second or two.
        testsupport::StartRecord record;
        EXPECT_EQ(testsupport::WaitForStartRecord(c.started, &record, 3000),
                  c.result == DirectStart::kStarted);
    }
}

}  // namespace
