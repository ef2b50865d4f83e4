#include "uGLBWEBDAVListing.h"

#include "uGLBCom.h"
#include "uGLBShellTools.h"
#include "uGLBWEBDAVAddress.h"
#include "uGLBWin.h"
#include "uTSeam.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <stdexcept>
#include <utility>

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

// A complete answer ends with the end tag of its multistatus root ("</D:multistatus>", any prefix),
// blanks after it allowed. Tested before parsing: a cut answer is refused whatever byte it was cut
// at, also by readers that do not notice a cut (Wine's XmlLite even aborts the process on some).
bool EndsWithItsRootEndTag(IStream* stream) {
    STATSTG info{};
    if (FAILED(stream->Stat(&info, STATFLAG_NONAME))) return false;
    const uint64_t size = info.cbSize.QuadPart;
    const uint64_t tail = size < 512 ? size : 512;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size - tail);
    std::string bytes(static_cast<size_t>(tail), '\0');
    ULONG got = 0;
    const bool read = SUCCEEDED(stream->Seek(at, STREAM_SEEK_SET, nullptr)) &&
                      SUCCEEDED(stream->Read(bytes.data(), static_cast<ULONG>(tail), &got)) && got == tail;
    at.QuadPart = 0;
    if (FAILED(stream->Seek(at, STREAM_SEEK_SET, nullptr)) || !read) return false;
    const size_t end = bytes.find_last_not_of(" \t\r\n");
    if (end == std::string::npos || bytes[end] != '>') return false;
    size_t name = end;
    while (name > 0 && bytes[name - 1] != '<' && bytes[name - 1] != '/' && bytes[name - 1] != ':' &&
           bytes[name - 1] != '>') {
        --name;
    }
    if (bytes.compare(name, end - name + 1, "multistatus>") != 0) return false;
    size_t slash = name;
    if (slash > 0 && bytes[slash - 1] == ':') {   // a prefix
        --slash;
        while (slash > 0 && bytes[slash - 1] != '/' && bytes[slash - 1] != '<' && bytes[slash - 1] != '>') --slash;
    }
    return slash >= 2 && bytes[slash - 1] == '/' && bytes[slash - 2] == '<';
}

