#include "download/abandoned_files.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "download/partial_download.h"

namespace {

std::mutex g_abandonedLock;
std::vector<std::wstring>& AbandonedFiles() {
    static std::vector<std::wstring>* files = new std::vector<std::wstring>();
    return *files;
}

}  // namespace

void RememberAbandonedFile(const wchar_t* szFile) {
    const std::lock_guard<std::mutex> lock(g_abandonedLock);
    AbandonedFiles().emplace_back(szFile);
}

void RemoveAbandonedAttemptFiles() {
    DiscardPartialDownloads();
    const std::lock_guard<std::mutex> lock(g_abandonedLock);
    for (const std::wstring& file : AbandonedFiles()) {
        // A thread that has ended removed its file already; one still at work holds it open.
        if (!DeleteFileW(file.c_str()) &&
            GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
            MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    AbandonedFiles().clear();
}
