#include "system/package_digest.h"

#include "system/file_pieces.h"
#include "system/package_format.h"
#include "system/package_masking.h"

void PayloadUnmasker::Advance(uint32_t available) {
    const uint32_t end = available >= length_ ? length_ : available & ~15u;
    if (end <= done_) return;
    // done_ is a multiple of 16 here, where the masking pattern starts afresh.
    UnmaskPayload(end - done_, key_, payload_ + done_);
    ok_ = ok_ && md5_.Update(payload_ + done_, end - done_);
    done_ = end;
}

bool PayloadUnmasker::Finish(unsigned char digest[kMd5Bytes]) {
    return ok_ && done_ == length_ && md5_.Final(digest);
}

bool UnmaskAndDigest(uint32_t length, uint32_t key, unsigned char* payload,
                     unsigned char digest[kMd5Bytes]) {
    PayloadUnmasker unmasker(length, key, payload);
    ForEachPiece(length, [&unmasker](uint32_t offset, uint32_t bytes) {
        unmasker.Advance(offset + bytes);
        return true;
    });
    return unmasker.Finish(digest);
}
