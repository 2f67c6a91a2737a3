#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "system/file_io.h"

// A file written on a thread of its own while its bytes are still being produced, under a
// temporary name beside its final one, and moved onto the final name only when the producer
// commits: until then an existing file of that name stays as it was, and an abandoned file
// leaves nothing behind. The producer fills pieces of a ring of a fixed size, whatever the file's
// size, and waits only when the writer is a whole ring behind.
class StagedOutput {
  public:
    // Pieces of the ring; a piece holds kPackagePieceBytes.
    static constexpr std::uint32_t kRingPieces = 96;

    // Takes the ring's memory; HasMemory tells whether it was given.
    StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    // An output neither committed nor abandoned is abandoned.
    ~StagedOutput() { Abandon(); }

    bool HasMemory() const { return m_ring != nullptr; }
    // Creates the temporary file beside finalPath for `size` bytes and starts its writer. When the
    // file cannot be created, Commit fails; the pieces can still be produced (and are dropped).
    void Begin(const wchar_t* finalPath, std::uint32_t size);
    // The piece to fill next (kPackagePieceBytes), once the writer has freed it.
    unsigned char* NextPiece();
    // The piece from NextPiece holds its final bytes: a whole piece, or the rest of the file for
    // its last piece.
    void Publish();
    // Once every byte is published: waits for the writes and moves the file onto its final name.
    // False, with the temporary file gone and the final name untouched, when a write or the move
    // failed.
    bool Commit();
    // Stops the writing and removes the temporary file; the final name is untouched.
    void Abandon();

  private:
    static void WriterThread(void* self);
    // Writes published pieces until all are written, a write fails or the output is abandoned.
    void WritePublished();
    // Writes one piece of the ring to the file; false when it failed or fell short.
    bool WritePiece(std::uint64_t index);
    std::uint32_t PieceBytes(std::uint64_t index) const;

    std::unique_ptr<unsigned char[]> m_ring;
    std::wstring m_finalPath;
    std::wstring m_tempPath;
    FileHandle m_file;
    std::uint32_t m_size = 0;
    std::uint64_t m_pieces = 0;  // pieces of the whole file

    std::mutex m_mutex;
    std::condition_variable m_published;  // wakes the writer
    std::condition_variable m_freed;      // wakes the producer
    std::uint64_t m_ready = 0;            // pieces published
    std::uint64_t m_written = 0;          // pieces written (or dropped after a failed write)
    bool m_writerStopped = false;         // no more pieces are written: they are free at once
    bool m_abandoned = false;

    // The writer's own until it has been joined.
    bool m_allWritten = false;
    JoinableThread m_writer;
    bool m_begun = false;
    bool m_onThread = false;
    bool m_finished = false;
};
