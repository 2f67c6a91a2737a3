// The toolchain's static Schannel libcurl fetches over HTTPS from the loopback nginx under Wine.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string NarrowPort(const wchar_t* name) {
    std::wstring w = testsupport::Env(name);
    return std::string(w.begin(), w.end());
}

TEST(CurlToolchain, HttpsGetFromLoopbackNginx) {
    std::string port = NarrowPort(L"QERV_TEST_HTTPS_PORT");
    ASSERT_FALSE(port.empty()) << "run through scripts/with-servers.sh";

    ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);
    CURL* curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    std::string url = "https://127.0.0.1:" + port + "/hello.txt";
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // The test server's certificate is self-signed.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_global_cleanup();

    EXPECT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, "hello from nginx\n");
}

TEST(CurlToolchain, SchannelIsTheTlsBackend) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    ASSERT_NE(info, nullptr);
    EXPECT_NE(std::string(info->ssl_version).find("Schannel"), std::string::npos) << info->ssl_version;
}

}  // namespace
