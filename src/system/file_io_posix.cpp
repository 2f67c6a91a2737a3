#include "system/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/wide_text.h"

namespace {

int Native(intptr_t value) { return static_cast<int>(value); }

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

bool FileHandle::Size(uint64_t* size) const {
    struct stat info;
    if (fstat(Native(native_), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool FileHandle::Read(void* buffer, uint32_t bytes, uint32_t* done) {
    ssize_t moved;
    do {
        moved = read(Native(native_), buffer, bytes);
    } while (moved < 0 && errno == EINTR);
    *done = moved > 0 ? static_cast<uint32_t>(moved) : 0;
    return moved >= 0;
}

bool FileHandle::Write(const void* buffer, uint32_t bytes, uint32_t* done) {
    ssize_t moved;
    do {
        moved = write(Native(native_), buffer, bytes);
    } while (moved < 0 && errno == EINTR);
    *done = moved > 0 ? static_cast<uint32_t>(moved) : 0;
    return moved >= 0;
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    close(Native(native_));
    native_ = kInvalid;
}

// Filling 200 MiB of fresh memory in 4 KiB pages costs some fifty thousand page faults, a sizeable
// part of a decode; huge pages cut that to about a hundred. Only whole 2 MiB stretches qualify.
void HintLargeBuffer(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}
