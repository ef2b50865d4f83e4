#include "SxException.h"

#include "uTSeam.h"
#include "uTUrl.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include "uGLBRegistry.h"
#include "uTDialogForm.h"
#include "uGLBWin.h"
#include "SxTools.h"
#include <windows.h>

#include <cstring>
#endif

namespace {

std::string ModuleNameOf(uintptr_t address)
{
#ifdef _WIN32
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH + 1] = {};
    if (address && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      reinterpret_cast<LPCWSTR>(address), &module) &&
        GetModuleFileNameW(module, path, MAX_PATH)) {
        const std::string full = WideToUtf8(path);
        return full.substr(full.find_last_of("\\/") + 1);
    }
#else
    (void)address;
#endif
    return "unknown";
}

std::string NowText()
{
#ifdef _WIN32
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
    return WideToUtf8(date) + " " + WideToUtf8(time);
#else
    char text[64] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%x %X", &local);
    return text;
#endif
}

} // namespace

TSxCustomExceptionInfo::TSxCustomExceptionInfo(const TSxComponent* sender, uintptr_t address,
                                               std::exception_ptr exception)
    : FSender(sender), FAddress(address), FException(std::move(exception))
{
    try {
        if (FException)
            std::rethrow_exception(FException);
        FClass = "Exception";
        FExceptionMessage = "No exception";
    } catch (const EAbort& e) {
        FAbort = true;
        FClass = "EAbort";
        FExceptionMessage = e.what();
    } catch (const std::exception& e) {
        FClass = ExceptionClassName(e);
        FExceptionMessage = e.what();
    } catch (...) {
        FClass = "Exception";
        FExceptionMessage = "Exception of a kind that is not a standard exception";
    }
}

void TSxCustomExceptionInfo::Build()
{
    BuildMessage();
    BuildDetails();
}

void TSxCustomExceptionInfo::BuildMessage()
{
    char address[32];
    std::snprintf(address, sizeof address, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(FAddress));
    Message = "Exception " + FClass + " in module " + ModuleNameOf(FAddress) + " at " + address + ". " +
              FExceptionMessage;
    if (Message.size() > 259)
        Message.resize(259);
}

void TSxCustomExceptionInfo::BuildDetails()
{
    AddDetail("Date/time", NowText());
    if (FSender) {
        AddDetail("Class", FSender->ClassName());
        AddDetail("Name", FSender->Name());
        AddDetail("Owner name", FSender->Owner() ? FSender->Owner()->Name() : "nil");
    }
}

void TSxOleSysExceptionInfo::BuildDetails()
{
    TSxCustomExceptionInfo::BuildDetails();
    try {
        std::rethrow_exception(Exception());
    } catch (const EOleSysError& e) {
        AddDetail("OleExceptionCode", std::to_string(e.ErrorCode));
    } catch (...) {
    }
}

void TSxCustomExceptionInfo::AddDetail(const std::string& name, const std::string& value)
{
    FNames.push_back(name);
    FValues.push_back(value);
}

std::string TSxCustomExceptionInfo::GetExtendedInfo() const
{
    size_t width = 0;
    for (const auto& name : FNames)
        width = std::max(width, name.size());
    std::string text;
    for (size_t i = 0; i < FNames.size(); ++i)
        text += FNames[i] + std::string(width - FNames[i].size(), ' ') + " : " + FValues[i] + "\r\n";
    return text;
}

TSxExceptionInfoFactory& TSxExceptionInfoFactory::Instance()
{
    static TSxExceptionInfoFactory factory;
    return factory;
}

namespace {

// The shared services' exception classes keep their own form; their names are known here.
void RegisterSharedExceptionNames()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterExceptionClassName(typeid(EURLDecode), "EURLDecode");
#ifdef _WIN32
        RegisterExceptionClassName(typeid(ERegistryError), "ERegistryError");
#endif
    });
}

} // namespace

std::unique_ptr<TSxCustomExceptionInfo> TSxExceptionInfoFactory::CreateInfo(const TSxComponent* sender, uintptr_t address,
                                                                            std::exception_ptr exception) const
{
    RegisterSharedExceptionNames();
    bool ole = false;
    try {
        if (exception)
            std::rethrow_exception(exception);
    } catch (const EOleSysError&) {
        ole = true;
    } catch (...) {
    }
    std::unique_ptr<TSxCustomExceptionInfo> info =
        ole ? std::make_unique<TSxOleSysExceptionInfo>(sender, address, exception)
            : std::make_unique<TSxCustomExceptionInfo>(sender, address, exception);
    info->Build();
    return info;
}

namespace {
template <typename T> void AddOnce(std::vector<T*>& list, T* item)
{
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}
} // namespace

