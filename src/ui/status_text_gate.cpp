#include "ui/status_text_gate.h"

void StatusTextGate::BeginWrite() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_bHeld; });
    m_bWriting = true;
}

void StatusTextGate::EndWrite() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bWriting = false;
    }
    m_changed.notify_all();
}

void StatusTextGate::Hold() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bHeld = true;
    m_changed.wait(lock, [this] { return !m_bWriting; });
}

void StatusTextGate::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHeld = false;
    }
    m_changed.notify_all();
}

StatusTextGate& TheStatusTextGate() {
    // Never destroyed: the status-text thread may still use it while the process exits.
    static StatusTextGate* const pGate = new StatusTextGate;
    return *pGate;
}
