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
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"

#include <shlwapi.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <cstdio>
#include <cwchar>
#include <functional>

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


// ---- Reading a multistatus answer ----
//
// XmlLite, loaded by name: properties are matched by namespace "DAV:" and local name whatever the
// prefix, the 2xx propstat of each response counts, and a DOCTYPE refuses the whole document.

namespace {

using TCreateXmlReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
// mingw declares it but has no library that defines it.
const IID kIID_IXmlReader = {0x7279fc81, 0x709d, 0x4095, {0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30}};

TCreateXmlReader XmlReaderFactory() {
    static TCreateXmlReader create = [] {
        HMODULE lib = LoadLibraryW(L"xmllite.dll");
        return lib ? reinterpret_cast<TCreateXmlReader>(reinterpret_cast<void*>(GetProcAddress(lib, "CreateXmlReader")))
                   : nullptr;
    }();
    return create;
}

std::string HResultText(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

struct TPropStat {
    int Status = 0;
    TListingEntry Props;
};

std::string TrimBlanks(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

int StatusOfLine(const std::string& line) {   // "HTTP/1.1 200 OK" -> 200
    const size_t sp = line.find(' ');
    return sp == std::string::npos ? 0 : std::atoi(line.c_str() + sp + 1);
}

// The responses of a multistatus document in document order, hrefs as sent. `pump` runs after each
// response; it returns false to stop (cancel).
bool ReadMultistatus(const std::string& xml, std::vector<std::pair<std::string, TListingEntry>>& responses,
                     std::string& error, const std::function<bool()>& pump) {
    TCreateXmlReader create = XmlReaderFactory();
    if (!create) {
        error = "xmllite.dll is not available";
        return false;
    }
    Microsoft::WRL::ComPtr<IXmlReader> reader;
    HRESULT hr = create(kIID_IXmlReader, reinterpret_cast<void**>(reader.GetAddressOf()), nullptr);
    if (FAILED(hr)) {
        error = "CreateXmlReader: " + HResultText(hr);
        return false;
    }
    Microsoft::WRL::ComPtr<IStream> stream;
    stream.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size())));
    if (!stream) {
        error = "out of memory for the answer";
        return false;
    }
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    if (FAILED(hr = reader->SetInput(stream.Get()))) {
        error = "XML input: " + HResultText(hr);
        return false;
    }

    enum Level { Doc, Multistatus, Response, Href, PropStat, Status, Prop, Property, ResourceType };
    struct Frame { Level level; std::string name; };
    std::vector<Frame> stack;
    bool sawRoot = false;
    std::string href, text;
    std::vector<TPropStat> propstats;
    XmlNodeType type;
    while ((hr = reader->Read(&type)) == S_OK) {
        if (type == XmlNodeType_DocumentType) {
            error = "the answer holds a DOCTYPE, refused";
            return false;
        }
        if (type == XmlNodeType_Element) {
            const wchar_t *ns = nullptr, *local = nullptr;
            reader->GetNamespaceUri(&ns, nullptr);
            reader->GetLocalName(&local, nullptr);
            const bool dav = ns && std::wcscmp(ns, L"DAV:") == 0;
            const std::wstring name = local ? local : L"";
            const Level parent = stack.empty() ? Doc : stack.back().level;
            Level level = Property;   // anything not named below is only skipped
            bool known = true;
            if (parent == Doc) {
                if (sawRoot || !dav || name != L"multistatus") {
                    error = "the answer is no multistatus";
                    return false;
                }
                sawRoot = true;
                level = Multistatus;
            } else if (parent == Multistatus && dav && name == L"response") {
                level = Response;
                href.clear();
                propstats.clear();
            } else if (parent == Response && dav && name == L"href") {
                level = Href;
                href.clear();
            } else if (parent == Response && dav && name == L"propstat") {
                level = PropStat;
                propstats.emplace_back();
            } else if (parent == PropStat && dav && name == L"status") {
                level = Status;
            } else if (parent == PropStat && dav && name == L"prop") {
                level = Prop;
            } else if (parent == Prop && dav && name == L"resourcetype") {
                level = ResourceType;
            } else if (parent == ResourceType && dav && name == L"collection") {
                propstats.back().Props.IsCollection = true;
                known = false;
            } else if (parent == Prop) {
                level = Property;
            } else {
                known = false;
            }
            text.clear();
            std::string frameName = dav && parent == Prop ? WideToUtf8(name) : std::string();
            if (reader->IsEmptyElement()) {
                // no end node follows: an empty property has the empty text
                continue;
            }
            stack.push_back({level, known ? frameName : std::string()});
            continue;
        }
        if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
            const wchar_t* value = nullptr;
            UINT length = 0;
            reader->GetValue(&value, &length);
            if (value) text += WideToUtf8(std::wstring(value, length));
            continue;
        }
        if (type == XmlNodeType_EndElement) {
            if (stack.empty()) break;
            const Frame frame = stack.back();
            stack.pop_back();
            switch (frame.level) {
            case Href: href = TrimBlanks(text); break;
            case Status: if (!propstats.empty()) propstats.back().Status = StatusOfLine(text); break;
            case Property:
                if (!propstats.empty() && !stack.empty() && stack.back().level == Prop) {
                    TListingEntry& p = propstats.back().Props;
                    if (frame.name == "getcontentlength") p.ContentLength = text;
                    else if (frame.name == "getlastmodified") p.LastModified = text;
                    else if (frame.name == "creationdate") p.CreationDate = text;
                    else if (frame.name == "getetag") p.ETag = text;
                }
                break;
            case Response: {
                TListingEntry entry;
                for (const TPropStat& ps : propstats) {
                    if (ps.Status >= 200 && ps.Status < 300) {
                        entry = ps.Props;
                        break;
                    }
                }
                responses.emplace_back(href, entry);
                if (pump && !pump()) {
                    error = "cancelled";
                    return false;
                }
                break;
            }
            default: break;
            }
            text.clear();
        }
    }
    if (hr == static_cast<HRESULT>(WC_E_DTDPROHIBITED)) {
        error = "the answer holds a DOCTYPE, refused";
        return false;
    }
    if (FAILED(hr)) {
        error = "the answer is no well-formed XML (" + HResultText(hr) + ")";
        return false;
    }
    if (!sawRoot || !stack.empty()) {
        error = "the answer is incomplete";
        return false;
    }
    if (responses.empty()) {
        error = "the answer lists nothing";
        return false;
    }
    return true;
}

