#include "ui/framework/win_app.h"

#include <cwchar>

namespace {

// Set by the one application object; the framework's services reach it from any thread.
CWinApp* g_pApp = nullptr;

// The executable's file name without folder and extension.
std::wstring ModuleBaseName(HINSTANCE hInstance) {
    wchar_t szPath[MAX_PATH] = L"";
    DWORD nLength = ::GetModuleFileNameW(hInstance, szPath, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) {
        return std::wstring();
    }
    const wchar_t* pszName = std::wcsrchr(szPath, L'\\');
    std::wstring name = pszName ? pszName + 1 : szPath;
    std::wstring::size_type nDot = name.rfind(L'.');
    if (nDot != std::wstring::npos) {
        name.erase(nDot);
    }
    return name;
}

}  // namespace

CWinApp::CWinApp(const wchar_t* lpszAppName)
    : m_hInstance(::GetModuleHandleW(nullptr)),
      m_strAppName(lpszAppName ? lpszAppName : ModuleBaseName(m_hInstance)) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() { return TRUE; }

CWinApp* AfxGetApp() { return g_pApp; }

HINSTANCE AfxGetInstanceHandle() {
    return g_pApp ? g_pApp->m_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

int AfxWinMain() {
    // Applications of this framework run their windows modally inside InitInstance; its FALSE
    // ends the process, so there is no message loop here.
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr) {
        pApp->InitInstance();
    }
    return 0;
}
