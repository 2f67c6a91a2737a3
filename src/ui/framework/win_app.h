#pragma once

// The application object of this program's dialog framework: one per process, constructed as a
// static object, run by AfxWinMain.
#include <windows.h>

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
    CWnd* m_pMainWnd = nullptr;

  private:
    std::wstring m_strAppName;
};

CWinApp* AfxGetApp();
// The module that holds the program's code and its resources.
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// The application's main window, or null.
CWnd* AfxGetMainWnd();

// The framework's part of the entry point: runs InitInstance; gives the process exit code, 0.
int AfxWinMain();
