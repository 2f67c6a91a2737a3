#include "ui/framework/win_app.h"

#include <cwchar>
#include <vector>

namespace {

// The longest path that GetModuleFileNameW can give, terminator included.
constexpr DWORD kLongestPathChars = 32768;

// Set by the one application object; the framework's services reach it from any thread.
CWinApp* g_pApp = nullptr;

// The executable's file name without folder and extension.
std::wstring ModuleBaseName(HINSTANCE hInstance) {
    std::vector<wchar_t> path(kLongestPathChars, L'\0');
    const DWORD nLength = ::GetModuleFileNameW(hInstance, path.data(), kLongestPathChars);
    if (nLength == 0 || nLength >= kLongestPathChars) {
        return std::wstring();
    }
    const wchar_t* pszName = std::wcsrchr(path.data(), L'\\');
    std::wstring name = pszName ? pszName + 1 : path.data();
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

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd.load() : nullptr; }

void AfxWinMain() {
    // Applications of this framework run their windows modally inside InitInstance; its FALSE
    // ends the process, so there is no message loop here.
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr) {
        pApp->InitInstance();
    }
    ::ExitProcess(0);
}
