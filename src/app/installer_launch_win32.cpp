// The installer launch: the system's process starts behind a narrow table, then the launch
// itself with its clean-up.
#include "app/installer_launch.h"

#include "app/command_line.h"
#include "app/debug_trace.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "download/download_file.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>

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

bool ShellStartElevated(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
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

const InstallerStarter kSystemInstallerStarter = {StartDirect, ShellStartElevated,
                                                  ShowElevationDeclined};

namespace {

// An empty path is skipped rather than handed to the system, which would schedule or delete
// whatever an empty name resolves to.
void DeleteNow(const std::wstring& path) {
    if (!path.empty()) DeleteFileW(path.c_str());
}

void RemoveFolderNow(const std::wstring& path) {
    if (!path.empty()) RemoveDirectoryW(path.c_str());
}

void RemoveAtRestart(const std::wstring& path) {
    if (!path.empty()) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Pending removals run in the order they were registered, and a folder goes only once it is
// empty, so the folder comes last, after the files of attempts that were given up.
void ScheduleRemovals(const InstallerLaunchInput& input, const std::wstring& installer) {
    RemoveAtRestart(input.sPathFileRun);
    RemoveAtRestart(input.sDownloadedPath);
    RemoveAtRestart(installer);
    RemoveAbandonedAttemptFiles();
    RemoveAtRestart(input.szDirectoryDownload);
}

LaunchOutcome StartInstallerElevated(const InstallerLaunchInput& input,
                                     const std::wstring& installer, SetupDialogView& view,
                                     const InstallerStarter& starter) {
    wchar_t szParameters[kLaunchBufferChars] = {};
    if (!ComposeElevatedParameters(input.sArgumentFist, g_nLanguage.load(), szParameters)) {
        DebugTrace(L"Installer parameters do not fit: %s", input.sArgumentFist.c_str());
        return LaunchOutcome::kNotStarted;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (starter.startElevated(view.MainWindow(), installer.c_str(), szParameters, &dwError)) {
        // The running installer and its folder stay; the restart removes them. The dialog is
        // ended only once everything is removed or scheduled (by the caller).
        DeleteNow(input.sDownloadedPath);
        DeleteNow(input.sPathFileRun);
        DeleteNow(installer);
        RemoveFolderNow(input.szDirectoryDownload);
        return LaunchOutcome::kStartedElevated;
    }
    if (dwError != ERROR_CANCELLED) return LaunchOutcome::kNotStarted;

    starter.showElevationDeclined();
    DeleteNow(input.sDownloadedPath);
    DeleteNow(installer);
    RemoveAbandonedAttemptFiles();
    RemoveFolderNow(input.szDirectoryDownload);
    return LaunchOutcome::kElevationDeclined;
}

}  // namespace

LaunchOutcome RunInstallerLaunch(const InstallerLaunchInput& input, SetupDialogView& view,
                                 const InstallerStarter& starter) {
    const bool bSetupOnly = HasSwitch(input.sArgumentTotal, kSwitchSetupOnly);
    const std::wstring installer =
        bSetupOnly ? InstallerNextToProgram(input.programFolder) : input.szFileSavePath;

    LaunchOutcome outcome = LaunchOutcome::kNotStarted;
    wchar_t szProcessPath[kLaunchBufferChars] = {};
    if (ComposeDirectCommandLine(installer, input.sArgumentFist, g_nLanguage.load(),
                                 szProcessPath)) {
        DebugTrace(L"szProcessPath: %s", szProcessPath);
        if (starter.startDirect(szProcessPath)) outcome = LaunchOutcome::kStartedDirectly;
    } else {
        // Never started with a cut path. The elevated start takes the path on its own, so a long
        // one may still be started that way.
        // The path named is the one that did not fit, even where it was never composed whole.
        const std::wstring wanted =
            bSetupOnly ? input.programFolder + L"\\" + kInstallerFileName : installer;
        DebugTrace(L"szProcessPath does not fit: %s", wanted.c_str());
    }

    if (outcome == LaunchOutcome::kNotStarted && !installer.empty()) {
        outcome = StartInstallerElevated(input, installer, view, starter);
        if (outcome == LaunchOutcome::kElevationDeclined) return outcome;
    }
    ScheduleRemovals(input, installer);
    if (outcome == LaunchOutcome::kStartedElevated) view.EndSetupDialog();
    return outcome;
}
