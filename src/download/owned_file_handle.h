#pragma once

// Owns a file handle from CreateFileW and closes it on every path out of its scope.
#include <windows.h>

class OwnedFileHandle {
  public:
    explicit OwnedFileHandle(HANDLE handle) : handle_(handle) {}
    OwnedFileHandle(const OwnedFileHandle&) = delete;
    OwnedFileHandle& operator=(const OwnedFileHandle&) = delete;
    ~OwnedFileHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void reset() {
        if (valid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_;
};