TSxExceptionCentral& TSxExceptionCentral::Instance()
{
    // Lives to the end of the process: controllers of modules freed late still unsubscribe.
    static TSxExceptionCentral* central = new TSxExceptionCentral;
    return *central;
}

void TSxExceptionCentral::AddSubscriber(TSxExceptionSubscriber* subscriber)
{
    std::lock_guard<std::recursive_mutex> guard(FSubscribersLock);
    AddOnce(FSubscribers, subscriber);
}

void TSxExceptionCentral::RemoveSubscriber(TSxExceptionSubscriber* subscriber)
{
    std::lock_guard<std::recursive_mutex> guard(FSubscribersLock);
    {
        std::lock_guard<std::mutex> disabled(FDisabledLock);
        FDisabled.erase(std::remove(FDisabled.begin(), FDisabled.end(), subscriber), FDisabled.end());
    }
    FSubscribers.erase(std::remove(FSubscribers.begin(), FSubscribers.end(), subscriber), FSubscribers.end());
}

void TSxExceptionCentral::DisableSubscriber(TSxExceptionSubscriber* subscriber)
{
    std::lock_guard<std::mutex> guard(FDisabledLock);
    AddOnce(FDisabled, subscriber);
}

bool TSxExceptionCentral::IsDisabled(TSxExceptionSubscriber* subscriber)
{
    std::lock_guard<std::mutex> guard(FDisabledLock);
    return std::find(FDisabled.begin(), FDisabled.end(), subscriber) != FDisabled.end();
}

int32_t TSxExceptionCentral::Dispatch(TSxCustomExceptionInfo& info)
{
    if (info.IsAbort())
        return info.ErrorCode;
    std::lock_guard<std::recursive_mutex> guard(FSubscribersLock);
    const std::vector<TSxExceptionSubscriber*> subscribers = FSubscribers;
    for (TSxExceptionSubscriber* subscriber : subscribers) {
        if (IsDisabled(subscriber) || !subscriber->Handler)
            continue;
        subscriber->CurrentInfo = &info;
        try {
            subscriber->Handler(*subscriber);
        } catch (...) {
            DisableSubscriber(subscriber);
        }
        subscriber->CurrentInfo = nullptr;
    }
    return info.ErrorCode;
}

int32_t SxHandleException(const TSxComponent* sender, std::exception_ptr exception) noexcept
{
    try {
        const uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
        auto info = TSxExceptionInfoFactory::Instance().CreateInfo(sender, address, std::move(exception));
        return TSxExceptionCentral::Instance().Dispatch(*info);
    } catch (...) {
        return SxE_FAIL;
    }
}

TSxExceptionController::TSxExceptionController(TSxComponent* owner)
    : TSxComponent(owner), FSubscriber([this](TSxExceptionSubscriber& s) { Handle(s); })
{
    TSxExceptionCentral::Instance().AddSubscriber(&FSubscriber);
}

TSxExceptionController::~TSxExceptionController() { TSxExceptionCentral::Instance().RemoveSubscriber(&FSubscriber); }

void TSxExceptionController::Handle(TSxExceptionSubscriber& subscriber)
{
    bool autoReportError = true;
    if (OnException)
        OnException(*this, *subscriber.CurrentInfo, autoReportError);
    if (autoReportError)
        ReportError();
}

void TSxExceptionController::ReportError()
{
    if (!FSubscriber.CurrentInfo)
        return;
    std::unique_ptr<TSxCustomErrorMessage> message;
    switch (ErrorMessageType) {
    case TSxErrorMessageType::dmtNone:
        return;
    case TSxErrorMessageType::dmsSystem:
        message = std::make_unique<TSxSystemErrorMessage>(*FSubscriber.CurrentInfo);
        break;
    case TSxErrorMessageType::dmtSimple:
        message = std::make_unique<TSxSimpleErrorMessage>(*FSubscriber.CurrentInfo);
        break;
    case TSxErrorMessageType::dmsExtended:
        message = std::make_unique<TSxExtendedErrorMessage>(*FSubscriber.CurrentInfo);
        break;
    }
    message->Show();
}

