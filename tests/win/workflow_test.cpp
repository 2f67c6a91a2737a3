// The worker's steps that stand on their own: the download folder in a temporary folder chosen
// through TMP, and the end of the download stage (outcome notice, stop point, failure report)
// against a recording dialog, with the waits and trace lines captured.
#include "app/debug_trace.h"
#include "app/message_table.h"
#include "app/setup_worker.h"
#include "app/shared_state.h"
#include "base/sleep.h"
#include "system/package_format.h"
#include "system/package_seal.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fixtures_flow/recording_view.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

constexpr wchar_t kDownloadFailedText[] =
    L"Errors occur when downloading. Please try again latter!";
constexpr wchar_t kDownloadCompletedText[] = L"Download completed. Preparing for installation";

// The fixture's recorder, for the helpers outside it.
testsupport::TraceRecorder* g_recorder = nullptr;
std::vector<std::wstring> Traces() { return g_recorder->Lines(); }

// The waits asked for; the stop question changes its state after a given number of them.
std::vector<unsigned> g_sleeps;
std::size_t g_sleepsUntilAnswer = 0;
int g_answeredState = kCancelStateNone;
void RecordSleep(unsigned milliseconds) {
    g_sleeps.push_back(milliseconds);
    if (g_sleeps.size() == g_sleepsUntilAnswer) g_nCancelState = g_answeredState;
}

// The lines traced in this order, maybe with other lines (the decoder's own) between them.
::testing::AssertionResult TracedInOrder(const std::vector<std::wstring>& lines) {
    std::size_t next = 0;
    for (const std::wstring& traced : Traces()) {
        if (next < lines.size() && traced == lines[next]) ++next;
    }
    if (next == lines.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "missing or out of order: " << lines[next];
}

class WorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_sleeps.clear();
        g_sleepsUntilAnswer = 0;
        g_nCancelState = kCancelStateNone;
        g_nLanguage = kLanguageEnglish;
        g_recorder = &recorder;
        SetSleepFunction(RecordSleep);
    }
    void TearDown() override {
        g_recorder = nullptr;
        SetSleepFunction(nullptr);
        g_nCancelState = kCancelStateNone;
        g_nLanguage = 0;
    }

    RecordingView view;
    testsupport::TraceRecorder recorder;
};

