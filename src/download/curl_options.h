#pragma once

// The options of a libcurl transfer, each one checked: the protocol, redirect, size and speed
// limits are what keep the elevated download safe, and a libcurl that refused one would run the
// transfer without it. Like curl's own tool, the transfer is then not made at all.
// curl.h brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>

class CurlOptions {
  public:
    explicit CurlOptions(CURL* pCurl) : m_pCurl(pCurl) {}

    template <typename Value>
    CurlOptions& Set(CURLoption option, Value value) {
        const CURLcode code = curl_easy_setopt(m_pCurl, option, value);
        if (code != CURLE_OK && m_refusedCode == CURLE_OK) {
            m_refusedCode = code;
            m_refusedOption = option;
        }
        return *this;
    }

    // True when libcurl took every option set so far; otherwise traces the first it refused.
    bool AllTaken() const;

  private:
    CURL* m_pCurl;
    CURLcode m_refusedCode = CURLE_OK;
    CURLoption m_refusedOption = CURLOPT_URL;
};