// The reader over stream, which must be a complete answer (EndsWithItsRootEndTag).
bool ReadMultistatusStream(IStream* stream, const std::function<bool(const std::string&, TListingEntry&)>& onResponse,
                           std::string& error) {
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
    if (!EndsWithItsRootEndTag(stream)) {
        error = "the answer is incomplete (its multistatus element never closed)";
        return false;
    }
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    if (FAILED(hr = reader->SetInput(stream))) {
        error = "XML input: " + HResultText(hr);
        return false;
    }

    enum Level { Doc, Multistatus, Response, Href, PropStat, Status, Prop, Property, ResourceType };
    // The properties whose text is kept; every other element's text is not even collected.
    enum Kind { Other, ContentLength, LastModified, CreationDate, ETag };
    struct Frame { Level level; Kind kind; };
    std::vector<Frame> stack;
    bool sawRoot = false, closedRoot = false;
    bool collect = false;   // the element open now is one whose text counts
    // Every node takes at least one byte of the answer: more nodes than that is a reader that no
    // longer moves (a cut answer), never a longer document.
    STATSTG info{};
    const uint64_t answerSize = SUCCEEDED(stream->Stat(&info, STATFLAG_NONAME)) ? info.cbSize.QuadPart : 0;
    uint64_t nodes = 0;
    std::string href, text;
    std::vector<TPropStat> propstats;
    XmlNodeType type;
    while ((hr = reader->Read(&type)) == S_OK) {
        if (++nodes > answerSize + 16) {
            error = "the answer is incomplete (the reader stopped moving)";
            return false;
        }
        if (type == XmlNodeType_DocumentType) {
            error = "the answer holds a DOCTYPE, refused";
            return false;
        }
        if (type == XmlNodeType_Element) {
            const wchar_t *ns = nullptr, *local = nullptr;
            reader->GetNamespaceUri(&ns, nullptr);
            reader->GetLocalName(&local, nullptr);
            const bool dav = ns && std::wcscmp(ns, L"DAV:") == 0;
            const wchar_t* name = local ? local : L"";
            auto is = [&](const wchar_t* n) { return dav && std::wcscmp(name, n) == 0; };
            const Level parent = stack.empty() ? Doc : stack.back().level;
            Level level = Property;   // anything not named below is only skipped
            Kind kind = Other;
            if (parent == Doc) {
                if (sawRoot || !is(L"multistatus")) {
                    error = "the answer is no multistatus";
                    return false;
                }
                sawRoot = true;
                level = Multistatus;
            } else if (parent == Multistatus && is(L"response")) {
                level = Response;
                href.clear();
                propstats.clear();
            } else if (parent == Response && is(L"href")) {
                level = Href;
                href.clear();
            } else if (parent == Response && is(L"propstat")) {
                level = PropStat;
                propstats.emplace_back();
            } else if (parent == PropStat && is(L"status")) {
                level = Status;
            } else if (parent == PropStat && is(L"prop")) {
                level = Prop;
            } else if (parent == Prop && is(L"resourcetype")) {
                level = ResourceType;
            } else if (parent == ResourceType && is(L"collection")) {
                propstats.back().Props.IsCollection = true;
            } else if (parent == Prop) {
                level = Property;
                if (is(L"getcontentlength")) kind = ContentLength;
                else if (is(L"getlastmodified")) kind = LastModified;
                else if (is(L"creationdate")) kind = CreationDate;
                else if (is(L"getetag")) kind = ETag;
            }
            text.clear();
            if (reader->IsEmptyElement()) {
                // no end node follows: an empty property has the empty text
                continue;
            }
            stack.push_back({level, kind});
            collect = level == Href || level == Status || kind != Other;
            continue;
        }
        if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
            if (!collect) continue;
            const wchar_t* value = nullptr;
            UINT length = 0;
            reader->GetValue(&value, &length);
            if (value && length) {
                // Appended as UTF-8 in place: at most three bytes for each UTF-16 unit.
                const size_t at = text.size();
                text.resize(at + 3 * static_cast<size_t>(length));
                const int n = WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(length), text.data() + at,
                                                  static_cast<int>(3 * length), nullptr, nullptr);
                text.resize(at + (n > 0 ? static_cast<size_t>(n) : 0));
            }
            continue;
        }
        if (type == XmlNodeType_EndElement) {
            if (stack.empty()) break;
            const Frame frame = stack.back();
            stack.pop_back();
            collect = false;
            switch (frame.level) {
            case Multistatus: closedRoot = true; break;
            case Href: href = TrimBlanks(text); break;
            case Status: if (!propstats.empty()) propstats.back().Status = StatusOfLine(text); break;
            case Property:
                if (frame.kind != Other && !propstats.empty() && !stack.empty() && stack.back().level == Prop) {
                    TListingEntry& p = propstats.back().Props;
                    if (frame.kind == ContentLength) p.ContentLength = text;
                    else if (frame.kind == LastModified) p.LastModified = text;
                    else if (frame.kind == CreationDate) p.CreationDate = text;
                    else p.ETag = text;
                }
                break;
            case Response: {
                TListingEntry entry;
                for (TPropStat& ps : propstats) {
                    if (ps.Status >= 200 && ps.Status < 300) {
                        entry = std::move(ps.Props);
                        break;
                    }
                }
                if (!onResponse(href, entry)) {
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
    if (hr == E_PENDING) {
        error = "the answer is incomplete";
        return false;
    }
    if (FAILED(hr)) {
        error = "the answer is no well-formed XML (" + HResultText(hr) + ")";
        return false;
    }
    if (!sawRoot || !closedRoot || !stack.empty()) {
        error = "the answer is incomplete";
        return false;
    }
    return true;
}


}  // namespace

bool ReadMultistatusFile(const std::string& answerFile,
                         const std::function<bool(const std::string&, TListingEntry&)>& onResponse, std::string& error) {
    // Read from the file as the parser needs it: the answer is never held in memory.
    Microsoft::WRL::ComPtr<IStream> stream;
    const HRESULT hr = SHCreateStreamOnFileEx(Utf8ToWide(answerFile).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                              FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream);
    if (FAILED(hr)) {
        error = "cannot open the answer \"" + answerFile + "\": " + HResultText(hr);
        return false;
    }
    return ReadMultistatusStream(stream.Get(), onResponse, error);
}

namespace {
TSeam<TAnswerStreamFn> AnswerStreamObserver;
}  // namespace

void SetAnswerStreamObserver(TAnswerStreamFn fn) {
    AnswerStreamObserver.Set(std::move(fn));
}

bool ReadMultistatus(const std::string& xml, std::vector<std::pair<std::string, TListingEntry>>& responses,
                     std::string& error, const std::function<bool()>& pump) {
    Microsoft::WRL::ComPtr<IStream> stream =
        SxAdoptComPtr(SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size())));
    if (!stream) {
        error = "out of memory for the answer";
        return false;
    }
    if (const TAnswerStreamFn observe = AnswerStreamObserver.Get()) observe(stream.Get());
    auto collect = [&](const std::string& href, TListingEntry& entry) {
        responses.emplace_back(href, entry);
        return !pump || pump();
    };
    if (!ReadMultistatusStream(stream.Get(), collect, error)) return false;
    if (responses.empty()) {
        error = "the answer lists nothing";
        return false;
    }
    return true;
}


