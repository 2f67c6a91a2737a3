#pragma once

// The last stage of the setup: start the installer with the user's first argument and a language
// word, elevating through the shell when a plain start fails, then remove what can be removed now
// and schedule the rest for the next restart.
#include <windows.h>

#include <string>

class SetupDialogView;

// The steps of the launch that a test can neither perform nor answer: Wine never asks for
// elevation, and nobody clicks the box that follows a declined one. The launch goes through this
// table; the system's entries forward to CreateProcessW, ShellExecuteExW and MessageBoxW.
struct InstallerStarter {
    // CreateProcessW with szCommandLine as the whole command line; true when the installer runs.
    bool (*startDirect)(wchar_t* szCommandLine);
    // ShellExecuteExW with the verb "runas"; true when the installer was started elevated,
    // otherwise false with GetLastError() in *pdwError.
    bool (*startElevated)(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                          DWORD* pdwError);
    // Message 6, telling the user that the installer needs administrator rights.
    void (*showElevationDeclined)();
};

extern const InstallerStarter kSystemInstallerStarter;

// What the worker hands over; the names are those of its trace lines.
struct InstallerLaunchInput {
    std::wstring szFileSavePath;       // the installer, "SetupB.exe" in the download folder
    std::wstring sArgumentFist;        // passed on unchanged, possibly empty
    std::wstring sArgumentTotal;       // tested for the set-up-only switch
    std::wstring sDownloadedPath;      // the package; empty in set-up-only mode
    std::wstring sPathFileRun;         // the decoded installer; empty in set-up-only mode
    std::wstring szDirectoryDownload;  // the download folder
    std::wstring programFolder;        // where set-up-only mode finds the installer
};

enum class LaunchOutcome { kStartedDirectly, kStartedElevated, kElevationDeclined, kNotStarted };

// Starts the installer through starter and cleans up after it, reading g_nLanguage for the
// language word. Everything is removed or scheduled for removal before this returns; after an
// elevated start the dialog is ended last. The process is not ended here.
LaunchOutcome RunInstallerLaunch(const InstallerLaunchInput& input, SetupDialogView& view,
                                 const InstallerStarter& starter);
