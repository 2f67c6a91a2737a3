#include "download/download_by_type.h"

int DownloadByType(DWORD nType, HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                   std::atomic<LONG>* pnPercent, WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                   const wchar_t* szSaveFile, const DownloadCallContext& context) {
    if (pWrapper == nullptr) return 0;
    const auto Download = [&](DWORD nSessionType, const wchar_t* szUserName,
                              const wchar_t* szPassword) {
        return pWrapper->SafeDownloadFile(szUrl, szSaveFile, hWndProgress, pbCancel, nSessionType,
                                          szUserName, szPassword, pnPercent, context) == 1
                   ? 1
                   : 0;
    };
    switch (nType) {
        case WinHTTP_Download_Type_Auto:
            if (Download(WinHTTP_Download_Type_Direct_Connect, nullptr, nullptr) == 1) return 1;
            // A cancelled attempt stops here instead of starting a second download.
            if (pbCancel != nullptr && pbCancel->load() != 0) return 0;
            return Download(WinHTTP_Download_Type_By_IE_Proxy, nullptr, nullptr);
        case WinHTTP_Download_Type_Direct_Connect:
        case WinHTTP_Download_Type_By_Default_Proxy:
        case WinHTTP_Download_Type_By_IE_Proxy:
            return Download(nType, nullptr, nullptr);
        case WinHTTP_Download_Type_By_User_Config_Proxy:
            return Download(nType, g_configuredProxy.szUserName, g_configuredProxy.szPassword);
        default:
            return 0;
    }
}
