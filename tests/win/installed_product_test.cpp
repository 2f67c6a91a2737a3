// Detection of an installed edition against Wine's registry and real files: the folder named by
// "szQervDir" is filled with the suite's files, its main executable a real PE with or without a
// version resource, and stand-in uninstallers record how they were started.
#include "install/installed_product.h"

#include "app/message_table.h"
#include "install/registry_helpers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "registry_guard.h"
#include "test_support.h"

namespace {

const wchar_t* const kSupportFiles[] = {L"QervSkinManager.dll", L"QervSkin.dll",
                                        L"SkinResource.dll", L"QervLanguageVn.dll",
                                        L"QervLanguageEn.dll"};

// What the removal box was shown with, and the answer it gives.
struct FakeBox {
    int nShown = 0;
    std::wstring text;
    UINT nType = 0;
    int nAnswer = IDCANCEL;
};
FakeBox g_box;

int AnswerBox(const wchar_t* szText, UINT nType) {
    ++g_box.nShown;
    g_box.text = szText;
    g_box.nType = nType;
    return g_box.nAnswer;
}

class InstalledProductTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_box = FakeBox();
        g_nLanguage = kLanguageEnglish;
        testsupport::DeleteMachineValue(kQervKey, kProductNameValue);
        testsupport::DeleteMachineValue(kRunOnceKey, kRunOnceValue);
        SetInstallDir(suite.path());
    }
    void TearDown() override { g_nLanguage = 0; }

    static void SetInstallDir(const std::wstring& folder) {
        ASSERT_TRUE(testsupport::WriteMachineString(kQervKey, kInstallDirValue, folder));
    }

    // The suite's files in the stored folder: mainExecutable (unless null), a PE with a version
    // resource, and every support file but the one to leave out.
    static void Install(const testsupport::TempDir& folder, const wchar_t* mainExecutable,
                        const wchar_t* missingSupportFile = nullptr) {
        if (mainExecutable != nullptr) {
            ASSERT_TRUE(
                testsupport::CopyFixture(L"fixture_versioned", folder.File(mainExecutable)));
        }
        for (const wchar_t* file : kSupportFiles) {
            if (missingSupportFile != nullptr && lstrcmpW(file, missingSupportFile) == 0) continue;
            ASSERT_TRUE(testsupport::WriteBytes(folder.File(file), {}));
        }
    }

    testsupport::RegistryValueGuard installDir{kQervKey, kInstallDirValue};
    testsupport::RegistryValueGuard productName{kQervKey, kProductNameValue};
    testsupport::RegistryValueGuard runOnce{kRunOnceKey, kRunOnceValue};
    testsupport::TempDir suite;
};

TEST_F(InstalledProductTest, CompleteInstallationNeedsOneMainExecutableAndAllSupportFiles) {
    const auto installed = [](const wchar_t* szMain, const wchar_t* szMissing) {
        testsupport::TempDir folder;
        SetInstallDir(folder.path());
        Install(folder, szMain, szMissing);
        return InstalledProduct().IsInstalled();
    };
    for (const wchar_t* szMain : {L"Qer.exe", L"Qerv.exe", L"QervLunet.exe"}) {
        EXPECT_TRUE(installed(szMain, nullptr)) << szMain;
    }
    EXPECT_FALSE(installed(nullptr, nullptr)) << "no main executable";
    for (const wchar_t* szMissing : kSupportFiles) {
        EXPECT_FALSE(installed(L"Qerv.exe", szMissing)) << szMissing;
    }
}

TEST_F(InstalledProductTest, InstallFolderMustBeStoredAsAnExistingFolder) {
    Install(suite, L"Qerv.exe");
    InstalledProduct product;

    testsupport::DeleteMachineValue(kQervKey, kInstallDirValue);
    EXPECT_FALSE(product.LocateFolders());
    for (const std::wstring& stored : {suite.File(L"Qerv.exe"), suite.File(L"missing")}) {
        SetInstallDir(stored);
        EXPECT_FALSE(product.LocateFolders()) << stored;
    }
    ASSERT_TRUE(testsupport::WriteMachineValue(kQervKey, kInstallDirValue, REG_EXPAND_SZ,
                                               testsupport::TextBytes(suite.path())));
    EXPECT_FALSE(product.IsInstalled());
    EXPECT_EQ(product.GetVersionedInstallDir(), L"");

    SetInstallDir(suite.path());
    ASSERT_TRUE(product.LocateFolders());
    EXPECT_EQ(product.m_strInstallDir, suite.path());
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(product.m_strSystemDir, system);
}

TEST_F(InstalledProductTest, FilesAreLookedForInTheFolderOfTheirLocationKind) {
    Install(suite, L"Qerv.exe");
    SetInstallDir(suite.path() + L"\\");
    InstalledProduct product;
    ASSERT_TRUE(product.LocateFolders());

    EXPECT_TRUE(product.FileExistsIn(L"Qerv.exe", kInInstallDir));
    EXPECT_FALSE(product.FileExistsIn(L"Qerv.exe", kInSystemDir));
    EXPECT_TRUE(product.FileExistsIn(L"kernel32.dll", kInSystemDir));
    EXPECT_FALSE(product.FileExistsIn(L"kernel32.dll", kInInstallDir));
    EXPECT_FALSE(product.FileExistsIn(L"Qerv.exe", 3));
    EXPECT_TRUE(product.IsInstalled());
}

