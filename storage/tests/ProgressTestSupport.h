#pragma once
// Presses Cancel on the real shell progress window and waits until the progress reports it.
#include "uTWEBDAVClient.h"
#include "uTvrqProgress.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <thread>

inline void PressProgressCancel(TvrqProgress& progress)
{
    const HWND window = progress.WindowHandle();
    ASSERT_TRUE(window) << "the shell progress window";
    const HWND cancel = GetDlgItem(window, IDCANCEL);
    ASSERT_TRUE(cancel);
    SendMessageW(cancel, BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && !progress.Cancelled(); ++i) {
        TWEBDAVClient::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(progress.Cancelled());
}
