#include "system/md5.h"

#include <windows.h>

#include <wincrypt.h>

struct Md5::State {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
};

Md5::Md5() : m_state(new State{0, 0}) {
    if (!CryptAcquireContextW(&m_state->provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(m_state->provider, CALG_MD5, 0, 0, &m_state->hash)) {
        if (m_state->provider) CryptReleaseContext(m_state->provider, 0);
        delete m_state;
        m_state = nullptr;
    }
}

Md5::~Md5() {
    if (!m_state) return;
    CryptDestroyHash(m_state->hash);
    CryptReleaseContext(m_state->provider, 0);
    delete m_state;
}

bool Md5::Update(const unsigned char* data, size_t size) {
    if (!m_state) return false;
    // CryptHashData takes a 32-bit length.
    constexpr size_t kMaxStep = 0x40000000;
    while (size > 0) {
        const DWORD step = static_cast<DWORD>(size < kMaxStep ? size : kMaxStep);
        if (!CryptHashData(m_state->hash, data, step, 0)) return false;
        data += step;
        size -= step;
    }
    return true;
}

bool Md5::Final(unsigned char digest[kMd5Bytes]) {
    DWORD length = kMd5Bytes;
    return m_state && CryptGetHashParam(m_state->hash, HP_HASHVAL, digest, &length, 0) &&
           length == kMd5Bytes;
}
