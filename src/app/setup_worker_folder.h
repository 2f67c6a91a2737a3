#pragma once

// The worker's download folder: a new, empty folder with a unique name inside the user's
// temporary folder, created afresh on every run and in every mode.
#include <string>

struct DownloadFolder {
    std::wstring szDirectoryDownload;  // the folder
    std::wstring szFileSavePath;       // the package file "Setup.dat" in it
    std::wstring sDecodedPath;         // the decoding's output "DeSetup.dat" in it
};

// Creates the folder and names the files in it. False, with the reason traced, when the
// temporary folder is unusable or its path has 260 characters or more, or when the folder
// cannot be made.
bool CreateDownloadFolder(DownloadFolder* pFolder);
