// The dialog's initialisation: language and texts, layout, the start-up checks, icons, and the
// start of the two background threads. The checks may end the dialog before any thread starts.
#include <windows.h>

#include <process.h>

#include <cstdint>

#include "app/command_line.h"
#include "app/message_table.h"
#include "app/setup_app.h"
#include "ui/shared_state.h"
#include "install/installed_product.h"
#include "install/registry_helpers.h"
#include "ui/framework/message_box.h"
#include "ui/framework/win_app.h"
#include "ui/setup_dialog.h"

namespace {

// Buffers of the path checks; a result this long or longer counts as unusable.
constexpr DWORD kPathChars = 1024;
constexpr DWORD kLongPathChars = 1023;

// The program's own path can be read whole and resolved to its long form.
bool IsProgramPathUsable() {
    wchar_t szPath[kPathChars] = L"";
    DWORD nLength = ::GetModuleFileNameW(AfxGetInstanceHandle(), szPath, kPathChars);
    if (nLength == 0 || nLength >= kLongPathChars) {
        return false;
    }
    wchar_t szCopy[kPathChars] = L"";
    ::lstrcpynW(szCopy, szPath, kPathChars);
    wchar_t szLongPath[kLongPathChars] = L"";
    return ::GetLongPathNameW(szCopy, szLongPath, kLongPathChars) != 0;
}

// The temporary folder can be read whole and resolved to its long form.
bool IsTempFolderUsable() {
    wchar_t szTempPath[kPathChars] = L"";
    DWORD nLength = ::GetTempPathW(kPathChars, szTempPath);
    if (nLength == 0 || nLength >= kLongPathChars) {
        return false;
    }
    wchar_t szLongPath[kLongPathChars] = L"";
    return ::GetLongPathNameW(szTempPath, szLongPath, kLongPathChars) != 0;
}

}  // namespace

BOOL CQervOnlineSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // The language is settled before anything is shown; without a stored value it stays 0.
    std::uint32_t dwLanguage = 0;
    if (ReadLanguageFlag(&dwLanguage)) {
        g_nLanguage = static_cast<std::int32_t>(dwLanguage);
    }
    ApplyDialogTexts();
    ApplyDialogLayout();

    if (!IsUserAdmin()) {
        AfxMessageBox(GetMessageText(kMsgNotAdmin).c_str(), MB_OK | MB_ICONEXCLAMATION);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    // Any first argument at all skips the checks for an installed edition.
    if (GetFirstArgument().empty()) {
        if (CheckExistingInstallation(AfxMessageBox)) {
            EndDialog(IDCANCEL);
            return TRUE;
        }
        if (IsOldEditionInstalled()) {
            AfxMessageBox(GetMessageText(kMsgOldEditionFound).c_str(), MB_OK | MB_ICONEXCLAMATION);
            EndDialog(IDCANCEL);
            return TRUE;
        }
    }
    if (!IsProgramPathUsable() || !IsTempFolderUsable()) {
        AfxMessageBox(GetMessageText(kMsgInitFailed).c_str(), MB_OK | MB_ICONERROR);
        EndDialog(IDCANCEL);
        return FALSE;
    }

    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(static_cast<HICON>(m_hSmallIcon)));
    StartSetupThreads();
    InitTrayIcon();
    return TRUE;
}

void CQervOnlineSetupDlg::StartSetupThreads() {
    // The status line first, so that it already waits for the download object when the worker
    // makes it. It is given the dialog itself.
    g_hStatusThread =
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &StatusTextThread, this, 0, nullptr));
    // The worker is given the dialog as its SetupDialogView, the only face of it that it uses.
    g_hWorkerThread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, m_pfnWorker, static_cast<SetupDialogView*>(this), 0, nullptr));
}
