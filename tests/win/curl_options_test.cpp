// Every libcurl option is checked: one that libcurl refuses fails the transfer before it is made.
#include "download/curl_options.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "trace_recorder.h"

namespace {

struct CurlCleanup {
    void operator()(CURL* pCurl) const { curl_easy_cleanup(pCurl); }
};

TEST(CurlOptions, ARefusedOptionIsNamedAndFailsTheTransfer) {
    const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    ASSERT_TRUE(curl);
    testsupport::TraceRecorder traces;
    CurlOptions options(curl.get());
    options.Set(CURLOPT_MAXREDIRS, 10L).Set(CURLOPT_PROTOCOLS_STR, "https");
    EXPECT_TRUE(options.AllTaken());
    EXPECT_TRUE(traces.Lines().empty());

    // An option this libcurl does not know, then a bad value: the first refusal is the one named,
    // and later options that are taken do not hide it.
    options.Set(static_cast<CURLoption>(99999), 1L)
        .Set(CURLOPT_PROTOCOLS_STR, "no-such-protocol")
        .Set(CURLOPT_MAXREDIRS, 10L);
    EXPECT_FALSE(options.AllTaken());
    EXPECT_EQ(traces.Lines(),
              std::vector<std::wstring>{L"curl_easy_setopt refused option 99999: " +
                                        std::to_wstring(static_cast<int>(CURLE_UNKNOWN_OPTION))});
}

}  // namespace
