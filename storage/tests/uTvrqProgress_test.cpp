// The progress of an operation over the shell's real progress window.
#include "uGLBConst.h"
#include "uTDialogForm.h"
#include "uTvrqDialog.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <thread>

namespace {

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

template <class Done>
bool WaitFor(Done done) {
    for (int i = 0; i < 200; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

TEST(ProgressAnimation, TableOfShellResources) {
    const uint16_t expected[] = {0, 150, 151, 152, 160, 161, 162, 163, 164, 0, 0};
    for (uint8_t i = 0; i < 11; ++i)
        EXPECT_EQ(ProgressAnimationResource(i), expected[i]) << int(i);
    EXPECT_EQ(ProgressAnimationResource(255), 0);
}

TEST_F(ProgressTest, NothingHappensBeforeStart) {
    TvrqProgress progress;
    progress.StepBy(3);
    progress.ExtendBy(4);
    progress.SetDetail("x");
    progress.Reset(9);
    EXPECT_FALSE(progress.Cancelled());
    int32_t position = -1, maximum = -1;
    progress.GetState(position, maximum);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(maximum, 1);
    EXPECT_FALSE(progress.Dialog);
}

TEST_F(ProgressTest, StepsAndResetOnTheRealWindow) {
    TvrqDialog dialog;
    TvrqProgress& progress = dialog.Progress;
    progress.Start("Cache wird erstellt...", 10, false);
    ASSERT_TRUE(progress.Dialog);
    ASSERT_TRUE(progress.Dialog->Dialog) << "the shell progress dialog is there";
    EXPECT_FALSE(progress.CountSteps);
    EXPECT_EQ(progress.Dialog->Animation, 4);
    EXPECT_EQ(progress.Dialog->CancelMessage, "Ab&brechen");
    int32_t position, maximum;
    progress.StepBy(3);
    progress.GetState(position, maximum);
    EXPECT_EQ(position, 3);
    EXPECT_EQ(maximum, 10);
    progress.Reset(5);
    progress.GetState(position, maximum);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(maximum, 5);
    progress.ExtendBy(2);
    progress.StepBy(1);
    progress.GetState(position, maximum);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(maximum, 7);
    progress.SetLines("eins", "zwei", 1);
    EXPECT_EQ(progress.Dialog->Line1, "eins");
    EXPECT_EQ(progress.Dialog->Line2, "zwei");
    EXPECT_EQ(progress.Dialog->Animation, 1);
    EXPECT_FALSE(progress.Cancelled());
}

TEST_F(ProgressTest, SecondStartKeepsTheWindowAndItsTitle) {
    SetLanguage(1);
    TvrqProgress progress;
    progress.Start("First title", 4, true);
    TProgressDialog* first = progress.Dialog.get();
    HWND window = progress.WindowHandle();
    progress.SetDetail("detail");
    progress.StepBy(2);
    progress.Start("Second title", 8, true);
    SetLanguage(0);
    EXPECT_EQ(progress.Dialog.get(), first);
    EXPECT_EQ(progress.WindowHandle(), window);
    EXPECT_EQ(progress.Dialog->Line1, "Second title");
    EXPECT_EQ(progress.Dialog->Line2, "");
    EXPECT_EQ(progress.Dialog->CancelMessage, "&Cancel");
    int32_t position, maximum;
    progress.GetState(position, maximum);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(maximum, 8);
    if (window) {
        EXPECT_EQ(WindowTextUtf8(window), "First title");
        EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    }
}

TEST_F(ProgressTest, CancelOfTheWindowIsSeenUntilClose) {
    TvrqProgress progress;
    progress.StartDefault();
    HWND window = progress.WindowHandle();
    ASSERT_TRUE(window) << "the shell tells its window";
    EXPECT_EQ(progress.Dialog->Line1, "Bitte warten...");
    EXPECT_TRUE(progress.CountSteps);
    EXPECT_FALSE(progress.Cancelled());
    HWND cancel = GetDlgItem(window, IDCANCEL);
    ASSERT_TRUE(cancel);
    SendMessageW(cancel, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return progress.Cancelled(); }));
    // A second Start on the same window keeps the cancellation: the operation stops at its poll.
    progress.Start("again", 3, true);
    EXPECT_TRUE(progress.Cancelled());
    progress.Close();
    EXPECT_FALSE(progress.Cancelled());
    EXPECT_FALSE(IsWindow(window) && IsWindowVisible(window));
    progress.StartDefault();
    EXPECT_FALSE(progress.Cancelled());
}

// Without the shell object (here: no COM on the thread) the operation runs on without a window and
// is never seen as cancelled.
TEST(ProgressWithoutShell, RunsOnAndIsNeverCancelled) {
    std::thread worker([] {
        TvrqProgress progress;
        progress.Start("no window", 10, true);
        ASSERT_TRUE(progress.Dialog);
        EXPECT_FALSE(progress.Dialog->Dialog);
        EXPECT_EQ(progress.WindowHandle(), nullptr);
        EXPECT_FALSE(progress.Cancelled());
        progress.StepBy(4);
        progress.SetDetail("still going");
        progress.SetLines("a", "b", 2);
        int32_t position, maximum;
        progress.GetState(position, maximum);
        EXPECT_EQ(position, 4);
        EXPECT_EQ(maximum, 10);
        EXPECT_FALSE(progress.Cancelled());
    });
    worker.join();
}

}  // namespace