namespace {

// Refuses what a slip could make of a path: relative and device paths, roots, wildcards.
bool SafeToRemove(const std::wstring& top) {
    return shl_IsRemovableFolder(WideToUtf8(top));
}

// The plain walk of DeleteFolderTree; stops early (false) once *stop is set.
bool RemoveTree(const std::wstring& top, const std::atomic<bool>* stop) {
    if (shl_FileAttributes(top) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        return true;
    }
    bool ok = true;
    // A folder is removed on its second visit, once everything in it went.
    const bool walked = shl_WalkTree(top, [&](const TShellTreeEntry& e) {
        if (stop && *stop) return TShellWalk::Stop;
        if (e.Folder) {
            // A link is removed as it is reported (the walk never enters it): its target stays.
            if ((e.Link || e.Leaving) && !RemoveDirectoryW(e.LongPath.c_str())) ok = false;
            return TShellWalk::Continue;
        }
        if (e.Attributes & FILE_ATTRIBUTE_READONLY) {
            SetFileAttributesW(e.LongPath.c_str(), e.Attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (!DeleteFileW(e.LongPath.c_str())) ok = false;
        return TShellWalk::Continue;
    });
    if (!walked || (stop && *stop)) return false;
    if (!RemoveDirectoryW(shl_LongPath(top).c_str())) ok = false;
    return ok;
}

// Old mirrors are renamed into a trash folder (a working folder that disconnect and exit remove)
// under names with this prefix, and deleted there by one thread of the process, so that a refresh
// costs no more than a first listing.
const wchar_t kOldMirrorPrefix[] = L"sxold";

bool IsBelowOrSame(const std::wstring& path, const std::wstring& folder) {
    if (path.size() < folder.size() || CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()),
                                                            folder.c_str(), static_cast<int>(folder.size()),
                                                            TRUE) != CSTR_EQUAL) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == L'\\';
}

class TMirrorSweeper {
public:
    // Never destroyed: the thread may still run while the process ends.
    static TMirrorSweeper& Instance() {
        static TMirrorSweeper* sweeper = new TMirrorSweeper();
        return *sweeper;
    }

