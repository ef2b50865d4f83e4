#pragma once
// The replace question with Yes, Yes to all, No and Cancel.
#ifdef _WIN32
#include "uTDialogForm.h"

class TfrmConfirmOverwrite : public TDialogForm {
public:
    TfrmConfirmOverwrite();   // 413 x 151; Esc answers Cancel (2)
    std::string Message;
    bool QuestionVisible = false;
    std::string YesCaption, YesToAllCaption, NoCaption, CancelCaption;

protected:
    HWND CreateControls() override;
};
#endif
