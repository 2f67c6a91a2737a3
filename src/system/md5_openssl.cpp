#include "system/md5.h"

#include <openssl/evp.h>

#include <new>

struct Md5::State {
    EVP_MD_CTX* context;
};

Md5::Md5() : state_(new (std::nothrow) State{EVP_MD_CTX_new()}) {
    if (state_ && !(state_->context && EVP_DigestInit_ex(state_->context, EVP_md5(), nullptr))) {
        EVP_MD_CTX_free(state_->context);
        delete state_;
        state_ = nullptr;
    }
}

Md5::~Md5() {
    if (!state_) return;
    EVP_MD_CTX_free(state_->context);
    delete state_;
}

bool Md5::Update(const unsigned char* data, size_t size) {
    return state_ && EVP_DigestUpdate(state_->context, data, size) == 1;
}

bool Md5::Final(unsigned char digest[kMd5Bytes]) {
    unsigned int length = 0;
    return state_ && EVP_DigestFinal_ex(state_->context, digest, &length) == 1 &&
           length == kMd5Bytes;
}
