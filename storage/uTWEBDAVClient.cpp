#include "uTWEBDAVClient.h"

#include "uTUrl.h"

#include <cctype>

// ---- Addresses (pure) ----

std::string EncodeURLSegment(const std::string& segment) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(segment.size() * 3);
    for (unsigned char c : segment) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string EncodeURLPath(const std::string& path) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t sep = path.find_first_of("\\/", start);
        out += EncodeURLSegment(path.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        out += '/';
        start = sep + 1;
    }
    return out;
}

std::string BuildURLOf(const std::string& host, const std::string& path) {
    if (path.empty()) return host;
    return host + "/" + EncodeURLPath(path);
}

std::string BuildThumbURLOf(const std::string& host, const std::string& path) {
    const size_t sep = path.find_last_of('\\');
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    const std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    return host + "/" + EncodeURLPath(folder + ".thumb\\" + name + ".thumb.jpg");
}

std::string URLPathOf(const std::string& url) {
    std::string path = url;
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = url.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : url.substr(slash);
    }
    const size_t query = path.find_first_of("?#");
    if (query != std::string::npos) path.erase(query);
    return path;
}

namespace {

std::vector<std::string> SplitSlash(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t sep = path.find('/', start);
        parts.push_back(path.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    return parts;
}

}  // namespace

bool RelativeHref(const std::string& href, const std::string& basePath, std::string& relative,
                  std::string& error) {
    const std::string path = URLPathOf(href);
    if (path.empty() || path[0] != '/') {
        error = "href is no absolute path: \"" + href + "\"";
        return false;
    }
    std::vector<std::string> base = SplitSlash(basePath);   // "/dav" -> "", "dav"
    while (!base.empty() && base.back().empty()) base.pop_back();
    std::vector<std::string> parts = SplitSlash(path);      // "/dav/a/" -> "", "dav", "a", ""
    try {
        for (size_t i = 1; i < base.size(); ++i) {
            if (i >= parts.size() || URLDecode(parts[i]) != URLDecode(base[i])) {
                error = "href outside the base path \"" + basePath + "\": \"" + href + "\"";
                return false;
            }
        }
    } catch (const EURLDecode& e) {
        error = std::string(e.what()) + " \"" + href + "\"";
        return false;
    }
    const size_t skip = base.empty() ? 1 : base.size();
    relative.clear();
    for (size_t i = skip; i < parts.size(); ++i) {
        if (i > skip) relative += '/';
        relative += parts[i];
    }
    return true;
}

#ifdef _WIN32
#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"

const THeaders TWEBDAVClient::H1 = {{"Cache-Control", "no-cache, max-age=0, Expires=-1, Buffer=True"},
                                    {"pragma", "no-cache"}};
const THeaders TWEBDAVClient::H2 = {{"Cache-Control", "no-cache, max-age=1"}};
const THeaders TWEBDAVClient::H3 = {{"Cache-Control", "no-store, max-age=1"}};
const THeaders TWEBDAVClient::Octet = {{"Content-type", "application/octet-stream"}};
const std::string TWEBDAVClient::PropfindBody =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:propfind xmlns:D=\"DAV:\"><D:allprop/></D:propfind>";

TWEBDAVClient::TWEBDAVClient() {
    Host = ReadRegistryString("Connection", "host", "");
    while (!Host.empty() && Host.back() == '/') Host.pop_back();
    UserName = ReadRegistryString("Connection", "username", "");
    Password = DecryptPassword(ReadRegistryString("Connection", "password", ""));
    Env = std::make_unique<TApplicationEnviroment>();
    Logger = std::make_unique<TLogger>(-1, true, "WEBDAVClient");
    Connection = std::make_unique<TWEBDAVConnection>(UserName, Password);
}

TWEBDAVClient::~TWEBDAVClient() = default;

std::string TWEBDAVClient::StripCacheRoot(const std::string& path) const {
    const std::string& cache = Env->Cache;
    if (!cache.empty() && path.size() >= cache.size() && SameText(path.substr(0, cache.size()), cache)) {
        return path.substr(cache.size());
    }
    return path;
}

std::string TWEBDAVClient::BuildURL(const std::string& path) const {
    return BuildURLOf(Host, StripCacheRoot(path));
}

std::string TWEBDAVClient::BuildThumbURL(const std::string& path) const {
    return BuildThumbURLOf(Host, path);
}

std::string TWEBDAVClient::BasePath() const {
    return URLPathOf(Host);
}

void TWEBDAVClient::ProcessMessages() {
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));   // for the loop that owns the thread
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool TWEBDAVClient::Execute(const std::string& method, const std::string& url, const THeaders& headers,
                            const std::string& body, TWaitForm form, int32_t waitSeconds,
                            TvrqProgress* cancel) {
    Connection->Open(method, url, form != TWaitForm::Synchronous);
    for (const auto& [name, value] : headers) Connection->SetRequestHeader(name, value);
    Connection->Send(body);
    if (form == TWaitForm::Synchronous) return true;
    int state;
    do {
        state = Connection->ReadyState();
        if (form == TWaitForm::Timed) Connection->WaitForResponse(waitSeconds);
        if (cancel && cancel->Cancelled()) return false;
        ProcessMessages();
        if (form == TWaitForm::Polled && state != 4) {
            // Sleeps until the answer is complete or a message arrives, instead of spinning; Cancel
            // is still seen within a few milliseconds.
            HANDLE done = Connection->CompletionEvent();
            MsgWaitForMultipleObjects(1, &done, FALSE, 20, QS_ALLINPUT);
        }
    } while (state != 4);
    Connection->Status();   // raises the failure of the exchange
    return true;
}

// ---- Listing ----

bool TWEBDAVClient::GetContent(const std::string& path, int32_t depth, TvrqDialog& dialog, std::string& answer) {
    const std::string url = BuildURL(path);
    TvrqProgress& progress = dialog.Progress;
    bool result = false;
    try {
        Logger->Debug("GetContent: \"" + url + "\"");
        progress.SetLines(Txt(90), "", 4);
        if (progress.CountSteps) progress.ExtendBy(1);
        const THeaders headers = {{"Depth", depth == -1 ? "infinity" : std::to_string(depth)},
                                  {"Content-Length", "90"},
                                  {"Content-type", "text/xml"},
                                  H1[0],
                                  H1[1]};
        if (Execute("PROPFIND", url, headers, PropfindBody, TWaitForm::Polled, 0, &progress)) {
            const int status = Connection->Status();
            if (status != 207) {
                Logger->Error("GetContent: the server answered " + std::to_string(status) + " " +
                              Connection->StatusText() + " for \"" + url + "\"");
            } else if (Connection->ResponseBody().empty()) {
                Logger->Error("GetContent: empty answer for \"" + url + "\"");
            } else {
                answer = Connection->ResponseBody();
                result = true;
            }
        } else {
            Logger->Info("GetContent: cancelled \"" + url + "\"");
        }
    } catch (const std::exception& e) {
        try { Logger->Error(std::string("GetContent: ") + e.what()); } catch (...) {}
        result = false;
    }
    Connection->Disconnect();
    try { progress.StepBy(1); } catch (...) {}
    return result;
}

#endif
