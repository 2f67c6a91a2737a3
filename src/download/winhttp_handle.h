#pragma once

// Owns one WinHTTP handle (session, connection or request) and closes it through the operations
// table that opened it, on every path out of the scope that holds it.
#include "download/winhttp_api.h"

class WinHttpHandle {
  public:
    WinHttpHandle() = default;
    WinHttpHandle(WinHttpApi& api, HINTERNET handle) : api_(&api), handle_(handle) {}
    WinHttpHandle(WinHttpHandle&& other) noexcept : api_(other.api_), handle_(other.handle_) {
        other.handle_ = nullptr;
    }
    WinHttpHandle& operator=(WinHttpHandle&& other) noexcept {
        if (this != &other) {
            reset();
            api_ = other.api_;
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;
    ~WinHttpHandle() { reset(); }

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_ != nullptr) api_->WinHttpCloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    WinHttpApi* api_ = nullptr;
    HINTERNET handle_ = nullptr;
};
