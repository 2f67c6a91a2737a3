#pragma once

// Lets the worker hold the status line while it shows its own notices. Rather than freezing the
// status-text thread wherever it happens to be (it might hold the heap or loader lock), the
// thread finishes the write it is doing and then waits at its next one until the line is let go.
// Portable: a mutex and a condition variable.
#include <condition_variable>
#include <mutex>

class StatusTextGate {
  public:
    // Status-text thread: waits while the line is held, then marks a write as under way.
    void BeginWrite();
    void EndWrite();

    // Worker: returns once no write is under way; later writes wait until Release.
    void Hold();
    void Release();

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bHeld = false;
    bool m_bWriting = false;
};

// The gate of the process's status line. It lives as long as the process, since the status-text
// thread does (it is never destroyed).
StatusTextGate& TheStatusTextGate();
