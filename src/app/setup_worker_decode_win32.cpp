#include "app/setup_worker_decode.h"

#include "app/debug_trace.h"
#include "app/installer_launch_command.h"
#include "system/package_decode.h"

#include <windows.h>

bool DecodeInstaller(const std::wstring& szFileSavePath, const std::wstring& sDecodedPath,
                     const std::wstring& szDirectoryDownload, int* pbRet,
                     DecodedInstaller* pInstaller) {
    DebugTrace(L"sDecodedPath: %s", sDecodedPath.c_str());
    if (DecodePackageFile(szFileSavePath.c_str(), sDecodedPath.c_str()) != kDecodeOk) *pbRet = 0;
    pInstaller->sDownloadedPath = szFileSavePath;
    DebugTrace(L"pqrlo -2 : bRet: %d", *pbRet);

    pInstaller->sPathFileRun = szDirectoryDownload + L"\\" + kInstallerFileName;
    DebugTrace(L"sPathFileRun: %s", pInstaller->sPathFileRun.c_str());
    DebugTrace(L"sDownloadedPath: %s", pInstaller->sDownloadedPath.c_str());
    // A failed decoding normally leaves no output, so the move fails and the worker ends here; a
    // partly written output is moved and then counts as a failed download.
    if (!MoveFileExW(sDecodedPath.c_str(), pInstaller->sPathFileRun.c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        DebugTrace(L"MoveFileEx eror: %d", GetLastError());
        return false;
    }
    return true;
}
