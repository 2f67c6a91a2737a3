#include "system/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/wide_text.h"

namespace {

int Native(std::intptr_t value) { return static_cast<int>(value); }

}  // namespace

FileHandle FileHandle::OpenForRead(const wchar_t* path) {
    const int fd = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    // CreateFileW cannot open a folder as a file either.
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        close(fd);
        return FileHandle(kInvalid);
    }
    return FileHandle(fd >= 0 ? fd : kInvalid);
}

FileHandle FileHandle::CreateForWrite(const wchar_t* path) {
    const int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return FileHandle(fd >= 0 ? fd : kInvalid);
}

FileHandle FileHandle::CreateNew(const wchar_t* path) {
    // With O_EXCL a link in the file's place is not followed either.
    const int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return FileHandle(fd >= 0 ? fd : kInvalid);
}

bool FileHandle::Size(std::uint64_t* size) const {
    struct stat info;
    if (fstat(Native(m_native), &info) != 0) return false;
    *size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool FileHandle::Read(void* buffer, std::uint32_t bytes, std::uint32_t* done) {
    ssize_t moved;
    do {
        moved = read(Native(m_native), buffer, bytes);
    } while (moved < 0 && errno == EINTR);
    *done = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
    return moved >= 0;
}

bool FileHandle::Write(const void* buffer, std::uint32_t bytes, std::uint32_t* done) {
    ssize_t moved;
    do {
        moved = write(Native(m_native), buffer, bytes);
    } while (moved < 0 && errno == EINTR);
    *done = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
    return moved >= 0;
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    close(Native(m_native));
    m_native = kInvalid;
}

bool MoveFileOver(const wchar_t* from, const wchar_t* to) {
    return rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
}

bool RemoveFile(const wchar_t* path) { return unlink(WideToUtf8(path).c_str()) == 0; }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t), "a thread's id fits its holder");

struct ThreadEntry {
    static void* Run(void* self) {
        auto* thread = static_cast<JoinableThread*>(self);
        thread->m_run(thread->m_context);
        return nullptr;
    }
};

bool JoinableThread::Start(void (*run)(void* context), void* context) {
    m_run = run;
    m_context = context;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &ThreadEntry::Run, this) != 0) return false;
    m_native = static_cast<std::uintptr_t>(thread);
    m_running = true;
    return true;
}

void JoinableThread::Join() {
    if (!m_running) return;
    pthread_join(static_cast<pthread_t>(m_native), nullptr);
    m_running = false;
}
