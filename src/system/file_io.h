#pragma once

#include <cstddef>
#include <cstdint>

// The few file operations that packages need, with one owner per open file. On Windows they are
// CreateFileW, GetFileSize, ReadFile, WriteFile and CloseHandle; the host build has a POSIX
// back end so that the publisher's tool and the benchmarks run the same decoder.
class FileHandle {
  public:
    // An existing file, shared for reading only.
    static FileHandle OpenForRead(const wchar_t* path);
    // A new or emptied file (an existing one is replaced), shared for reading only.
    static FileHandle CreateForWrite(const wchar_t* path);

    FileHandle(FileHandle&& other) noexcept : native_(other.native_) { other.native_ = kInvalid; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }

    bool IsOpen() const { return native_ != kInvalid; }
    bool Size(uint64_t* size) const;
    // Both report the bytes actually moved in *done; a short count is not a failure here.
    bool Read(void* buffer, uint32_t bytes, uint32_t* done);
    bool Write(const void* buffer, uint32_t bytes, uint32_t* done);
    void Close();

  private:
    static constexpr intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE, or no descriptor
    explicit FileHandle(intptr_t native) : native_(native) {}
    intptr_t native_;
};

inline FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.native_;
        other.native_ = kInvalid;
    }
    return *this;
}

// Tells the system that a freshly allocated buffer of many megabytes is about to be filled whole,
// from a file. Only a hint: the buffer's bytes are neither read nor written, and nothing fails.
void HintLargeBuffer(void* data, size_t bytes);
