#include "uTWEBDAVConnection.h"

#include "uGLBWin.h"

#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

std::string WinHttpFailure(const char* where, DWORD code) {
    std::string text;
    switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT: text = "cannot connect to the server"; break;
    case ERROR_WINHTTP_CONNECTION_ERROR: text = "the connection was broken"; break;
    case ERROR_WINHTTP_TIMEOUT: text = "the server did not answer in time"; break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: text = "the server name was not resolved"; break;
    case ERROR_WINHTTP_INVALID_URL: text = "invalid address"; break;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: text = "unknown address scheme"; break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: text = "invalid server answer"; break;
    case ERROR_WINHTTP_OPERATION_CANCELLED: text = "the request was cancelled"; break;
    default: text = SysErrorMessage(code); break;
    }
    return std::string(where) + ": " + text + " (" + std::to_string(code) + ")";
}

}  // namespace

// Everything the WinHTTP callback touches. It lives until WinHTTP reported the handle closed.
struct TWEBDAVConnection::TRequestState {
    // Pieces of a body read from or written to disk; a larger piece costs more memory, not speed.
    static constexpr DWORD kChunk = 256 * 1024;

    DWORD_PTR Id = 0;
    HINTERNET Request = nullptr;
    std::atomic<int> Ready{1};
    // Held while a notice acts on the request and while the owner closes it: once Closed is set
    // under it, no notice touches the body files or the sink any more.
    std::recursive_mutex Busy;
    std::atomic<bool> Closed{false};   // the owner closed the handle: no notice may act on it any more
    THandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD Error = 0;
    std::string ErrorWhere;
    DWORD StatusCode = 0;
    std::wstring StatusText;
    std::string Body;
    std::string SendBody;
    THandle SendFile;                  // the request body, when it comes from a file
    THandle BodyFile;                  // where the answer's body goes, when into a file
    TBodySink Sink;                    // or to whom
    std::atomic<uint64_t> Sent{0}, ToSend{0}, Received{0}, ToReceive{0};
    bool Announced = false;            // the answer carries a Content-Length (ToReceive)
    bool HeadMethod = false;
    std::vector<char> Chunk = std::vector<char>(kChunk);

