#include "system/file_pieces.h"

#include "system/package_format.h"

namespace {

uint32_t NextPiece(uint32_t size, uint32_t offset) {
    return size - offset < kPackagePieceBytes ? size - offset : kPackagePieceBytes;
}

}  // namespace

bool ReadInPieces(FileHandle& file, unsigned char* buffer, uint32_t size,
                  const std::function<void(uint32_t)>& after_piece) {
    for (uint32_t offset = 0; offset < size;) {
        const uint32_t asked = NextPiece(size, offset);
        uint32_t done = 0;
        if (!file.Read(buffer + offset, asked, &done) || done != asked) return false;
        offset += asked;
        if (after_piece) after_piece(offset);
    }
    return true;
}

bool WriteInPieces(FileHandle& file, const unsigned char* data, uint32_t size) {
    for (uint32_t offset = 0; offset < size;) {
        const uint32_t asked = NextPiece(size, offset);
        uint32_t done = 0;
        if (!file.Write(data + offset, asked, &done) || done != asked) return false;
        offset += asked;
    }
    return true;
}
