// The real forms and boxes under the X display: a driver thread finds the window, checks its
// controls, presses keys or buttons the way a user does, and the answer code is checked.
#include "uGLBConst.h"
#include "uGLBWin.h"
#include "uTDialogForm.h"
#include "uTvrqDialog.h"
#include "ufrmConfirmDelete.h"
#include "ufrmNewFolder.h"
#include "WindowFit.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

struct Found {
    std::wstring caption;
    HWND window = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto* found = reinterpret_cast<Found*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t windowClass[16] = {};
    GetClassNameW(window, windowClass, 16);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        std::wstring(windowClass) == L"#32770" && WindowTextWide(window) == found->caption) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

// The visible dialog window of this process with the caption, waiting up to ten seconds.
HWND WaitForDialog(const std::string& caption) {
    Found found{Utf8ToWide(caption)};
    for (int i = 0; i < 400 && !found.window; ++i) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&found));
        if (!found.window)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return found.window;
}

// Runs `question` on this thread while `drive` works the window from another one.
int Drive(const std::string& caption, const std::function<int()>& question,
          const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
        HWND window = WaitForDialog(caption);
        if (window)
            drive(window);
    });
    int answer = question();
    driver.join();
    return answer;
}

void Key(HWND control, WPARAM key) {
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

void Type(HWND control, const std::wstring& text) {
    for (wchar_t c : text)
        PostMessageW(control, WM_CHAR, c, 1);
}

// Posted input is handled in order; this waits until the edit shows `text` (ten seconds at most).
bool WaitForText(HWND edit, const std::string& text) {
    for (int i = 0; i < 400; ++i) {
        if (WindowTextUtf8(edit) == text)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

RECT ClientRectOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct Layout {
    int id;
    int x, y, width, height;
    const char* text;
};

// The placed controls of a form, the client size, top-most and the font.
void ExpectForm(HWND window, int width, int height, const std::vector<Layout>& controls) {
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    for (const Layout& c : controls) {
        HWND control = GetDlgItem(window, c.id);
        ASSERT_TRUE(control) << c.id;
        RECT r = ClientRectOf(control);
        EXPECT_EQ(r.left, c.x) << c.id;
        EXPECT_EQ(r.top, c.y) << c.id;
        EXPECT_EQ(r.right - r.left, c.width) << c.id;
        EXPECT_EQ(r.bottom - r.top, c.height) << c.id;
        if (c.text) {
            EXPECT_EQ(WindowTextUtf8(control), c.text) << c.id;
        }
        auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        LOGFONTW face{};
        GetObjectW(font, sizeof face, &face);
        EXPECT_STREQ(face.lfFaceName, L"MS Sans Serif") << c.id;
    }
    // Nothing the user must read is cut off.
    EXPECT_EQ(fittest::FitFaults(window), std::vector<std::string>{});
}

std::vector<int> TabOrder(HWND window) {
    std::vector<int> order;
    HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
    HWND control = first;
    do {
        order.push_back(GetDlgCtrlID(control));
        control = GetNextDlgTabItem(window, control, FALSE);
    } while (control && control != first && order.size() < 10);
    return order;
}

// The control with the keyboard focus. A window of another test process may have taken the
// activation; the dialog gives the focus back to its control when it is activated again.
int FocusedId(HWND window) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        if (info.hwndFocus)
            return GetDlgCtrlID(info.hwndFocus);
        SetForegroundWindow(window);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return -1;
}

using fittest::HintOf;

TEST(FormConfirmOverwrite, ControlsTabOrderButtonsAndEsc) {
    TvrqDialog dialog;
    std::vector<int> order;
    int focus = -1;
    int answer = Drive("Ersetzen von Dateien bestätigen",
                       [&] { return dialog.ConfirmReplaceFileAll("Bericht & Plan.txt"); },
                       [&](HWND window) {
        ExpectForm(window, 413, 151,
                   {{kMessageId, 56, 16, 345, 97, nullptr},
                    {6, 64, 116, 75, 25, "&Ja"},
                    {10, 152, 116, 75, 25, "Ja, &alle"},
                    {7, 240, 116, 75, 25, "&Nein"},
                    {2, 328, 116, 75, 25, "Ab&brechen"}});
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, kQuestionImageId)));
        EXPECT_EQ(WindowTextUtf8(GetDlgItem(window, kMessageId)),
                  "Dieser Ordner enthält bereits eine Datei \"Bericht & Plan.txt\".\r\n\r\n"
                  "Möchten Sie die existierende Datei mit dieser ersetzen?");
        order = TabOrder(window);
        focus = FocusedId(window);
        SendMessageW(GetDlgItem(window, 10), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(answer, mrYesToAll);
    EXPECT_EQ(order, (std::vector<int>{6, 7, 10, 2}));
    EXPECT_EQ(focus, 6);

    // Esc cancels; Enter takes the default Yes; the system button closes as Cancel.
    struct Case { std::function<void(HWND)> press; int answer; };
    const Case cases[] = {
        {[](HWND w) { Key(GetDlgItem(w, 6), VK_ESCAPE); }, mrCancel},
        {[](HWND w) { Key(GetDlgItem(w, 6), VK_RETURN); }, mrYes},
        {[](HWND w) { SendMessageW(GetDlgItem(w, 7), BM_CLICK, 0, 0); }, mrNo},
        {[](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, mrCancel},
    };
    SetLanguage(1);
    for (const Case& c : cases)
        EXPECT_EQ(Drive("Confirm overwrite folder",
                        [&] { return dialog.ConfirmReplaceFolder("Fotos\\"); }, c.press),
                  c.answer);
    SetLanguage(0);
}

TEST(FormConfirmDelete, RadioChoiceYesEscAndClose) {
    TvrqDialog dialog;
    bool permanent = false;
    bool startedKept = false;
    int focus = -1;
    int answer = Drive("Löschen von Dateien bestätigen",
                       [&] { return dialog.ConfirmDeleteFile("a.txt", permanent); },
                       [&](HWND window) {
        ExpectForm(window, 411, 151,
                   {{kMessageId, 56, 12, 343, 53, nullptr},
                    {kNotDeleteId, 52, 72, 351, 17,
                     "in Ordner \"Gelöschte Dateien\" verschieben"},
                    {kDeleteId, 52, 92, 351, 17,
                     "unwiderruflich aus meinem Tandrel Vaultmere löschen"},
                    {6, 240, 120, 75, 25, "&Ja"},
                    {7, 328, 120, 75, 25, "&Nein"}});
        startedKept = SendMessageW(GetDlgItem(window, kNotDeleteId), BM_GETCHECK, 0, 0) ==
                      BST_CHECKED;
        focus = FocusedId(window);
        SendMessageW(GetDlgItem(window, kDeleteId), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(window, 6), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(answer, mrYes);
    EXPECT_TRUE(permanent);
    EXPECT_TRUE(startedKept);
    EXPECT_EQ(focus, 6);

    // Esc is No and leaves the choice as shown; the system button is Cancel.
    permanent = true;   // already permanent: the box, not the form
    EXPECT_EQ(Drive("Löschen von Ordnern bestätigen",
                    [&] { return dialog.ConfirmDeleteFolder("Fotos", permanent); },
                    [](HWND w) { SendMessageW(GetDlgItem(w, IDNO), BM_CLICK, 0, 0); }),
              mrNo);
    EXPECT_TRUE(permanent);
    permanent = false;
    EXPECT_EQ(Drive("Löschen von mehreren Dateien bestätigen",
                    [&] { return dialog.ConfirmDeleteItems(4, permanent); },
                    [](HWND w) { Key(GetDlgItem(w, 6), VK_ESCAPE); }),
              mrNo);
    EXPECT_FALSE(permanent);
    EXPECT_EQ(Drive("Löschen von Dateien bestätigen",
                    [&] { return dialog.ConfirmDeleteFile("b.txt", permanent); },
                    [](HWND w) {
                        SendMessageW(GetDlgItem(w, kDeleteId), BM_CLICK, 0, 0);
                        PostMessageW(w, WM_CLOSE, 0, 0);
                    }),
              mrCancel);
    EXPECT_TRUE(permanent);
}

TEST(FormNewFolder, FilteredKeysOkOnlyForANameAndEsc) {
    TvrqDialog dialog;
    std::string name = "Neuer Ordner";
    bool okAtStart = false, okForBlanks = true, stayedOpen = false, okForName = false;
    std::string afterTyping, hint;
    int focus = -1;
    int answer = Drive("Neuer Ordner", [&] { return dialog.AskNewFolderName(name); },
                       [&](HWND window) {
        ExpectForm(window, 207, 91,
                   {{kPathNameId, 8, 28, 189, 21, "Neuer Ordner"},
                    {kPathNameLabelId, 8, 12, 189, 13, "Name:"},
                    {1, 44, 60, 75, 25, "&Ok"},
                    {2, 124, 60, 75, 25, "Ab&brechen"}});
        HWND edit = GetDlgItem(window, kPathNameId);
        HWND ok = GetDlgItem(window, 1);
        focus = FocusedId(window);
        hint = HintOf(window, edit);
        DWORD from = 0, to = 0;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        okAtStart = IsWindowEnabled(ok) && from == 0 && to == 12;
        Type(edit, L"   ");   // replaces the selected name
        WaitForText(edit, "   ");
        okForBlanks = IsWindowEnabled(ok);
        Key(edit, VK_RETURN);   // a disabled OK does not close the form
        Key(edit, VK_HOME);
        Type(edit, L"a/b*c\\d");
        WaitForText(edit, "a b c d   ");
        afterTyping = WindowTextUtf8(edit);
        stayedOpen = IsWindowVisible(window);
        okForName = IsWindowEnabled(ok);
        Key(edit, VK_RETURN);
    });
    EXPECT_EQ(focus, kPathNameId);
    EXPECT_EQ(hint, "Ein Dateiname darf keines der folgenden Zeichen enthalten:\r\n\\/:*?\"<>|");
    EXPECT_TRUE(okAtStart);
    EXPECT_FALSE(okForBlanks);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(afterTyping, "a b c d   ");
    EXPECT_TRUE(okForName);
    EXPECT_EQ(answer, mrOk);
    EXPECT_EQ(name, "a b c d   ");

    // A pasted slash is not filtered (the caller checks the name); the text is taken untrimmed.
    answer = Drive("Neuer Ordner", [&] { return dialog.AskNewFolderName(name); },
                   [&](HWND window) {
        HWND edit = GetDlgItem(window, kPathNameId);
        if (OpenClipboard(window)) {
            EmptyClipboard();
            const wchar_t text[] = L" x/y ";
            HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof text);
            std::memcpy(GlobalLock(memory), text, sizeof text);
            GlobalUnlock(memory);
            SetClipboardData(CF_UNICODETEXT, memory);
            CloseClipboard();
        }
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SendMessageW(edit, WM_PASTE, 0, 0);
        SendMessageW(GetDlgItem(window, 1), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(answer, mrOk);
    EXPECT_EQ(name, " x/y ");

    // Esc cancels and keeps the name.
    EXPECT_EQ(Drive("Neuer Ordner", [&] { return dialog.AskNewFolderName(name); },
                    [](HWND w) {
                        HWND edit = GetDlgItem(w, kPathNameId);
                        Type(edit, L"zzz");
                        Key(edit, VK_ESCAPE);
                    }),
              mrCancel);
    EXPECT_EQ(name, " x/y ");
}

// Every form in both languages, with long names: each control inside the form, each caption whole.
TEST(Forms, EveryControlAndCaptionFitsInBothLanguages) {
    TvrqDialog dialog;
    bool permanent = false;
    std::string name = "Neuer Ordner";
    const std::string longName = "Bericht über das Jahr 2024 & die Pläne für 2025 (Entwurf).docx";
    struct Case {
        const char* caption[2];
        std::function<int()> question;
    };
    const Case cases[] = {
        {{"Ersetzen von Dateien bestätigen", "Confirm file replace"},
         [&] { return dialog.ConfirmReplaceFileAll(longName); }},
        {{"Ersetzen von Ordnern bestätigen", "Confirm overwrite folder"},
         [&] { return dialog.ConfirmReplaceFolder("Urlaub 2024"); }},
        {{"Löschen von Dateien bestätigen", "Confirm file deletion"},
         [&] { return dialog.ConfirmDeleteFile(longName, permanent); }},
        {{"Löschen von mehreren Dateien bestätigen", "Confirm deletion of multiple files."},
         [&] { return dialog.ConfirmDeleteItems(1234, permanent); }},
        {{"Löschen von Ordnern bestätigen", "Confirm deletion of folders"},
         [&] { return dialog.ConfirmDeleteFolder("Urlaub 2024", permanent); }},
        {{"Neuer Ordner", "New folder"}, [&] { return dialog.AskNewFolderName(name); }},
    };
    for (int language : {0, 1}) {
        SetLanguage(language);
        for (const Case& c : cases) {
            std::vector<std::string> faults{"not shown"};
            permanent = false;
            Drive(c.caption[language], c.question, [&](HWND window) {
                faults = fittest::FitFaults(window);
                PostMessageW(window, WM_CLOSE, 0, 0);
            });
            EXPECT_EQ(faults, std::vector<std::string>{}) << c.caption[language];
        }
    }
    SetLanguage(0);
}

TEST(MessageBoxes, ReplaceBoxAndWarning) {
    TvrqDialog dialog;
    EXPECT_EQ(Drive("Ersetzen von Dateien bestätigen",
                    [&] { return dialog.ConfirmReplaceFile("a.txt"); },
                    [](HWND w) { SendMessageW(GetDlgItem(w, IDYES), BM_CLICK, 0, 0); }),
              mrYes);
    std::string shown;
    Drive("Fehler",
          [&] {
              dialog.ShowWarning("Fehler", "Die Datei \"a&b\" konnte nicht kopiert werden!");
              return 0;
          },
          [&](HWND w) {
              shown = WindowTextUtf8(GetDlgItem(w, 0xFFFF));   // the box's text
              SendMessageW(GetDlgItem(w, IDOK), BM_CLICK, 0, 0);
          });
    EXPECT_EQ(shown, "Die Datei \"a&b\" konnte nicht kopiert werden!");
}

}  // namespace
