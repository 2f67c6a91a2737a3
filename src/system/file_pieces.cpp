#include "system/file_pieces.h"

bool ReadInPieces(FileHandle& file, unsigned char* buffer, uint32_t size,
                  const std::function<void(uint32_t)>& after_piece) {
    return ForEachPiece(size, [&](uint32_t offset, uint32_t asked) {
        uint32_t done = 0;
        if (!file.Read(buffer + offset, asked, &done) || done != asked) return false;
        if (after_piece) after_piece(offset + asked);
        return true;
    });
}

bool WriteInPieces(FileHandle& file, const unsigned char* data, uint32_t size) {
    return ForEachPiece(size, [&](uint32_t offset, uint32_t asked) {
        uint32_t done = 0;
        return file.Write(data + offset, asked, &done) && done == asked;
    });
}
