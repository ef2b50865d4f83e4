#include "ufrmConfirmDelete.h"

TfrmConfirmDelete::TfrmConfirmDelete() : TDialogForm(411, 151, 7) {}

HWND TfrmConfirmDelete::CreateControls() {
    // The message and the choices end at the form's right margin: in a wider font than the form
    // was laid out for, text past it was cut off.
    AddControl(L"STATIC", Message, SS_LEFT | SS_NOPREFIX, 56, 12, 343, 53, kMessageId);
    AddQuestionImage(12, 12);
    HWND keep = AddControl(L"BUTTON", NotDeleteCaption,
                           BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 52, 72, 351, 17,
                           kNotDeleteId);
    AddControl(L"BUTTON", DeleteCaption, BS_AUTORADIOBUTTON, 52, 92, 351, 17, kDeleteId);
    SendMessageW(keep, BM_SETCHECK, BST_CHECKED, 0);
    HWND yes = AddButton(YesCaption, 240, 120, 6, true);
    AddButton(NoCaption, 328, 120, 7, false);
    return yes;
}

void TfrmConfirmDelete::Closing(int) {
    Permanent = SendMessageW(Item(kDeleteId), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
