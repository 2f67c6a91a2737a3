#pragma once

// The WinHTTP operations that the download relies on, as one interface, so that its logic
// (status codes, authentication loop, resumed requests, proxy choice, logging) runs against any
// implementation of them: winhttp.dll in the product, a scripted stand-in in tests. Each keeps
// the contract of the function it is named after, including the thread's last error code.
#include <windows.h>

#include <winhttp.h>

class WinHttpApi {
  public:
    virtual ~WinHttpApi() = default;

    virtual HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy,
                                  LPCWSTR proxyBypass, DWORD flags) = 0;
    virtual BOOL WinHttpGetIEProxyConfigForCurrentUser(
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) = 0;
    virtual BOOL WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url,
                                       WINHTTP_AUTOPROXY_OPTIONS* options,
                                       WINHTTP_PROXY_INFO* proxyInfo) = 0;
    virtual BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) = 0;
    virtual BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags,
                                 URL_COMPONENTS* components) = 0;
    virtual BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout,
                                    int sendTimeout, int receiveTimeout) = 0;
    virtual HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR serverName,
                                     INTERNET_PORT serverPort, DWORD reserved) = 0;
    virtual HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                                         LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes,
                                         DWORD flags) = 0;
    virtual BOOL WinHttpAddRequestHeaders(HINTERNET request, LPCWSTR headers, DWORD headersLength,
                                          DWORD modifiers) = 0;
    virtual BOOL WinHttpSetCredentials(HINTERNET request, DWORD authTargets, DWORD authScheme,
                                       LPCWSTR userName, LPCWSTR password, LPVOID params) = 0;
    virtual BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength,
                                    LPVOID optional, DWORD optionalLength, DWORD totalLength,
                                    DWORD_PTR context) = 0;
    virtual BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID reserved) = 0;
    virtual BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name,
                                     LPVOID buffer, LPDWORD bufferLength, LPDWORD index) = 0;
    virtual BOOL WinHttpQueryAuthSchemes(HINTERNET request, LPDWORD supportedSchemes,
                                         LPDWORD firstScheme, LPDWORD authTarget) = 0;
    virtual BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD bytesAvailable) = 0;
    virtual BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD bytesToRead,
                                 LPDWORD bytesRead) = 0;
    virtual BOOL WinHttpCloseHandle(HINTERNET handle) = 0;
};

// The adapter that forwards every operation to winhttp.dll.
WinHttpApi& RealWinHttpApi();

// Owns one WinHTTP handle (session, connection or request) and closes it through the operations
// table that opened it, on every path out of the scope that holds it.

class WinHttpHandle {
  public:
    WinHttpHandle() = default;
    WinHttpHandle(WinHttpApi& api, HINTERNET handle) : m_api(&api), m_handle(handle) {}
    WinHttpHandle(WinHttpHandle&& other) noexcept : m_api(other.m_api), m_handle(other.m_handle) {
        other.m_handle = nullptr;
    }
    WinHttpHandle& operator=(WinHttpHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_api = other.m_api;
            m_handle = other.m_handle;
            other.m_handle = nullptr;
        }
        return *this;
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;
    ~WinHttpHandle() { reset(); }

    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset() {
        if (m_handle != nullptr) m_api->WinHttpCloseHandle(m_handle);
        m_handle = nullptr;
    }

  private:
    WinHttpApi* m_api = nullptr;
    HINTERNET m_handle = nullptr;
};
