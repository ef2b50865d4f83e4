#pragma once
// Asks the name of a new folder; OK only while the name is not blank.
#ifdef _WIN32
#include "uTDialogForm.h"

constexpr int kPathNameLabelId = 104;
constexpr int kPathNameId = 105;

class TfrmNewFolder : public TDialogForm {
public:
    TfrmNewFolder();   // 207 x 91; Esc answers Cancel (2)
    std::string PathName;   // in: the proposed name; out (answer 1): the text as typed
    std::string Hint;       // shown over the name field
    std::string OkCaption, CancelCaption;

protected:
    HWND CreateControls() override;
    void Command(int id, int code) override;
    bool MayClose(int id) override;
    void Closing(int result) override;

private:
    static LRESULT CALLBACK FilterKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
    void UpdateOk();
};

// A character typed into the name that a file name cannot hold becomes a blank.
wchar_t FilterNameChar(wchar_t typed);
// Whether the name has anything but blanks and control characters.
bool IsNameGiven(const std::wstring& name);
#endif
