#pragma once

#include <cstddef>

// The texts the libcurl path hands to libcurl: the address in its ANSI buffer and the proxy.

// Bytes of the ANSI address buffer: at most 1023 characters and the terminator.
constexpr std::size_t kHttpsUrlBytes = 1024;

// Writes szText into szUrl (kHttpsUrlBytes) with the https scheme: an address that starts with
// "https://" is kept, "http://" becomes "https://", and any other text gets "https://" in front.
// The scheme test is case-sensitive. Gives 1, or 0 for a null argument or an address too long
// for the buffer.
int ForceHttpsScheme(const char* szText, char* szUrl);

// Percent-encodes every space of the address in szUrl (kHttpsUrlBytes) as "%20". Gives 1, or 0
// for a null buffer or when the text would not fit; it then stays escaped as far as it got.
int EscapeURLSpaces(char* szUrl);

// The proxy that libcurl gets from a proxy setting: null for no setting or an empty one, the text
// after "http=http://" when the setting holds it, else the whole setting.
const wchar_t* CurlProxyText(const wchar_t* szProxy);
