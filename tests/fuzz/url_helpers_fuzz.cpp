// Arbitrary text through the address helpers of both download paths. Beyond what the sanitizers
// catch, a fault is a result that breaks the helpers' own promises: a terminator missing from a
// work buffer, a normalised URL longer than "http://" and 1000 characters, an escaped address
// with a space left in it, or a proxy text that is not a tail of the setting.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "download/https_download_url.h"
#include "download/winhttp_rules.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void FuzzNormalizeUrl(const std::uint8_t* data, size_t size) {
    // Two bytes a character, as on Windows, so that every UTF-16 unit turns up.
    std::vector<wchar_t> url(size / 2 + 1, L'\0');
    for (size_t i = 0; i + 1 < size; i += 2)
        url[i / 2] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    std::vector<wchar_t> normalised(kUrlBufferChars, L'\x7f');
    NormalizeUrl(normalised.data(), url.data());
    size_t length = wcsnlen(normalised.data(), kUrlBufferChars);
    Check(length < kUrlBufferChars);
    Check(length <= kUrlMaxCopiedChars + 7);

    Check(ChooseCurlProxy(nullptr).empty());
    const std::wstring proxy = ChooseCurlProxy(url.data());
    // One proxy, taken whole from the setting.
    Check(proxy.find_first_of(L"; \t\r\n") == std::wstring::npos);
    Check(proxy.empty() || std::wstring(url.data()).find(proxy) != std::wstring::npos);
}

void FuzzHttpsAddress(const std::uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    char url[kHttpsUrlBytes];
    std::memset(url, 0x7f, sizeof url);
    if (ForceHttpsScheme(text.data(), url) == 0) return;
    Check(std::memchr(url, '\0', sizeof url) != nullptr);
    Check(std::strncmp(url, "https://", 8) == 0);
    size_t before = std::strlen(url);
    size_t spaces = 0;
    for (size_t i = 0; i < before; ++i) spaces += url[i] == ' ';
    if (EscapeURLSpaces(url) == 1) {
        Check(std::strchr(url, ' ') == nullptr);
        Check(std::strlen(url) == before + 2 * spaces);
    }
    Check(std::memchr(url, '\0', sizeof url) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzNormalizeUrl(data, size);
    FuzzHttpsAddress(data, size);
    return 0;
}
