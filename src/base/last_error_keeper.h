#pragma once

// Keeps the thread's last error across a call that may change it: callers read GetLastError after
// steps that trace or log, so tracing and logging must not disturb it.
#include <windows.h>

class LastErrorKeeper {
  public:
    LastErrorKeeper() : m_dwSaved(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_dwSaved); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    DWORD m_dwSaved;
};
