#pragma once
// One shell progress window (IProgressDialog): title, two lines, bar, animation and Cancel.
#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdint>
#include <stdexcept>
#include <string>

// A failed call of a COM interface; carries the HRESULT.
class EOleError : public std::runtime_error {
public:
    EOleError(const std::string& what, HRESULT code);
    HRESULT Code;
};

// The options of the window, combined with "|"; their values are the PROGDLG flags.
enum TProgressOption : uint32_t {
    poNormal = 0x00,
    poModal = 0x01,
    poAutoTime = 0x02,
    poNoTime = 0x04,
    poNoMinimize = 0x08,
    poNoProgressBar = 0x10,
};
using ProgressOptions = uint32_t;

// Animation index 0..8 -> resource number of the AVI in shell32.dll (0: none). Other indices give 0.
uint16_t ProgressAnimationResource(uint8_t index);

class TProgressDialog {
public:
    // Texts are UTF-8. When the shell object cannot be created the object still exists, without a
    // window: the setters keep their values without a shell call, and HasUserCancelled is false
    // (the operation runs on unseen, never as cancelled).
    // The window belongs to ownerWindow (nullptr: the desktop).
    TProgressDialog(const std::string& title, uint8_t animation, ProgressOptions options,
                    const std::string& cancelMessage, HWND ownerWindow = nullptr);
    ~TProgressDialog();
    TProgressDialog(const TProgressDialog&) = delete;
    TProgressDialog& operator=(const TProgressDialog&) = delete;

    bool HasUserCancelled();
    int32_t GetPosition() const { return Position; }
    // Setters raise EOleError when the shell refuses the call.
    void SetAnimation(uint8_t index);
    void SetCancelMessage(const std::string& text);
    void SetLine1(const std::string& text);
    void SetLine2(const std::string& text);
    void SetMax(int32_t n);
    void SetPosition(int32_t n);
    // How far (0 to 1) the step after Position has come, shown by the bar only: a transfer moves it
    // by bytes between its steps. SetPosition starts the next step at 0.
    void SetPart(double part);

    // The shell window (0 when there is none or the shell does not tell it).
    HWND WindowHandle() const { return Window; }

    uint8_t Animation = 0;
    std::string CancelMessage;
    std::string Line1, Line2;
    int32_t Max = 100;
    int32_t Position = 0;
    double Part = 0;
    Microsoft::WRL::ComPtr<IProgressDialog> Dialog;   // empty when creation failed

private:
    void SetLine(DWORD line, const std::string& text);
    void ShowProgress();
    HWND Window = nullptr;
};
#endif
