#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "system/file_io.h"

// A file written on a thread of its own while its bytes are still being produced, under a
// temporary name beside its final one, and moved onto the final name only when the producer
// commits: until then an existing file of that name stays as it was, and an abandoned file
// leaves nothing behind. The bytes are written from the producer's buffer itself.
class StagedOutput {
  public:
    // Creates the temporary file beside finalPath for the `size` bytes at `data`. When it cannot
    // be created, Commit fails; the rest can still be called.
    StagedOutput(const wchar_t* finalPath, const unsigned char* data, std::uint32_t size);
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    // An output neither committed nor abandoned is abandoned.
    ~StagedOutput() { Abandon(); }

    // The first `ready` bytes are final and may be written; the producer leaves them alone from
    // now on. `ready` only grows.
    void Publish(std::uint32_t ready);
    // Once every byte is published: waits for the writes and moves the file onto its final name.
    // False, with the temporary file gone and the final name untouched, when a write or the move
    // failed.
    bool Commit();
    // Stops the writing and removes the temporary file; the final name is untouched.
    void Abandon();

  private:
    static void WriterThread(void* self);
    // Writes what is published until all is written, a write fails or the output is abandoned.
    void WritePublished();

    std::wstring m_finalPath;
    std::wstring m_tempPath;
    FileHandle m_file;
    const unsigned char* const m_data;
    const std::uint32_t m_size;

    std::mutex m_mutex;
    std::condition_variable m_published;
    std::uint32_t m_ready = 0;
    std::uint32_t m_written = 0;  // where the writer stood when it last looked
    bool m_abandoned = false;

    // The writer's own until it has been joined.
    bool m_allWritten = false;
    JoinableThread m_writer;
    bool m_onThread = false;
    bool m_finished = false;
};
