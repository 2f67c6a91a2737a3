#include "app/setup_app.h"

#include <windows.h>

#include <aclapi.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "base/debug_trace.h"
#include "ui/shared_state.h"
#include "base/scoped_handle.h"
#include "base/security_descriptor.h"
#include "ui/setup_dialog.h"

// The values the threads share live as long as the process.
std::atomic<int> g_nCancelState{kCancelStateNone};
std::atomic<HANDLE> g_hWorkerThread{nullptr};
std::atomic<HANDLE> g_hStatusThread{nullptr};
std::atomic<WinHttpWrapper*> g_pWinHttpWrapper{nullptr};

namespace {

constexpr DWORD kTokenGroupsBytes = 10240;

// Whether sid is the user of the process token or the owner it gives the objects it creates.
bool IsOwnSid(PSID sid) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
    for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        // A record and the identifier it points to; an identifier has at most 68 bytes.
        alignas(8) BYTE storage[256];
        DWORD returned = 0;
        if (!GetTokenInformation(token.get(), kind, storage, sizeof(storage), &returned)) continue;
        const PSID own = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(storage)->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(storage)->Owner;
        if (EqualSid(sid, own)) return true;
    }
    return false;
}

}  // namespace

bool IsUserAdmin() {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;

    // DWORD-aligned storage for the TOKEN_GROUPS record.
    DWORD storage[kTokenGroupsBytes / sizeof(DWORD)];
    DWORD returned = 0;
    BOOL got = GetTokenInformation(token.get(), TokenGroups, storage, kTokenGroupsBytes, &returned);
    token.reset();
    if (!got) return false;
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(storage);

    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid)) return true;
    }
    return false;
}

bool IsMutexOwnerTrusted(HANDLE hMutex) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    // What cannot be read counts as another copy, as any existing mutex did before the owner
    // was looked at: only an owner known to be foreign is ignored.
    if (GetSecurityInfo(hMutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &pDescriptor) != ERROR_SUCCESS) {
        return true;
    }
    const ScopedLocalMemory descriptor(pDescriptor);
    if (owner == nullptr) return true;
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(owner, WinLocalSystemSid) || IsOwnSid(owner);
}

namespace {

// The longest path that GetModuleFileNameW can give, terminator included.
constexpr DWORD kLongestPathChars = 32768;

// "<program>.local" (a folder or a file) beside the program makes the loader look for
// side-by-side DLLs there first, the common controls among them: such a DLL would run elevated.
// The path of one that is there, or empty.
std::wstring RedirectionBesideProgram() {
    std::vector<wchar_t> path(kLongestPathChars, L'\0');
    const DWORD nLength = GetModuleFileNameW(nullptr, path.data(), kLongestPathChars);
    if (nLength == 0 || nLength >= kLongestPathChars) return {};
    const std::wstring redirection = std::wstring(path.data(), nLength) + L".local";
    return GetFileAttributesW(redirection.c_str()) != INVALID_FILE_ATTRIBUTES ? redirection
                                                                              : std::wstring();
}

}  // namespace

BOOL CQervOnlineSetupApp::InitInstance() {
    // Before the first use of the common controls loads them: the program ends, showing nothing,
    // as when it cannot start.
    const std::wstring redirection = RedirectionBesideProgram();
    if (!redirection.empty()) {
        DebugTrace(L"DLL redirection beside the program, setup ends: %s", redirection.c_str());
        return FALSE;
    }
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    CWinApp::InitInstance();

    ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
    if (mutex.valid() && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (IsMutexOwnerTrusted(mutex.get())) {
            // A copy is running already: this one ends at once, with no window and no message.
            return FALSE;
        }
        DebugTrace(L"single-instance mutex owned by another account, ignored");
    }
    // Without a mutex at all the setup still runs, as a first copy would.
    // The dialog lives until the process ends: after a confirmed stop the worker and download
    // threads may still reach it until the process is gone, and then find a destroyed window
    // rather than a destroyed object.
    CQervOnlineSetupDlg* dlg = new CQervOnlineSetupDlg(m_pfnWorker);
    m_pMainWnd = dlg;
    dlg->DoModal();
    dlg->RemoveTrayIcon();
    m_pMainWnd = nullptr;
    mutex.reset();
    return FALSE;
}
