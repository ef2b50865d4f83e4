#include "uTDialogForm.h"

#include "uGLBResources.h"
#include "uGLBWin.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

TDialogTemplate::TDialogTemplate(DWORD style, const wchar_t* caption, const wchar_t* fontFace, WORD pointSize) {
    Dword(style);
    Dword(0);   // no extended style
    FCountAt = FWords.size();
    Word(0);    // no items yet
    for (int i = 0; i < 4; ++i)
        Word(0);   // placed when the dialog starts
    Word(0);    // no menu
    Word(0);    // the dialog class
    Text(caption);
    Word(pointSize);
    Text(fontFace);
}

void TDialogTemplate::Add(WORD classAtom, DWORD style, WORD id, const wchar_t* text) {
    while (FWords.size() % 2)
        Word(0);   // items start on a DWORD boundary
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (int i = 0; i < 4; ++i)
        Word(1);
    Word(id);
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0);   // no creation data
    ++FWords[FCountAt];
}

void TDialogTemplate::Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
}

void TDialogTemplate::Text(const wchar_t* text) {
    for (; *text; ++text)
        Word(static_cast<WORD>(*text));
    Word(0);
}

std::wstring WindowTextWide(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

std::string WindowTextUtf8(HWND window) {
    return WideToUtf8(WindowTextWide(window));
}

TDialogForm::TDialogForm(int clientWidth, int clientHeight, int escapeResult)
    : ClientWidth(clientWidth), ClientHeight(clientHeight), EscapeResult(escapeResult) {}

int TDialogForm::ShowModal() {
    // Without items: the form makes its controls itself, placed in pixels.
    const TDialogTemplate form(kFormStyle, L"", L"MS Sans Serif", 8);
    INT_PTR result = DialogBoxIndirectParamW(ThisModule(), form.Get(), nullptr, DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    Handle = nullptr;
    return result > 0 ? static_cast<int>(result) : 2;
}

INT_PTR CALLBACK TDialogForm::DialogProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<TDialogForm*>(lParam)->Handle = window;
    }
    auto* form = reinterpret_cast<TDialogForm*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!form)
        return FALSE;
    try {
        return form->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may cross into the window manager: the question counts as not answered.
        EndDialog(window, 2);
        return TRUE;
    }
}

void TDialogForm::Place() {
    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(Handle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(Handle, GWL_EXSTYLE)));
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    RECT desk{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &desk, 0);
    int x = desk.left + (desk.right - desk.left - width) / 2;
    int y = desk.top + (desk.bottom - desk.top - height) / 2;
    SetWindowPos(Handle, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE);
}

INT_PTR TDialogForm::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowTextW(Handle, Utf8ToWide(Caption).c_str());
        Place();
        HWND focus = CreateControls();
        if (DefaultId)
            SendMessageW(Handle, DM_SETDEFID, static_cast<WPARAM>(DefaultId), 0);
        if (focus) {
            SendMessageW(Handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
            if (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
                SendMessageW(focus, EM_SETSEL, 0, -1);
        }
        return FALSE;   // the focus is set
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        // Esc arrives as IDCANCEL; where a Cancel button exists its answer is the same.
        if (id == IDCANCEL)
            Finish(EscapeResult);
        else if (code == BN_CLICKED && IsButton(id)) {
            if (MayClose(id))
                Finish(id);
        } else
            Command(id, code);
        return TRUE;
    }
    case WM_CLOSE:
        Finish(2);
        return TRUE;
    }
    return FALSE;
}

bool TDialogForm::IsButton(int id) const {
    for (int button : Buttons)
        if (button == id)
            return true;
    return false;
}

void TDialogForm::Finish(int result) {
    Closing(result);
    EndDialog(Handle, result);
}

HWND TDialogForm::AddControl(const wchar_t* windowClass, const std::string& text, DWORD style,
                             int x, int y, int width, int height, int id, DWORD exStyle) {
    HWND control = CreateWindowExW(exStyle, windowClass, Utf8ToWide(text).c_str(),
                                   WS_CHILD | WS_VISIBLE | style, x, y, width, height, Handle,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   ThisModule(), nullptr);
    if (!control)
        throw std::runtime_error("CreateWindowExW failed");
    SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(SendMessageW(Handle, WM_GETFONT, 0, 0)),
                 FALSE);
    return control;
}

TDialogForm::~TDialogForm() {
    if (Banner)
        DeleteObject(Banner);
}

HWND TDialogForm::AddButton(const std::string& text, int x, int y, int answer, bool isDefault, int width) {
    Buttons.push_back(answer);
    if (isDefault)
        DefaultId = answer;
    return AddControl(L"BUTTON", text,
                      WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), x, y, width, 25,
                      answer);
}

HWND TDialogForm::AddBanner(int id) {
    HWND banner = AddControl(L"STATIC", "", SS_BITMAP | SS_REALSIZECONTROL, 0, 0, ClientWidth, kBannerHeight, id);
    if (!Banner)
        Banner = LoadBanner(ClientWidth);
    if (Banner)
        SendMessageW(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Banner));
    return banner;
}

void TDialogForm::AddHint(HWND control, const std::string& hint) {
    ::AddHint(Tip, Handle, control, hint);
}

HWND TDialogForm::AddQuestionImage(int x, int y) {
    HWND image = AddControl(L"STATIC", "", SS_ICON, x, y, 32, 32, kQuestionImageId);
    SendMessageW(image, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_QUESTION)), 0);
    return image;
}
