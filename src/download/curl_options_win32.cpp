#include "download/curl_options.h"

#include "base/debug_trace.h"

bool CurlOptions::AllTaken() const {
    if (m_refusedCode == CURLE_OK) return true;
    DebugTrace(L"curl_easy_setopt refused option %d: %d", static_cast<int>(m_refusedOption),
               static_cast<int>(m_refusedCode));
    return false;
}
