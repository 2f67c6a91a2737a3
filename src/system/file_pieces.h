#pragma once

#include <cstdint>
#include <functional>

#include "system/file_io.h"
#include "system/package_format.h"

// Calls piece(offset, bytes) for each piece of at most 40,960 bytes of a `size`-byte range, in
// order, until piece gives false; true when every piece was taken. The count left is what the loop
// runs on, so a size close to 2^32 cannot wrap the offset round.
template <typename Piece>
bool ForEachPiece(uint32_t size, Piece piece) {
    for (uint32_t offset = 0; offset < size;) {
        const uint32_t left = size - offset;
        const uint32_t bytes = left < kPackagePieceBytes ? left : kPackagePieceBytes;
        if (!piece(offset, bytes)) return false;
        offset += bytes;
    }
    return true;
}

// Reads exactly `size` bytes in pieces of at most 40,960 bytes, in order, telling `after_piece`
// how many bytes are in the buffer after each piece. A failed or short read ends with false.
bool ReadInPieces(FileHandle& file, unsigned char* buffer, uint32_t size,
                  const std::function<void(uint32_t)>& after_piece = nullptr);

// Writes exactly `size` bytes in pieces of at most 40,960 bytes, in order. A failed or short
// write ends with false.
bool WriteInPieces(FileHandle& file, const unsigned char* data, uint32_t size);