// Points GetTempPathW at another folder while it lives.
class TemporaryFolderOverride {
  public:
    explicit TemporaryFolderOverride(const std::wstring& folder) {
        wchar_t old[MAX_PATH * 2] = {};
        const DWORD n = GetEnvironmentVariableW(L"TMP", old, MAX_PATH * 2);
        hadOld_ = n != 0 && n < MAX_PATH * 2;
        old_ = old;
        SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TemporaryFolderOverride() {
        SetEnvironmentVariableW(L"TMP", hadOld_ ? old_.c_str() : nullptr);
    }

  private:
    bool hadOld_ = false;
    std::wstring old_;
};

TEST_F(WorkflowTest, DownloadFolderIsANewEmptyFolderInTheTemporaryFolder) {
    testsupport::TempDir temp;
    TemporaryFolderOverride override(temp.path());
    DownloadFolder folder;

    ASSERT_TRUE(CreateDownloadFolder(&folder));
    const std::wstring prefix = temp.path() + L"\\0";
    EXPECT_EQ(folder.szDirectoryDownload.rfind(prefix, 0), 0u) << folder.szDirectoryDownload;
    EXPECT_EQ(folder.szDirectoryDownload.substr(folder.szDirectoryDownload.size() - 4), L".tmp");
    const DWORD attributes = GetFileAttributesW(folder.szDirectoryDownload.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(folder.szFileSavePath, folder.szDirectoryDownload + L"\\Setup.dat");
    EXPECT_EQ(folder.sDecodedPath, folder.szDirectoryDownload + L"\\DeSetup.dat");

    const std::wstring tempSlash = temp.path() + L"\\";
    const std::vector<std::wstring> expected = {
        L"szFileSavePath 1: " + tempSlash,
        L"szFileSavePath 2: " + tempSlash,
        L"szFileSavePath 2.e: " + folder.szDirectoryDownload,
        L"szFileSavePath 3: " + folder.szDirectoryDownload,
        L"szFileSavePath 4: " + folder.szDirectoryDownload,
        L"szDirectoryDownload : " + folder.szDirectoryDownload,
        L"szFileSavePath 5: " + folder.szFileSavePath,
    };
    EXPECT_EQ(Traces(), expected);

    // Every run makes a folder of its own.
    DownloadFolder second;
    ASSERT_TRUE(CreateDownloadFolder(&second));
    EXPECT_NE(second.szDirectoryDownload, folder.szDirectoryDownload);
}

struct FolderFailureCase {
    std::size_t nTempLength;  // without the trailing backslash that GetTempPathW adds
    const wchar_t* szLastTrace;
};

// A temporary folder of 260 characters or more is refused before anything is traced; a shorter
// one that cannot hold a unique name fails at that step.
TEST_F(WorkflowTest, UnusableTemporaryFolderFailsTheDownloadFolder) {
    const FolderFailureCase kCases[] = {
        {20, L"szFileSavePath 2.1: "},
        {MAX_PATH - 2, L"szFileSavePath 2.1: "},
        {MAX_PATH - 1, nullptr},
        {300, nullptr},
    };
    for (const FolderFailureCase& c : kCases) {
        std::wstring missing = L"C:\\" + std::wstring(c.nTempLength - 3, L'm');
        TemporaryFolderOverride override(missing);
        g_recorder->Clear();
        DownloadFolder folder;

        EXPECT_FALSE(CreateDownloadFolder(&folder)) << c.nTempLength;
        if (c.szLastTrace == nullptr) {
            EXPECT_TRUE(Traces().empty()) << c.nTempLength;
        } else {
            ASSERT_FALSE(Traces().empty());
            EXPECT_EQ(Traces().back().rfind(c.szLastTrace, 0), 0u) << Traces().back();
        }
        EXPECT_TRUE(folder.szDirectoryDownload.empty());
    }
}

// A download folder holding "Setup.dat": a sealed package of the given installer bytes, or those
// bytes as they are when the package is to be unreadable.
class DownloadedPackage {
  public:
    DownloadedPackage(const std::vector<unsigned char>& installer, bool bSealed)
        : folder_(temp_.File(L"0B12.tmp")) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        std::vector<unsigned char> bytes = installer;
        bool bMade = true;
        if (bSealed) {
            bytes.insert(bytes.begin(), kPackageHeaderBytes, 0);
            bMade = SealPackage(0x5A17C3E9, static_cast<uint32_t>(installer.size()), bytes.data());
        }
        ready_ = bMade && testsupport::WriteBytes(Package(), bytes);
    }
    bool ready() const { return ready_; }
    const std::wstring& folder() const { return folder_; }
    std::wstring Package() const { return folder_ + L"\\Setup.dat"; }
    std::wstring Decoded() const { return folder_ + L"\\DeSetup.dat"; }
    std::wstring Installer() const { return folder_ + L"\\SetupB.exe"; }

  private:
    testsupport::TempDir temp_;
    std::wstring folder_;
    bool ready_ = false;
};

TEST_F(WorkflowTest, DecodedPackageBecomesTheInstallerInTheDownloadFolder) {
    const std::vector<unsigned char> installer = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4};
    DownloadedPackage package(installer, true);
    ASSERT_TRUE(package.ready());
    int bRet = 1;
    DecodedInstaller decoded;

    ASSERT_TRUE(
        DecodeInstaller(package.Package(), package.Decoded(), package.folder(), &bRet, &decoded));
    EXPECT_EQ(bRet, 1);
    EXPECT_EQ(decoded.sDownloadedPath, package.Package());
    EXPECT_EQ(decoded.sPathFileRun, package.Installer());
    std::vector<unsigned char> written;
    ASSERT_TRUE(testsupport::ReadBytes(package.Installer(), &written));
    EXPECT_EQ(written, installer);
    EXPECT_FALSE(testsupport::FileExists(package.Decoded()));
    EXPECT_TRUE(TracedInOrder({
        L"sDecodedPath: " + package.Decoded(),
        L"pqrlo -2 : bRet: 1",
        L"sPathFileRun: " + package.Installer(),
        L"sDownloadedPath: " + package.Package(),
    }));
    EXPECT_EQ(Traces().back(), L"sDownloadedPath: " + package.Package());
}

