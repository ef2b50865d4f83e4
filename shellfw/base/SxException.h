#pragma once
// Exception reporting. Every COM method catches everything at its boundary and returns
// SxHandleException(sender, exception) as its HRESULT: the exception information goes to every
// subscribed controller, and the result is E_FAIL unless a handler set another code.
#include "SxExceptionClass.h"
#include "SxComponent.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

constexpr int32_t SxE_FAIL = static_cast<int32_t>(0x80004005u);

// The silent abort: never reported, gives E_FAIL.
SX_DECLARE_EXCEPTION(EAbort, std::runtime_error);

// An error that carries an HRESULT (a failed platform call).
class EOleSysError : public std::runtime_error, public virtual TSxNamedException {
public:
    EOleSysError(const std::string& message, int32_t errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
    const char* ClassName() const noexcept override { return "EOleSysError"; }
    int32_t ErrorCode;
};

class TSxCustomExceptionInfo {
public:
    TSxCustomExceptionInfo(const TSxComponent* sender, uintptr_t address, std::exception_ptr exception);
    virtual ~TSxCustomExceptionInfo() = default;
    // Runs BuildMessage and BuildDetails (kept out of the constructor so that overrides run).
    void Build();

    void AddDetail(const std::string& name, const std::string& value);
    // One line per detail: the name padded to the longest name, " : ", the value, CR LF.
    std::string GetExtendedInfo() const;

    uintptr_t ExceptionAddress() const { return FAddress; }
    std::exception_ptr Exception() const { return FException; }
    const TSxComponent* Sender() const { return FSender; }
    // The exception's class as the system names it, and its own text.
    const std::string& ExceptionClass() const { return FClass; }
    const std::string& ExceptionMessage() const { return FExceptionMessage; }
    const std::vector<std::string>& DetailNames() const { return FNames; }
    const std::vector<std::string>& DetailValues() const { return FValues; }
    bool IsAbort() const { return FAbort; }

    int32_t ErrorCode = SxE_FAIL;
    std::string Message;

protected:
    virtual void BuildMessage();
    virtual void BuildDetails();

private:
    const TSxComponent* FSender;
    uintptr_t FAddress;
    std::exception_ptr FException;
    std::string FClass, FExceptionMessage;
    bool FAbort = false;
    std::vector<std::string> FNames, FValues;
};

class TSxOleSysExceptionInfo : public TSxCustomExceptionInfo {
public:
    using TSxCustomExceptionInfo::TSxCustomExceptionInfo;

protected:
    void BuildDetails() override;
};

class TSxExceptionInfoFactory {
public:
    static TSxExceptionInfoFactory& Instance();
    std::unique_ptr<TSxCustomExceptionInfo> CreateInfo(const TSxComponent* sender, uintptr_t address,
                                                       std::exception_ptr exception) const;
};

class TSxExceptionSubscriber {
public:
    using THandler = std::function<void(TSxExceptionSubscriber&)>;
    explicit TSxExceptionSubscriber(THandler handler) : Handler(std::move(handler)) {}
    TSxCustomExceptionInfo* CurrentInfo = nullptr;
    THandler Handler;
};

class TSxExceptionCentral {
public:
    static TSxExceptionCentral& Instance();
    void AddSubscriber(TSxExceptionSubscriber* subscriber);
    void RemoveSubscriber(TSxExceptionSubscriber* subscriber);
    int32_t Dispatch(TSxCustomExceptionInfo& info);
    void DisableSubscriber(TSxExceptionSubscriber* subscriber);
    bool IsDisabled(TSxExceptionSubscriber* subscriber);

private:
    std::recursive_mutex FSubscribersLock;
    std::mutex FDisabledLock;
    std::vector<TSxExceptionSubscriber*> FSubscribers, FDisabled;
};

// The HRESULT for the exception: reports it to the subscribers first. Never raises.
int32_t SxHandleException(const TSxComponent* sender, std::exception_ptr exception) noexcept;

// The COM boundary: runs body and turns any exception into SxHandleException's result.
template <typename F> auto SxComCall(const TSxComponent* sender, F&& body) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (...) {
        return SxHandleException(sender, std::current_exception());
    }
}

enum class TSxErrorMessageType : uint8_t { dmtNone = 0, dmsSystem = 1, dmtSimple = 2, dmsExtended = 3 };

class TSxExceptionController : public TSxComponent {
public:
    using TSxExceptionNotify =
        std::function<void(TSxExceptionController& sender, TSxCustomExceptionInfo& info, bool& autoReportError)>;
    explicit TSxExceptionController(TSxComponent* owner = nullptr);
    ~TSxExceptionController() override;
    std::string ClassName() const override { return "TSxExceptionController"; }

    // Shows the current information in the way ErrorMessageType selects.
    void ReportError();

    TSxErrorMessageType ErrorMessageType = TSxErrorMessageType::dmtNone;
    TSxExceptionNotify OnException;

private:
    void Handle(TSxExceptionSubscriber& subscriber);
    TSxExceptionSubscriber FSubscriber;
};

// Error presentations; Show displays the information (modal on Windows).
class TSxCustomErrorMessage {
public:
    explicit TSxCustomErrorMessage(const TSxCustomExceptionInfo& info) : Info(info) {}
    virtual ~TSxCustomErrorMessage() = default;
    virtual void Show() = 0;

protected:
    const TSxCustomExceptionInfo& Info;
};
class TSxSystemErrorMessage : public TSxCustomErrorMessage {
public:
    using TSxCustomErrorMessage::TSxCustomErrorMessage;
    void Show() override;
};
class TSxSimpleErrorMessage : public TSxCustomErrorMessage {
public:
    using TSxCustomErrorMessage::TSxCustomErrorMessage;
    void Show() override;
};
class TSxExtendedErrorMessage : public TSxCustomErrorMessage {
public:
    using TSxCustomErrorMessage::TSxCustomErrorMessage;
    void Show() override;
};

// Seam for tests: replaces the modal presentations (an empty function restores them).
using TSxErrorDisplayFn = std::function<void(TSxErrorMessageType type, const TSxCustomExceptionInfo& info)>;
void SetSxErrorDisplay(TSxErrorDisplayFn fn);