TEST_F(InstalledProductTest, VersionedInstallDirNeedsAMainExecutableWithVersionStrings) {
    Install(suite, L"QervLunet.exe");
    // Given back as stored, trailing backslash included.
    SetInstallDir(suite.path() + L"\\");
    EXPECT_EQ(InstalledProduct().GetVersionedInstallDir(), suite.path() + L"\\");

    // The first main executable that exists is the one asked, even without a version resource;
    // without a versioned folder there is no box and the setup goes on.
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", suite.File(L"Qerv.exe")));
    EXPECT_EQ(InstalledProduct().GetVersionedInstallDir(), L"");
    EXPECT_FALSE(CheckExistingInstallation(AnswerBox));
    EXPECT_EQ(g_box.nShown, 0);
}

TEST_F(InstalledProductTest, BoxNamesTheInstalledProductAndCancelStopsWithoutActing) {
    Install(suite, L"Qerv.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", suite.File(L"QervUnst.exe")));
    const struct {
        std::int32_t nLanguage;
        const wchar_t* szStoredName;
        const wchar_t* szExpectedStart;
    } kCases[] = {
        {kLanguageEnglish, L"Qerv Lunet X", L"Qerv Lunet X has already been installed"},
        {kLanguageEnglish, nullptr, L"Qerv Antivirus Software has already been installed"},
        {0, L"100% Qerv %s", L"Máy tính của bạn đã được cài sẵn 100% Qerv %s."},
    };
    for (const auto& c : kCases) {
        g_nLanguage = c.nLanguage;
        if (c.szStoredName != nullptr) {
            ASSERT_TRUE(
                testsupport::WriteMachineString(kQervKey, kProductNameValue, c.szStoredName));
        } else {
            testsupport::DeleteMachineValue(kQervKey, kProductNameValue);
        }
        g_box = FakeBox();

        EXPECT_TRUE(CheckExistingInstallation(AnswerBox));
        EXPECT_EQ(g_box.nShown, 1);
        EXPECT_EQ(g_box.text.rfind(c.szExpectedStart, 0), 0u) << g_box.text;
        EXPECT_EQ(g_box.nType, static_cast<UINT>(MB_OKCANCEL));
    }
    EXPECT_EQ(testsupport::ReadMachineText(kRunOnceKey, kRunOnceValue), L"");
    Sleep(500);
    EXPECT_FALSE(testsupport::FileExists(suite.File(L"QervUnst.exe.cmdline")));
}

TEST_F(InstalledProductTest, OkRegistersRunOnceAndStartsTheEditionsUninstaller) {
    const struct {
        bool bMainUninstaller;
        bool bLunetUninstaller;
        const wchar_t* szStarted;
        const wchar_t* szArguments;
    } kCases[] = {
        {true, true, L"QervUnst.exe", L"/Silent"},
        {false, true, L"QervLunetUnst.exe", L"Silent"},
        {false, false, nullptr, nullptr},
    };
    for (const auto& c : kCases) {
        testsupport::TempDir folder;
        SetInstallDir(folder.path());
        Install(folder, L"Qerv.exe");
        for (auto [bPresent, szName] : {std::pair(c.bMainUninstaller, L"QervUnst.exe"),
                                        std::pair(c.bLunetUninstaller, L"QervLunetUnst.exe")}) {
            if (bPresent) {
                ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", folder.File(szName)));
            }
        }
        testsupport::DeleteMachineValue(kRunOnceKey, kRunOnceValue);
        g_box = FakeBox();
        g_box.nAnswer = IDOK;

        EXPECT_TRUE(CheckExistingInstallation(AnswerBox));
        EXPECT_EQ(testsupport::ReadMachineText(kRunOnceKey, kRunOnceValue),
                  L'"' + testsupport::BesideTestProgram(L"win_unit_tests.exe") + L'"' + L'\0');
        if (c.szStarted == nullptr) continue;
        testsupport::StartRecord record;
        ASSERT_TRUE(testsupport::WaitForStartRecord(folder.File(c.szStarted), &record))
            << c.szStarted;
        EXPECT_NE(record.commandLine.find(c.szStarted), std::wstring::npos);
        const std::wstring tail = std::wstring(L" ") + c.szArguments;
        EXPECT_EQ(record.commandLine.substr(record.commandLine.size() - tail.size()), tail);
        EXPECT_EQ(lstrcmpiW(record.currentFolder.c_str(), folder.path().c_str()), 0)
            << record.currentFolder;
        // Only one uninstaller is started.
        EXPECT_FALSE(c.bMainUninstaller &&
                     testsupport::FileExists(folder.File(L"QervLunetUnst.exe.cmdline")));
    }
}

// Nor is the old edition an installation that the removal box is about.
TEST_F(InstalledProductTest, OldEditionIsFoundByItsExecutableAlone) {
    ASSERT_TRUE(testsupport::WriteBytes(suite.File(L"Qerv2009.exe"), {}));
    EXPECT_TRUE(IsOldEditionInstalled());
    EXPECT_FALSE(CheckExistingInstallation(AnswerBox));
    EXPECT_EQ(g_box.nShown, 0);

    DeleteFileW(suite.File(L"Qerv2009.exe").c_str());
    EXPECT_FALSE(IsOldEditionInstalled());
    ASSERT_TRUE(testsupport::WriteBytes(suite.File(L"Qerv2009.exe"), {}));
    testsupport::DeleteMachineValue(kQervKey, kInstallDirValue);
    EXPECT_FALSE(IsOldEditionInstalled());
}

}  // namespace
