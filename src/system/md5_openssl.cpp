#include "system/md5.h"

#include <openssl/evp.h>

struct Md5::State {
    EVP_MD_CTX* context;
};

Md5::Md5() : m_state(new State{EVP_MD_CTX_new()}) {
    if (!(m_state->context && EVP_DigestInit_ex(m_state->context, EVP_md5(), nullptr))) {
        EVP_MD_CTX_free(m_state->context);
        delete m_state;
        m_state = nullptr;
    }
}

Md5::~Md5() {
    if (!m_state) return;
    EVP_MD_CTX_free(m_state->context);
    delete m_state;
}

bool Md5::Update(const unsigned char* data, size_t size) {
    return m_state && EVP_DigestUpdate(m_state->context, data, size) == 1;
}

bool Md5::Final(unsigned char digest[kMd5Bytes]) {
    unsigned int length = 0;
    return m_state && EVP_DigestFinal_ex(m_state->context, digest, &length) == 1 &&
           length == kMd5Bytes;
}