    // Never raises: it is the way out of every failure, also on WinHTTP's threads.
    void Fail(const char* where, DWORD code, const char* detail = nullptr) noexcept {
        try {
            ErrorWhere = where;
            if (detail) ErrorWhere += std::string(" (") + detail + ")";
        } catch (...) {
        }
        Error = code ? code : ERROR_WINHTTP_INTERNAL_ERROR;
        Complete();
    }
    void Complete() noexcept {
        // The body files are the caller's again: closed before anyone learns that the exchange is over.
        SendFile.reset();
        BodyFile.reset();
        Ready = 4;
        SetEvent(Done.get());
    }
    // The next WinHTTP call of the exchange. A call that completes at once may report from inside
    // itself; that report only notes the call due next, and the loop below makes it, so the stack
    // does not grow with the body however fast the data comes.
    using TStep = void (TRequestState::*)();
    TStep Due = nullptr;
    bool Issuing = false;
    void Continue(TStep step) {
        Due = step;
        if (Issuing) return;
        Issuing = true;
        struct TReset {
            bool& flag;
            ~TReset() { flag = false; }
        } reset{Issuing};
        while (Due && Ready != 4 && !Closed) {
            const TStep next = std::exchange(Due, nullptr);
            (this->*next)();
        }
    }
    void ReadNext() {
        if (!WinHttpReadData(Request, Chunk.data(), kChunk, nullptr)) {
            Fail("WinHttpReadData", GetLastError());
        }
    }
    void ReceiveResponse() {
        if (!WinHttpReceiveResponse(Request, nullptr)) Fail("WinHttpReceiveResponse", GetLastError());
    }
    // The next piece of a request body from its file, or the answer once all of it went out.
    void WriteNext() {
        const uint64_t left = ToSend - Sent;
        if (left == 0) {
            SendFile.reset();
            ReceiveResponse();
            return;
        }
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, kChunk));
        DWORD got = 0;
        if (!ReadFile(SendFile.get(), Chunk.data(), want, &got, nullptr)) {
            Fail("ReadFile", GetLastError(), "the file to send");
            return;
        }
        if (got == 0) {
            Fail("ReadFile", ERROR_HANDLE_EOF, "the file to send became shorter");
            return;
        }
        if (!WinHttpWriteData(Request, Chunk.data(), got, nullptr)) Fail("WinHttpWriteData", GetLastError());
    }
    void BodyArrived(const char* data, DWORD length) {
        if (BodyFile) {
            for (DWORD done = 0; done < length;) {
                DWORD put = 0;
                if (!WriteFile(BodyFile.get(), data + done, length - done, &put, nullptr) || put == 0) {
                    Fail("WriteFile", GetLastError(), "the answer's body");
                    return;
                }
                done += put;
            }
        } else if (Sink) {
            Sink(data, length);
        } else {
            Body.append(data, length);
        }
        Received += length;
        Continue(&TRequestState::ReadNext);
    }
    void BodyEnded() {
        // A connection that broke off early can look like the end of the body: the announced length
        // tells them apart.
        if (Announced && Received != ToReceive) {
            const std::string detail = "the answer ended after " + std::to_string(Received.load()) + " of its " +
                                       std::to_string(ToReceive.load()) + " bytes";
            Fail("WinHttpReadData", ERROR_WINHTTP_INVALID_SERVER_RESPONSE, detail.c_str());
            return;
        }
        Complete();
    }
    void HeadersArrived() {
        DWORD code = 0, size = sizeof(code);
        if (!WinHttpQueryHeaders(Request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
            Fail("WinHttpQueryHeaders", GetLastError());
            return;
        }
        StatusCode = code;
        StatusText = Header(WINHTTP_QUERY_STATUS_TEXT);
        // The length is a 64-bit number in text form; the numeric query of WinHTTP stops at 4 GB.
        const std::wstring length = Header(WINHTTP_QUERY_CONTENT_LENGTH);
        const bool bodiless = HeadMethod || code == 204 || code == 304 || (code >= 100 && code < 200);
        if (!length.empty() && !bodiless) {
            wchar_t* end = nullptr;
            const unsigned long long n = wcstoull(length.c_str(), &end, 10);
            if (end && *end == L'\0') {
                ToReceive = n;
                Announced = true;
            }
        }
        Ready = 3;
        Continue(&TRequestState::ReadNext);
    }
    std::wstring Header(DWORD query) const {
        DWORD size = 0;
        WinHttpQueryHeaders(Request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
        if (size == 0) return {};
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(Request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                                 WINHTTP_NO_HEADER_INDEX)) {
            return {};
        }
        text.resize(size / sizeof(wchar_t));
        return text;
    }

    void Notice(DWORD status, LPVOID info, DWORD length) {
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            Ready = 2;
            Continue(SendFile ? &TRequestState::WriteNext : &TRequestState::ReceiveResponse);
            break;
        case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
            Sent += *static_cast<const DWORD*>(info);
            Continue(&TRequestState::WriteNext);
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            HeadersArrived();
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            if (length == 0) BodyEnded();
            else BodyArrived(static_cast<const char*>(info), length);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            const auto* r = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
            const char* where = "WinHttpSendRequest";
            if (r->dwResult == API_RECEIVE_RESPONSE) where = "WinHttpReceiveResponse";
            else if (r->dwResult == API_READ_DATA) where = "WinHttpReadData";
            else if (r->dwResult == API_WRITE_DATA) where = "WinHttpWriteData";
            Fail(where, r->dwError);
            break;
        }
        default:
            break;
        }
    }

    // WinHTTP calls this on its own threads: nothing may leave it, or the host process (Explorer) ends.
    static void CALLBACK Callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                  DWORD length) noexcept {
        if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
            // WinHTTP is done with the buffers of this request: only now may its state go.
            try {
                Release(context);
            } catch (...) {
            }
            return;
        }
        std::shared_ptr<TRequestState> s;
        try {
            s = Find(context);
            if (!s) return;
            std::lock_guard<std::recursive_mutex> busy(s->Busy);
            if (s->Closed || handle != s->Request || s->Ready == 4) return;   // a late notice
            try {
                s->Notice(status, info, length);
            } catch (const std::exception& e) {
                s->Fail("WinHTTP notice", ERROR_WINHTTP_INTERNAL_ERROR, e.what());
            } catch (...) {
                s->Fail("WinHTTP notice", ERROR_WINHTTP_INTERNAL_ERROR);
            }
        } catch (...) {
            // Only the lock or the table can have failed: the request must still end.
            if (s) s->Fail("WinHTTP notice", ERROR_WINHTTP_INTERNAL_ERROR);
        }
    }

    // WinHTTP may still report on a request, and write into its read buffer, after its handle was
    // closed (an exchange abandoned half-way). The state therefore stays in this table until the
    // handle-closing notice; the callback finds it by a number that is never used twice.
    static std::mutex& Lock() {
        static std::mutex m;
        return m;
    }
    static std::unordered_map<DWORD_PTR, std::shared_ptr<TRequestState>>& Live() {
        static std::unordered_map<DWORD_PTR, std::shared_ptr<TRequestState>> live;
        return live;
    }
    static DWORD_PTR Register(const std::shared_ptr<TRequestState>& state) {
        static DWORD_PTR next = 0;
        std::lock_guard<std::mutex> guard(Lock());
        state->Id = ++next;
        Live()[state->Id] = state;
        return state->Id;
    }
    static std::shared_ptr<TRequestState> Find(DWORD_PTR id) {
        std::lock_guard<std::mutex> guard(Lock());
        const auto it = Live().find(id);
        return it == Live().end() ? nullptr : it->second;
    }
    static void Release(DWORD_PTR id) {
        std::lock_guard<std::mutex> guard(Lock());
        Live().erase(id);
    }
    static size_t Count() {
        std::lock_guard<std::mutex> guard(Lock());
        return Live().size();
    }
};

