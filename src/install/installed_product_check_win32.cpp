#include "install/installed_product.h"

#include "app/message_table.h"
#include "install/installed_product_text.h"
#include "install/registry_helpers.h"

#include <shellapi.h>

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
