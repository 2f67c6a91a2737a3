// The status line on screen: the status-line thread's animation, the worker's hold on the line,
// and the transparent control redrawing over the dialog's white with no remains of older texts.
#include "ui_dialog_harness.h"

namespace {

using uitest::DialogRun;
using uitest::DialogTest;

// The distinct texts that the status line shows during timeoutMs, in order.
std::vector<std::wstring> WatchTexts(HWND hStatus, DWORD timeoutMs) {
    std::vector<std::wstring> seen;
    const DWORD dwEnd = ::GetTickCount() + timeoutMs;
    while (static_cast<LONG>(dwEnd - ::GetTickCount()) > 0) {
        std::wstring text = uitest::WindowText(hStatus);
        if (!text.empty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
        ::Sleep(25);
    }
    return seen;
}

TEST_F(DialogTest, StatusLineAnimatesOnceTheDownloadObjectExists) {
    struct Case {
        DWORD dwLanguage, dwType, dwStatus;
        const wchar_t* szLine;
    } const kCases[] = {
        // A new download object: no prefix, the first stage.
        {0, 0, 999, L"Đang khởi tạo tài nguyên"},
        {1, 3, 8, L"Download via IE proxy configuration: Downloading installer"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.dwStatus);
        StoreLanguage(c.dwLanguage);
        uitest::StatusObject().m_dwType = c.dwType;
        uitest::StatusObject().m_dwStatus = c.dwStatus;
        g_pWinHttpWrapper = nullptr;
        DialogRun run;
        ASSERT_TRUE(run.WaitForWorker());
        g_pWinHttpWrapper = &uitest::StatusObject();

        // One dot more every half second, from one to three and round again.
        const std::wstring line = c.szLine;
        std::vector<std::wstring> seen = WatchTexts(run.Control(1007), 2300);
        seen.resize(4);
        EXPECT_EQ(seen, (std::vector<std::wstring>{line + L".", line + L"..", line + L"...",
                                                   line + L"."}));
    }
}

TEST_F(DialogTest, WorkersNoticeStaysUntilItLetsTheLineGo) {
    uitest::StatusObject().m_dwType = 0;
    uitest::StatusObject().m_dwStatus = 999;
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    g_pWinHttpWrapper = &uitest::StatusObject();
    HWND hStatus = run.Control(1007);
    ASSERT_TRUE(uitest::WaitUntil([&] { return !uitest::WindowText(hStatus).empty(); }));

    const std::wstring notice =
        L"Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình IE proxy";
    run.View()->PauseStatusText();
    run.View()->SetStatusText(notice.c_str());
    // Two ticks of the status line pass without a write.
    EXPECT_EQ(WatchTexts(hStatus, 1200), std::vector<std::wstring>{notice});

    run.View()->ResumeStatusText();
    ASSERT_TRUE(uitest::WaitUntil([&] { return uitest::WindowText(hStatus) != notice; }, 2000));
    EXPECT_EQ(uitest::WindowText(hStatus).rfind(L"Đang khởi tạo tài nguyên.", 0), 0u);
}

// The control's pixels as on screen, each 0x00RRGGBB, top row first.
std::vector<DWORD> Capture(HWND hWnd, int* pnWidth) {
    RECT rect;
    ::GetClientRect(hWnd, &rect);
    *pnWidth = rect.right;
    HDC hWindowDC = ::GetDC(hWnd);
    HDC hMemDC = ::CreateCompatibleDC(hWindowDC);
    HBITMAP hBitmap = ::CreateCompatibleBitmap(hWindowDC, rect.right, rect.bottom);
    HGDIOBJ hOld = ::SelectObject(hMemDC, hBitmap);
    ::BitBlt(hMemDC, 0, 0, rect.right, rect.bottom, hWindowDC, 0, 0, SRCCOPY);
    ::SelectObject(hMemDC, hOld);
    BITMAPINFO info = {};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), rect.right, -rect.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(rect.right * rect.bottom);
    ::GetDIBits(hMemDC, hBitmap, 0, rect.bottom, pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(hBitmap);
    ::DeleteDC(hMemDC);
    ::ReleaseDC(hWnd, hWindowDC);
    return pixels;
}

// Pixels in columns [xFrom, xTo) that are not the dialog's white.
int CountNonWhite(const std::vector<DWORD>& pixels, int nWidth, int xFrom, int xTo) {
    int n = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const int x = static_cast<int>(i % nWidth);
        n += x >= xFrom && x < xTo && (pixels[i] & 0xFFFFFF) != 0xFFFFFF;
    }
    return n;
}

TEST_F(DialogTest, ShorterTextLeavesNoTraceOfTheLongerOne) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    HWND hStatus = run.Control(1007);
    uitest::WaitUntilFirstShown(run.Window());
    int cx = 0;

    run.View()->SetStatusText(
        L"Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp");
    std::vector<DWORD> longText = Capture(hStatus, &cx);
    ASSERT_GT(CountNonWhite(longText, cx, cx / 3, cx), 0) << "the long text is drawn";

    run.View()->SetStatusText(L"A.");
    std::vector<DWORD> shortText = Capture(hStatus, &cx);
    EXPECT_GT(CountNonWhite(shortText, cx, 0, cx / 3), 0) << "the short text is drawn";
    EXPECT_EQ(CountNonWhite(shortText, cx, cx / 3, cx), 0)
        << "remains of the long text, or a background other than the dialog's white";

    // Setting the same text again repaints it: a scribble over the control goes away.
    HDC hDC = ::GetDC(hStatus);
    RECT all = {0, 0, cx, 30};
    ::FillRect(hDC, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::ReleaseDC(hStatus, hDC);
    run.View()->SetStatusText(L"A.");
    EXPECT_EQ(Capture(hStatus, &cx), shortText);
}

}  // namespace
