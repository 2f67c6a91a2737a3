#pragma once

#include <windows.h>

// Owns an open registry key and closes it on every path out of the scope that opened it.
class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ~ScopedRegKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    HKEY* receive() { return &m_key; }
    HKEY get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};
