// The change-notice routine: a notice reaches the view windows registered for the affected folder
// as message 1361, and a registration ends with its window.
#include "SxShellView.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TSxPidlPtr Item(const std::string& text) { return TSxPidlPtr(PIDLCreateItem(text.data(), text.size())); }

TSxPidlPtr Path(std::initializer_list<std::string> parts)
{
    TSxPidlPtr list(PIDLCreateEmpty());
    for (const auto& part : parts) {
        auto item = Item(part);
        list.reset(PIDLCombine(list.get(), item.get()));
    }
    return list;
}

class TestWindow {
public:
    TestWindow()
    {
        Handle = CreateWindowExW(0, L"STATIC", L"view", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~TestWindow()
    {
        UnregisterShellView(Handle);
        DestroyWindow(Handle);
    }
    // The events of the 1361 messages waiting for this window.
    std::vector<WPARAM> Notices()
    {
        std::vector<WPARAM> events;
        MSG msg;
        while (PeekMessageW(&msg, Handle, SxShellChangeMessage, SxShellChangeMessage, PM_REMOVE))
            events.push_back(msg.wParam);
        return events;
    }
    HWND Handle;
};

TEST(ShellViewNotify, ItemNoticesReachTheParentsViewsAndFolderNoticesTheFoldersOwn)
{
    auto folder = Path({"root", "F"});
    auto item = Path({"root", "F", "a.txt"});
    auto renamed = Path({"root", "F", "b.txt"});
    TestWindow viewOfFolder, viewOfItem, viewOfOther;
    ASSERT_NE(viewOfFolder.Handle, nullptr);
    RegisterShellView(TSxChangeNotifyType::cntLocal, folder.get(), viewOfFolder.Handle);
    RegisterShellView(TSxChangeNotifyType::cntLocal, item.get(), viewOfItem.Handle);
    auto other = Path({"root", "G"});
    RegisterShellView(TSxChangeNotifyType::cntLocal, other.get(), viewOfOther.Handle);

    NotifyShellChange(SHCNE_RENAMEITEM, SHCNF_IDLIST, item.get(), renamed.get());
    EXPECT_EQ(viewOfFolder.Notices(), std::vector<WPARAM>{SHCNE_RENAMEITEM});
    EXPECT_TRUE(viewOfItem.Notices().empty());

    NotifyShellChange(SHCNE_UPDATEDIR, SHCNF_IDLIST, folder.get(), nullptr);
    EXPECT_EQ(viewOfFolder.Notices(), std::vector<WPARAM>{SHCNE_UPDATEDIR});
    EXPECT_TRUE(viewOfItem.Notices().empty());
    EXPECT_TRUE(viewOfOther.Notices().empty());

    // A notice without a list reaches nobody (not even a view of the empty list).
    TestWindow desktop;
    auto empty = Path({});
    RegisterShellView(TSxChangeNotifyType::cntLocal, empty.get(), desktop.Handle);
    NotifyShellChange(SHCNE_UPDATEITEM, SHCNF_IDLIST, nullptr, nullptr);
    EXPECT_TRUE(desktop.Notices().empty());
}

TEST(ShellViewNotify, RegistrationEndsWithTheWindow)
{
    auto folder = Path({"root", "H"});
    auto item = Path({"root", "H", "x"});
    TestWindow view;
    uint32_t first = RegisterShellView(TSxChangeNotifyType::cntLocal, folder.get(), view.Handle);
    uint32_t second = RegisterShellView(TSxChangeNotifyType::cntLocal, folder.get(), view.Handle);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(ShellViewRegistrationCount(view.Handle), 2u);
    UnregisterShellView(view.Handle);
    EXPECT_EQ(ShellViewRegistrationCount(view.Handle), 0u);
    NotifyShellChange(SHCNE_CREATE, SHCNF_IDLIST, item.get(), nullptr);
    EXPECT_TRUE(view.Notices().empty());
}

} // namespace
