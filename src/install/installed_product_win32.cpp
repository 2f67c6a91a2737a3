#include "install/installed_product.h"

#include "app/message_table.h"
#include "install/combine_path.h"
#include "install/file_version.h"
#include "install/installed_product_text.h"
#include "install/registry_helpers.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace {

// Registry strings are read into buffers of this many characters, terminator included.
constexpr std::uint32_t kRegStringChars = 260;
constexpr UINT kSystemDirChars = 1024;

// The 2009 edition reads its folder under this spelling of the key.
constexpr wchar_t kOldEditionKey[] = L"Software\\Qerv";
constexpr wchar_t kOldEditionExecutable[] = L"Qerv2009.exe";

// The folder stored in szValue of szKey, when it names an existing folder; else empty.
std::wstring ReadStoredFolder(const wchar_t* szKey) {
    wchar_t szFolder[kRegStringChars] = {};
    if (RegReadString(szKey, kInstallDirValue, szFolder, kRegStringChars) == 0) return {};
    if (!PathIsDirectoryW(szFolder)) return {};
    return szFolder;
}

bool PathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

}  // namespace

const ProductFile kProductFiles[kProductFileCount] = {
    {L"Qer.exe", kInInstallDir},
    {L"Qerv.exe", kInInstallDir},
    {L"QervLunet.exe", kInInstallDir},
    {L"QervSkinManager.dll", kInInstallDir},
    {L"QervSkin.dll", kInInstallDir},
    {L"SkinResource.dll", kInInstallDir},
    {L"QervLanguageVn.dll", kInInstallDir},
    {L"QervLanguageEn.dll", kInInstallDir},
};

bool InstalledProduct::LocateFolders() {
    wchar_t szSystemDir[kSystemDirChars] = {};
    const UINT nLength = GetSystemDirectoryW(szSystemDir, kSystemDirChars);
    if (nLength == 0 || nLength >= kSystemDirChars || !PathIsDirectoryW(szSystemDir)) return false;
    m_strSystemDir = szSystemDir;

    m_strInstallDir = ReadStoredFolder(kQervKey);
    return !m_strInstallDir.empty();
}

bool InstalledProduct::IsInstalled() {
    if (!LocateFolders()) return false;

    bool bMainFound = false;
    for (std::size_t i = 0; i < kMainExecutableCount && !bMainFound; ++i) {
        bMainFound = FileExistsIn(kProductFiles[i].szName, kProductFiles[i].nLocation);
    }
    if (!bMainFound) return false;

    for (std::size_t i = kMainExecutableCount; i < kProductFileCount; ++i) {
        if (!FileExistsIn(kProductFiles[i].szName, kProductFiles[i].nLocation)) return false;
    }
    return true;
}

bool InstalledProduct::FileExistsIn(const wchar_t* szName, int nLocation) const {
    std::wstring path;
    if (nLocation == kInSystemDir) path = CombinePath(m_strSystemDir.c_str(), szName);
    if (nLocation == kInInstallDir) path = CombinePath(m_strInstallDir.c_str(), szName);
    return PathExists(path);
}

std::wstring InstalledProduct::GetVersionedInstallDir() const {
    const std::wstring folder = ReadStoredFolder(kQervKey);
    if (folder.empty()) return {};

    std::wstring executable;
    for (std::size_t i = 0; i < kMainExecutableCount && executable.empty(); ++i) {
        std::wstring candidate = CombinePath(folder.c_str(), kProductFiles[i].szName);
        if (PathExists(candidate)) executable = std::move(candidate);
    }
    if (executable.empty()) return {};

    // Only a readable version resource is asked for; the strings themselves are not used.
    FileVersionStrings strings;
    if (ReadFileVersionStrings(executable.c_str(), &strings) == 0) return {};
    return folder;
}

std::wstring ReadProductName() {
    wchar_t szName[kRegStringChars] = {};
    if (RegReadString(kQervKey, kProductNameValue, szName, kRegStringChars) == 0) return {};
    return szName;
}

UninstallerCommand ChooseUninstaller(const std::wstring& installDir) {
    std::wstring file = CombinePath(installDir.c_str(), L"QervUnst.exe");
    if (PathExists(file)) return {file, L"/Silent"};
    return {CombinePath(installDir.c_str(), L"QervLunetUnst.exe"), L"Silent"};
}

bool IsOldEditionInstalled() {
    const std::wstring folder = ReadStoredFolder(kOldEditionKey);
    if (folder.empty()) return false;
    return PathExists(CombinePath(folder.c_str(), kOldEditionExecutable));
}

namespace {

constexpr DWORD kModulePathChars = 1024;

// Registers this setup to run once more at the next logon, after the uninstaller has done its
// work. A path that does not fit is not registered cut short.
void RegisterSelfForNextLogon() {
    wchar_t szSelf[kModulePathChars] = {};
    const DWORD nLength = GetModuleFileNameW(nullptr, szSelf, kModulePathChars);
    if (nLength != 0 && nLength < kModulePathChars) RegisterRunOnce(szSelf);
}

}  // namespace

bool CheckExistingInstallation(ConfirmRemovalBox showBox) {
    InstalledProduct product;
    if (!product.IsInstalled()) return false;

    const std::wstring name = ReadProductName();
    const std::wstring folder = product.GetVersionedInstallDir();
    if (folder.empty()) return false;

    const std::wstring text =
        FormatInstalledEditionText(GetMessageText(kMsgInstalledEditionFound), name);
    if (showBox(text.c_str(), MB_OKCANCEL) != IDOK) return true;

    RegisterSelfForNextLogon();
    const UninstallerCommand uninstaller = ChooseUninstaller(folder);
    // The uninstaller runs on by itself; its result is not waited for.
    ShellExecuteW(nullptr, L"open", uninstaller.strFile.c_str(), uninstaller.szArguments,
                  folder.c_str(), SW_SHOWNORMAL);
    return true;
}
