#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// Interface language: 1 English, any other value Vietnamese. Set once at start-up from the value
// the installed suite keeps in the registry; read by every thread, hence atomic.
extern std::atomic<std::int32_t> g_nLanguage;

constexpr std::int32_t kLanguageEnglish = 1;

// Dialog title and caption of the boxes shown with MessageBoxW, the same in both languages.
constexpr wchar_t kInstallationCaption[] = L"Qerv Vantorel Installation";

// Message keys. Gaps in the numbering are keys that the table does not hold.
constexpr std::int32_t kMsgCancel = 0;
constexpr std::int32_t kMsgDownloadFailed = 1;
constexpr std::int32_t kMsgDownloadCompleted = 2;
constexpr std::int32_t kMsgInitFailed = 3;
constexpr std::int32_t kMsgSwitchToDefaultProxy = 4;
constexpr std::int32_t kMsgSwitchToIeProxy = 5;
constexpr std::int32_t kMsgElevationDeclined = 6;
constexpr std::int32_t kMsgStopQuestion = 7;
constexpr std::int32_t kMsgDefaultProxyPrefix = 8;
constexpr std::int32_t kMsgIeProxyPrefix = 9;
constexpr std::int32_t kMsgStageInitResource = 10;
constexpr std::int32_t kMsgStageInitConnection = 11;
constexpr std::int32_t kMsgStageCheckInternet = 12;
constexpr std::int32_t kMsgStageAnalyzing = 13;
constexpr std::int32_t kMsgStageConnecting = 14;
constexpr std::int32_t kMsgStageInitRequest = 15;
constexpr std::int32_t kMsgStageSendingRequest = 16;
constexpr std::int32_t kMsgStageDownloading = 17;
constexpr std::int32_t kMsgStageNoSpace = 18;
constexpr std::int32_t kMsgStageResuming = 19;
constexpr std::int32_t kMsgInstalledEditionFound = 22;  // %s: the installed product's name
constexpr std::int32_t kMsgNotAdmin = 23;
constexpr std::int32_t kMsgOldEditionFound = 25;

struct MessageEntry {
    std::int32_t nKey;
    const wchar_t* szVietnamese;
    const wchar_t* szEnglish;
};

extern const MessageEntry MessageTable[];
extern const std::size_t kMessageTableSize;

// The text of a key in the language that g_nLanguage selects at the time of the call; the empty
// string for a key that the table does not hold.
std::wstring GetMessageText(std::int32_t nKey);
