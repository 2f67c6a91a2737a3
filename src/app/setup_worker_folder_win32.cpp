#include "app/setup_worker_folder.h"

#include "app/debug_trace.h"

#include <windows.h>

namespace {

constexpr DWORD kPathBufferChars = 1024;
// GetTempFileNameW writes at most MAX_PATH characters, so a longer temporary folder is refused.
constexpr DWORD kTempFolderLimit = MAX_PATH;
constexpr wchar_t kUniqueNamePrefix[] = L"0";
constexpr wchar_t kPackageFileName[] = L"Setup.dat";
constexpr wchar_t kDecodedFileName[] = L"DeSetup.dat";

}  // namespace

bool CreateDownloadFolder(DownloadFolder* pFolder) {
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
    if (!CreateDirectoryW(szFileSavePath, nullptr)) {
        DebugTrace(L"szFileSavePath 2.3: %d", GetLastError());
        return false;
    }

    DebugTrace(L"szFileSavePath 3: %s", szFileSavePath);
    pFolder->szDirectoryDownload = szFileSavePath;
    DebugTrace(L"szFileSavePath 4: %s", szFileSavePath);
    pFolder->szFileSavePath = pFolder->szDirectoryDownload + L"\\" + kPackageFileName;
    DebugTrace(L"szDirectoryDownload : %s", pFolder->szDirectoryDownload.c_str());
    DebugTrace(L"szFileSavePath 5: %s", pFolder->szFileSavePath.c_str());
    pFolder->sDecodedPath = pFolder->szDirectoryDownload + L"\\" + kDecodedFileName;
    return true;
}