namespace {

TSeam<TSxErrorDisplayFn> Display;

bool DisplayBySeam(TSxErrorMessageType type, const TSxCustomExceptionInfo& info)
{
    const TSxErrorDisplayFn fn = Display.Get();
    if (!fn)
        return false;
    fn(type, info);
    return true;
}

#ifdef _WIN32
void Box(const std::string& text, UINT flags)
{
    MessageBoxW(nullptr, Utf8ToWide(text).c_str(), L"Error", flags | MB_ICONERROR | MB_TASKMODAL);
}

constexpr WORD ButtonClass = 0x0080, EditClass = 0x0081, StaticClass = 0x0082;
constexpr WORD IdImage = 100, IdShortInfo = 101, IdLabel = 102, IdExtendedInfo = 103, IdClipboard = 104;

struct TDialogData {
    std::wstring ShortInfo, ExtendedInfo;
    bool Extended;
    HFONT Font = nullptr;
};

void Place(HWND dialog, int id, int x, int y, int width, int height)
{
    if (HWND control = GetDlgItem(dialog, id))
        MoveWindow(control, x, y, width, height, FALSE);
}

void CopyToClipboard(HWND owner, const std::wstring& text)
{
    if (!OpenClipboard(owner))
        return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        std::memcpy(GlobalLock(block), text.c_str(), bytes);
        GlobalUnlock(block);
        if (!SetClipboardData(CF_UNICODETEXT, block))
            GlobalFree(block);
    }
    CloseClipboard();
}

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<TDialogData*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<TDialogData*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, IdImage, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_HAND)), 0);
        SetDlgItemTextW(dialog, IdShortInfo, data->ShortInfo.c_str());
        const int width = 390, height = data->Extended ? 305 : 120;
        RECT frame = {0, 0, width, height};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
        SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
        Place(dialog, IdImage, 4, 5, 32, 32);
        Place(dialog, IdShortInfo, 41, 5, 343, 73);
        if (data->Extended) {
            Place(dialog, IdLabel, 6, 86, 300, 14);
            Place(dialog, IdExtendedInfo, 4, 102, 381, 168);
            Place(dialog, IDOK, 310, 275, 75, 25);
            Place(dialog, IdClipboard, 205, 275, 101, 25);
            HDC screen = GetDC(nullptr);
            data->Font = CreateFontW(-MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                     FALSE, DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH, L"Courier New");
            ReleaseDC(nullptr, screen);
            SendDlgItemMessageW(dialog, IdExtendedInfo, WM_SETFONT, reinterpret_cast<WPARAM>(data->Font), FALSE);
            SetDlgItemTextW(dialog, IdExtendedInfo, data->ExtendedInfo.c_str());
        } else {
            Place(dialog, IDCANCEL, 310, 88, 75, 25);
        }
        // Centred on the desktop.
        RECT box, desktop;
        GetWindowRect(dialog, &box);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
        SetWindowPos(dialog, nullptr, (desktop.right + desktop.left - (box.right - box.left)) / 2,
                     (desktop.bottom + desktop.top - (box.bottom - box.top)) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IdClipboard:
            if (data)
                CopyToClipboard(dialog, data->ExtendedInfo);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        if (data && data->Font)
            DeleteObject(data->Font);
        break;
    }
    return FALSE;
}

// The extended window ("Error", message, details and "Copy to Clipboard") or the simple one
// (message and a single Cancel button); modal.
void ShowErrorDialog(const TSxCustomExceptionInfo& info, bool extended)
{
    TDialogTemplate dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER, L"Error",
                           L"Tahoma", 8);
    dialog.Add(StaticClass, SS_ICON, IdImage, L"");
    dialog.Add(EditClass, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, IdShortInfo, L"");
    if (extended) {
        dialog.Add(StaticClass, SS_LEFT, IdLabel, L"Extended error information:");
        dialog.Add(EditClass, ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL,
                   IdExtendedInfo, L"");
        dialog.Add(ButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, L"Close");
        dialog.Add(ButtonClass, BS_PUSHBUTTON | WS_TABSTOP, IdClipboard, L"Copy to Clipboard");
    } else {
        dialog.Add(ButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL, L"Cancel");
    }
    TDialogData data{Utf8ToWide(info.Message), Utf8ToWide(info.GetExtendedInfo()), extended};
    DialogBoxIndirectParamW(SxModuleHandle(), dialog.Get(), nullptr, ErrorDialogProc,
                            reinterpret_cast<LPARAM>(&data));
}
#endif

} // namespace

void SetSxErrorDisplay(TSxErrorDisplayFn fn)
{
    Display.Set(std::move(fn));
}

void TSxSystemErrorMessage::Show()
{
    if (DisplayBySeam(TSxErrorMessageType::dmsSystem, Info))
        return;
#ifdef _WIN32
    Box(Info.Message, MB_OK);
#endif
}

void TSxSimpleErrorMessage::Show()
{
    if (DisplayBySeam(TSxErrorMessageType::dmtSimple, Info))
        return;
#ifdef _WIN32
    ShowErrorDialog(Info, false);
#endif
}

void TSxExtendedErrorMessage::Show()
{
    if (DisplayBySeam(TSxErrorMessageType::dmsExtended, Info))
        return;
#ifdef _WIN32
    ShowErrorDialog(Info, true);
#endif
}
