// The run's download folder: a new folder in the user's temporary folder, made and opened in one
// step and held open until it is removed, so that the folder checked is the folder used.
#include "app/download_folder.h"

#include "base/debug_trace.h"
#include "base/held_file.h"
#include "app/installer_launch_command.h"
#include "base/security_descriptor.h"

#include <windows.h>

#include <aclapi.h>

namespace {

constexpr DWORD kPathBufferChars = 1024;
// GetTempFileNameW writes at most MAX_PATH characters, so a longer temporary folder is refused.
constexpr DWORD kTempFolderLimit = MAX_PATH;
constexpr wchar_t kUniqueNamePrefix[] = L"0";
constexpr wchar_t kPackageFileName[] = L"Setup.dat";
constexpr wchar_t kDecodedFileName[] = L"DeSetup.dat";

// The folder lies in the user's own temporary folder while everything in it is written, read
// and started elevated: only SYSTEM and Administrators may touch it, with nothing inherited from
// the user's folder, so that no process of the user can swap the package or the installer or
// plant files beside them.
constexpr wchar_t kDownloadFolderSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool IsAllowedSid(PSID sid, PSID owner) {
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (owner != nullptr && EqualSid(sid, owner));
}

// What the handle leads to is the plain folder made here; one that is protected lies on a
// volume that keeps access lists, and its own list is the protected one.
bool IsSoundDownloadFolder(HANDLE hFolder, bool bProtected) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hFolder, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
        return false;
    }
    if (!bProtected) return true;
    DWORD dwFlags = 0;
    if (!GetVolumeInformationByHandleW(hFolder, nullptr, 0, nullptr, nullptr, &dwFlags, nullptr,
                                       0)) {
        return false;
    }
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const DWORD dwResult = GetSecurityInfo(hFolder, SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           nullptr, nullptr, nullptr, nullptr, &pDescriptor);
    const ScopedLocalMemory descriptor(pDescriptor);
    if ((dwFlags & FILE_PERSISTENT_ACLS) == 0 || dwResult != ERROR_SUCCESS ||
        !IsProtectedFolderSecurity(pDescriptor)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    return true;
}

}  // namespace

bool CanUseAdministratorsGroup() {
    alignas(8) BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(sid);
    BOOL bMember = FALSE;
    // A group that is in the token for denying only is not used: the answer is then FALSE.
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &cbSid) &&
           CheckTokenMembership(nullptr, sid, &bMember) && bMember;
}

bool IsProtectedFolderSecurity(PSECURITY_DESCRIPTOR pDescriptor) {
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pDacl = nullptr;
    PSID owner = nullptr;
    if (pDescriptor == nullptr ||
        !GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted) || !bPresent ||
        pDacl == nullptr || !GetSecurityDescriptorOwner(pDescriptor, &owner, &bDefaulted)) {
        return false;  // no list at all lets everybody in
    }
    for (WORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!GetAce(pDacl, i, &pAce)) return false;
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(pAce);
        if ((header->AceFlags & INHERITED_ACE) != 0) return false;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !IsAllowedSid(&static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart, owner)) {
            return false;
        }
    }
    return true;
}

bool CreateDownloadFolder(SetupPaths* pPaths, ScopedHandle* pFolder) {
    wchar_t szFileSavePath[kPathBufferChars] = {};
    const DWORD nLength = GetTempPathW(kPathBufferChars, szFileSavePath);
    if (nLength == 0 || nLength >= kTempFolderLimit) return false;

    DebugTrace(L"szFileSavePath 1: %s", szFileSavePath);
    // The length is below MAX_PATH, so the backslash always fits.
    if (szFileSavePath[nLength - 1] != L'\\') {
        szFileSavePath[nLength] = L'\\';
        szFileSavePath[nLength + 1] = L'\0';
    }
    DebugTrace(L"szFileSavePath 2: %s", szFileSavePath);

    wchar_t szTempFolder[kPathBufferChars] = {};
    lstrcpynW(szTempFolder, szFileSavePath, kPathBufferChars);
    const UINT nUnique = GetTempFileNameW(szTempFolder, kUniqueNamePrefix, 0, szFileSavePath);
    DebugTrace(L"szFileSavePath 2.e: %s", szFileSavePath);
    if (nUnique == 0) {
        DebugTrace(L"szFileSavePath 2.1: %d", GetLastError());
        return false;
    }
    // The unique name becomes a folder: its empty file is replaced by a folder of that name.
    if (!DeleteFileW(szFileSavePath)) {
        DebugTrace(L"szFileSavePath 2.2: %d", GetLastError());
        return false;
    }
    // Where the Administrators group is only there to deny, a folder for it alone would be one
    // that this process cannot write either: it is then made as any other folder.
    const bool bProtected = CanUseAdministratorsGroup();
    SddlSecurityAttributes security(kDownloadFolderSecurity);
    if (bProtected && security.get() == nullptr) {
        DebugTrace(L"szFileSavePath 2.3: %d", GetLastError());
        return false;
    }
    ScopedHandle folder = CreateFolderHeld(szFileSavePath, bProtected ? security.get() : nullptr);
    // The temporary folder may lead through a link that its user can re-point later: the run
    // goes on by the path that leads to the folder now, with no link in it.
    const std::wstring finalPath = folder.valid() ? FinalPathOf(folder.get()) : std::wstring();
    if (!folder.valid() || !IsSoundDownloadFolder(folder.get(), bProtected) || finalPath.empty()) {
        DebugTrace(L"szFileSavePath 2.3: %d", GetLastError());
        // A folder made here that fails its check is removed again; nothing was put in it.
        if (folder.valid()) {
            folder.reset();
            RemoveDirectoryW(szFileSavePath);
        }
        return false;
    }

    DebugTrace(L"szFileSavePath 3: %s", szFileSavePath);
    pPaths->downloadFolder = finalPath;
    DebugTrace(L"szFileSavePath 4: %s", szFileSavePath);
    pPaths->packageFile = pPaths->downloadFolder + L"\\" + kPackageFileName;
    DebugTrace(L"szDirectoryDownload : %s", pPaths->downloadFolder.c_str());
    DebugTrace(L"szFileSavePath 5: %s", pPaths->packageFile.c_str());
    pPaths->decodedFile = pPaths->downloadFolder + L"\\" + kDecodedFileName;
    pPaths->installerFile = pPaths->downloadFolder + L"\\" + kInstallerFileName;
    *pFolder = std::move(folder);
    return true;
}
