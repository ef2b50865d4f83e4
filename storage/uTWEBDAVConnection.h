#pragma once
// One WebDAV exchange at a time over WinHTTP, with the Basic authorization header on every request.
// The transfer runs in WinHTTP's asynchronous mode; the caller decides how to wait (ReadyState,
// CompletionEvent, WaitForResponse), so the calling thread can keep its windows alive meanwhile.
//
// Bodies of any size: a request body can come from a file, read in pieces as it goes out (SendFile),
// and the answer's body can go into a file, or to a sink, as it arrives (ReceiveBodyInto,
// ReceiveBody), so memory stays flat whatever the size. Transferred() tells the bytes so far.
// Everything that runs on WinHTTP's threads catches all exceptions: a failure there fails the request.
#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>

#include "uGLBWin.h"

#include <cstdint>
#include <functional>
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
    // Where the answer's body goes; call after Open, before Send. Without either, the body is kept in
    // memory for ResponseBody().
    // ReceiveBodyInto: the body is written into the file (created, or emptied when it exists) as it
    // arrives, whatever the status; the file is closed when the exchange ends, fails or is
    // disconnected, and is the caller's to rename or delete then. ResponseBody() stays empty.
    // Raises EWebDAVError when the file cannot be created.
    void ReceiveBodyInto(const std::string& fileName);
    // ReceiveBody: each piece of the body is handed to sink as it arrives, on a WinHTTP thread, never
    // after Disconnect returned. An exception from sink fails the request (its message is kept).
    using TBodySink = std::function<void(const char* data, size_t size)>;
    void ReceiveBody(TBodySink sink);
    // Synchronous request: returns when the exchange is over. Asynchronous: returns at once.
    // Raises EWebDAVError when the request cannot be sent or (synchronous) fails.
    void Send(const std::string& body = std::string());
    // As Send, with the file's bytes as the body, read in pieces as they go out ("Content-Length" is
    // the file's 64-bit size). A file that ends early fails the request. Raises EWebDAVError when the
    // file cannot be opened.
    void SendFile(const std::string& fileName);
    // Bytes of the bodies so far: the request body sent of its size, the answer's body received of
    // its Content-Length (ToReceive 0 when the server announced none).
    struct TTransfer {
        uint64_t Sent = 0, ToSend = 0, Received = 0, ToReceive = 0;
    };
    TTransfer Transferred() const;
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
    void Start(const void* data, DWORD size, DWORD total);
    THInternet Session;
    THInternet Connect;
    std::shared_ptr<TRequestState> State;
    bool Asynchronous = true;
};
#endif
