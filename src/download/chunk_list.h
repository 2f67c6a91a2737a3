#pragma once

// The response body as it arrives: an ordered list of chunks, each exactly as large as the
// availability query reported, held in memory until the last one has come.
#include <cstdint>
#include <memory>

struct Chunk {
    Chunk* next;
    std::uint32_t capacity;  // bytes allocated after the header
    std::uint32_t count;     // bytes kept, at most capacity
    unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

struct ChunkFree {
    void operator()(Chunk* chunk) const;
};
using ChunkPtr = std::unique_ptr<Chunk, ChunkFree>;

// A chunk of exactly nBytes (at least 1), or null when memory is short.
ChunkPtr NewChunk(std::uint32_t nBytes);

class ChunkList {
  public:
    ChunkList() = default;
    ~ChunkList();
    ChunkList(const ChunkList&) = delete;
    ChunkList& operator=(const ChunkList&) = delete;

    // Takes the chunk, keeping its first nCount bytes (nCount is cut to the capacity). Never fails.
    void Append(ChunkPtr chunk, std::uint32_t nCount);
    // The oldest chunk, handed back to the caller; null when the list is empty.
    ChunkPtr TakeFront();

  private:
    Chunk* head_ = nullptr;
    Chunk* tail_ = nullptr;
};
