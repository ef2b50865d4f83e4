// Smoke test of the real error presentations under Xvfb: each modal window opens with the
// error's text and closes by its own button.
#include "SxException.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

struct TSeen {
    std::wstring caption, shortInfo, extended;
    bool clipboard = false;
    int ticks = 0;
} Seen;

// Runs inside the modal loop: reads the dialog, presses its buttons.
void CALLBACK Operate(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = FindWindowW(L"#32770", L"Error");
    if (!dialog || !IsWindowVisible(dialog)) {
        if (++Seen.ticks > 50)
            PostQuitMessage(0);
        return;
    }
    wchar_t text[4096] = {};
    GetWindowTextW(dialog, text, 4096);
    Seen.caption = text;
    GetDlgItemTextW(dialog, 101, text, 4096);
    Seen.shortInfo = text;
    if (GetDlgItem(dialog, 103)) {
        GetDlgItemTextW(dialog, 103, text, 4096);
        Seen.extended = text;
        SendMessageW(GetDlgItem(dialog, 104), BM_CLICK, 0, 0); // "Copy to Clipboard"
        if (OpenClipboard(nullptr)) {
            HANDLE data = GetClipboardData(CF_UNICODETEXT);
            Seen.clipboard = data && std::wstring(static_cast<const wchar_t*>(GlobalLock(data))) == Seen.extended;
            if (data)
                GlobalUnlock(data);
            CloseClipboard();
        }
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    } else {
        SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }
}

} // namespace

TEST(SxErrorPresentations, ShowTheErrorAndClose)
{
    TSxComponent module;
    module.SetName("modMain");
    auto& controller = module.Add<TSxExceptionController>("sxController");
    for (auto type : {TSxErrorMessageType::dmsExtended, TSxErrorMessageType::dmtSimple}) {
        Seen = TSeen();
        controller.ErrorMessageType = type;
        UINT_PTR timer = SetTimer(nullptr, 0, 100, Operate);
        EXPECT_EQ(SxHandleException(&controller, std::make_exception_ptr(std::runtime_error("disk full"))), SxE_FAIL);
        KillTimer(nullptr, timer);
        EXPECT_EQ(Seen.caption, L"Error");
        EXPECT_NE(Seen.shortInfo.find(L"disk full"), std::wstring::npos);
        if (type == TSxErrorMessageType::dmsExtended) {
            EXPECT_NE(Seen.extended.find(L"Owner name : modMain\r\n"), std::wstring::npos) << Seen.extended.size();
            EXPECT_TRUE(Seen.clipboard);
        }
    }
}
