#pragma once
// The frame of the small modal forms: a dialog window made from an in-memory template, MS Sans
// Serif 8 pt, border with the system menu only, controls placed in pixels of the client area,
// centred on the desktop and top-most. Control identifiers of buttons are their answer codes.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// An in-memory dialog template (DLGTEMPLATE with its font), the one builder of every dialog that
// is made without a resource. Controls added here get WS_CHILD | WS_VISIBLE and a 1 x 1 frame;
// their dialog procedure places them in pixels.
class TDialogTemplate {
public:
    TDialogTemplate(DWORD style, const wchar_t* caption, const wchar_t* fontFace, WORD pointSize);
    // classAtom: 0x0080 button, 0x0081 edit, 0x0082 static.
    void Add(WORD classAtom, DWORD style, WORD id, const wchar_t* text);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(FWords.data()); }

private:
    void Word(WORD w) { FWords.push_back(w); }
    void Dword(DWORD d);
    void Text(const wchar_t* text);

    std::vector<WORD> FWords;
    size_t FCountAt = 0;
};

// Control identifiers shared by the forms (buttons use their answer codes, all below 100).
constexpr int kQuestionImageId = 100;
constexpr int kMessageId = 101;

class TDialogForm {
public:
    virtual ~TDialogForm();
    TDialogForm(const TDialogForm&) = delete;
    TDialogForm& operator=(const TDialogForm&) = delete;

    // Shows the form modally, without owner; returns the answer code (2 when the window is closed
    // by its system button or could not be made).
    int ShowModal();

    std::string Caption;

protected:
    TDialogForm(int clientWidth, int clientHeight, int escapeResult);

    // Makes the controls (in tab order) and returns the control that gets the focus.
    virtual HWND CreateControls() = 0;
    // A command of a control other than a button click that ends the form.
    virtual void Command(int id, int code) { (void)id; (void)code; }
    // Whether the button `id` may end the form now (a disabled default button may not).
    virtual bool MayClose(int id) { (void)id; return true; }
    // Reads the form's results before the window goes.
    virtual void Closing(int result) { (void)result; }

    HWND AddControl(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y,
                    int width, int height, int id, DWORD exStyle = 0);
    HWND AddButton(const std::string& text, int x, int y, int answer, bool isDefault, int width = 75);
    HWND AddQuestionImage(int x, int y);
    // The product banner across the top of the form (kBannerHeight pixels high).
    HWND AddBanner(int id);
    // The hint shown over a control.
    void AddHint(HWND control, const std::string& hint);
    HWND Item(int id) const { return GetDlgItem(Handle, id); }

    HWND Handle = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Finish(int result);
    void Place();
    bool IsButton(int id) const;

    int ClientWidth, ClientHeight;
    int EscapeResult;
    int DefaultId = 0;
    std::vector<int> Buttons;
    HBITMAP Banner = nullptr;
    HWND Tip = nullptr;
};

// Text of a window.
std::wstring WindowTextWide(HWND window);
std::string WindowTextUtf8(HWND window);
#endif
