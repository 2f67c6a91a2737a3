#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// The few file operations that packages need, with one owner per open file, and the thread that
// writes a decoded installer. On Windows they are CreateFileW, GetFileSize, ReadFile, WriteFile,
// CloseHandle, MoveFileExW and DeleteFileW; the host build has a POSIX back end so that the
// publisher's tool and the benchmarks run the same decoder.
class FileHandle {
  public:
    // No file.
    FileHandle() : m_native(kInvalid) {}
    // An existing file, shared for reading only.
    static FileHandle OpenForRead(const wchar_t* path);
    // A new or emptied file (an existing one is replaced), shared for reading only.
    static FileHandle CreateForWrite(const wchar_t* path);
    // A file that did not exist, shared for reading only. A name already taken, also by a link,
    // is a failure: the file can never be one that someone else put there.
    static FileHandle CreateNew(const wchar_t* path);

    FileHandle(FileHandle&& other) noexcept : m_native(other.m_native) {
        other.m_native = kInvalid;
    }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }

    bool IsOpen() const { return m_native != kInvalid; }
    bool Size(std::uint64_t* size) const;
    // Both report the bytes actually moved in *done; a short count is not a failure here.
    bool Read(void* buffer, std::uint32_t bytes, std::uint32_t* done);
    bool Write(const void* buffer, std::uint32_t bytes, std::uint32_t* done);
    void Close();

  private:
    static constexpr std::intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE, or no descriptor
    explicit FileHandle(std::intptr_t native) : m_native(native) {}
    std::intptr_t m_native;
};

inline FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_native = other.m_native;
        other.m_native = kInvalid;
    }
    return *this;
}

// Moves the closed file `from` onto the name `to`, replacing a file there, in one step when both
// are in the same folder: `to` is either what it was or the whole of `from`.
bool MoveFileOver(const wchar_t* from, const wchar_t* to);
bool RemoveFile(const wchar_t* path);
std::uint32_t CurrentProcessId();

// A thread that runs one call and that its owner waits for. It is the system's own thread, so
// that a thread the system cannot give is an answer from Start rather than an exception.
class JoinableThread {
  public:
    JoinableThread() = default;
    JoinableThread(const JoinableThread&) = delete;
    JoinableThread& operator=(const JoinableThread&) = delete;
    ~JoinableThread() { Join(); }

    // Starts the one call; false, with nothing started, when the system has no thread to give.
    bool Start(void (*run)(void* context), void* context);
    // Waits for the call to end; nothing when no thread runs.
    void Join();

  private:
    // The platform's entry point, which makes the call.
    friend struct ThreadEntry;

    void (*m_run)(void*) = nullptr;
    void* m_context = nullptr;
    std::uintptr_t m_native = 0;
    bool m_running = false;
};

// Files move in pieces of this size; unmasking and hashing follow the same pieces, so that each
// piece is still in the cache when it is worked on.
constexpr std::uint32_t kPackagePieceBytes = 40960;

// Calls piece(offset, bytes) for each piece of at most 40,960 bytes of a `size`-byte range, in
// order, until piece gives false; true when every piece was taken. The count left is what the loop
// runs on, so a size close to 2^32 cannot wrap the offset round.
template <typename Piece>
bool ForEachPiece(std::uint32_t size, Piece piece) {
    for (std::uint32_t offset = 0; offset < size;) {
        const std::uint32_t left = size - offset;
        const std::uint32_t bytes = left < kPackagePieceBytes ? left : kPackagePieceBytes;
        if (!piece(offset, bytes)) return false;
        offset += bytes;
    }
    return true;
}

// Reads exactly `size` bytes in pieces of at most 40,960 bytes, in order, telling `afterPiece`
// how many bytes are in the buffer after each piece. A failed or short read ends with false.
inline bool ReadInPieces(FileHandle& file, unsigned char* buffer, std::uint32_t size,
                         const std::function<void(std::uint32_t)>& afterPiece = nullptr) {
    return ForEachPiece(size, [&](std::uint32_t offset, std::uint32_t asked) {
        std::uint32_t done = 0;
        if (!file.Read(buffer + offset, asked, &done) || done != asked) return false;
        if (afterPiece) afterPiece(offset + asked);
        return true;
    });
}

// Writes exactly `size` bytes in pieces of at most 40,960 bytes, in order. A failed or short
// write ends with false.
inline bool WriteInPieces(FileHandle& file, const unsigned char* data, std::uint32_t size) {
    return ForEachPiece(size, [&](std::uint32_t offset, std::uint32_t asked) {
        std::uint32_t done = 0;
        return file.Write(data + offset, asked, &done) && done == asked;
    });
}
