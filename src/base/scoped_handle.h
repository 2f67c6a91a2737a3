#pragma once

// Owns a kernel handle (file, token, mutex, thread) and closes it on every path out of its
// scope. Both null and INVALID_HANDLE_VALUE mean "no handle", since the APIs differ on which one
// they return for a failure.
#include <windows.h>

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle = nullptr) : m_handle(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : m_handle(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~ScopedHandle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // For APIs that hand a handle back through a pointer.
    HANDLE* receive() {
        reset();
        return &m_handle;
    }
    HANDLE release() {
        const HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(m_handle);
        m_handle = handle;
    }

  private:
    HANDLE m_handle;
};
