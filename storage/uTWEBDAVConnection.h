#pragma once
// One WebDAV exchange at a time over WinHTTP, with the Basic authorization header on every request.
// The transfer runs in WinHTTP's asynchronous mode; the caller decides how to wait (ReadyState,
// CompletionEvent, WaitForResponse), so the calling thread can keep its windows alive meanwhile.
#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>

#include "uGLBWin.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// A request that could not be made or carried out (not an error status of the answer).
class EWebDAVError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct THInternetTraits {
    using Handle = HINTERNET;
    static bool Valid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};
// Owner of a WinHTTP handle.
using THInternet = TOwnedHandle<THInternetTraits>;

class TWEBDAVConnection {
public:
    // Builds Authorization from the bytes of "account:password" as they are.
    TWEBDAVConnection(const std::string& userName, const std::string& password);
    ~TWEBDAVConnection();
    TWEBDAVConnection(const TWEBDAVConnection&) = delete;
    TWEBDAVConnection& operator=(const TWEBDAVConnection&) = delete;

    // Starts a new request (a previous one is released first) and sets "Authorization".
    // url must already be percent-encoded. Raises EWebDAVError.
    void Open(const std::string& method, const std::string& url, bool asynchronous);
    // Header names go out as written (case kept); a second value for the same name replaces the first.
    void SetRequestHeader(const std::string& name, const std::string& value);
    // Synchronous request: returns when the exchange is over. Asynchronous: returns at once.
    // Raises EWebDAVError when the request cannot be sent or (synchronous) fails.
    void Send(const std::string& body = std::string());
    // 0 nothing opened, 1 opened, 2 sent, 3 receiving, 4 complete (also after a failure).
    int ReadyState() const;
    // Waits up to `seconds` for completion; true when complete. Pumps nothing.
    bool WaitForResponse(int32_t seconds);
    // Signalled when the exchange is complete (for MsgWaitForMultipleObjects).
    HANDLE CompletionEvent() const;
    // The answer; each raises EWebDAVError when the exchange failed or is not complete.
    int Status() const;
    std::string StatusText() const;
    const std::string& ResponseBody() const;
    // Releases the request handle; an unfinished exchange is abandoned.
    void Disconnect();

    const std::string Authorization;   // "Basic " + Base64("account:password")

    // Requests whose handle WinHTTP has not yet reported closed (their buffers are still its own).
    static size_t LiveRequests();

    // Base64 of bytes, one line (crypt32).
    static std::string Base64(const std::string& bytes);

private:
    struct TRequestState;
    void CheckComplete() const;
    THInternet Session;
    THInternet Connect;
    std::shared_ptr<TRequestState> State;
    bool Asynchronous = true;
};
#endif
