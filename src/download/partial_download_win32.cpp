#include "download/partial_download.h"

#include <mutex>
#include <string>

namespace {

struct KeptPart {
    std::wstring path;
    std::wstring url;
    ResumePoint point;
};

std::mutex g_lock;
bool g_bOpen = true;
// On the heap rather than a static object: a thread given up on may still hand its file over
// while the process ends, after static objects have gone.
KeptPart*& Kept() {
    static KeptPart* kept = nullptr;
    return kept;
}

void DropKept() {
    if (Kept() == nullptr) return;
    DeleteFileW(Kept()->path.c_str());
    delete Kept();
    Kept() = nullptr;
}

}  // namespace

void OfferPartialDownload(const wchar_t* szPath, const wchar_t* szUrl, const ResumePoint& point) {
    const std::lock_guard<std::mutex> lock(g_lock);
    const bool bBetter = Kept() == nullptr || point.nBytes > Kept()->point.nBytes;
    if (!g_bOpen || !point.CanResume() || !bBetter) {
        DeleteFileW(szPath);
        return;
    }
    DropKept();
    Kept() = new KeptPart{szPath, szUrl, point};
}

bool AdoptPartialDownload(const wchar_t* szUrl, const wchar_t* szOwnPath, ResumePoint* pPoint) {
    const std::lock_guard<std::mutex> lock(g_lock);
    KeptPart* pKept = Kept();
    if (pKept == nullptr || pKept->url != szUrl || pKept->point.nBytes <= pPoint->nBytes) {
        return false;
    }
    if (!MoveFileExW(pKept->path.c_str(), szOwnPath, MOVEFILE_REPLACE_EXISTING)) {
        DropKept();
        return false;
    }
    // What arrives must be the part that was handed over, byte count and all; the attempt's own
    // part is gone either way.
    if (PartSize(szOwnPath) != pKept->point.nBytes) {
        DeleteFileW(szOwnPath);
        pPoint->Forget();
        DropKept();
        return false;
    }
    *pPoint = pKept->point;
    delete pKept;
    Kept() = nullptr;
    return true;
}

void OpenPartialDownloads() {
    const std::lock_guard<std::mutex> lock(g_lock);
    g_bOpen = true;
}

void DiscardPartialDownloads() {
    const std::lock_guard<std::mutex> lock(g_lock);
    g_bOpen = false;
    DropKept();
}

std::int64_t PartSize(const wchar_t* szPath) {
    // Opened for its attributes only, shared with anyone, and a link as itself.
    HANDLE hFile = CreateFileW(szPath, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size = {};
    const bool bSized = GetFileSizeEx(hFile, &size) != FALSE;
    CloseHandle(hFile);
    return bSized ? size.QuadPart : -1;
}
