#include "system/file_io.h"

#include <windows.h>

namespace {

HANDLE Native(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

FileHandle FileHandle::OpenForRead(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(reinterpret_cast<std::intptr_t>(file));
}

FileHandle FileHandle::CreateForWrite(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(reinterpret_cast<std::intptr_t>(file));
}

bool FileHandle::Size(std::uint64_t* size) const {
    DWORD high = 0;
    const DWORD low = GetFileSize(Native(m_native), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = static_cast<std::uint64_t>(high) << 32 | low;
    return true;
}

bool FileHandle::Read(void* buffer, std::uint32_t bytes, std::uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = ReadFile(Native(m_native), buffer, bytes, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

bool FileHandle::Write(const void* buffer, std::uint32_t bytes, std::uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = WriteFile(Native(m_native), buffer, bytes, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    CloseHandle(Native(m_native));
    m_native = kInvalid;
}

// Windows gives large pages only to holders of the "lock pages in memory" privilege, which a setup
// does not have; the ordinary pages serve.
void HintLargeBuffer(void*, std::size_t) {}
