#include "uTProgressDialog.h"

#include "uGLBWin.h"

#include <cstdio>

namespace {

constexpr uint16_t kAnimations[9] = {0, 150, 151, 152, 160, 161, 162, 163, 164};

// CLSID_ProgressDialog and IID_IProgressDialog, as the shell registers them.
constexpr CLSID kClsidProgressDialog = {
    0xF8383852, 0xFCD3, 0x11D1, {0xA6, 0xB9, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};
constexpr IID kIidProgressDialog = {
    0xEBBC7C04, 0x315E, 0x11D2, {0xB6, 0x2F, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

void Check(HRESULT hr, const char* call) {
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof text, "%s failed (0x%08lX)", call,
                      static_cast<unsigned long>(hr));
        throw EOleError(text, hr);
    }
}

}  // namespace

EOleError::EOleError(const std::string& what, HRESULT code) : std::runtime_error(what), Code(code) {}

uint16_t ProgressAnimationResource(uint8_t index) {
    return index < 9 ? kAnimations[index] : 0;
}

TProgressDialog::TProgressDialog(const std::string& title, uint8_t animation,
                                 ProgressOptions options, const std::string& cancelMessage,
                                 HWND ownerWindow) {
    Microsoft::WRL::ComPtr<IUnknown> unknown;
    if (FAILED(CoCreateInstance(kClsidProgressDialog, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(unknown.GetAddressOf()))) ||
        FAILED(unknown->QueryInterface(kIidProgressDialog,
                                       reinterpret_cast<void**>(Dialog.GetAddressOf())))) {
        Dialog.Reset();
        return;
    }
    std::wstring wideTitle = Utf8ToWide(title);
    Check(Dialog->SetTitle(wideTitle.c_str()), "IProgressDialog.SetTitle");
    SetAnimation(animation);
    SetCancelMessage(cancelMessage);
    Check(Dialog->StartProgressDialog(ownerWindow ? ownerWindow : GetDesktopWindow(), nullptr, options, nullptr),
          "IProgressDialog.StartProgressDialog");
    Microsoft::WRL::ComPtr<IOleWindow> oleWindow;
    if (SUCCEEDED(Dialog.As(&oleWindow))) {
        HWND handle = nullptr;
        if (SUCCEEDED(oleWindow->GetWindow(&handle)))
            Window = handle;
    }
    // Only the z-order changes: the window stays above Explorer while the operation runs.
    if (Window)
        SetWindowPos(Window, HWND_TOPMOST, 30, 33, 381, 162,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

TProgressDialog::~TProgressDialog() {
    if (Dialog)
        Dialog->StopProgressDialog();
}

bool TProgressDialog::HasUserCancelled() {
    return Dialog && Dialog->HasUserCancelled();
}

void TProgressDialog::SetAnimation(uint8_t index) {
    Animation = index;
    if (!Dialog)
        return;
    uint16_t resource = ProgressAnimationResource(index);
    Check(Dialog->SetAnimation(GetModuleHandleW(L"shell32.dll"), resource),
          "IProgressDialog.SetAnimation");
}

void TProgressDialog::SetCancelMessage(const std::string& text) {
    CancelMessage = text;
    if (!Dialog)
        return;
    std::wstring wide = Utf8ToWide(text);
    Check(Dialog->SetCancelMsg(wide.c_str(), nullptr), "IProgressDialog.SetCancelMsg");
}

void TProgressDialog::SetLine(DWORD line, const std::string& text) {
    std::wstring wide = Utf8ToWide(text);
    Check(Dialog->SetLine(line, wide.c_str(), TRUE, nullptr), "IProgressDialog.SetLine");
}

void TProgressDialog::SetLine1(const std::string& text) {
    Line1 = text;
    if (!Dialog)
        return;
    SetLine(1, text);
}

void TProgressDialog::SetLine2(const std::string& text) {
    Line2 = text;
    if (!Dialog)
        return;
    SetLine(2, text);
}

void TProgressDialog::SetMax(int32_t n) {
    Max = n;
    ShowProgress();
}

void TProgressDialog::SetPosition(int32_t n) {
    Position = n;
    Part = 0;
    ShowProgress();
}

void TProgressDialog::SetPart(double part) {
    part = part < 0 ? 0 : part > 1 ? 1 : part;
    if (part == Part)
        return;
    Part = part;
    ShowProgress();
}

void TProgressDialog::ShowProgress() {
    if (!Dialog)
        return;
    // Each step in ten thousand parts, so that a part of a step shows.
    constexpr ULONGLONG kParts = 10000;
    const auto completed = static_cast<ULONGLONG>(static_cast<DWORD>(Position)) * kParts +
                           static_cast<ULONGLONG>(Part * kParts);
    Check(Dialog->SetProgress64(completed, static_cast<ULONGLONG>(static_cast<DWORD>(Max)) * kParts),
          "IProgressDialog.SetProgress64");
}
