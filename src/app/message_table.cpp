#include "app/message_table.h"

std::atomic<std::int32_t> g_nLanguage{0};

// Texts are kept byte for byte as the product shows them, including trailing spaces (the two
// status prefixes are followed by the stage text) and the spelling slips of the English texts.
const MessageEntry MessageTable[] = {
    {kMsgCancel, L"Hủy bỏ", L"Cancel"},
    {kMsgDownloadFailed, L"Có lỗi trong quá trình tải về. Bạn vui lòng thử lại sau!",
     L"Errors occur when downloading. Please try again latter!"},
    {kMsgDownloadCompleted, L"Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt",
     L"Download completed. Preparing for installation"},
    {kMsgInitFailed, L"Có lỗi trong quá trình khởi tạo ứng dụng. Bạn vui lòng thử lại sau!",
     L"Errors occur when initializing application. Please try again latter!"},
    {kMsgSwitchToDefaultProxy,
     L"Có lỗi trong quá trình tải trực tiếp bộ cài đặt. Chuyển sang tải qua proxy mặc định",
     L"Errors occur when directly downloading installer. Switching to downloading via default "
     L"proxy"},
    {kMsgSwitchToIeProxy,
     L"Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình IE proxy",
     L"Errors occur when downloading via default proxy. Switching to downloading via IE proxy "
     L"configuration"},
    {kMsgElevationDeclined, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!",
     L"Please run Qerv setup with admin permission!"},
    {kMsgStopQuestion, L"Bạn có muốn dừng quá trình cài đặt Qerv không?",
     L"Are you sure you want to stop Qerv installation?"},
    {kMsgDefaultProxyPrefix, L"Tải qua proxy mặc định:  ", L"Download via default proxy: "},
    {kMsgIeProxyPrefix, L"Tải qua cấu hình IE proxy: ", L"Download via IE proxy configuration: "},
    {kMsgStageInitResource, L"Đang khởi tạo tài nguyên", L"Initializing resource"},
    {kMsgStageInitConnection, L"Đang khởi tạo kết nối", L"Initializing connection"},
    {kMsgStageCheckInternet, L"Đang kiểm tra kết nối mạng", L"Checking Internet connection"},
    {kMsgStageAnalyzing, L"Đang phân tích liên kết", L"Analyzing connection"},
    {kMsgStageConnecting, L"Đang kết nối tới server", L"Connecting to server"},
    {kMsgStageInitRequest, L"Đang khởi tạo yêu cầu tới server", L"Initializing request to sever"},
    {kMsgStageSendingRequest, L"Đang gửi yêu cầu tới server", L"Sending request to server"},
    {kMsgStageDownloading, L"Đang tải bộ cài đặt", L"Downloading installer"},
    {kMsgStageNoSpace, L"Không đủ bộ nhớ để nhận dữ liệu", L"Not enough space for the download"},
    {kMsgStageResuming, L"Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp",
     L"Errors occur when downloading, the installer is trying to resume the download"},
    {kMsgInstalledEditionFound,
     L"Máy tính của bạn đã được cài sẵn %s.\nĐể có thể cài đặt phiên bản mới, bạn cần phải gỡ bỏ "
     L"phiên bản hiện thời.",
     L"%s has already been installed on your computer.\nTo install the new version, you should "
     L"uninstall the current version."},
    {kMsgNotAdmin, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!",
     L"Please run Qerv setup with admin permission!"},
    {kMsgOldEditionFound,
     L"Máy tính của bạn đã được cài sẵn Qerv. Bạn cần gỡ bỏ phiên bản Qerv đang có trên máy tính "
     L"trước khi cài đặt phiên bản Qerv Vantorel Internet Security!",
     L"Qerv has already been installed on your computer.\nTo install the Qerv Vantorel Internet "
     L"Security version, you should uninstall the current version."},
};

const std::size_t kMessageTableSize = sizeof(MessageTable) / sizeof(MessageTable[0]);

std::wstring GetMessageText(std::int32_t nKey) {
    const std::int32_t nLanguage = g_nLanguage.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < kMessageTableSize; ++i) {
        const MessageEntry& entry = MessageTable[i];
        if (entry.nKey != nKey) continue;
        return nLanguage == kLanguageEnglish ? entry.szEnglish : entry.szVietnamese;
    }
    return std::wstring();
}