size_t TWEBDAVConnection::LiveRequests() {
    return TRequestState::Count();
}

std::string TWEBDAVConnection::Base64(const std::string& bytes) {
    if (bytes.empty()) return {};
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size)) {
        throw EWebDAVError(WinHttpFailure("CryptBinaryToString", GetLastError()));
    }
    std::string text(size, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, text.data(), &size)) {
        throw EWebDAVError(WinHttpFailure("CryptBinaryToString", GetLastError()));
    }
    std::string out;
    for (char c : text) {
        if (c != '\0' && c != '\r' && c != '\n') out += c;
    }
    return out;
}

TWEBDAVConnection::TWEBDAVConnection(const std::string& userName, const std::string& password)
    : Authorization("Basic " + Base64(userName + ":" + password)) {}

TWEBDAVConnection::~TWEBDAVConnection() {
    Disconnect();
}

void TWEBDAVConnection::Open(const std::string& method, const std::string& url, bool asynchronous) {
    Disconnect();
    Asynchronous = asynchronous;
    if (!Session) {
        Session.reset(WinHttpOpen(L"Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)",
                                  WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
        if (!Session) throw EWebDAVError(WinHttpFailure("WinHttpOpen", GetLastError()));
    }
    std::wstring wurl = Utf8ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!WinHttpCrackUrl(wurl.c_str(), static_cast<DWORD>(wurl.size()), 0, &parts)) {
        throw EWebDAVError(WinHttpFailure("WinHttpCrackUrl", GetLastError()) + " \"" + url + "\"");
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    Connect.reset(WinHttpConnect(Session.get(), host.c_str(), parts.nPort, 0));
    if (!Connect) throw EWebDAVError(WinHttpFailure("WinHttpConnect", GetLastError()));

    auto state = std::make_shared<TRequestState>();
    state->HeadMethod = method == "HEAD";
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
    state->Request = WinHttpOpenRequest(Connect.get(), Utf8ToWide(method).c_str(), object.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (!state->Request) throw EWebDAVError(WinHttpFailure("WinHttpOpenRequest", GetLastError()));
    // The answer to a redirect is the answer: the caller sees 301 for a folder without its "/".
    DWORD redirect = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(state->Request, WINHTTP_OPTION_REDIRECT_POLICY, &redirect, sizeof(redirect));
    DWORD_PTR context = TRequestState::Register(state);
    State = std::move(state);
    WinHttpSetOption(State->Request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    if (WinHttpSetStatusCallback(State->Request, &TRequestState::Callback,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        throw EWebDAVError(WinHttpFailure("WinHttpSetStatusCallback", GetLastError()));
    }
    SetRequestHeader("Authorization", Authorization);
}

void TWEBDAVConnection::SetRequestHeader(const std::string& name, const std::string& value) {
    if (!State) throw EWebDAVError("SetRequestHeader: no request is open");
    const std::wstring line = Utf8ToWide(name + ": " + value);
    if (!WinHttpAddRequestHeaders(State->Request, line.c_str(), static_cast<DWORD>(line.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        throw EWebDAVError(WinHttpFailure("WinHttpAddRequestHeaders", GetLastError()));
    }
}

void TWEBDAVConnection::ReceiveBodyInto(const std::string& fileName) {
    if (!State || State->Ready != 1) throw EWebDAVError("ReceiveBodyInto: no request is open");
    THandle file(CreateFileW(Utf8ToWide(fileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        throw EWebDAVError(WinHttpFailure("CreateFile", GetLastError()) + " \"" + fileName + "\"");
    }
    std::lock_guard<std::recursive_mutex> busy(State->Busy);
    State->BodyFile = std::move(file);
    State->Sink = nullptr;
}

void TWEBDAVConnection::ReceiveBody(TBodySink sink) {
    if (!State || State->Ready != 1) throw EWebDAVError("ReceiveBody: no request is open");
    std::lock_guard<std::recursive_mutex> busy(State->Busy);
    State->BodyFile.reset();
    State->Sink = std::move(sink);
}

void TWEBDAVConnection::Send(const std::string& body) {
    if (!State || State->Ready != 1) throw EWebDAVError("Send: no request is open");
    State->SendBody = body;
    const auto size = static_cast<DWORD>(State->SendBody.size());
    // Goes out with the request itself.
    State->ToSend = size;
    State->Sent = size;
    Start(State->SendBody.empty() ? WINHTTP_NO_REQUEST_DATA : State->SendBody.data(), size, size);
}

void TWEBDAVConnection::SendFile(const std::string& fileName) {
    if (!State || State->Ready != 1) throw EWebDAVError("SendFile: no request is open");
    // Others may hold the file open, also for writing (an editor that just saved it).
    THandle file(CreateFileW(Utf8ToWide(fileName).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw EWebDAVError(WinHttpFailure("CreateFile", GetLastError()) + " \"" + fileName + "\"");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        throw EWebDAVError(WinHttpFailure("GetFileSizeEx", GetLastError()) + " \"" + fileName + "\"");
    }
    const auto total = static_cast<uint64_t>(size.QuadPart);
    DWORD announced = static_cast<DWORD>(total);
    if (total > 0xFFFFFFFFull) {
        // WinHTTP counts the total in 32 bits: beyond that it is told to ignore it, and the length
        // goes out in the header.
        SetRequestHeader("Content-Length", std::to_string(total));
        announced = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
    }
    {
        std::lock_guard<std::recursive_mutex> busy(State->Busy);
        State->ToSend = total;
        if (total > 0) State->SendFile = std::move(file);
    }
    Start(WINHTTP_NO_REQUEST_DATA, 0, announced);
}

void TWEBDAVConnection::Start(const void* data, DWORD size, DWORD total) {
    if (!WinHttpSendRequest(State->Request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<void*>(data), size, total,
                            State->Id)) {
        const DWORD code = GetLastError();
        {
            std::lock_guard<std::recursive_mutex> busy(State->Busy);
            State->Fail("WinHttpSendRequest", code);
        }
        throw EWebDAVError(WinHttpFailure("WinHttpSendRequest", code));
    }
    if (!Asynchronous) {
        WaitForSingleObject(State->Done.get(), INFINITE);
        CheckComplete();
    }
}

TWEBDAVConnection::TTransfer TWEBDAVConnection::Transferred() const {
    TTransfer t;
    if (State) {
        t.Sent = State->Sent;
        t.ToSend = State->ToSend;
        t.Received = State->Received;
        t.ToReceive = State->ToReceive;
    }
    return t;
}

int TWEBDAVConnection::ReadyState() const {
    return State ? State->Ready.load() : 0;
}

bool TWEBDAVConnection::WaitForResponse(int32_t seconds) {
    if (!State) return true;
    const DWORD ms = seconds < 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000u;
    return WaitForSingleObject(State->Done.get(), ms) == WAIT_OBJECT_0;
}

HANDLE TWEBDAVConnection::CompletionEvent() const {
    return State ? State->Done.get() : nullptr;
}

void TWEBDAVConnection::CheckComplete() const {
    if (!State) throw EWebDAVError("no request was made");
    if (State->Ready != 4) throw EWebDAVError("the answer is not complete");
    if (State->Error) throw EWebDAVError(WinHttpFailure(State->ErrorWhere.c_str(), State->Error));
}

int TWEBDAVConnection::Status() const {
    CheckComplete();
    return static_cast<int>(State->StatusCode);
}

std::string TWEBDAVConnection::StatusText() const {
    CheckComplete();
    return WideToUtf8(State->StatusText);
}

const std::string& TWEBDAVConnection::ResponseBody() const {
    CheckComplete();
    return State->Body;
}

void TWEBDAVConnection::Disconnect() {
    if (!State) return;
    // Set before the lock is taken: a notice at work sees it between two pieces and lets go.
    State->Closed = true;
    {
        // Waits for a notice at work; after this no notice touches the files or the sink.
        std::lock_guard<std::recursive_mutex> busy(State->Busy);
        State->SendFile.reset();
        State->BodyFile.reset();
        State->Sink = nullptr;
    }
    // The table keeps the state alive until WinHTTP's handle-closing notice releases it. Closed outside
    // the lock: WinHTTP may report the closing on this thread or wait for its own.
    WinHttpCloseHandle(State->Request);
    State.reset();
    Connect.reset();
}