bool FolderExists(const std::string& dir) {
    const DWORD a = GetFileAttributesW(Utf8ToWide(dir).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WithoutSlash(std::string dir) {
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir;
}

}  // namespace

bool TWEBDAVClient::TranslateXML(const std::string& answer, bool countStatistics, TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    std::string fresh;   // the folder being built with statistics, removed again on failure
    try {
        progress.SetLines(Txt(88), "", 4);
        const std::string cache = Env->Cache;
        if (cache.size() < 3 || cache[1] != ':' || cache[2] != '\\') {
            throw std::runtime_error("no mirror folder in the settings (\"" + cache + "\")");
        }
        // 1. Read the whole answer; nothing is written before it parsed completely.
        std::vector<std::pair<std::string, TListingEntry>> responses;
        std::string error;
        DWORD lastPump = GetTickCount();
        auto pump = [&]() {
            const DWORD now = GetTickCount();
            if (now - lastPump < 20) return true;
            lastPump = now;
            ProcessMessages();
            return !progress.Cancelled();
        };
        if (!ReadMultistatus(answer, responses, error, pump)) throw std::runtime_error(error);
        if (progress.CountSteps) progress.ExtendBy(static_cast<int32_t>(responses.size()));

        const std::string root = countStatistics ? WithoutSlash(cache) + ".new\\" : cache;
        TVirtualFileStorage storage(root);
        const std::string base = BasePath();
        std::vector<TVirtualFileRecord> records;
        records.reserve(responses.size());
        for (auto& [href, entry] : responses) {
            std::string relative;
            if (!RelativeHref(href, base, relative, error)) throw std::runtime_error(error);
            entry.Href = relative;
            records.emplace_back();
            if (!storage.ParseListingEntry(entry, records.back())) {
                throw std::runtime_error("unsafe entry \"" + href + "\"");
            }
        }

        // 2. Write the records: into a fresh folder that replaces the mirror, or over the mirror.
        if (countStatistics) {
            fresh = root;
            if (FolderExists(fresh) && !shl_DeleteFolder(WithoutSlash(fresh))) {
                throw std::runtime_error("cannot clear \"" + fresh + "\"");
            }
        }
        if (!CreateDirectoryW(Utf8ToWide(WithoutSlash(root)).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create \"" + root + "\": " + SysErrorMessage(GetLastError()));
        }
        int64_t files = 0, folders = 0, size = 0;
        int32_t steps = 0;
        for (const TVirtualFileRecord& r : records) {
            if (!storage.SaveVirtualFileStorageToFile(r)) {
                // not stored (no tag, a name too long, or inside a folder left out): not counted
            } else if (r.IsFolder) {
                if (!r.Name.empty() && r.Path.find(".thumb") == std::string::npos) ++folders;
            } else if (r.Name.find(".thumb") == std::string::npos) {
                ++files;
                size += r.Size;
            }
            if (++steps == 200) {
                progress.StepBy(steps);
                steps = 0;
                if (!pump()) throw std::runtime_error("cancelled");
            }
        }
        progress.StepBy(steps);

        if (countStatistics) {
            const std::string current = WithoutSlash(cache), old = current + ".old";
            if (FolderExists(old)) shl_DeleteFolder(old);
            const bool hadMirror = FolderExists(current);
            if (hadMirror && !MoveFileExW(Utf8ToWide(current).c_str(), Utf8ToWide(old).c_str(), 0)) {
                // Something holds the old mirror open: clear it in place instead.
                shl_DeleteFolder(current);
            }
            if (!MoveFileExW(Utf8ToWide(WithoutSlash(fresh)).c_str(), Utf8ToWide(current).c_str(), 0)) {
                const DWORD code = GetLastError();
                if (FolderExists(old) && !FolderExists(current)) {
                    MoveFileExW(Utf8ToWide(old).c_str(), Utf8ToWide(current).c_str(), 0);
                }
                throw std::runtime_error("cannot replace the mirror: " + SysErrorMessage(code));
            }
            fresh.clear();
            if (FolderExists(old)) shl_DeleteFolder(old);
            auto clamp = [](int64_t v) { return static_cast<int32_t>(v > 0x7FFFFFFF ? 0x7FFFFFFF : v); };
            try {
                WriteRegistryInteger("Application", "files", clamp(files));
                WriteRegistryInteger("Application", "folders", clamp(folders));
                WriteRegistryInteger("Application", "size", clamp(size));
            } catch (const std::exception& e) {
                Logger->Error(std::string("TranslateXML: statistics: ") + e.what());
            }
        }
        return true;
    } catch (const std::exception& e) {
        try { Logger->Error(std::string("TranslateXML: ") + e.what()); } catch (...) {}
        if (!fresh.empty() && FolderExists(fresh)) shl_DeleteFolder(WithoutSlash(fresh));
        return false;
    }
}

#endif
