#pragma once

// The steps of the launch that a test can neither perform nor answer: Wine never asks for
// elevation, and nobody clicks the box that follows a declined one. The launch goes through this
// table; the system's entries forward to CreateProcessW, ShellExecuteExW and MessageBoxW.
#include <windows.h>

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
