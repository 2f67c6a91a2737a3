#pragma once

// The application object of this program's dialog framework: one per process, constructed as a
// static object, run by AfxWinMain.
#include <windows.h>

#include <atomic>
#include <string>

class CWnd;

class CWinApp {
  public:
    // With no name, the application is named after the executable file without its extension.
    explicit CWinApp(const wchar_t* lpszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs once on the UI thread. FALSE means there is no message loop: the process ends.
    virtual BOOL InitInstance();

    const wchar_t* GetAppName() const { return m_strAppName.c_str(); }

    HINSTANCE m_hInstance;
    // Read by message boxes that other threads show while the UI thread sets or clears it.
    std::atomic<CWnd*> m_pMainWnd{nullptr};

  private:
    std::wstring m_strAppName;
};

CWinApp* AfxGetApp();
// The module that holds the program's code and its resources.
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// The application's main window, or null.
CWnd* AfxGetMainWnd();

// The framework's part of the entry point: runs InitInstance, then ends the process with exit
// code 0 through ExitProcess. Other threads (the worker, download attempts) may still run then;
// the C runtime's exit would run static destructors under them.
[[noreturn]] void AfxWinMain();
