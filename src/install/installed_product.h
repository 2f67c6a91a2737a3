#pragma once

// Detection of an edition of the suite that is already installed, the offer to remove it, and the
// test for the 2009 edition. Both checks run on the UI thread while the dialog initialises.
#include <windows.h>

#include <cstddef>
#include <string>

// Where a product file is looked for.
constexpr int kInSystemDir = 1;
constexpr int kInInstallDir = 5;

struct ProductFile {
    const wchar_t* szName;
    int nLocation;
};

// The main executables come first, at least one of them must exist; every support file after
// them must exist.
constexpr std::size_t kProductFileCount = 8;
constexpr std::size_t kMainExecutableCount = 3;
extern const ProductFile kProductFiles[kProductFileCount];

// Built empty on its user's stack; the folders are found afresh for each check.
class InstalledProduct {
  public:
    // Fills both folders; false when either is unknown or not a folder.
    bool LocateFolders();
    // A complete installation: the folders, one main executable and all support files.
    bool IsInstalled();
    // PathFileExistsW of the file in the folder of its location kind; false for any other kind.
    bool FileExistsIn(const wchar_t* szName, int nLocation) const;
    // The install folder as stored, when its main executable carries readable version strings;
    // otherwise the empty string.
    std::wstring GetVersionedInstallDir() const;

    std::wstring m_strInstallDir;
    std::wstring m_strSystemDir;
};

// The stored product name, or the empty string.
std::wstring ReadProductName();

// The uninstaller of the installed edition: "QervUnst.exe" with "/Silent" when it exists,
// otherwise "QervLunetUnst.exe" with "Silent", whether or not that one exists.
struct UninstallerCommand {
    std::wstring strFile;
    const wchar_t* szArguments;
};
UninstallerCommand ChooseUninstaller(const std::wstring& installDir);

// The box that offers the removal, the framework's AfxMessageBox in the program; gives the
// button pressed.
using ConfirmRemovalBox = int (*)(const wchar_t* szText, UINT nType);

// Looks for an installed edition. When one is found the user is asked through showBox; on OK
// this setup registers itself to run once at the next logon and starts the edition's
// uninstaller. True when an edition was found (the setup must stop), false to go on.
bool CheckExistingInstallation(ConfirmRemovalBox showBox);

// True when the 2009 edition's main executable lies in the install folder.
bool IsOldEditionInstalled();
