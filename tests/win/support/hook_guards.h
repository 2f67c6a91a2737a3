#pragma once

// The test hooks of the download paths, set for the life of an object, so that a test that
// returns early at a failed assertion still puts them back.
#include "base/test_hooks.h"

namespace testsupport {

// The libcurl phase goes through function instead of libcurl.
class HttpsDownloadScript {
  public:
    explicit HttpsDownloadScript(HttpsDownloadFunction function) {
        SetHttpsDownloadFunction(function);
    }
    ~HttpsDownloadScript() { SetHttpsDownloadFunction(nullptr); }
    HttpsDownloadScript(const HttpsDownloadScript&) = delete;
    HttpsDownloadScript& operator=(const HttpsDownloadScript&) = delete;
};

// libcurl gives up on a transfer slower than bytesPerSecond for seconds.
class CurlCrawlFloor {
  public:
    CurlCrawlFloor(long bytesPerSecond, long seconds) {
        SetCurlCrawlFloor(bytesPerSecond, seconds);
    }
    ~CurlCrawlFloor() { SetCurlCrawlFloor(0, 0); }
    CurlCrawlFloor(const CurlCrawlFloor&) = delete;
    CurlCrawlFloor& operator=(const CurlCrawlFloor&) = delete;
};

// The signer of a sound signature reads as missing.
class SignerUnreadable {
  public:
    SignerUnreadable() { SetSignerUnreadable(true); }
    ~SignerUnreadable() { SetSignerUnreadable(false); }
    SignerUnreadable(const SignerUnreadable&) = delete;
    SignerUnreadable& operator=(const SignerUnreadable&) = delete;
};

}  // namespace testsupport
