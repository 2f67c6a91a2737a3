#include "system/file_io.h"

#include <process.h>
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

FileHandle FileHandle::CreateNew(const wchar_t* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, kFileFlags, nullptr);
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

// A link at `to` is replaced itself; its target is left alone.
bool MoveFileOver(const wchar_t* from, const wchar_t* to) {
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveFile(const wchar_t* path) { return DeleteFileW(path) != FALSE; }

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

// Started through the C runtime, whose per-thread state the call may use.
struct ThreadEntry {
    static unsigned __stdcall Run(void* self) {
        auto* thread = static_cast<JoinableThread*>(self);
        thread->m_run(thread->m_context);
        return 0;
    }
};

bool JoinableThread::Start(void (*run)(void* context), void* context) {
    m_run = run;
    m_context = context;
    m_native = _beginthreadex(nullptr, 0, &ThreadEntry::Run, this, 0, nullptr);
    m_running = m_native != 0;
    return m_running;
}

void JoinableThread::Join() {
    if (!m_running) return;
    HANDLE thread = reinterpret_cast<HANDLE>(m_native);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    m_running = false;
}
