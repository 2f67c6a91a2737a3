#include "fake_winhttp.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::optional<std::wstring> Text(LPCWSTR text) {
    if (text == nullptr) return std::nullopt;
    return std::wstring(text);
}

// A string the way the platform hands them out: freed by the caller with GlobalFree.
LPWSTR GlobalCopy(const std::optional<std::wstring>& text) {
    if (!text) return nullptr;
    const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, bytes));
    if (copy != nullptr) std::memcpy(copy, text->c_str(), bytes);
    return copy;
}

}  // namespace

FakeResponse OkResponse(const std::string& body, std::optional<DWORD> contentLength,
                        DWORD chunkSize) {
    FakeResponse response;
    response.body = body;
    response.contentLength = contentLength.value_or(static_cast<DWORD>(body.size()));
    response.chunkSize = chunkSize;
    return response;
}

FakeResponse StatusResponse(DWORD status) {
    FakeResponse response;
    response.status = status;
    return response;
}

FakeResponse ChallengeResponse(DWORD status, DWORD supportedSchemes, DWORD authTarget) {
    FakeResponse response;
    response.status = status;
    response.supportedSchemes = supportedSchemes;
    response.authTarget = authTarget;
    return response;
}

HINTERNET FakeWinHttp::NewHandle(FakeHandleKind kind) {
    auto handle = reinterpret_cast<HINTERNET>(nextHandle_);
    nextHandle_ += 0x10;
    live_[handle] = kind;
    SetLastError(ERROR_SUCCESS);
    return handle;
}

bool FakeWinHttp::IsLive(HINTERNET handle, FakeHandleKind kind) const {
    auto it = live_.find(handle);
    return it != live_.end() && it->second == kind;
}

FakeResponse* FakeWinHttp::Current(HINTERNET request) {
    if (sends == 0 || static_cast<size_t>(sends) > responses.size() ||
        !IsLive(request, FakeHandleKind::Request)) {
        SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
        return nullptr;
    }
    return &responses[sends - 1];
}

HINTERNET FakeWinHttp::WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy,
                                   LPCWSTR proxyBypass, DWORD flags) {
    opens.push_back(
        {agent != nullptr ? agent : L"", accessType, Text(proxy), Text(proxyBypass), flags});
    if (openError != 0) {
        SetLastError(openError);
        return nullptr;
    }
    return NewHandle(FakeHandleKind::Session);
}

BOOL FakeWinHttp::WinHttpGetIEProxyConfigForCurrentUser(
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) {
    ++ieConfigReads;
    if (!ieConfig) return Fail(ERROR_FILE_NOT_FOUND);
    config->fAutoDetect = ieConfig->autoDetect;
    config->lpszAutoConfigUrl = GlobalCopy(ieConfig->autoConfigUrl);
    config->lpszProxy = GlobalCopy(ieConfig->proxy);
    config->lpszProxyBypass = GlobalCopy(ieConfig->proxyBypass);
    return TRUE;
}

BOOL FakeWinHttp::WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url,
                                        WINHTTP_AUTOPROXY_OPTIONS* options,
                                        WINHTTP_PROXY_INFO* proxyInfo) {
    proxyQueries.push_back({url != nullptr ? url : L"", options->dwFlags,
                            options->dwAutoDetectFlags, Text(options->lpszAutoConfigUrl),
                            options->fAutoLogonIfChallenged});
    if (!IsLive(session, FakeHandleKind::Session)) return Fail(ERROR_INVALID_HANDLE);
    const size_t call = proxyQueries.size() - 1;
    if (call >= proxyDiscoveries.size() || !proxyDiscoveries[call]) {
        return Fail(ERROR_WINHTTP_AUTODETECTION_FAILED);
    }
    proxyInfo->dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    proxyInfo->lpszProxy = GlobalCopy(proxyDiscoveries[call]);
    proxyInfo->lpszProxyBypass = nullptr;
    return TRUE;
}

BOOL FakeWinHttp::WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    if (live_.count(handle) == 0) return Fail(ERROR_INVALID_HANDLE);
    FakeSetOption record;
    record.option = option;
    record.length = length;
    if (option == WINHTTP_OPTION_SECURITY_FLAGS && length == sizeof(DWORD)) {
        record.value = *static_cast<DWORD*>(buffer);
    }
    if (option == WINHTTP_OPTION_PROXY && length == sizeof(WINHTTP_PROXY_INFO)) {
        record.proxy = Text(static_cast<WINHTTP_PROXY_INFO*>(buffer)->lpszProxy);
    }
    options.push_back(record);
    return TRUE;
}

BOOL FakeWinHttp::WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags,
                                  URL_COMPONENTS* components) {
    if (crackFails) return Fail(ERROR_WINHTTP_INVALID_URL);
    return ::WinHttpCrackUrl(url, urlLength, flags, components);
}