    void Sweep(const std::wstring& trash) {
        std::lock_guard<std::mutex> guard(Lock);
        bool known = false;
        for (const std::wstring& t : Trash) known = known || CompareStringOrdinal(t.c_str(), -1, trash.c_str(), -1, TRUE) == CSTR_EQUAL;
        if (!known) Trash.push_back(trash);
        Again = true;
        if (Running) return;
        Stop = false;
        // The thread keeps the module loaded (Explorer may unload the extension meanwhile).
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&TMirrorSweeper::Main),
                           &module);
        Thread.reset(CreateThread(nullptr, 0, &TMirrorSweeper::Main, module, 0, nullptr));
        if (Thread) {
            Running = true;
        } else if (module) {
            FreeLibrary(module);   // the next listing tries again; exit removes the trash anyway
        }
    }

    // Stops the thread when it works at or below folder, and waits until it has let go.
    void StopBelow(const std::wstring& folder) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (!Running) return;
            bool below = false;
            for (const std::wstring& t : Trash) below = below || IsBelowOrSame(t, folder);
            if (!below) return;
            Stop = true;
        }
        if (const THandle thread = RunningThread()) WaitForSingleObject(thread.get(), INFINITE);
    }

    bool Wait(DWORD ms) {
        const THandle thread = RunningThread();
        return !thread || WaitForSingleObject(thread.get(), ms) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Main(void* module) {
        TMirrorSweeper& self = Instance();
        for (;;) {
            try {
                self.Work();
            } catch (...) {
                // Whatever stayed goes with the next sweep or with the working folders at exit.
            }
            // Ends only under the lock that Sweep takes: what it put into the trash meanwhile is seen.
            std::lock_guard<std::mutex> guard(self.Lock);
            if (self.Stop || !self.Again) {
                self.Running = false;
                break;
            }
        }
        if (module) FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
        return 0;
    }

    // Until nothing new was put into the trash, or Stop.
    void Work() {
        for (;;) {
            std::vector<std::wstring> trash;
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Stop || !Again) return;
                Again = false;
                trash = Trash;
            }
            for (const std::wstring& folder : trash) {
                // Only old mirrors: the trash folder holds other temporary files too.
                std::vector<std::wstring> old;
                WIN32_FIND_DATAW fd;
                const TFindHandle find(FindFirstFileW((folder + kOldMirrorPrefix + L"*").c_str(), &fd));
                if (find) {
                    do {
                        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                            old.push_back(folder + fd.cFileName);
                        }
                    } while (FindNextFileW(find.get(), &fd));
                }
                for (const std::wstring& dir : old) {
                    if (Stop) return;
                    RemoveTree(dir, &Stop);
                }
            }
        }
    }

    // A handle of the running thread of its own (the sweeper's may be closed meanwhile); none when idle.
    THandle RunningThread() {
        std::lock_guard<std::mutex> guard(Lock);
        HANDLE copy = nullptr;
        if (Running) {
            DuplicateHandle(GetCurrentProcess(), Thread.get(), GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
        }
        return THandle(copy);
    }

    std::mutex Lock;
    std::vector<std::wstring> Trash;   // trash folders with final "\"
    bool Again = false;                // something was put into the trash since the last look
    bool Running = false;
    std::atomic<bool> Stop{false};
    THandle Thread;
};

}  // namespace

bool DeleteFolderTree(const std::string& folder) {
    const std::wstring top = Utf8ToWide(shl_WithoutSlash(folder));
    if (!SafeToRemove(top)) return false;
    // Nobody else of this process removes in there any more: then "false" means something stayed.
    TMirrorSweeper::Instance().StopBelow(top);
    if (RemoveTree(top, nullptr)) return true;
    // Another process may be removing in there at the same time (its sweep of an old mirror): what
    // it held a moment ago is free now.
    Sleep(50);
    return RemoveTree(top, nullptr);
}

namespace {
// A folder renamed; a reader that holds a handle inside it (the extension listing the folder in
// Explorer) lets go within moments, so a refused rename is tried again for a while.
bool MoveFolderWhenFree(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || attempt >= 40) return false;
        Sleep(50);
        SetLastError(code);
    }
}
}  // namespace

