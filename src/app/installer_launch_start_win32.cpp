#include "app/installer_launch_start.h"

#include "app/message_table.h"

#include <shellapi.h>

#include <string>

namespace {

bool StartDirect(wchar_t* szCommandLine) {
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessW(nullptr, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startupInfo, &processInfo)) {
        return false;
    }
    // The installer runs on by itself; nothing waits for it.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

bool StartElevated(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                   DWORD* pdwError) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = hWndOwner;
    info.lpVerb = L"runas";
    info.lpFile = szFile;
    info.lpParameters = szParameters;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        *pdwError = GetLastError();
        return false;
    }
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    return true;
}

void ShowElevationDeclined() {
    const std::wstring text = GetMessageText(kMsgElevationDeclined);
    MessageBoxW(nullptr, text.c_str(), kInstallationCaption, MB_ICONINFORMATION);
}

}  // namespace

const InstallerStarter kSystemInstallerStarter = {StartDirect, StartElevated,
                                                  ShowElevationDeclined};
