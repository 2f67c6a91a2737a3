#include "app/installer_check.h"

#include "base/debug_trace.h"
#include "base/held_file.h"
#include "system/installer_signer.h"
#include "system/program_image.h"

#include <windows.h>

#include <process.h>

#include <vector>

namespace {

// Whether the held installer's signer is one of the pinned ones.
bool IsSignerAccepted(HANDLE hFile, const std::wstring& path, const std::vector<SignerPin>& pins) {
    const SignerCheckResult result = CheckInstallerSigner(hFile, path.c_str(), pins);
    switch (result.check) {
        case SignerCheck::kNoPins:
            DebugTrace(L"Installer signer not checked: no signer pinned");
            return true;
        case SignerCheck::kPinned:
            DebugTrace(L"Installer signer pinned: %s", result.subject.c_str());
            return true;
        case SignerCheck::kUntrusted:
            DebugTrace(L"Installer signature refused: WinVerifyTrust 0x%08lX: %s",
                       static_cast<unsigned long>(result.trustResult), path.c_str());
            return false;
        case SignerCheck::kPadded:
            DebugTrace(L"Installer signature refused: %hs: %s", result.why.c_str(), path.c_str());
            return false;
        case SignerCheck::kNotPinned:
            break;
    }
    DebugTrace(L"Installer signature refused: signer not pinned: %s", result.subject.c_str());
    return false;
}

// Whether the held installer's file version is at least the minimum. Pinning a key accepts
// whatever that key ever signed; the minimum keeps an older, flawed installer from being served.
bool IsVersionAccepted(HANDLE hFile, const ProgramVersion& minimum) {
    LARGE_INTEGER size = {};
    ProgramVersion version;
    std::string why;
    if (!GetFileSizeEx(hFile, &size) ||
        !ReadProgramVersion(FileImageReader(hFile), static_cast<std::uint64_t>(size.QuadPart),
                            &version, &why)) {
        DebugTrace(L"Installer version refused: %hs", why.c_str());
        return false;
    }
    if (CompareProgramVersions(version, minimum) < 0) {
        DebugTrace(L"Installer version refused: %hs below %hs",
                   FormatProgramVersion(version).c_str(), FormatProgramVersion(minimum).c_str());
        return false;
    }
    return true;
}

}  // namespace

InstallerCheck CheckInstaller(const std::wstring& path, const InstallerPolicy& policy) {
    InstallerCheck check;
    std::vector<SignerPin> pins;
    ProgramVersion minimum;
    const bool bMinimum = policy.szMinimumVersion[0] != '\0';
    // The build checks both, so either unreadable is a damaged program: trust nobody.
    if (!ParseSignerPins(policy.szSigners, &pins)) {
        DebugTrace(L"Installer signer pins unreadable");
        return check;
    }
    if (bMinimum && !ParseProgramVersion(policy.szMinimumVersion, &minimum)) {
        DebugTrace(L"Installer minimum version unreadable");
        return check;
    }
    check.file = OpenFileHeld(path);
    if (!check.file.valid()) {
        const DWORD dwError = GetLastError();
        if (pins.empty() && !bMinimum) {
            DebugTrace(L"Installer signer not checked: no signer pinned");
            check.bAccepted = true;
        } else {
            DebugTrace(L"Installer not opened: %lu: %s", dwError, path.c_str());
        }
        return check;
    }
    check.bAccepted = IsSignerAccepted(check.file.get(), path, pins) &&
                      (!bMinimum || IsVersionAccepted(check.file.get(), minimum));
    return check;
}

namespace {

// What the check loads and opens on first use stays loaded and open for the check itself.
unsigned __stdcall WarmUpInstallerCheck(void*) {
    wchar_t szSelf[MAX_PATH] = {};
    const DWORD nLength = GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return 0;
    const ScopedHandle self = OpenFileHeld(szSelf);
    if (self.valid()) PrepareInstallerSignerCheck(self.get(), szSelf);
    return 0;
}

// The warm-up is a saving, not a step: the check does not wait for it for longer than this.
constexpr DWORD kWarmUpWaitMs = 5000;

}  // namespace

InstallerCheckWarmUp::InstallerCheckWarmUp()
    : m_thread(reinterpret_cast<HANDLE>(
          _beginthreadex(nullptr, 0, WarmUpInstallerCheck, nullptr, 0, nullptr))) {}

InstallerCheckWarmUp::~InstallerCheckWarmUp() {
    if (m_thread.valid()) WaitForSingleObject(m_thread.get(), kWarmUpWaitMs);
}