void SwapInMirror(const std::string& fresh, const std::string& cache, const std::string& trash) {
    const std::string current = shl_WithoutSlash(cache);
    const std::wstring wcurrent = Utf8ToWide(current);
    // The old mirror goes into the trash under a name of its own (renamed, not deleted: that is quick);
    // without a trash, or when the rename fails, beside the mirror and deleted at once.
    std::wstring old;
    bool inTrash = false;
    if (shl_DirectoryExists(current)) {
        static std::atomic<unsigned> serial{0};
        if (!trash.empty()) {
            const std::wstring folder = Utf8ToWide(shl_WithoutSlash(trash)) + L"\\";
            try {
                shl_ForceDirectories(trash);
            } catch (const std::exception&) {
                // the rename below fails, and the old mirror is deleted in place
            }
            old = folder + kOldMirrorPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial);
            inTrash = MoveFolderWhenFree(wcurrent, old);
        }
        if (!inTrash) {
            old = wcurrent + L".old";
            DeleteFolderTree(WideToUtf8(old));
            if (!MoveFolderWhenFree(wcurrent, old)) {
                // Something holds the old mirror open. Clearing it in place could not make room for
                // the new one either (the held folder stays): keep the old mirror whole instead.
                throw std::runtime_error("cannot replace the mirror: " + SysErrorMessage(GetLastError()));
            }
        }
    }
    if (!MoveFileExW(Utf8ToWide(shl_WithoutSlash(fresh)).c_str(), wcurrent.c_str(), 0)) {
        const DWORD code = GetLastError();
        if (!old.empty() && !shl_DirectoryExists(current)) MoveFileExW(old.c_str(), wcurrent.c_str(), 0);
        throw std::runtime_error("cannot replace the mirror: " + SysErrorMessage(code));
    }
    if (inTrash) {
        TMirrorSweeper::Instance().Sweep(old.substr(0, old.rfind(L'\\') + 1));
    } else if (!old.empty()) {
        DeleteFolderTree(WideToUtf8(old));
    }
}

bool WaitForOldMirrorsSwept(uint32_t milliseconds) {
    return TMirrorSweeper::Instance().Wait(milliseconds);
}

