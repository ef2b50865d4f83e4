// The real message box of a STEP line, on the prefix's display: it shows the line and the log
// line is written once the box is closed.
#include "SettingsFixture.h"
#include "uTLogger.h"

#include <atomic>
#include <thread>

namespace {
struct TBoxSearch {
    HWND box = nullptr;
    std::wstring text;
};

BOOL CALLBACK FindText(HWND child, LPARAM param)
{
    auto* s = reinterpret_cast<TBoxSearch*>(param);
    wchar_t buf[512] = {};
    GetWindowTextW(child, buf, 512);
    if (wcsstr(buf, L"|STEP|")) s->text = buf;
    return TRUE;
}

BOOL CALLBACK FindBox(HWND wnd, LPARAM param)
{
    wchar_t cls[64] = {};
    GetClassNameW(wnd, cls, 64);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    auto* s = reinterpret_cast<TBoxSearch*>(param);
    s->box = wnd;
    EnumChildWindows(wnd, FindText, param);
    return FALSE;
}
} // namespace

TEST(LoggerRealBox, StepLineShowsTheBoxThenWrites)
{
    DeleteSettingsBranch();
    const std::string install = MakeTempFolder("box");
    StoreString("Application", "install", install);
    SetLogMessageBox(nullptr);   // the real box

    TLogger log(3, false, "Box");
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        threadId = GetCurrentThreadId();
        log.Log(4, "smoke");
        done = true;
    });
    TBoxSearch found;
    // A cold display can take several seconds to show the first window under a loaded machine.
    // The box can be found before its text is in it: wait for the text too.
    for (int i = 0; i < 1200 && found.text.empty(); ++i) {
        Sleep(50);
        if (threadId) EnumThreadWindows(threadId, FindBox, reinterpret_cast<LPARAM>(&found));
    }
    if (!found.box) {
        worker.detach();   // still blocked in the box; the process ends with the test
        FAIL() << "no message box appeared";
    }
    EXPECT_NE(found.text.find(L"|STEP|smoke"), std::wstring::npos);
    const bool writtenBeforeClose = GetFileAttributesW(Utf8ToWide(log.FileName).c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_FALSE(done.load());
    PostMessageW(found.box, WM_COMMAND, IDOK, 0);
    worker.join();
    EXPECT_FALSE(writtenBeforeClose);
    EXPECT_NE(GetFileAttributesW(Utf8ToWide(log.FileName).c_str()), INVALID_FILE_ATTRIBUTES);

    log.DeleteLogFile();
    RemoveDirectoryW(Utf8ToWide(install).c_str());
    DeleteSettingsBranch();
}
