#pragma once

#include <cstdint>
#include <functional>

#include "system/file_io.h"

// Reads exactly `size` bytes in pieces of at most 40,960 bytes, in order, telling `after_piece`
// how many bytes are in the buffer after each piece. A failed or short read ends with false.
bool ReadInPieces(FileHandle& file, unsigned char* buffer, uint32_t size,
                  const std::function<void(uint32_t)>& after_piece = nullptr);

// Writes exactly `size` bytes in pieces of at most 40,960 bytes, in order. A failed or short
// write ends with false.
bool WriteInPieces(FileHandle& file, const unsigned char* data, uint32_t size);
