"""What the setup may show and log, as its message table and its download trace log give it: the
texts of the status line of a machine without the suite (Vietnamese), and the formats of the lines
of C:\\WinHTTPLib.log."""
import re

# Boxes shown through the framework carry the application name, the executable's name.
BOX_CAPTION = "QervSetupOnline"
# Message 1, and the other notices that the workflow writes itself: 5 and 4 between the kinds of
# connection, 2 when the download is complete.
FAILED = "Có lỗi trong quá trình tải về. Bạn vui lòng thử lại sau!"
SWITCH_TO_IE_PROXY = ("Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình "
                      "IE proxy")
SWITCH_TO_DEFAULT_PROXY = ("Có lỗi trong quá trình tải trực tiếp bộ cài đặt. Chuyển sang tải qua "
                           "proxy mặc định")
COMPLETED = "Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt"
NOTICES = {FAILED, SWITCH_TO_IE_PROXY, SWITCH_TO_DEFAULT_PROXY, COMPLETED}
# The status line's thread writes the prefix of the connection type (messages 8 and 9, or none),
# the text of the download status (messages 2 and 10 to 19, or none for any other status) and
# one to three dots.
DEFAULT_PROXY_PREFIX = "Tải qua proxy mặc định:  "
PREFIXES = ["", DEFAULT_PROXY_PREFIX, "Tải qua cấu hình IE proxy: "]
STAGES = [
    "",
    COMPLETED,
    "Đang khởi tạo tài nguyên",
    "Đang khởi tạo kết nối",
    "Đang kiểm tra kết nối mạng",
    "Đang phân tích liên kết",
    "Đang kết nối tới server",
    "Đang khởi tạo yêu cầu tới server",
    "Đang gửi yêu cầu tới server",
    "Đang tải bộ cài đặt",
    "Không đủ bộ nhớ để nhận dữ liệu",
    "Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp",
]
_STATUS_LINE = re.compile("(?:%s)(?:%s)\\.{1,3}" % ("|".join(map(re.escape, PREFIXES)),
                                                   "|".join(map(re.escape, STAGES))))

# Every line that the WinHTTP download and its session opening write, "%d" and "%s" as there.
LOG_FORMATS = [
    "SafeDownloadFile: start WinHTTP_Download_Status_Init",
    "SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)",
    "SafeDownloadFile: step 1",
    "szDefaultAgent = %s, szURL = %s",
    "SafeDownloadFile: step 1.1, error code %d",
    "SafeDownloadFile: step 1.2",
    "SafeDownloadFile: step 1.3 error code %d",
    "SafeDownloadFile: step 1.4",
    "SafeDownloadFile: step 1.5",
    "SafeDownloadFile: step 2",
    "SafeDownloadFile: step 3",
    "SafeDownloadFile: resume dwCurrentDownloaded = %d, TotalDownloadSize = %d",
    "SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = %d, bResults = %d",
    "SafeDownloadFile: WinHttpSendRequest: ErrorCode = %d",
    "SafeDownloadFile: WinHttpReceiveResponse: ErrorCode = %d",
    "SafeDownloadFile: WinHttpQueryHeaders: ErrorCode = %d",
    "SafeDownloadFile: session connected, request opened, status %d [OK]",
    "SafeDownloadFile: status 401 [The server requires authentication]",
    "SafeDownloadFile: WinHttpSetCredentials for authentication",
    "SafeDownloadFile: status 407 [The proxy requires authentication]",
    "SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: dwSupportedSchemes=%d, "
    "dwFirstScheme=%d, dwTarget=%d",
    "SafeDownloadFile: ChooseAuthScheme for authentication",
    "SafeDownloadFile: authentication failed, dwLastStatus = %d",
    "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = %d",
    "SafeDownloadFile: resume refused, download from the start",
    "SafeDownloadFile return by Content-Range refused",
    "SafeDownloadFile return by CreateFileW error",
    "SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=%d",
    "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = %d",
    "SafeDownloadFile return by WinHTTP_Download_Status_Not_Enough_Buffer",
    "SafeDownloadFile return by WinHttpReadData error",
    "SafeDownloadFile: WinHttpReadData dwNumberByRead = %d",
    "SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User",
    "SafeDownloadFile dwCurrentDownloaded = %d, TotalDownloadSize = %d",
    "Before WriteFile",
    "WriteFile Error !",
    "Before CloseHandle",
    "WrapperOpen type WinHTTP_Download_Type_Direct_Connect, szAgent=%s",
    "WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy, szAgent=%s",
    "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=%s",
    "WrapperOpen type WinHTTP_Download_Type_By_User_Config_Proxy, szAgent=%s",
    "WrapperOpen: m_iepcfg.fAutoDetect = TRUE",
]


def _pattern(line_format):
    parts = re.split(r"(%d|%s)", line_format)
    return "".join({"%d": "-?[0-9]+", "%s": "[^\r\n]*"}.get(p, re.escape(p)) for p in parts)


_LOG_LINE = re.compile("|".join(f"(?:{_pattern(f)})" for f in LOG_FORMATS))


def allowed_status(text):
    """Whether the status line may read text: a notice, a composed status, or nothing yet."""
    return text == "" or text in NOTICES or _STATUS_LINE.fullmatch(text) is not None


def whole_log_line(line):
    """Whether line is one whole line of the download trace log."""
    return _LOG_LINE.fullmatch(line) is not None
