#pragma once

#include <cstddef>

constexpr size_t kMd5Bytes = 16;

// An MD5 digest (RFC 1321) from the platform's own implementation: CryptoAPI on Windows, OpenSSL
// on the host. Every call answers false once the platform has failed; the digest is then unknown.
class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    bool Update(const unsigned char* data, size_t size);
    // Ends the digest; no Update may follow.
    bool Final(unsigned char digest[kMd5Bytes]);

  private:
    struct State;
    State* m_state;
};
