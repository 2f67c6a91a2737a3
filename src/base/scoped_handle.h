#pragma once

// Owns a kernel handle (file, token, mutex, thread) and closes it on every path out of its
// scope. Both null and INVALID_HANDLE_VALUE mean "no handle", since the APIs differ on which one
// they return for a failure.
#include <windows.h>

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // For APIs that hand a handle back through a pointer.
    HANDLE* receive() {
        reset();
        return &handle_;
    }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};
