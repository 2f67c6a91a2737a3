#pragma once

#include <windows.h>

// Owns an open registry key and closes it on every path out of the scope that opened it.
class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ~ScopedRegKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    HKEY* receive() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};
