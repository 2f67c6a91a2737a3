#pragma once

// The package, once downloaded, becomes the installer "SetupB.exe" in the download folder.
#include <string>

// The paths that the decoding settles; the names are those of the worker's traces.
struct DecodedInstaller {
    std::wstring sDownloadedPath;  // the package file
    std::wstring sPathFileRun;     // "SetupB.exe" in the download folder
};

// Decodes the package into sDecodedPath and moves that to "SetupB.exe" in the download folder,
// also after a failed decoding, which may have left a partial output. *pbRet becomes 0 when the
// decoding fails. False when the move fails (traced): the worker then ends silently.
bool DecodeInstaller(const std::wstring& szFileSavePath, const std::wstring& sDecodedPath,
                     const std::wstring& szDirectoryDownload, int* pbRet,
                     DecodedInstaller* pInstaller);
