#include "download/chunk_list.h"

#include <cstdlib>
#include <limits>

void ChunkFree::operator()(Chunk* chunk) const { std::free(chunk); }

ChunkPtr NewChunk(std::uint32_t nBytes) {
    if (nBytes == 0 ||
        std::uint64_t{nBytes} + sizeof(Chunk) > std::numeric_limits<std::size_t>::max()) {
        return ChunkPtr();
    }
    // Header and bytes in one block, so a chunk is one allocation and joining the list cannot fail.
    auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + nBytes));
    if (chunk == nullptr) return ChunkPtr();
    chunk->next = nullptr;
    chunk->capacity = nBytes;
    chunk->count = 0;
    return ChunkPtr(chunk);
}

ChunkList::~ChunkList() {
    while (TakeFront()) {
    }
}

void ChunkList::Append(ChunkPtr chunk, std::uint32_t nCount) {
    Chunk* raw = chunk.release();
    raw->count = nCount < raw->capacity ? nCount : raw->capacity;
    raw->next = nullptr;
    if (tail_ != nullptr) {
        tail_->next = raw;
    } else {
        head_ = raw;
    }
    tail_ = raw;
}

ChunkPtr ChunkList::TakeFront() {
    Chunk* front = head_;
    if (front == nullptr) return ChunkPtr();
    head_ = front->next;
    if (head_ == nullptr) tail_ = nullptr;
    front->next = nullptr;
    return ChunkPtr(front);
}
