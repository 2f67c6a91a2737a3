#include "system/file_io.h"

#include <windows.h>

namespace {

HANDLE Native(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

FileHandle FileHandle::OpenForRead(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(reinterpret_cast<intptr_t>(file));
}

FileHandle FileHandle::CreateForWrite(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(reinterpret_cast<intptr_t>(file));
}

bool FileHandle::Size(uint64_t* size) const {
    DWORD high = 0;
    const DWORD low = GetFileSize(Native(native_), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = static_cast<uint64_t>(high) << 32 | low;
    return true;
}

bool FileHandle::Read(void* buffer, uint32_t bytes, uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = ReadFile(Native(native_), buffer, bytes, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

bool FileHandle::Write(const void* buffer, uint32_t bytes, uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = WriteFile(Native(native_), buffer, bytes, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    CloseHandle(Native(native_));
    native_ = kInvalid;
}

// Windows gives large pages only to holders of the "lock pages in memory" privilege, which a setup
// does not have; the ordinary pages serve.
void HintLargeBuffer(void*, size_t) {}
