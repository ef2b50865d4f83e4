// The tray icon against Wine's real notification area (under Xvfb, Wine's desktop running).
#include "SxTrayIcon.h"

#include <gtest/gtest.h>

namespace {

bool MenuSeen = false;
int Ticks = 0;

// Runs inside the menu's modal loop: notes that the menu window is up and closes it.
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD)
{
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && IsWindowVisible(menu))
        MenuSeen = true;
    if (MenuSeen || ++Ticks > 30)
        EndMenu();
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

TEST(TSxTrayIcon, AddsChangesShowsBalloonsAndRemoves)
{
    TSxTrayIcon icon;
    icon.SetIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)));
    int failures = 0;
    icon.OnFail = [&](TSxTrayIcon&, bool& retry) {
        ++failures;
        retry = false;
    };
    EXPECT_FALSE(icon.ModifyIcon()) << "no shell call while inactive";
    icon.SetActiveState(true);
    EXPECT_TRUE(icon.ModifyIcon()) << "the icon is there";
    icon.SetTip(std::string(200, 't'));
    EXPECT_EQ(wcslen(icon.IconData().szTip), 127u);
    EXPECT_TRUE(icon.ModifyIcon());

    EXPECT_TRUE(icon.ShowBalloon(std::string(300, 'b'), std::string(100, 'T'), TSxTrayIconInfoFlags::niifError));
    EXPECT_EQ(wcslen(icon.IconData().szInfo), 255u);
    EXPECT_EQ(wcslen(icon.IconData().szInfoTitle), 63u);
    EXPECT_EQ(icon.IconData().dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(icon.IconData().uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(icon.IconData().uTimeout, 10000u);
    icon.InfoText = "Verbunden";
    icon.SetInfoTitle("Sendrake");
    icon.InfoFlags = TSxTrayIconInfoFlags::niifInfo;
    EXPECT_TRUE(icon.ShowInfo());
    EXPECT_EQ(icon.IconData().dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_TRUE(icon.HideBalloon());

    // Explorer lost the icon (as when it restarts); "TaskbarCreated" brings it back.
    NOTIFYICONDATAW data = icon.IconData();
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_FALSE(icon.ModifyIcon());
    SendMessageW(icon.Handle(), TSxTrayIcon::TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(icon.ModifyIcon());

    icon.SetActiveState(false);
    EXPECT_FALSE(icon.DeleteIcon()) << "already gone";
    SendMessageW(icon.Handle(), TSxTrayIcon::TaskbarCreatedMessage(), 0, 0);
    EXPECT_FALSE(icon.ModifyIcon()) << "an inactive icon is not added back";
    EXPECT_GE(failures, 1);
}

TEST(TSxTrayIcon, MouseMessagesBecomeEventsAndTheMenuOpens)
{
    TSxTrayIcon icon;
    icon.SetIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)));
    icon.SetActiveState(true);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 100, L"Explore");
    AppendMenuW(menu, MF_STRING, 101, L"Exit");
    SetMenuDefaultItem(menu, 100, FALSE);
    icon.PopupMenu = menu;
    int clicks = 0, ups = 0, doubles = 0;
    std::vector<UINT> commands;
    icon.OnClick = [&](TSxTrayIcon&) { ++clicks; };
    icon.OnDblClick = [&](TSxTrayIcon&) { ++doubles; };
    icon.OnMouseUp = [&](TSxTrayIcon&, TSxMouseButton, TSxShiftState, int, int) { ++ups; };
    icon.OnMenuCommand = [&](TSxTrayIcon&, UINT command) { commands.push_back(command); };
    auto send = [&](UINT mouse) { SendMessageW(icon.Handle(), TSxTrayIcon::CallbackMessage, icon.IconID(), mouse); };

    send(WM_LBUTTONUP); // no down on the icon: no click
    EXPECT_EQ(clicks, 0);
    send(WM_LBUTTONDOWN);
    send(WM_LBUTTONUP);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(ups, 2);

    UINT_PTR timer = SetTimer(nullptr, 0, 100, CloseMenu);
    send(WM_RBUTTONUP); // no down: no menu
    EXPECT_FALSE(MenuSeen);
    send(WM_RBUTTONDOWN);
    send(WM_RBUTTONUP);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(MenuSeen) << "the popup menu opened on the icon's message";
    EXPECT_EQ(ups, 4);
    Pump();

    send(WM_LBUTTONDBLCLK);
    send(WM_RBUTTONDBLCLK);
    EXPECT_EQ(doubles, 2);
    EXPECT_EQ(commands, (std::vector<UINT>{100, 100})) << "the default item runs on a double click";

    int shown = 0;
    icon.OnBalloonShow = [&](TSxTrayIcon&) { ++shown; };
    send(NIN_BALLOONSHOW);
    EXPECT_EQ(shown, 1);

    ISxTrayIcon* face = nullptr;
    ASSERT_EQ(icon.QueryInterface(IID_ISxTrayIcon, reinterpret_cast<void**>(&face)), S_OK);
    EXPECT_EQ(face->GetTrayIcon(), &icon);
    EXPECT_TRUE(face->GetActive());
    face->SetTipW(L"Tandrel Sendrake");
    EXPECT_EQ(icon.Tip(), "Tandrel Sendrake");
    icon.SetActiveState(false);
    DestroyMenu(menu);
}