BOOL FakeWinHttp::WinHttpSetTimeouts(HINTERNET handle, int, int, int, int) {
    return IsLive(handle, FakeHandleKind::Session) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

HINTERNET FakeWinHttp::WinHttpConnect(HINTERNET session, LPCWSTR serverName,
                                      INTERNET_PORT serverPort, DWORD) {
    connectedHost = serverName != nullptr ? serverName : L"";
    connectedPort = serverPort;
    if (connectFails || !IsLive(session, FakeHandleKind::Session)) {
        SetLastError(ERROR_WINHTTP_CANNOT_CONNECT);
        return nullptr;
    }
    return NewHandle(FakeHandleKind::Connection);
}

HINTERNET FakeWinHttp::WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                                          LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes,
                                          DWORD flags) {
    FakeOpenRequest record;
    record.verb = verb != nullptr ? verb : L"";
    record.object = objectName != nullptr ? objectName : L"";
    record.version = version != nullptr ? version : L"";
    record.hasReferrer = referrer != nullptr;
    for (LPCWSTR* type = acceptTypes; type != nullptr && *type != nullptr; ++type) {
        record.acceptTypes.push_back(*type);
    }
    record.flags = flags;
    requests.push_back(record);
    if (openRequestFails || !IsLive(connection, FakeHandleKind::Connection)) {
        SetLastError(ERROR_WINHTTP_INVALID_URL);
        return nullptr;
    }
    return NewHandle(FakeHandleKind::Request);
}

BOOL FakeWinHttp::WinHttpSetCredentials(HINTERNET request, DWORD authTargets, DWORD authScheme,
                                        LPCWSTR userName, LPCWSTR password, LPVOID) {
    credentials.push_back({authTargets, authScheme, Text(userName), Text(password)});
    return IsLive(request, FakeHandleKind::Request) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL FakeWinHttp::WinHttpSendRequest(HINTERNET request, LPCWSTR, DWORD, LPVOID, DWORD, DWORD,
                                     DWORD_PTR) {
    if (!IsLive(request, FakeHandleKind::Request)) return Fail(ERROR_INVALID_HANDLE);
    ++sends;
    bodyPosition_ = 0;
    availabilityFailures_ = 0;
    FakeResponse* response = Current(request);
    if (response == nullptr) {
        scriptOverrun = true;
        return Fail(ERROR_WINHTTP_CANNOT_CONNECT);
    }
    return response->sendError != 0 ? Fail(response->sendError) : TRUE;
}

BOOL FakeWinHttp::WinHttpReceiveResponse(HINTERNET request, LPVOID) {
    FakeResponse* response = Current(request);
    if (response == nullptr) return FALSE;
    return response->receiveError != 0 ? Fail(response->receiveError) : TRUE;
}

BOOL FakeWinHttp::WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR, LPVOID buffer,
                                      LPDWORD bufferLength, LPDWORD) {
    FakeResponse* response = Current(request);
    if (response == nullptr) return FALSE;
    if ((infoLevel & WINHTTP_QUERY_FLAG_NUMBER) == 0 || *bufferLength < sizeof(DWORD)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    DWORD value = 0;
    switch (infoLevel & ~WINHTTP_QUERY_FLAG_NUMBER) {
        case WINHTTP_QUERY_STATUS_CODE:
            if (response->statusQueryFails) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
            value = response->status;
            break;
        case WINHTTP_QUERY_CONTENT_LENGTH:
            if (!response->contentLength) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
            value = *response->contentLength;
            break;
        default:
            return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    }
    *static_cast<DWORD*>(buffer) = value;
    *bufferLength = sizeof(DWORD);
    return TRUE;
}

BOOL FakeWinHttp::WinHttpQueryAuthSchemes(HINTERNET request, LPDWORD supportedSchemes,
                                          LPDWORD firstScheme, LPDWORD authTarget) {
    FakeResponse* response = Current(request);
    if (response == nullptr) return FALSE;
    if (response->authSchemesFail) return Fail(ERROR_INVALID_OPERATION);
    *supportedSchemes = response->supportedSchemes;
    *firstScheme = response->firstScheme;
    *authTarget = response->authTarget;
    return TRUE;
}

BOOL FakeWinHttp::WinHttpQueryDataAvailable(HINTERNET request, LPDWORD bytesAvailable) {
    FakeResponse* response = Current(request);
    if (response == nullptr) return FALSE;
    if (availabilityFailures_ < response->availabilityErrors.size()) {
        return Fail(response->availabilityErrors[availabilityFailures_++]);
    }
    const size_t remaining = response->body.size() - bodyPosition_;
    *bytesAvailable = static_cast<DWORD>(std::min<size_t>(remaining, response->chunkSize));
    return TRUE;
}

BOOL FakeWinHttp::WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD bytesToRead,
                                  LPDWORD bytesRead) {
    FakeResponse* response = Current(request);
    if (response == nullptr) return FALSE;
    readSizes.push_back(bytesToRead);
    if (response->readFails) return Fail(ERROR_WINHTTP_CONNECTION_ERROR);
    const size_t count = std::min<size_t>(bytesToRead, response->body.size() - bodyPosition_);
    std::memcpy(buffer, response->body.data() + bodyPosition_, count);
    bodyPosition_ += count;
    *bytesRead = static_cast<DWORD>(count);
    if (onRead) onRead(reads_);
    ++reads_;
    return TRUE;
}

BOOL FakeWinHttp::WinHttpCloseHandle(HINTERNET handle) {
    auto it = live_.find(handle);
    if (it == live_.end()) return Fail(ERROR_INVALID_HANDLE);
    closed.push_back(it->second);
    live_.erase(it);
    return TRUE;
}

}  // namespace testsupport
