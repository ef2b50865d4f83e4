#include "uSxException.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include "uGLBWin.h"
#include <windows.h>
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

std::unique_ptr<TSxCustomExceptionInfo> TSxExceptionInfoFactory::CreateInfo(const TSxComponent* sender, uintptr_t address,
                                                                            std::exception_ptr exception) const
{
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

TSxExceptionCentral& TSxExceptionCentral::Instance()
{
    // Lives to the end of the process: controllers of modules freed late still unsubscribe.
    static TSxExceptionCentral* central = new TSxExceptionCentral;
    return *central;
}

void TSxExceptionCentral::AddSubscriber(TSxExceptionSubscriber* subscriber)
{
    std::lock_guard<std::recursive_mutex> guard(FSubscribersLock);
    if (std::find(FSubscribers.begin(), FSubscribers.end(), subscriber) == FSubscribers.end())
        FSubscribers.push_back(subscriber);
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
    if (std::find(FDisabled.begin(), FDisabled.end(), subscriber) == FDisabled.end())
        FDisabled.push_back(subscriber);
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

std::mutex DisplayLock;
TSxErrorDisplayFn Display;

bool DisplayBySeam(TSxErrorMessageType type, const TSxCustomExceptionInfo& info)
{
    TSxErrorDisplayFn fn;
    {
        std::lock_guard<std::mutex> guard(DisplayLock);
        fn = Display;
    }
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
#endif

} // namespace

void SetSxErrorDisplay(TSxErrorDisplayFn fn)
{
    std::lock_guard<std::mutex> guard(DisplayLock);
    Display = std::move(fn);
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
    Box(Info.Message, MB_OK);
#endif
}

void TSxExtendedErrorMessage::Show()
{
    if (DisplayBySeam(TSxErrorMessageType::dmsExtended, Info))
        return;
#ifdef _WIN32
    Box(Info.Message + "\r\n\r\nExtended error information:\r\n" + Info.GetExtendedInfo(), MB_OK);
#endif
}
