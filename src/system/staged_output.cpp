#include "system/staged_output.h"

#include <atomic>
#include <new>

namespace {

// The writer is woken for this many pieces at a time, not for every piece the producer
// finishes, and frees them for the producer in the same steps.
constexpr std::uint64_t kWakePieces = 24;
static_assert(kWakePieces < StagedOutput::kRingPieces, "a full ring must wake the writer");

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

StagedOutput::StagedOutput()
    : m_ring(new (std::nothrow) unsigned char[std::size_t{kRingPieces} * kPackagePieceBytes]) {}

void StagedOutput::Begin(const wchar_t* finalPath, std::uint32_t size) {
    m_finalPath = finalPath;
    m_size = size;
    m_pieces = (std::uint64_t{size} + kPackagePieceBytes - 1) / kPackagePieceBytes;
    m_file = CreateBeside(m_finalPath, &m_tempPath);
    m_begun = true;
    // Without a file the pieces are dropped as they come; without a thread of its own the output
    // is written by the producer, piece by piece.
    m_writerStopped = !m_file.IsOpen();
    m_onThread = m_file.IsOpen() && m_writer.Start(&StagedOutput::WriterThread, this);
}

unsigned char* StagedOutput::NextPiece() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_freed.wait(lock, [this] {
        return m_writerStopped || !m_onThread || m_ready - m_written < kRingPieces;
    });
    return m_ring.get() + (m_ready % kRingPieces) * kPackagePieceBytes;
}

void StagedOutput::Publish() {
    if (!m_onThread) {
        const std::uint64_t index = m_ready++;
        if (!m_writerStopped && !WritePiece(index)) m_writerStopped = true;
        m_written = m_ready;
        return;
    }
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_ready;
        wake = m_ready == m_pieces || m_ready - m_written >= kWakePieces;
    }
    if (wake) m_published.notify_one();
}

bool StagedOutput::Commit() {
    if (!m_begun || !m_file.IsOpen() || m_ready != m_pieces) {
        Abandon();
        return false;
    }
    if (m_onThread) {
        m_writer.Join();
    } else {
        m_allWritten = !m_writerStopped;
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

std::uint32_t StagedOutput::PieceBytes(std::uint64_t index) const {
    const std::uint64_t offset = index * kPackagePieceBytes;
    const std::uint64_t left = m_size - offset;
    return static_cast<std::uint32_t>(left < kPackagePieceBytes ? left : kPackagePieceBytes);
}

bool StagedOutput::WritePiece(std::uint64_t index) {
    const unsigned char* piece = m_ring.get() + (index % kRingPieces) * kPackagePieceBytes;
    const std::uint32_t bytes = PieceBytes(index);
    std::uint32_t done = 0;
    return m_file.Write(piece, bytes, &done) && done == bytes;
}

void StagedOutput::WriterThread(void* self) { static_cast<StagedOutput*>(self)->WritePublished(); }

void StagedOutput::WritePublished() {
    std::uint64_t written = 0;
    while (written < m_pieces) {
        std::uint64_t ready;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_published.wait(lock, [&] {
                return m_abandoned || (m_ready > written &&
                                       (m_ready == m_pieces || m_ready - written >= kWakePieces));
            });
            if (m_abandoned) return;
            ready = m_ready;
        }
        for (; written < ready; ++written) {
            const bool ok = WritePiece(written);
            if (ok && (written + 1) % kWakePieces != 0) continue;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_written = written + 1;
                // After a failed write the producer goes on for the digest alone.
                if (!ok) m_writerStopped = true;
            }
            m_freed.notify_one();
            if (!ok) return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_written = written;
        }
        m_freed.notify_one();
    }
    m_allWritten = true;
}
