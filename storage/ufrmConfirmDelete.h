#pragma once
// The delete question: Yes or No, and whether to move the items to the trash folder or delete them
// for good.
#ifdef _WIN32
#include "uTDialogForm.h"

constexpr int kNotDeleteId = 102;
constexpr int kDeleteId = 103;

class TfrmConfirmDelete : public TDialogForm {
public:
    TfrmConfirmDelete();   // 411 x 151; Esc answers No (7)
    std::string Message;
    std::string NotDeleteCaption, DeleteCaption;   // the two radio buttons
    std::string YesCaption, NoCaption;
    // Result: true when "delete permanently" was selected as the form closed.
    bool Permanent = false;

protected:
    HWND CreateControls() override;
    void Closing(int result) override;
};
#endif