// A package that does not decode leaves nothing to move, and the worker is told to end.
TEST_F(WorkflowTest, UndecodablePackageFailsTheMove) {
    DownloadedPackage package(std::vector<unsigned char>(64, 'x'), false);
    ASSERT_TRUE(package.ready());
    int bRet = 1;
    DecodedInstaller decoded;

    EXPECT_FALSE(
        DecodeInstaller(package.Package(), package.Decoded(), package.folder(), &bRet, &decoded));
    EXPECT_EQ(bRet, 0);
    EXPECT_TRUE(testsupport::FileExists(package.Package()));
    EXPECT_FALSE(testsupport::FileExists(package.Installer()));
    EXPECT_TRUE(TracedInOrder({L"pqrlo -2 : bRet: 0", L"MoveFileEx eror: 2"}));
    EXPECT_EQ(Traces().back(), L"MoveFileEx eror: 2");
}

TEST_F(WorkflowTest, CompletedDownloadLeavesItsNoticeOnThePausedStatusLine) {
    ShowDownloadOutcome(view, true, {});

    EXPECT_EQ(view.calls, (std::vector<std::wstring>{
                              L"Pause", std::wstring(L"SetStatusText ") + kDownloadCompletedText}));
    EXPECT_EQ(g_sleeps, std::vector<unsigned>{1500});
    EXPECT_EQ(Traces(), std::vector<std::wstring>{L"pqrlo -3"});
}

TEST_F(WorkflowTest, FailedDownloadRemovesItsFilesAndResetsTheProgressBar) {
    testsupport::TempDir temp;
    const std::wstring folder = temp.File(L"0A3F.tmp");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    // A package that failed to decode leaves the package, a partial output and maybe the
    // installer; all of them go.
    const FailedDownloadFiles files = {folder + L"\\Setup.dat", folder + L"\\Setup.dat", folder,
                                       folder + L"\\DeSetup.dat", folder + L"\\SetupB.exe"};
    ASSERT_TRUE(testsupport::WriteBytes(files.sDownloadedPath, {1}));
    ASSERT_TRUE(testsupport::WriteBytes(files.sDecodedPath, {2}));
    ASSERT_TRUE(testsupport::WriteBytes(files.sPathFileRun, {3}));

    ShowDownloadOutcome(view, false, files);

    EXPECT_FALSE(testsupport::FileExists(folder));
    EXPECT_EQ(view.calls,
              (std::vector<std::wstring>{L"Pause", L"SetProgress 0",
                                         std::wstring(L"SetStatusText ") + kDownloadFailedText}));
    EXPECT_TRUE(g_sleeps.empty());
    EXPECT_EQ(Traces(), std::vector<std::wstring>{L"pqrlo -4"});
}

struct StopCase {
    int nStateAtStopPoint;
    std::size_t nSleepsUntilAnswer;  // 0: the state does not change while waiting
    int nAnsweredState;
    bool bStopped;
    int nFinalState;
};

TEST_F(WorkflowTest, StopPointWaitsForTheOpenQuestionAndHonoursItsAnswer) {
    const StopCase kCases[] = {
        {kCancelStateNone, 0, kCancelStateNone, false, kCancelStatePastStopPoint},
        {kCancelStateConfirmed, 0, kCancelStateNone, true, kCancelStateConfirmed},
        {kCancelStateAsked, 3, kCancelStateConfirmed, true, kCancelStateConfirmed},
        {kCancelStateAsked, 2, kCancelStateNone, false, kCancelStatePastStopPoint},
    };
    for (const StopCase& c : kCases) {
        g_sleeps.clear();
        g_recorder->Clear();
        g_nCancelState = c.nStateAtStopPoint;
        g_sleepsUntilAnswer = c.nSleepsUntilAnswer;
        g_answeredState = c.nAnsweredState;

        EXPECT_EQ(StopAtStopPoint(), c.bStopped);
        EXPECT_EQ(g_nCancelState.load(), c.nFinalState);
        EXPECT_EQ(g_sleeps, std::vector<unsigned>(c.nSleepsUntilAnswer, 200u));
        EXPECT_EQ(Traces(), std::vector<std::wstring>{L"pqrlo -5"});
    }
}

TEST_F(WorkflowTest, FailureIsABoxOrInDownloadOnlyModeADebuggerLine) {
    ReportDownloadFailure(view, false);
    EXPECT_EQ(view.calls, std::vector<std::wstring>{std::wstring(L"ShowMessageBox ") +
                                                    kDownloadFailedText + L" 16"});
    EXPECT_TRUE(Traces().empty());

    view.calls.clear();
    ReportDownloadFailure(view, true);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(Traces(), std::vector<std::wstring>{kDownloadFailedText});
}

}  // namespace
