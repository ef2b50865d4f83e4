#include "ufrmNewFolder.h"

#include "uGLBWin.h"

#include <commctrl.h>

#include <cwchar>

wchar_t FilterNameChar(wchar_t typed) {
    return typed != 0 && std::wcschr(L"\"*/:<>?\\|", typed) ? L' ' : typed;
}

bool IsNameGiven(const std::wstring& name) {
    for (wchar_t c : name)
        if (c > L' ')
            return true;
    return false;
}

TfrmNewFolder::TfrmNewFolder() : TDialogForm(207, 91, 2) {}

HWND TfrmNewFolder::CreateControls() {
    AddControl(L"STATIC", "Name:", SS_LEFT, 8, 12, 189, 13, kPathNameLabelId);
    HWND edit = AddControl(L"EDIT", PathName, ES_AUTOHSCROLL | WS_TABSTOP, 8, 28, 189, 21,
                           kPathNameId, WS_EX_CLIENTEDGE);
    SetWindowSubclass(edit, FilterKeys, 1, 0);
    AddButton(OkCaption, 44, 60, 1, true);
    AddButton(CancelCaption, 124, 60, 2, false);
    UpdateOk();

    AddHint(edit, Hint);
    return edit;
}

LRESULT CALLBACK TfrmNewFolder::FilterKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR id, DWORD_PTR) {
    if (message == WM_CHAR && wParam >= 32 && wParam <= 127)
        wParam = static_cast<WPARAM>(FilterNameChar(static_cast<wchar_t>(wParam)));
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(edit, FilterKeys, id);
    return DefSubclassProc(edit, message, wParam, lParam);
}

void TfrmNewFolder::UpdateOk() {
    EnableWindow(Item(1), IsNameGiven(WindowTextWide(Item(kPathNameId))));
}

void TfrmNewFolder::Command(int id, int code) {
    if (id == kPathNameId && code == EN_CHANGE)
        UpdateOk();
}

bool TfrmNewFolder::MayClose(int id) {
    return id != 1 || IsWindowEnabled(Item(1));
}

void TfrmNewFolder::Closing(int result) {
    if (result == 1)
        PathName = WindowTextUtf8(Item(kPathNameId));
}
