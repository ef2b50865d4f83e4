#include "uGLBWEBDAVListing.h"

#include "uGLBShellTools.h"
#include "uGLBWEBDAVAddress.h"
#include "uGLBWin.h"

#include <shlwapi.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <cstdlib>
#include <cwchar>
#include <stdexcept>

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

}  // namespace

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

void SwapInMirror(const std::string& fresh, const std::string& cache) {
    const std::string current = WithoutSlash(cache), old = current + ".old";
    if (FolderExists(old)) shl_DeleteFolder(old);
    if (FolderExists(current) && !MoveFileExW(Utf8ToWide(current).c_str(), Utf8ToWide(old).c_str(), 0)) {
        // Something holds the old mirror open. Clearing it in place could not make room for the
        // new one either (the held folder stays): keep the old mirror whole instead.
        throw std::runtime_error("cannot replace the mirror: " + SysErrorMessage(GetLastError()));
    }
    if (!MoveFileExW(Utf8ToWide(WithoutSlash(fresh)).c_str(), Utf8ToWide(current).c_str(), 0)) {
        const DWORD code = GetLastError();
        if (FolderExists(old) && !FolderExists(current)) {
            MoveFileExW(Utf8ToWide(old).c_str(), Utf8ToWide(current).c_str(), 0);
        }
        throw std::runtime_error("cannot replace the mirror: " + SysErrorMessage(code));
    }
    if (FolderExists(old)) shl_DeleteFolder(old);
}
