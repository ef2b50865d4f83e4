#include "uTWEBDAVConnection.h"

#include "uGLBWin.h"

#include <wincrypt.h>

#include <atomic>
#include <mutex>
#include <unordered_map>
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
    DWORD_PTR Id = 0;
    HINTERNET Request = nullptr;
    std::atomic<int> Ready{1};
    std::atomic<bool> Closed{false};   // the owner closed the handle: no notice may act on it any more
    THandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD Error = 0;
    std::string ErrorWhere;
    DWORD StatusCode = 0;
    std::wstring StatusText;
    std::string Body;
    std::string SendBody;
    std::vector<char> Chunk = std::vector<char>(64 * 1024);

    void Fail(const char* where, DWORD code) {
        ErrorWhere = where;
        Error = code ? code : ERROR_WINHTTP_INTERNAL_ERROR;
        Complete();
    }
    void Complete() {
        Ready = 4;
        SetEvent(Done.get());
    }
    void ReadNext() {
        if (!WinHttpReadData(Request, Chunk.data(), static_cast<DWORD>(Chunk.size()), nullptr)) {
            Fail("WinHttpReadData", GetLastError());
        }
    }
    void HeadersArrived() {
        DWORD code = 0, size = sizeof(code);
        if (!WinHttpQueryHeaders(Request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
            Fail("WinHttpQueryHeaders", GetLastError());
            return;
        }
        StatusCode = code;
        size = 0;
        WinHttpQueryHeaders(Request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                            WINHTTP_NO_HEADER_INDEX);
        if (size > 0) {
            std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
            if (WinHttpQueryHeaders(Request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX,
                                    text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
                text.resize(size / sizeof(wchar_t));
                StatusText = text;
            }
        }
        Ready = 3;
        ReadNext();
    }

    static void CALLBACK Callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
        if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
            // WinHTTP is done with the buffers of this request: only now may its state go.
            Release(context);
            return;
        }
        const std::shared_ptr<TRequestState> s = Find(context);
        if (!s || s->Closed || handle != s->Request) return;   // a late notice of a closed request
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            s->Ready = 2;
            if (!WinHttpReceiveResponse(s->Request, nullptr)) s->Fail("WinHttpReceiveResponse", GetLastError());
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            s->HeadersArrived();
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            if (length == 0) {
                s->Complete();
            } else {
                s->Body.append(static_cast<const char*>(info), length);
                s->ReadNext();
            }
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            const auto* r = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
            const char* where = "WinHttpSendRequest";
            if (r->dwResult == API_RECEIVE_RESPONSE) where = "WinHttpReceiveResponse";
            else if (r->dwResult == API_READ_DATA) where = "WinHttpReadData";
            s->Fail(where, r->dwError);
            break;
        }
        default:
            break;
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

void TWEBDAVConnection::Send(const std::string& body) {
    if (!State || State->Ready != 1) throw EWebDAVError("Send: no request is open");
    State->SendBody = body;
    void* data = State->SendBody.empty() ? WINHTTP_NO_REQUEST_DATA : State->SendBody.data();
    const auto size = static_cast<DWORD>(State->SendBody.size());
    if (!WinHttpSendRequest(State->Request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size,
                            State->Id)) {
        State->Fail("WinHttpSendRequest", GetLastError());
        throw EWebDAVError(WinHttpFailure("WinHttpSendRequest", State->Error));
    }
    if (!Asynchronous) {
        WaitForSingleObject(State->Done.get(), INFINITE);
        CheckComplete();
    }
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
    // The table keeps the state alive until WinHTTP's handle-closing notice releases it.
    State->Closed = true;
    WinHttpCloseHandle(State->Request);
    State.reset();
    Connect.reset();
}
