#pragma once

// The status line that the status-text thread writes every half second: a prefix naming the
// connection type, the text of the download stage, and one to three dots. Portable, so that
// every combination can be checked without Windows.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// The dot count of the first line; each later line has one more, back to one after three.
constexpr int kFirstDotCount = 1;
int NextDotCount(int nDots);

// The line for connection type dwType and download status dwStatus, in the current language.
// Types without a prefix and statuses without a stage text contribute nothing.
std::wstring ComposeStatusLine(std::uint32_t dwType, std::uint32_t dwStatus, int nDots);

// Lets the worker hold the status line while it shows its own notices. Rather than freezing the
// status-text thread wherever it happens to be (it might hold the heap or loader lock), the
// thread finishes the write it is doing and then waits at its next one until the line is let go.
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
