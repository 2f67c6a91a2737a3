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

// The file's size, or -1 when it cannot be read.
std::int64_t FileSize(const wchar_t* szPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(szPath, GetFileExInfoStandard, &data)) return -1;
    return static_cast<std::int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
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
    if (FileSize(szOwnPath) != pKept->point.nBytes) {
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
