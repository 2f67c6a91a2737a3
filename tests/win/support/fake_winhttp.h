#pragma once

// A scripted stand-in for WinHTTP: each send plays the next scripted response, and the calls that
// matter to the download are recorded as short lines ("Open 1 - -", "Send", "Read 4096"), so
// that a test compares a whole exchange at once. URLs are split by the real WinHttpCrackUrl.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "download/winhttp_api.h"
#include "download/winhttp_wrapper.h"

namespace testsupport {

// The lines that start with one of the (distinct) prefixes, in order.
template <typename Char>
std::vector<std::basic_string<Char>> Starting(const std::vector<std::basic_string<Char>>& lines,
                                              std::initializer_list<const Char*> prefixes) {
    std::vector<std::basic_string<Char>> kept;
    for (const auto& line : lines) {
        for (const Char* prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) kept.push_back(line);
        }
    }
    return kept;
}

// What the server (or proxy) does with one request.
struct FakeResponse {
    DWORD status = 200;  // 0: the response has none (the status query fails)
    std::optional<DWORD> contentLength = {};
    std::string body = {};
    DWORD chunkSize = 4096;  // most bytes one availability query reports
    DWORD sendError = 0;     // non-zero: WinHttpSendRequest fails with this code
    DWORD receiveError = 0;  // non-zero: WinHttpReceiveResponse fails with this code
    DWORD schemes = 0;       // a challenge's schemes (the first is the lowest) and target
    DWORD target = 0;
    bool schemesFail = false;
    std::vector<DWORD> availabilityErrors = {};  // the first availability queries fail with these
    bool readFails = false;
    // Text headers by their query (WINHTTP_QUERY_ETAG, _LAST_MODIFIED, _CONTENT_RANGE).
    std::map<DWORD, std::wstring> headers = {};
};

// 200 with the body and its Content-Length (or the one given).
inline FakeResponse Ok(const std::string& body, std::optional<DWORD> length = {},
                       DWORD chunkSize = 4096) {
    return {.contentLength = length.value_or(static_cast<DWORD>(body.size())),
            .body = body,
            .chunkSize = chunkSize};
}

// The user's Internet Explorer proxy settings.
struct FakeIEConfig {
    BOOL autoDetect = FALSE;
    std::optional<std::wstring> autoConfigUrl, proxy, proxyBypass;
};

class FakeWinHttp : public WinHttpApi {
  public:
    // Script.
    DWORD openError = 0;  // non-zero: WinHttpOpen fails with this code
    bool crackFails = false, connectFails = false, openRequestFails = false;
    bool addHeadersFails = false;
    std::optional<FakeIEConfig> ieConfig;  // empty: the settings cannot be read
    // One per WinHttpGetProxyForUrl: the proxy found, or empty for a failed discovery.
    std::vector<std::optional<std::wstring>> proxyDiscoveries;
    std::vector<FakeResponse> responses;        // one per WinHttpSendRequest
    std::function<void(int readIndex)> onRead;  // after each successful WinHttpReadData
    std::function<void(int sendIndex)> onSend;  // after each WinHttpSendRequest

    // Record, one line per call.
    std::vector<std::wstring> calls;

    int OpenHandles() const { return static_cast<int>(m_live.size()); }

    HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                          DWORD flags) override {
        std::wstring call = L"Open " + std::to_wstring(accessType) + Arg(proxy) + Arg(proxyBypass);
        // Every session of the download is synchronous and has the same agent.
        if (agent == nullptr || std::wcscmp(agent, szDefaultAgent) != 0 || flags != 0) {
            call += L" (other agent or flags)";
        }
        calls.push_back(call);
        if (openError != 0) return Fail(openError), nullptr;
        return NewHandle(Kind::Session);
    }
    BOOL WinHttpGetIEProxyConfigForCurrentUser(
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) override {
        calls.push_back(L"IEConfig");
        if (!ieConfig) return Fail(ERROR_FILE_NOT_FOUND);
        *config = {ieConfig->autoDetect, GlobalCopy(ieConfig->autoConfigUrl),
                   GlobalCopy(ieConfig->proxy), GlobalCopy(ieConfig->proxyBypass)};
        return TRUE;
    }
    BOOL WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url, WINHTTP_AUTOPROXY_OPTIONS* options,
                               WINHTTP_PROXY_INFO* proxyInfo) override {
        calls.push_back(L"ProxyForUrl" + Arg(url) + L" " + std::to_wstring(options->dwFlags) +
                        L" " + std::to_wstring(options->dwAutoDetectFlags) +
                        Arg(options->lpszAutoConfigUrl) +
                        (options->fAutoLogonIfChallenged ? L"" : L" (no logon)"));
        if (!IsLive(session, Kind::Session)) return Fail(ERROR_INVALID_HANDLE);
        const size_t call = m_discoveries++;
        if (call >= proxyDiscoveries.size() || !proxyDiscoveries[call]) {
            return Fail(ERROR_WINHTTP_AUTODETECTION_FAILED);
        }
        *proxyInfo = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, GlobalCopy(proxyDiscoveries[call]), nullptr};
        return TRUE;
    }
    BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) override {
        if (m_live.count(handle) == 0) return Fail(ERROR_INVALID_HANDLE);
        std::wstring value = L" length " + std::to_wstring(length);
        if (option == WINHTTP_OPTION_SECURITY_FLAGS && length == sizeof(DWORD)) {
            value = L" " + std::to_wstring(*static_cast<DWORD*>(buffer));
        } else if (option == WINHTTP_OPTION_PROXY && length == sizeof(WINHTTP_PROXY_INFO)) {
            value = Arg(static_cast<WINHTTP_PROXY_INFO*>(buffer)->lpszProxy);
        }
        calls.push_back(L"SetOption " + std::to_wstring(option) + value);
        return TRUE;
    }
    BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags,
                         URL_COMPONENTS* components) override {
        if (crackFails) return Fail(ERROR_WINHTTP_INVALID_URL);
        return ::WinHttpCrackUrl(url, urlLength, flags, components);
    }
    BOOL WinHttpSetTimeouts(HINTERNET, int, int, int, int) override { return TRUE; }
    HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR serverName, INTERNET_PORT port,
                             DWORD) override {
        calls.push_back(L"Connect" + Arg(serverName) + L":" + std::to_wstring(port));
        if (connectFails || !IsLive(session, Kind::Session)) {
            return Fail(ERROR_WINHTTP_CANNOT_CONNECT), nullptr;
        }
        return NewHandle(Kind::Connection);
    }
    HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR, LPCWSTR objectName, LPCWSTR,
                                 LPCWSTR, LPCWSTR*, DWORD flags) override {
        const std::wstring how = flags == WINHTTP_FLAG_SECURE    ? L" secure"
                                 : flags == WINHTTP_FLAG_REFRESH ? L" refresh"
                                                                 : L" " + std::to_wstring(flags);
        calls.push_back(L"Request" + Arg(objectName) + how);
        if (openRequestFails || !IsLive(connection, Kind::Connection)) {
            return Fail(ERROR_WINHTTP_INVALID_URL), nullptr;
        }
        return NewHandle(Kind::Request);
    }
    BOOL WinHttpAddRequestHeaders(HINTERNET request, LPCWSTR headers, DWORD length,
                                  DWORD modifiers) override {
        const size_t chars = length == static_cast<DWORD>(-1) ? std::wcslen(headers) : length;
        std::wstring call = L"AddHeaders " + std::wstring(headers, chars);
        if (modifiers != (WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
            call += L" (other modifiers)";
        }
        calls.push_back(call);
        if (addHeadersFails) return Fail(ERROR_INVALID_PARAMETER);
        return IsLive(request, Kind::Request) ? TRUE : Fail(ERROR_INVALID_HANDLE);
    }
    BOOL WinHttpSetCredentials(HINTERNET request, DWORD targets, DWORD scheme, LPCWSTR userName,
                               LPCWSTR password, LPVOID) override {
        calls.push_back(L"Credentials " + std::to_wstring(targets) + L" " +
                        std::to_wstring(scheme) + Arg(userName) + Arg(password));
        return IsLive(request, Kind::Request) ? TRUE : Fail(ERROR_INVALID_HANDLE);
    }
    BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR, DWORD, LPVOID, DWORD, DWORD,
                            DWORD_PTR) override {
        if (!IsLive(request, Kind::Request)) return Fail(ERROR_INVALID_HANDLE);
        calls.push_back(L"Send");
        ++m_sends;
        m_bodyPosition = 0;
        m_availabilityFailures = 0;
        if (onSend) onSend(static_cast<int>(m_sends - 1));
        const FakeResponse* response = Current(request);
        if (response == nullptr) return Fail(ERROR_WINHTTP_CANNOT_CONNECT);
        return response->sendError != 0 ? Fail(response->sendError) : TRUE;
    }
    BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID) override {
        const FakeResponse* response = Current(request);
        if (response == nullptr) return FALSE;
        return response->receiveError != 0 ? Fail(response->receiveError) : TRUE;
    }
    BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR, LPVOID buffer,
                             LPDWORD bufferLength, LPDWORD) override {
        const FakeResponse* response = Current(request);
        if (response == nullptr) return FALSE;
        if ((infoLevel & WINHTTP_QUERY_FLAG_NUMBER) == 0) {
            const auto found = response->headers.find(infoLevel);
            if (found == response->headers.end()) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
            const DWORD bytes = static_cast<DWORD>(found->second.size() * sizeof(wchar_t));
            if (*bufferLength < bytes + sizeof(wchar_t)) {
                *bufferLength = bytes + sizeof(wchar_t);
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            std::memcpy(buffer, found->second.c_str(), bytes + sizeof(wchar_t));
            *bufferLength = bytes;
            return TRUE;
        }
        if (*bufferLength < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::optional<DWORD> value;
        const DWORD query = infoLevel & ~WINHTTP_QUERY_FLAG_NUMBER;
        if (query == WINHTTP_QUERY_STATUS_CODE && response->status != 0) value = response->status;
        if (query == WINHTTP_QUERY_CONTENT_LENGTH) value = response->contentLength;
        if (!value) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
        *static_cast<DWORD*>(buffer) = *value;
        *bufferLength = sizeof(DWORD);
        return TRUE;
    }
    BOOL WinHttpQueryAuthSchemes(HINTERNET request, LPDWORD supportedSchemes, LPDWORD firstScheme,
                                 LPDWORD authTarget) override {
        const FakeResponse* response = Current(request);
        if (response == nullptr) return FALSE;
        if (response->schemesFail) return Fail(ERROR_INVALID_OPERATION);
        *supportedSchemes = response->schemes;
        *firstScheme = response->schemes & (~response->schemes + 1);
        *authTarget = response->target;
        return TRUE;
    }
    BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD bytesAvailable) override {
        const FakeResponse* response = Current(request);
        if (response == nullptr) return FALSE;
        if (m_availabilityFailures < response->availabilityErrors.size()) {
            return Fail(response->availabilityErrors[m_availabilityFailures++]);
        }
        *bytesAvailable = static_cast<DWORD>(
            std::min<size_t>(response->body.size() - m_bodyPosition, response->chunkSize));
        return TRUE;
    }
    BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesRead) override {
        const FakeResponse* response = Current(request);
        if (response == nullptr) return FALSE;
        calls.push_back(L"Read " + std::to_wstring(bytesToRead));
        if (response->readFails) return Fail(ERROR_WINHTTP_CONNECTION_ERROR);
        const size_t count = std::min<size_t>(bytesToRead, response->body.size() - m_bodyPosition);
        std::memcpy(buffer, response->body.data() + m_bodyPosition, count);
        m_bodyPosition += count;
        *bytesRead = static_cast<DWORD>(count);
        if (onRead) onRead(m_reads);
        ++m_reads;
        return TRUE;
    }
    BOOL WinHttpCloseHandle(HINTERNET handle) override {
        return m_live.erase(handle) != 0 ? TRUE : Fail(ERROR_INVALID_HANDLE);
    }

  private:
    enum class Kind { Session, Connection, Request };

    static BOOL Fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    static std::wstring Arg(LPCWSTR text) {
        return text != nullptr ? L" " + std::wstring(text) : L" -";
    }
    // A string the way the platform hands them out: freed by the caller with GlobalFree.
    static LPWSTR GlobalCopy(const std::optional<std::wstring>& text) {
        if (!text) return nullptr;
        const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
        auto* copy = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, bytes));
        if (copy != nullptr) std::memcpy(copy, text->c_str(), bytes);
        return copy;
    }
    HINTERNET NewHandle(Kind kind) {
        auto handle = reinterpret_cast<HINTERNET>(m_nextHandle);
        m_nextHandle += 0x10;
        m_live[handle] = kind;
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    bool IsLive(HINTERNET handle, Kind kind) const {
        const auto it = m_live.find(handle);
        return it != m_live.end() && it->second == kind;
    }
    // The response of the latest send on a live request, or null (error set).
    const FakeResponse* Current(HINTERNET request) {
        if (m_sends == 0 || m_sends > responses.size() || !IsLive(request, Kind::Request)) {
            return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE), nullptr;
        }
        return &responses[m_sends - 1];
    }

    std::map<HINTERNET, Kind> m_live;
    UINT_PTR m_nextHandle = 0x1000;
    size_t m_sends = 0, m_discoveries = 0, m_bodyPosition = 0, m_availabilityFailures = 0;
    int m_reads = 0;
};

}  // namespace testsupport
