#include "download/download_attempt.h"

#include <cwchar>

namespace {

// Numbers the attempts of the process, so that each has a file name of its own.
std::atomic<LONG> g_nAttempts{0};

// Copies szText whole into szBuffer, or gives false when it does not fit.
bool CopyWhole(wchar_t* szBuffer, int nChars, const wchar_t* szText) {
    if (szText == nullptr) return false;
    const size_t nLength = wcsnlen(szText, static_cast<size_t>(nChars));
    if (nLength >= static_cast<size_t>(nChars)) return false;
    wmemcpy(szBuffer, szText, nLength + 1);
    return true;
}

}  // namespace

DownloadAttempt* DownloadAttempt::Create(const wchar_t* szUrl, const wchar_t* szSaveFile,
                                         HWND hWndProgress, DWORD nType, WinHttpWrapper* pWrapper) {
    DownloadAttemptRef attempt(new DownloadAttempt());
    if (!CopyWhole(attempt->m_szUrl, kAttemptUrlChars, szUrl) || szSaveFile == nullptr) {
        return nullptr;
    }
    // A cut name could fall on another file: refuse it instead.
    const int nWritten = _snwprintf(attempt->m_szOwnFile, kAttemptFileChars, L"%s.%ld.part",
                                    szSaveFile, static_cast<long>(++g_nAttempts));
    if (nWritten < 0 || nWritten >= kAttemptFileChars) return nullptr;
    attempt->m_hWndProgress = hWndProgress;
    attempt->m_nType = nType;
    attempt->m_pWrapper = pWrapper;
    return attempt.release();
}

void DownloadAttempt::AddRef() { ++m_nRefs; }

void DownloadAttempt::Release() {
    if (--m_nRefs == 0) delete this;
}

bool DownloadAttempt::EndAs(End end) {
    LONG nExpected = kRunning;
    return m_nEnd.compare_exchange_strong(nExpected, end);
}

bool DownloadAttempt::Finish() { return EndAs(kFinished); }

bool DownloadAttempt::Abandon() { return EndAs(kAbandoned); }

bool DownloadAttempt::IsFinished() const { return m_nEnd.load() == kFinished; }

void DownloadAttempt::DeleteOwnFile() const { DeleteFileW(m_szOwnFile); }
