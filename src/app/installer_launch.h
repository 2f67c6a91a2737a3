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

// Where one run keeps its files. Every field is named once the download folder exists and keeps
// its meaning for the whole run; a file that was never written is simply not there.
struct SetupPaths {
    std::wstring downloadFolder;  // the run's own new folder in the temporary folder
    std::wstring packageFile;     // "Setup.dat" in it: the download
    std::wstring decodedFile;     // "DeSetup.dat" in it: the decoding's output
    std::wstring installerFile;   // "SetupB.exe" in it: the decoded installer
    std::wstring programFolder;   // the folder of the program's own executable
};

// The pins of the publishers whose installers this program starts, "hex;hex" or empty for none;
// each executable is built with its own (cmake/installer_signers.cmake).
extern const char kInstallerSigners[];

// Whether the installer at path may be started: its Authenticode signature is sound and its
// signer's key is one of pinsText's, or pinsText pins nobody. Traces the outcome either way.
bool IsInstallerSignerAccepted(const std::wstring& path, const char* pinsText);

enum class LaunchOutcome { kStartedDirectly, kStartedElevated, kElevationDeclined, kNotStarted };

// Starts the installer through starter with the program's first argument and the language word
// of g_nLanguage, then cleans up. In set-up-only mode nothing was downloaded and the installer
// next to the program is started instead. Everything is removed or scheduled for removal before
// this returns; after an elevated start the dialog is ended last. The process is not ended here.
LaunchOutcome RunInstallerLaunch(const SetupPaths& paths, const std::wstring& sArgumentFist,
                                 bool bSetupOnly, SetupDialogView& view,
                                 const InstallerStarter& starter);
