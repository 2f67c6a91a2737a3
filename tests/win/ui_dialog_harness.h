#pragma once

// Runs the real setup dialog, from its own resources, with a stub for the setup workflow that
// hands the test the dialog's worker-side face and returns, so the dialog stays up with its
// status-line thread running. The dialog needs an X display (Xvfb); without DISPLAY tests skip.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/message_table.h"
#include "app/setup_app.h"
#include "ui/shared_state.h"
#include "download/winhttp_wrapper.h"
#include "install/registry_helpers.h"
#include "registry_guard.h"
#include "test_support.h"
#include "ui/setup_dialog.h"

// The test program's application object (ui_dialog_harness.cpp).
extern CQervOnlineSetupApp theApp;

namespace uitest {

struct WorkerStub {
    std::atomic<SetupDialogView*> pView{nullptr};
    std::atomic<int> nStarts{0};
    HANDLE hStarted = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

inline WorkerStub& Worker() {
    static WorkerStub stub;
    return stub;
}

// The dialog's tests start this in place of the setup sequence: it only reports its start.
inline unsigned __stdcall RecordingWorker(void* pDialog) {
    Worker().pView = static_cast<SetupDialogView*>(pDialog);
    ++Worker().nStarts;
    ::SetEvent(Worker().hStarted);
    return 0;
}

// Generous: the first window of a fresh Wine prefix takes a while.
constexpr DWORD kWaitMs = 30000;
constexpr wchar_t kCaption[] = L"Qerv Vantorel Installation";

// Polls pred every 20 ms until it holds or timeoutMs have passed; gives its last answer.
inline bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs = kWaitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return pred();
        ::Sleep(20);
    }
    return true;
}

// The dialog manager shows a modal dialog when its queue first runs empty, also after the window
// was hidden; tests that hide it wait for that moment to pass.
inline void WaitUntilFirstShown(HWND hDialog) {
    WaitUntil([&] { return ::IsWindowVisible(hDialog) != FALSE; });
    ::Sleep(500);
}

inline std::wstring WindowText(HWND hWnd) {
    wchar_t szText[1024] = L"";
    ::GetWindowTextW(hWnd, szText, 1024);
    return szText;
}

// x, y, width and height of a control in its parent's client area.
inline std::array<int, 4> PlaceInParent(HWND hWnd) {
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(hWnd), reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// The download object that the status line reads. Never freed, like the setup's: the status-line
// threads of earlier dialogs keep reading it until the test program ends.
inline WinHttpWrapper& StatusObject() {
    static WinHttpWrapper* const pWrapper = new WinHttpWrapper();
    return *pWrapper;
}

// One run of the dialog on a UI thread of its own, ended (if still up) when the object goes.
class DialogRun {
  public:
    DialogRun() : m_hEnded(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        ::ResetEvent(Worker().hStarted);
        Worker().pView = nullptr;
        HANDLE hReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, hReady] {
            INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
            ::InitCommonControlsEx(&icc);
            CQervOnlineSetupDlg dlg(&RecordingWorker);
            m_pDialog = &dlg;
            m_dwThreadId = ::GetCurrentThreadId();
            theApp.m_pMainWnd = &dlg;
            ::SetEvent(hReady);
            m_nResult = dlg.DoModal();
            theApp.m_pMainWnd = nullptr;
            m_pDialog = nullptr;
            ::SetEvent(m_hEnded);
        });
        ::WaitForSingleObject(hReady, INFINITE);
        ::CloseHandle(hReady);
    }
    ~DialogRun() {
        if (HWND hWnd = Window()) ::PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
        m_thread.join();
        ::CloseHandle(m_hEnded);
    }
    DialogRun(const DialogRun&) = delete;
    DialogRun& operator=(const DialogRun&) = delete;

    // True once the dialog has started the worker: its initialisation is over.
    bool WaitForWorker() { return ::WaitForSingleObject(Worker().hStarted, kWaitMs) == 0; }
    bool WaitForEnd(DWORD timeoutMs = kWaitMs) {
        return ::WaitForSingleObject(m_hEnded, timeoutMs) == 0;
    }

    SetupDialogView* View() { return Worker().pView; }
    HWND Window() {
        CQervOnlineSetupDlg* pDialog = m_pDialog;
        return pDialog ? pDialog->MainWindow() : nullptr;
    }
    HWND Control(int nID) { return ::GetDlgItem(Window(), nID); }
    DWORD ThreadId() const { return m_dwThreadId; }
    INT_PTR Result() const { return m_nResult; }

  private:
    HANDLE m_hEnded;
    std::thread m_thread;
    std::atomic<CQervOnlineSetupDlg*> m_pDialog{nullptr};
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<INT_PTR> m_nResult{-2};
};

inline BOOL CALLBACK FindMessageBoxWindow(HWND hWnd, LPARAM lParam) {
    auto* pSearch = reinterpret_cast<std::pair<HWND, HWND>*>(lParam);  // skipped, found
    wchar_t szClass[16] = L"";
    ::GetClassNameW(hWnd, szClass, 16);
    if (hWnd == pSearch->first || !::IsWindowVisible(hWnd) || wcscmp(szClass, L"#32770") != 0) {
        return TRUE;
    }
    pSearch->second = hWnd;
    return FALSE;
}

// A message box that the thread has open besides hExcept, or null.
inline HWND WaitForMessageBox(DWORD dwThreadId, HWND hExcept) {
    std::pair<HWND, HWND> search = {hExcept, nullptr};
    WaitUntil([&] {
        ::EnumThreadWindows(dwThreadId, &FindMessageBoxWindow, reinterpret_cast<LPARAM>(&search));
        return search.second != nullptr;
    });
    return search.second;
}

inline std::wstring MessageBoxText(HWND hBox) { return WindowText(::GetDlgItem(hBox, 0xFFFF)); }

inline BOOL CALLBACK FindIconStatic(HWND hChild, LPARAM lParam) {
    if ((::GetWindowLongW(hChild, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
    *reinterpret_cast<LRESULT*>(lParam) = ::SendMessageW(hChild, STM_GETICON, 0, 0);
    return FALSE;
}

inline HICON MessageBoxIcon(HWND hBox) {
    LRESULT icon = 0;
    ::EnumChildWindows(hBox, &FindIconStatic, reinterpret_cast<LPARAM>(&icon));
    return reinterpret_cast<HICON>(icon);
}

inline void AnswerMessageBox(HWND hBox, int nButton) {
    ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hBox, nButton)));
}

// Each test starts with no language stored, nothing asked and no download object.
class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (testsupport::Env(L"DISPLAY").empty()) GTEST_SKIP() << "no X display: use Xvfb";
        testsupport::DeleteMachineValue(kQervKey, kLanguageValue);
        g_nLanguage = 0;
        g_nCancelState = kCancelStateNone;
        g_pWinHttpWrapper = nullptr;
    }
    void TearDown() override { g_nLanguage = 0; }

    static void StoreLanguage(DWORD dwLanguage) {
        testsupport::WriteMachineDword(kQervKey, kLanguageValue, dwLanguage);
    }

    testsupport::RegistryValueGuard m_language{kQervKey, kLanguageValue};
};

}  // namespace uitest
