// The run's download folder under Wine, in a temporary folder chosen through TMP: where it is
// made, what it is called, that it is held against renaming and deletion, the access list it gets
// and the rule that decides on one.
#include "app/download_folder.h"

#include "base/held_file.h"
#include "base/security_descriptor.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "trace_recorder.h"

namespace {

class DownloadFolderTest : public ::testing::Test {
  protected:
    testsupport::TempDir temp;
    testsupport::TemporaryFolderOverride override{temp.path()};
    testsupport::TraceRecorder recorder;
};

TEST_F(DownloadFolderTest, IsANewEmptyFolderInTheTemporaryFolderHeldAgainstRenaming) {
    SetupPaths paths;
    ScopedHandle held;

    ASSERT_TRUE(CreateDownloadFolder(&paths, &held));
    ASSERT_TRUE(held.valid());
    const std::wstring& folder = paths.downloadFolder;
    EXPECT_EQ(folder.rfind(temp.path() + L"\\0", 0), 0u) << folder;
    EXPECT_EQ(folder.substr(folder.size() - 4), L".tmp");
    EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(paths.packageFile, folder + L"\\Setup.dat");
    EXPECT_EQ(paths.decodedFile, folder + L"\\DeSetup.dat");
    EXPECT_EQ(paths.installerFile, folder + L"\\SetupB.exe");
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

    // Made elevated in the user's own folder: only SYSTEM and Administrators may reach it, and
    // nothing is inherited that would let others in. Wine keeps an access list as file modes: it
    // shows the owner in the Administrators' place and drops the protection flag.
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, nullptr, &pDescriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const ScopedLocalMemory descriptor(pDescriptor);
    EXPECT_TRUE(IsProtectedFolderSecurity(pDescriptor));

    // The user may delete and rename anything in the temporary folder: not this folder while the
    // run holds it, whatever its access list says. It can be put in its place only once let go.
    const std::wstring moved = temp.File(L"moved.tmp");
    EXPECT_FALSE(MoveFileW(folder.c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    // Files come and go in it as the run needs.
    ASSERT_TRUE(testsupport::WriteBytes(paths.packageFile, {1, 2, 3}));
    EXPECT_TRUE(DeleteFileW(paths.packageFile.c_str()));
    held.reset();
    EXPECT_TRUE(MoveFileW(folder.c_str(), moved.c_str()));

    SetupPaths second;
    ScopedHandle secondHeld;
    ASSERT_TRUE(CreateDownloadFolder(&second, &secondHeld));
    EXPECT_NE(second.downloadFolder, folder);
}

// A temporary folder of 260 characters or more is refused before anything is traced; a shorter
// one that cannot hold a unique name fails at that step.
TEST_F(DownloadFolderTest, UnusableTemporaryFolderFailsTheDownloadFolder) {
    const struct {
        std::size_t nTempLength;  // without the trailing backslash that GetTempPathW adds
        const wchar_t* szLastTrace;
    } kCases[] = {{20, L"szFileSavePath 2.1: "},
                  {MAX_PATH - 2, L"szFileSavePath 2.1: "},
                  {MAX_PATH - 1, nullptr},
                  {300, nullptr}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.nTempLength);
        testsupport::TemporaryFolderOverride missing(L"C:\\" +
                                                     std::wstring(c.nTempLength - 3, L'm'));
        recorder.Clear();
        SetupPaths paths;
        ScopedHandle held;

        EXPECT_FALSE(CreateDownloadFolder(&paths, &held));
        EXPECT_FALSE(held.valid());
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

// The access list that a download folder must have where this process can use the
// Administrators group: nobody else allowed anything, nothing inherited.
TEST(IsProtectedFolderSecurity, AllowsNobodyButSystemAdministratorsAndTheOwner) {
    const struct {
        const wchar_t* szSddl;
        bool bProtected;
    } kCases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        // As Wine keeps it: the owner in the Administrators' place.
        {L"O:S-1-5-21-1-2-3-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-1-2-3-1000)", true},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(D;;FA;;;WD)", true},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;FR;;;WD)", false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-1-2-3-1000)", false},
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICIID;FA;;;BA)", false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICIID;FA;;;BU)", false},
        {L"O:BA", false},  // no list at all: everybody may do anything
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.szSddl);
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.szSddl, SDDL_REVISION_1,
                                                                         &pDescriptor, nullptr));
        const ScopedLocalMemory descriptor(pDescriptor);
        EXPECT_EQ(IsProtectedFolderSecurity(pDescriptor), c.bProtected);
    }
}

// Where Administrators is in the token to deny only, a folder for Administrators alone would be
// one that the setup itself could not write: the folder is then made as any other.
TEST_F(DownloadFolderTest, IsOrdinaryWhereAdministratorsIsDenyOnly) {
    ASSERT_TRUE(CanUseAdministratorsGroup());
    alignas(8) BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &cbSid));
    ScopedHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token.receive()));
    SID_AND_ATTRIBUTES disabled = {administrators, 0};
    ScopedHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(token.get(), 0, 1, &disabled, 0, nullptr, 0, nullptr,
                                      restricted.receive()));
    ScopedHandle impersonation;
    ASSERT_TRUE(DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.receive()));
    ASSERT_TRUE(SetThreadToken(nullptr, impersonation.get()));
    const bool bCanUse = CanUseAdministratorsGroup();
    SetupPaths paths;
    ScopedHandle held;
    const bool bMade = CreateDownloadFolder(&paths, &held);
    RevertToSelf();

    EXPECT_FALSE(bCanUse);
    ASSERT_TRUE(bMade);
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(paths.downloadFolder.c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &pDacl, nullptr,
                                    &pDescriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const ScopedLocalMemory descriptor(pDescriptor);
    // Nothing of the protected list was asked for: the folder has what its parent passes on.
    PSECURITY_DESCRIPTOR pParent = nullptr;
    PACL pParentDacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(temp.path().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &pParentDacl, nullptr, &pParent),
              static_cast<DWORD>(ERROR_SUCCESS));
    const ScopedLocalMemory parent(pParent);
    ASSERT_TRUE(pDacl != nullptr && pParentDacl != nullptr);
    EXPECT_EQ(pDacl->AceCount, pParentDacl->AceCount);
}

}  // namespace
