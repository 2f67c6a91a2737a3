#include "system/staged_output.h"

#include <atomic>

namespace {

// The writer is woken for this much at a time, not for every piece the producer finishes.
constexpr std::uint32_t kWakeBytes = 24 * kPackagePieceBytes;

// Other runs, and other outputs of this one, may stage beside the same name; a name that is
// still taken, say by what a killed run left, is passed over for the next.
constexpr int kNameTries = 8;
std::atomic<std::uint32_t> g_stagedCount{0};

FileHandle CreateBeside(const std::wstring& finalPath, std::wstring* tempPath) {
    const std::wstring prefix = finalPath + L"." + std::to_wstring(CurrentProcessId()) + L".";
    for (int tries = 1;; ++tries) {
        *tempPath = prefix + std::to_wstring(++g_stagedCount) + L".part";
        FileHandle file = FileHandle::CreateNew(tempPath->c_str());
        if (file.IsOpen() || tries == kNameTries) return file;
    }
}

}  // namespace

StagedOutput::StagedOutput(const wchar_t* finalPath, const unsigned char* data, std::uint32_t size)
    : m_finalPath(finalPath),
      m_file(CreateBeside(m_finalPath, &m_tempPath)),
      m_data(data),
      m_size(size) {
    // Without a thread of its own the output is written by Commit, once everything is known.
    m_onThread = m_file.IsOpen() && m_writer.Start(&StagedOutput::WriterThread, this);
}

void StagedOutput::Publish(std::uint32_t ready) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready = ready;
        wake = ready == m_size || ready - m_written >= kWakeBytes;
    }
    if (wake) m_published.notify_one();
}

bool StagedOutput::Commit() {
    bool complete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        complete = m_ready == m_size;
    }
    if (!m_file.IsOpen() || !complete) {
        Abandon();
        return false;
    }
    if (m_onThread) {
        m_writer.Join();
    } else {
        WritePublished();
    }
    m_finished = true;
    m_file.Close();
    if (m_allWritten && MoveFileOver(m_tempPath.c_str(), m_finalPath.c_str())) return true;
    RemoveFile(m_tempPath.c_str());
    return false;
}

void StagedOutput::Abandon() {
    if (m_finished) return;
    m_finished = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
    }
    m_published.notify_one();
    m_writer.Join();
    if (!m_file.IsOpen()) return;
    m_file.Close();
    RemoveFile(m_tempPath.c_str());
}

void StagedOutput::WriterThread(void* self) { static_cast<StagedOutput*>(self)->WritePublished(); }

void StagedOutput::WritePublished() {
    std::uint32_t written = 0;
    while (written < m_size) {
        std::uint32_t ready;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_written = written;
            m_published.wait(lock, [&] {
                return m_abandoned || m_ready == m_size || m_ready - written >= kWakeBytes;
            });
            if (m_abandoned) return;
            ready = m_ready;
        }
        if (!WriteInPieces(m_file, m_data + written, ready - written)) return;
        written = ready;
    }
    m_allWritten = true;
}
