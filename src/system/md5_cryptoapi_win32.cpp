#include "system/md5.h"

#include <windows.h>

#include <wincrypt.h>

#include <new>

struct Md5::State {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
};

Md5::Md5() : state_(new (std::nothrow) State{0, 0}) {
    if (!state_) return;
    if (!CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(state_->provider, CALG_MD5, 0, 0, &state_->hash)) {
        if (state_->provider) CryptReleaseContext(state_->provider, 0);
        delete state_;
        state_ = nullptr;
    }
}

Md5::~Md5() {
    if (!state_) return;
    CryptDestroyHash(state_->hash);
    CryptReleaseContext(state_->provider, 0);
    delete state_;
}

bool Md5::Update(const unsigned char* data, size_t size) {
    if (!state_) return false;
    // CryptHashData takes a 32-bit length.
    constexpr size_t kMaxStep = 0x40000000;
    while (size > 0) {
        const DWORD step = static_cast<DWORD>(size < kMaxStep ? size : kMaxStep);
        if (!CryptHashData(state_->hash, data, step, 0)) return false;
        data += step;
        size -= step;
    }
    return true;
}

bool Md5::Final(unsigned char digest[kMd5Bytes]) {
    DWORD length = kMd5Bytes;
    return state_ && CryptGetHashParam(state_->hash, HP_HASHVAL, digest, &length, 0) &&
           length == kMd5Bytes;
}
