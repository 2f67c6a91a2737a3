#pragma once

// The connection types and status codes of the WinHTTP download. Portable, so that the status
// line can be composed and tested without Windows.
#include <cstdint>

// Connection types: the type argument of SafeDownloadFile and WrapperOpen, and m_dwType.
constexpr std::uint32_t WinHTTP_Download_Type_Auto = 0;
constexpr std::uint32_t WinHTTP_Download_Type_Direct_Connect = 1;
constexpr std::uint32_t WinHTTP_Download_Type_By_Default_Proxy = 2;
constexpr std::uint32_t WinHTTP_Download_Type_By_IE_Proxy = 3;
constexpr std::uint32_t WinHTTP_Download_Type_By_User_Config_Proxy = 4;

// Status codes (m_dwStatus), in the order in which a successful download passes through them,
// then the ends of a failed one.
constexpr std::uint32_t WinHTTP_Download_Status_Not_Started = 999;
constexpr std::uint32_t WinHTTP_Download_Status_Init = 1001;
constexpr std::uint32_t WinHTTP_Download_Status_Session_Opened = 1;
constexpr std::uint32_t WinHTTP_Download_Status_Url_Cracked = 2;
constexpr std::uint32_t WinHTTP_Download_Status_Connected = 3;
constexpr std::uint32_t WinHTTP_Download_Status_Request_Opened = 4;
constexpr std::uint32_t WinHTTP_Download_Status_Response_OK = 6;
constexpr std::uint32_t WinHTTP_Download_Status_Receiving = 8;
constexpr std::uint32_t WinHTTP_Download_Status_Completed = 0;
constexpr std::uint32_t WinHTTP_Download_Status_Not_Enough_Buffer = 7;
constexpr std::uint32_t WinHTTP_Download_Status_Cancel_By_User = 500;
constexpr std::uint32_t WinHTTP_Download_Status_Error = 1000;
