#include "ufrmConfirmOverwrite.h"

TfrmConfirmOverwrite::TfrmConfirmOverwrite() : TDialogForm(413, 151, 2) {}

HWND TfrmConfirmOverwrite::CreateControls() {
    AddControl(L"STATIC", Message, SS_LEFT | SS_NOPREFIX, 56, 16, 345, 97, kMessageId);
    HWND image = AddQuestionImage(12, 12);
    ShowWindow(image, QuestionVisible ? SW_SHOW : SW_HIDE);
    // Tab order: Yes, No, Yes to all, Cancel.
    HWND yes = AddButton(YesCaption, 64, 116, 6, true);
    AddButton(NoCaption, 240, 116, 7, false);
    AddButton(YesToAllCaption, 152, 116, 10, false);
    AddButton(CancelCaption, 328, 116, 2, false);
    return yes;
}