std::vector<TMirrorDirEntry> MirrorDirectoryEntries(const std::string& directory) {
    std::vector<TMirrorDirEntry> entries;
    WIN32_FIND_DATAW fd;
    const TFindHandle find(FindFirstFileW(Utf8ToWide(directory + "*").c_str(), &fd));
    if (!find) return entries;
    do {
        TMirrorDirEntry e;
        e.FileName = WideToUtf8(fd.cFileName);
        if (e.FileName == "." || e.FileName == "..") continue;
        e.IsDirectory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool folderRecord = e.FileName.size() >= 14 &&
                                  SameText(e.FileName.substr(e.FileName.size() - 14), "DIRTMPFILE.DIR");
        if (!e.IsDirectory && !folderRecord) {
            THandle h(CreateFileW(Utf8ToWide(directory + e.FileName).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
            uint8_t bytes[VirtualFileRecordSize];
            DWORD got = 0;
            if (h && ReadFile(h.get(), bytes, sizeof(bytes), &got, nullptr) && got == sizeof(bytes)) {
                const TVirtualFileRecord r = RecordFromBytes(bytes, got);
                if (!r.IsFolder) e.RecordName = r.Name;
            }
        }
        entries.push_back(std::move(e));
    } while (FindNextFileW(find.get(), &fd));
    return entries;
}

void MergeIntoMirror(const std::string& stage, const std::string& cache, const TMirrorPlan& plan) {
    // Every step is one rename, noted so that a failure can take all of them back.
    struct TStep { std::wstring From, To; };
    std::vector<TStep> done;
    std::vector<std::wstring> made;   // directories created in the mirror
    const std::wstring backup = Utf8ToWide(stage) + L"_D_old";
    int n = 0;
    auto move = [&](const std::wstring& from, const std::wstring& to) {
        if (!MoveFileExW(from.c_str(), to.c_str(), 0)) {
            throw std::runtime_error("cannot move \"" + WideToUtf8(from) + "\" to \"" + WideToUtf8(to) +
                                     "\": " + SysErrorMessage(GetLastError()));
        }
        done.push_back({from, to});
    };
    auto aside = [&](const std::wstring& target) {   // an existing file goes into the backup folder
        if (shl_PathExists(target)) {
            move(target, backup + L"\\" + std::to_wstring(++n));
        }
    };
    auto place = [&](const TMirrorItem& item) {
        const std::wstring target = Utf8ToWide(cache + item.Directory + item.FileName);
        if (item.Implied && shl_PathExists(target)) return;
        aside(target);
        move(Utf8ToWide(stage + item.Directory + item.FileName), target);
    };
    try {
        // A mirror removed meanwhile (its root, or the folder's own directory) is made again.
        const std::wstring root = Utf8ToWide(shl_WithoutSlash(cache));
        if (!shl_PathExists(root)) {
            shl_ForceDirectories(cache);
            made.push_back(root);
        }
        if (!CreateDirectoryW(backup.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create \"" + WideToUtf8(backup) + "\": " + SysErrorMessage(GetLastError()));
        }
        for (const TMirrorItem& f : plan.Folders) {
            place(f);
            const std::string own = f.FileName.substr(0, f.FileName.size() - 14);
            const std::wstring dir = Utf8ToWide(cache + f.Directory + own);
            if (CreateDirectoryW(dir.c_str(), nullptr)) {
                made.push_back(dir);
            } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
                throw std::runtime_error("cannot create \"" + WideToUtf8(dir) + "\": " + SysErrorMessage(GetLastError()));
            }
        }
        for (const TMirrorItem& f : plan.Files) place(f);
        for (const std::string& stale : plan.Stale) aside(Utf8ToWide(cache + stale));
    } catch (...) {
        for (auto step = done.rbegin(); step != done.rend(); ++step) {
            MoveFileExW(step->To.c_str(), step->From.c_str(), 0);
        }
        for (auto dir = made.rbegin(); dir != made.rend(); ++dir) RemoveDirectoryW(dir->c_str());
        DeleteFolderTree(WideToUtf8(backup));
        throw;
    }
    DeleteFolderTree(WideToUtf8(backup));
}

TListingAnswer::~TListingAnswer() {
    if (!FileName.empty()) DeleteFileW(Utf8ToWide(FileName).c_str());
}

void TListingAnswer::Create(const std::string& folder) {
    if (!FileName.empty()) DeleteFileW(Utf8ToWide(FileName).c_str());
    FileName.clear();
    Size = 0;
    shl_ForceDirectories(folder);
    wchar_t name[MAX_PATH];
    if (!GetTempFileNameW(Utf8ToWide(folder).c_str(), L"sxl", 0, name)) {
        throw std::runtime_error("cannot make a temporary file in \"" + folder + "\": " + SysErrorMessage(GetLastError()));
    }
    FileName = WideToUtf8(name);
}

void TListingAnswer::Assign(const std::string& folder, const std::string& text) {
    Create(folder);
    THandle h(CreateFileW(Utf8ToWide(FileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    if (!h || !WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) || put != text.size()) {
        throw std::runtime_error("cannot write \"" + FileName + "\": " + SysErrorMessage(GetLastError()));
    }
    Size = text.size();
}

void TListingAnswer::TakeFrom(TListingAnswer& other) {
    if (this == &other) return;
    if (!FileName.empty()) DeleteFileW(Utf8ToWide(FileName).c_str());
    FileName = std::exchange(other.FileName, std::string());
    Size = std::exchange(other.Size, 0);
}

std::string TListingAnswer::Text() const {
    std::string text;
    THandle h(CreateFileW(Utf8ToWide(FileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return text;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h.get(), buf, sizeof(buf), &got, nullptr) && got) text.append(buf, got);
    return text;
}
