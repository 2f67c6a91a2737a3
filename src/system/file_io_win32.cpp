#include "system/file_io.h"

#include <windows.h>

namespace {

// The setup reads and writes these files elevated: a link in a file's place is opened as
// itself, never followed to a file of someone else's choosing.
constexpr DWORD kFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

HANDLE Native(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

FileHandle FileHandle::OpenForRead(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              kFileFlags, nullptr);
    return FileHandle(reinterpret_cast<std::intptr_t>(file));
}

FileHandle FileHandle::CreateForWrite(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              kFileFlags, nullptr);
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
