#include "uTWEBDAVClient.h"

#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBImage.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWEBDAVListing.h"
#include "uGLBWin.h"
#include "uTUrl.h"
#include "uTVirtualFileStorage.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// A log line that never fails the operation (a log file that cannot be written loses the line only).
void Note(TWEBDAVClient& client, int32_t type, const std::string& text) noexcept {
    try {
        client.Logger->Log(type, text);
    } catch (...) {
    }
}

}  // namespace

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
    return TVirtualFileStorage::StripRoot(Env->Cache, path);
}

std::string TWEBDAVClient::BuildURL(const std::string& path) const {
    return BuildURLOf(Host, StripCacheRoot(path));
}

std::string TWEBDAVClient::BuildFolderURL(const std::string& path) const {
    std::string url = BuildURL(path);
    if (url.empty() || url.back() != '/') url += '/';
    return url;
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
                            const std::string& body, TWaitForm form, TvrqProgress* cancel,
                            const TBodyFiles* files) {
    Connection->Open(method, url, form != TWaitForm::Synchronous);
    for (const auto& [name, value] : headers) Connection->SetRequestHeader(name, value);
    if (files && !files->Receive.empty()) Connection->ReceiveBodyInto(files->Receive);
    if (files && !files->Send.empty()) Connection->SendFile(files->Send);
    else Connection->Send(body);
    if (form == TWaitForm::Synchronous) return true;
    const HANDLE done = Connection->CompletionEvent();
    for (;;) {
        const bool complete = Connection->ReadyState() == 4;
        if (cancel && cancel->Cancelled()) return false;
        if (cancel) {
            // The bar moves by the bytes of the body under way: the request's, else the answer's.
            const TWEBDAVConnection::TTransfer t = Connection->Transferred();
            if (t.ToSend > 0) cancel->ShowPart(t.Sent, t.ToSend);
            else cancel->ShowPart(t.Received, t.ToReceive);
        }
        ProcessMessages();
        if (complete) break;
        // Sleeps until the answer is complete or a message arrives; Cancel is seen within 50 ms.
        MsgWaitForMultipleObjectsEx(1, &done, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    Connection->Status();   // raises the failure of the exchange
    return true;
}

// ---- Listing ----

bool TWEBDAVClient::GetContent(const std::string& path, int32_t depth, TvrqDialog& dialog, TListingAnswer& answer) {
    const std::string url = BuildFolderURL(path);
    TvrqProgress& progress = dialog.Progress;
    bool result = false;
    // The body goes into this file as it arrives, so the answer is never held in memory; it becomes
    // the caller's answer only when complete.
    TListingAnswer received;
    try {
        Logger->Debug("GetContent: \"" + url + "\"");
        progress.SetLines(Txt(90), "", 4);
        if (progress.CountSteps) progress.ExtendBy(1);
        const THeaders headers = {{"Depth", depth == -1 ? "infinity" : std::to_string(depth)},
                                  {"Content-Length", "90"},
                                  {"Content-type", "text/xml"},
                                  H1[0],
                                  H1[1]};
        received.Create(Env->Temp);
        TBodyFiles files;
        files.Receive = received.FileName;
        // Execute fails an answer that ended before its Content-Length.
        if (Execute("PROPFIND", url, headers, PropfindBody, TWaitForm::Polled, &progress, &files)) {
            const int status = Connection->Status();
            received.Size = Connection->Transferred().Received;
            if (status != 207) {
                Logger->Error("GetContent: the server answered " + std::to_string(status) + " " +
                              Connection->StatusText() + " for \"" + url + "\"");
            } else if (received.Size == 0) {
                Logger->Error("GetContent: empty answer for \"" + url + "\"");
            } else {
                answer.TakeFrom(received);
                result = true;
            }
        } else {
            Logger->Info("GetContent: cancelled \"" + url + "\"");
        }
    } catch (const std::exception& e) {
        try { Logger->Error(std::string("GetContent: ") + e.what()); } catch (...) {}
        result = false;
    }
    // Closes the body file of an abandoned exchange before `received` deletes it.
    Connection->Disconnect();
    try { progress.StepBy(1); } catch (...) {}
    return result;
}

bool TWEBDAVClient::TranslateXML(const TListingAnswer& answer, bool countStatistics, TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    std::string work;   // the folder the records are written into, removed again whatever happens
    try {
        progress.SetLines(Txt(88), "", 4);
        const std::string cache = Env->Cache;
        if (!shl_IsRemovableFolder(cache)) {
            throw std::runtime_error("no mirror folder in the settings (\"" + cache + "\")");
        }
        // Where the time goes, for the DEBUG line at the end.
        using TClock = std::chrono::steady_clock;
        TClock::time_point phase = TClock::now();
        std::string took;
        auto lap = [&](const char* what) {
            const TClock::time_point now = TClock::now();
            char text[64];
            std::snprintf(text, sizeof text, "%s%s %.3f s", took.empty() ? "" : ", ", what,
                          std::chrono::duration<double>(now - phase).count());
            took += text;
            phase = now;
        };
        DWORD lastPump = GetTickCount();
        auto pump = [&]() {
            const DWORD now = GetTickCount();
            if (now - lastPump < 20) return true;
            lastPump = now;
            ProcessMessages();
            return !progress.Cancelled();
        };
        // 1. The whole answer read into records; nothing is written before it parsed completely.
        const std::string base = BasePath();
        std::vector<TVirtualFileRecord> records;
        records.reserve(static_cast<size_t>(std::min<uint64_t>(answer.Size / 700, 1u << 24)));   // Apache: ~800 bytes each
        size_t responses = 0;
        auto take = [&](const std::string& href, TListingEntry& entry) {
            ++responses;
            // A response without href or with a bad escape means a broken answer: it ends the listing.
            if (href.empty()) throw std::runtime_error("a response without href");
            URLDecode(href);
            std::string relative, why;
            TVirtualFileRecord record;
            if (!RelativeHref(href, base, relative, why)) {
                // One odd item must not keep the rest of the storage from the mirror.
                Note(*this, 1, "TranslateXML: skipped: " + why);
            } else if (entry.Href = relative; !TVirtualFileStorage::ParseListingEntry(entry, record, why)) {
                Note(*this, 1, "TranslateXML: skipped: " + why);
            } else if (record.Path.size() > kMaxMirrorPath) {
                // Far too deep for any mirror path: dropped here, so that its text is not kept.
                Note(*this, 1, "TranslateXML: skipped: the path is too long for the mirror: \"" +
                                   href.substr(0, 200) + "...\"");
            } else {
                records.push_back(std::move(record));
            }
            return pump();
        };
        std::string error;
        if (!ReadMultistatusFile(answer.FileName, take, error)) throw std::runtime_error(error);
        if (responses == 0) throw std::runtime_error("the answer lists nothing");
        lap("parsed");

        // 2. The records planned as a well-formed mirror, written into a fresh folder beside it.
        work = shl_WithoutSlash(cache) + (countStatistics ? ".new\\" : ".stage\\");
        TMirrorPlan plan = PlanMirror(std::move(records), work.size(),
                                      [&](const std::string& dir) {
                                          return countStatistics ? std::vector<TMirrorDirEntry>()
                                                                 : MirrorDirectoryEntries(cache + dir);
                                      });
        for (const std::string& e : plan.Errors) Note(*this, 1, "TranslateXML: skipped: " + e);
        lap("planned");
        if (progress.CountSteps) progress.ExtendBy(static_cast<int32_t>(plan.Folders.size() + plan.Files.size()));
        if (!DeleteFolderTree(work)) throw std::runtime_error("cannot clear \"" + work + "\"");
        if (!CreateDirectoryW(Utf8ToWide(shl_WithoutSlash(work)).c_str(), nullptr)) {
            throw std::runtime_error("cannot create \"" + work + "\": " + SysErrorMessage(GetLastError()));
        }
        TVirtualFileStorage storage(work);
        int64_t files = 0, folders = 0, size = 0;
        int32_t steps = 0;
        auto write = [&](const TMirrorItem& item) {
            if (!storage.SaveVirtualFileStorageToFile(item.Record)) {
                throw std::runtime_error("cannot write the record of \"" + item.Record.Name + "\" (" +
                                         work + item.Directory + item.FileName + ")");
            }
            if (++steps == 200) {
                progress.StepBy(steps);
                steps = 0;
                if (!pump()) throw std::runtime_error("cancelled");
            }
        };
        for (const TMirrorItem& f : plan.Folders) {
            write(f);
            ++folders;
        }
        for (const TMirrorItem& f : plan.Files) {
            write(f);
            if (f.Record.Name.find(".thumb") == std::string::npos) {
                ++files;
                size += f.Record.Size;
            }
        }
        progress.StepBy(steps);
        lap("written");

        // 3. In place: the fresh mirror for the old one, or the records moved over the mirror.
        if (countStatistics) {
            SwapInMirror(work, cache, Env->Temp);
        } else {
            MergeIntoMirror(work, cache, plan);
        }
        DeleteFolderTree(work);
        work.clear();
        lap("put in place");
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        Note(*this, 3, "TranslateXML: " + std::to_string(responses) + " responses, " +
                           std::to_string(plan.Folders.size()) + " folders and " + std::to_string(plan.Files.size()) +
                           " files: " + took + "; peak working set " +
                           std::to_string(memory.PeakWorkingSetSize >> 20) + " MiB");
        if (countStatistics) {
            auto clamp = [](int64_t v) { return static_cast<int32_t>(v > 0x7FFFFFFF ? 0x7FFFFFFF : v); };
            try {
                WriteRegistryInteger("Application", "files", clamp(files));
                WriteRegistryInteger("Application", "folders", clamp(folders));
                WriteRegistryInt64("Application", "size", size);
            } catch (const std::exception& e) {
                Note(*this, 1, std::string("TranslateXML: statistics: ") + e.what());
            }
        }
        return true;
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("TranslateXML: ") + e.what());
        if (!work.empty()) DeleteFolderTree(work);
        return false;
    }
}

// ==== Operations on single items ====================================================================
// Existence, folders, thumbnails, download, the uploads, delete, copy, move, rename, free copy names and
// thumbnail bitmaps. An item request is done only when the server answered 2xx; every failure is logged
// and gives false, and no exception leaves an operation.

namespace {

enum class TOutcome {
    Done,        // 2xx (for DELETE, COPY and MOVE: not 207, which reports members that failed)
    Refused,     // another status
    Failed,      // no answer: the request could not be made or carried out
    Cancelled,   // the user pressed Cancel
};

// One request of an item operation.
struct TItemRequest {
    std::string Method;
    std::string Url;
    THeaders Headers;
    std::string Body;
    TWaitForm Form = TWaitForm::Synchronous;
    TvrqProgress* Cancel = nullptr;      // whose Cancel is tested while waiting
    std::string Failure;                 // start of its log lines ("Delete: ")
    bool Thumbnail = false;              // a thumbnail's refusal is expected: logged as DEBUG only
    std::string* Answer = nullptr;       // receives the body of a 2xx answer
    TWEBDAVClient::TBodyFiles Files;     // a body from or into a file instead
};

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

THeaders Join(THeaders a, const THeaders& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TOutcome Send(TWEBDAVClient& client, const TItemRequest& r) {
    TOutcome outcome = TOutcome::Failed;
    try {
        if (!client.Execute(r.Method, r.Url, r.Headers, r.Body, r.Form, r.Cancel, &r.Files)) {
            outcome = TOutcome::Cancelled;
            Note(client, 2, r.Failure + "cancelled " + Quoted(r.Url));
        } else {
            const int status = client.Connection->Status();
            const bool multi = status == 207 && (r.Method == "DELETE" || r.Method == "COPY" || r.Method == "MOVE");
            if (status >= 200 && status <= 299 && !multi) {
                outcome = TOutcome::Done;
                if (r.Answer) *r.Answer = client.Connection->ResponseBody();
            } else {
                outcome = TOutcome::Refused;
                Note(client, r.Thumbnail ? 3 : 1,
                     r.Failure + "the server answered " + std::to_string(status) + " " +
                         client.Connection->StatusText() + " to " + r.Method + " " + Quoted(r.Url));
            }
        }
    } catch (const std::exception& e) {
        outcome = TOutcome::Failed;
        Note(client, 1, r.Failure + e.what());
    }
    client.Connection->Disconnect();
    return outcome;
}

// A synchronous request without body.
TOutcome Send(TWEBDAVClient& client, const std::string& method, const std::string& url, const THeaders& headers,
              const std::string& failure, bool thumbnail = false) {
    TItemRequest r;
    r.Method = method;
    r.Url = url;
    r.Headers = headers;
    r.Failure = failure;
    r.Thumbnail = thumbnail;
    return Send(client, r);
}

// A depth-0 multistatus that lists a collection.
bool IsCollectionAnswer(const std::string& body) {
    std::vector<std::pair<std::string, TListingEntry>> responses;
    std::string error;
    return ReadMultistatus(body, responses, error, [] { return true; }) && !responses.empty() &&
           responses.front().second.IsCollection;
}

// PROPFIND of depth 0: true for 207, false for 404. A redirect (a folder asked without its final "/")
// is asked again at the address with the "/". Any other answer, and a request that fails, raises:
// then nobody knows whether the item exists. folder (when given) tells whether the item is a folder.
bool IsOnServer(TWEBDAVClient& client, const std::string& path, bool* folder = nullptr) {
    std::string url = client.BuildURL(path);
    const THeaders headers = Join({{"Content-Length", "90"}, {"Depth", "0"}}, TWEBDAVClient::H1);
    for (int attempt = 0;; ++attempt) {
        int status = 0;
        std::string text, body;
        try {
            client.Execute("PROPFIND", url, headers, TWEBDAVClient::PropfindBody, TWaitForm::Synchronous,
                           nullptr);
            status = client.Connection->Status();
            text = client.Connection->StatusText();
            if (folder && status == 207) body = client.Connection->ResponseBody();
        } catch (...) {
            client.Connection->Disconnect();
            throw;
        }
        client.Connection->Disconnect();
        if (status == 207) {
            if (folder) *folder = (!url.empty() && url.back() == '/') || IsCollectionAnswer(body);
            return true;
        }
        if (status == 404) return false;
        if (status >= 300 && status <= 399 && attempt == 0 && (url.empty() || url.back() != '/')) {
            url += "/";
            continue;
        }
        throw EWebDAVError("the server answered " + std::to_string(status) + " " + text + " to PROPFIND " +
                           Quoted(url));
    }
}

// The address of an item for a request on it: a folder's ends in "/", whether or not the caller ended
// path with "". Without that "" the server is asked what the item is; when it cannot tell, the
// address stays as the path gives it and the request itself reports what is wrong.
std::string ItemURL(TWEBDAVClient& client, const std::string& path, bool& folder) {
    folder = !path.empty() && (path.back() == '\\' || path.back() == '/');
    if (!folder && !path.empty()) {
        try {
            IsOnServer(client, path, &folder);
        } catch (const std::exception& e) {
            Note(client, 3, "ItemURL: " + std::string(e.what()));
            folder = false;
        }
    }
    return folder ? client.BuildFolderURL(path) : client.BuildURL(path);
}

void ProgressStart(TWEBDAVClient& client, TvrqProgress& progress, const std::string& detail, int32_t requests) {
    try {
        progress.SetLines(Txt(84), detail, 4);
        if (progress.CountSteps) progress.ExtendBy(requests);
    } catch (const std::exception& e) {
        Note(client, 1, std::string("Progress: ") + e.what());
    }
}

// The log line and the progress lines that open an operation on one item: "Upload: "a" to "b"".
void Begin(TWEBDAVClient& client, TvrqProgress* progress, const std::string& name, const std::string& from,
           const std::string& to, const std::string& detail, int32_t requests) {
    Note(client, 2, name + ": " + Quoted(from) + " to " + Quoted(to));
    if (progress) ProgressStart(client, *progress, detail, requests);
}

// A PUT of the file to remotePath, sent in pieces as it goes out; progress shows its bytes and its
// Cancel stops it.
TItemRequest PutRequest(TWEBDAVClient& client, const std::string& remotePath, const std::string& file,
                        THeaders headers, TvrqProgress& progress, const std::string& failure) {
    TItemRequest r;
    r.Method = "PUT";
    r.Url = client.BuildURL(remotePath);
    r.Headers = std::move(headers);
    r.Files.Send = file;
    r.Form = TWaitForm::Polled;
    r.Cancel = &progress;
    r.Failure = failure;
    return r;
}

void ProgressStep(TWEBDAVClient& client, TvrqProgress& progress) {
    try {
        progress.StepBy(1);
    } catch (const std::exception& e) {
        Note(client, 1, std::string("Progress: ") + e.what());
    }
}

// A name beside target for its temporary file that no file has yet: target + ".~part" (".~part2",
// ".~part3", ... when a file of that name is there, which may be the user's).
std::wstring PartName(const std::string& target) {
    const std::wstring base = Utf8ToWide(target) + L".~part";
    std::wstring name = base;
    for (int n = 2; shl_PathExists(name); ++n) {
        if (n > 1000) throw std::runtime_error("no free name for the temporary file of " + Quoted(target));
        name = base + std::to_wstring(n);
    }
    return name;
}

// Renames the complete temporary file over target; when that fails, the temporary file goes and
// target stays as it was.
void PutInPlace(const std::wstring& temp, const std::string& target) {
    if (!MoveFileExW(temp.c_str(), Utf8ToWide(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileW(temp.c_str());
        throw std::runtime_error("cannot replace " + Quoted(target) + ": " + SysErrorMessage(code));
    }
}

// Writes bytes into a temporary file beside target and renames it over target only when all of it was
// written, so that a failure leaves target as it was.
void WriteFileSafely(const std::string& target, const std::string& bytes) {
    const std::wstring temp = PartName(target);
    {
        THandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw std::runtime_error("cannot create " + Quoted(WideToUtf8(temp)) + ": " + SysErrorMessage(GetLastError()));
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
            if (!WriteFile(file.get(), bytes.data() + done, want, &put, nullptr) || put == 0) {
                const DWORD code = GetLastError();
                file.reset();
                DeleteFileW(temp.c_str());
                throw std::runtime_error("cannot write " + Quoted(WideToUtf8(temp)) + ": " + SysErrorMessage(code));
            }
            done += put;
        }
    }
    PutInPlace(temp, target);
}

// The same name with its extension replaced ("Brief.doc" -> "Brief.~tmp").
std::string ReplaceExtension(const std::string& name, const std::string& extension) {
    const size_t dot = name.find_last_of('.');
    const size_t sep = name.find_last_of("\\/:");
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return name + extension;
    return name.substr(0, dot) + extension;
}

// COPY or MOVE of an item, then of its thumbnail.
bool Transfer(TWEBDAVClient& client, const std::string& method, const std::string& name, const std::string& source,
              const std::string& target, TvrqProgress* progress, bool overwrite, const THeaders& itemHeaders,
              bool thumbnailCounts) {
    Begin(client, progress, name, source, target, shl_ExtractPathName(shl_WithoutSlash(client.StripCacheRoot(source))), 2);
    const std::string flag = overwrite ? "T" : "F";
    bool folder = false;
    const std::string from = ItemURL(client, source, folder);
    const std::string to = folder ? client.BuildFolderURL(target) : client.BuildURL(target);
    bool result = Send(client, method, from, Join({{"Destination", to}, {"Overwrite", flag}}, itemHeaders), name + ": ") ==
                  TOutcome::Done;
    if (progress) ProgressStep(client, *progress);
    // The thumbnail follows its item only: after a refusal it stays with the item it belongs to.
    if (result) {
        const TOutcome thumb =
            Send(client, method, client.BuildThumbURL(client.StripCacheRoot(source)),
                 Join({{"Destination", client.BuildThumbURL(client.StripCacheRoot(target))}, {"Overwrite", flag}}, TWEBDAVClient::H2),
                 name + "Thumb: ", true);
        if (thumb == TOutcome::Failed && thumbnailCounts) result = false;
    }
    if (progress) ProgressStep(client, *progress);
    return result;
}

}  // namespace

TItemState TWEBDAVClient::ItemState(const std::string& path) {
    try {
        return IsOnServer(*this, path) ? TItemState::There : TItemState::Absent;
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("FileExists: ") + e.what());
        return TItemState::Unknown;
    }
}

bool TWEBDAVClient::FileExists(const std::string& path) {
    return ItemState(path) == TItemState::There;
}

bool TWEBDAVClient::CreateThumbnail(const std::string& path, int32_t depth) {
    Note(*this, 3, "CreateThumbnail: " + Quoted(path));
    TItemRequest r;
    r.Method = "CREATETHUMBNAIL";
    r.Url = BuildURL(path);
    r.Headers = {{"Depth", depth == -1 ? "infinity" : depth == 0 || depth == 1 ? std::to_string(depth) : ""}};
    r.Form = TWaitForm::Polled;
    r.Failure = "CreateThumbnail: ";
    return Send(*this, r) == TOutcome::Done;
}

bool TWEBDAVClient::MakeDir(const std::string& path) {
    Note(*this, 2, "MakeDir: " + Quoted(path));
    if (Send(*this, "MKCOL", BuildFolderURL(path), H2, "Makedir: ") != TOutcome::Done) return false;
    // Its thumbnail folder; whether the server made it does not count.
    Send(*this, "MKCOL", BuildFolderURL(shl_WithoutSlash(path) + "\\.thumb"), H2, "Makedir_Thumb: ", true);
    return true;
}

bool TWEBDAVClient::Download(const std::string& remotePath, const std::string& local, TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    Begin(*this, &progress, "Download", remotePath, local, shl_ExtractPathName(shl_WithoutSlash(StripCacheRoot(remotePath))), 1);
    bool result = false;
    std::wstring temp;   // the body as it arrives; renamed over local only when complete and 2xx
    try {
        shl_ForceDirectories(Env->Download);
        temp = PartName(local);
        TItemRequest r;
        r.Method = "GET";
        r.Url = BuildURL(remotePath);
        r.Headers = Join(Octet, H1);
        r.Form = TWaitForm::Polled;
        r.Cancel = &progress;
        r.Failure = "Download: ";
        r.Files.Receive = WideToUtf8(temp);
        if (Send(*this, r) == TOutcome::Done) {
            if (progress.Cancelled()) {
                Note(*this, 2, "Download: cancelled " + Quoted(r.Url));
            } else {
                PutInPlace(temp, local);
                result = true;
            }
        }
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("Download: ") + e.what());
        result = false;
    }
    if (!result && !temp.empty()) DeleteFileW(temp.c_str());
    ProgressStep(*this, progress);
    return result;
}

bool TWEBDAVClient::Upload(const std::string& local, const std::string& remotePath, TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    Begin(*this, &progress, "Upload", local, remotePath, shl_ExtractPathName(local), 1);
    bool result =
        Send(*this, PutRequest(*this, remotePath, local, Join(Octet, H1), progress, "Upload: ")) == TOutcome::Done;
    ProgressStep(*this, progress);
    if (result) {
        // Confirmed by the server's listing of the new item.
        try {
            result = IsOnServer(*this, remotePath);
            if (!result) Note(*this, 1, "Upload: " + Quoted(remotePath) + " is not on the server after its PUT");
        } catch (const std::exception& e) {
            Note(*this, 1, std::string("Upload: ") + e.what());
            result = false;
        }
    }
    return result;
}

bool TWEBDAVClient::UploadForm(const std::string& local, const std::string& remotePath, TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    Begin(*this, &progress, "UploadForm", local, remotePath, shl_ExtractPathName(local), 1);
    bool result = false;
    std::string copy;   // the ".~tmp" copy, when one was made
    try {
        // The program that saved the file may still hold it: wait a little for it to let go.
        Sleep(500);
        bool accessible = false;
        for (int pass = 0; pass < 5 && !accessible && !progress.Cancelled(); ++pass) {
            accessible = shl_WaitForFileAccess(local, 100);
            ProcessMessages();
        }
        if (progress.Cancelled()) {
            Note(*this, 2, "UploadForm: cancelled " + Quoted(local));
        } else {
            // The bytes go from a copy of what the file holds now: the PUT reads its body as it goes
            // out, and a save while it runs must not mix into what the server gets. The copy never
            // replaces a file of that name, which is deleted afterwards and may be the user's. When
            // the system refuses the copy (a file held open for writing without sharing), the file
            // is sent in place.
            const std::string name = ReplaceExtension(local, ".~tmp");
            const std::wstring wlocal = Utf8ToWide(local), wname = Utf8ToWide(name);
            for (int pass = 0; pass < 3 && copy.empty(); ++pass) {
                const uint64_t before = shl_FileLastWrite(local);
                if (!CopyFileW(wlocal.c_str(), wname.c_str(), TRUE)) break;
                copy = name;
                // Written again while it was copied: the copy may hold part of each.
                if (shl_FileLastWrite(local) != before) {
                    DeleteFileW(wname.c_str());
                    copy.clear();
                }
            }
            progress.SetDetail(copy.empty() ? std::string() : shl_ExtractPathName(copy));
            result = Send(*this, PutRequest(*this, remotePath, copy.empty() ? local : copy,
                                            Join(Join(Octet, H2), {{"pragma", "no-cache"}}), progress,
                                            "UploadForm: ")) == TOutcome::Done;
        }
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("UploadForm: ") + e.what());
        result = false;
    }
    if (!copy.empty()) DeleteFileW(Utf8ToWide(copy).c_str());
    ProgressStep(*this, progress);
    return result;
}

bool TWEBDAVClient::UploadDirectory(const std::string& localFolder, const std::string& remoteParent,
                                    TvrqDialog& dialog) {
    TvrqProgress& progress = dialog.Progress;
    const std::string folder = shl_WithoutSlash(localFolder);
    const std::string remote = shl_WithSlash(remoteParent) + shl_ExtractPathName(folder) + "\\";
    Begin(*this, &progress, "UploadDirectory", localFolder, remote, shl_ExtractPathName(shl_WithoutSlash(remote)), 1);
    bool result = true;
    try {
        if (!IsOnServer(*this, remote) && !MakeDir(remote)) {
            result = false;
        } else {
            WIN32_FIND_DATAW entry{};
            TFindHandle find(FindFirstFileW(Utf8ToWide(folder + "\\*").c_str(), &entry));
            if (!find) {
                throw std::runtime_error("cannot list " + Quoted(folder) + ": " + SysErrorMessage(GetLastError()));
            }
            do {
                const std::string name = WideToUtf8(entry.cFileName);
                if (name == "." || name == "..") continue;
                if (progress.Cancelled()) {
                    Note(*this, 2, "UploadDirectory: cancelled " + Quoted(localFolder));
                    result = false;
                    break;
                }
                progress.SetDetail(name);
                const std::string item = folder + "\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    // A junction may lead back into this tree: it is not followed.
                    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                        Note(*this, 1, "UploadDirectory: " + Quoted(item) + " is a link; not uploaded");
                        result = false;
                    } else if (!UploadDirectory(item, remote, dialog)) {
                        result = false;
                    }
                    continue;
                }
                const std::string target = remote + name;
                bool existed = false;
                try {
                    existed = IsOnServer(*this, target);
                } catch (const std::exception& e) {
                    Note(*this, 1, std::string("UploadDirectory: ") + e.what());
                    result = false;
                    continue;
                }
                // The PUT replaces an existing file; nothing is deleted before the new content is stored.
                if (!UploadForm(item, target, dialog)) {
                    result = false;
                } else if (existed) {
                    Send(*this, "DELETE", BuildThumbURL(StripCacheRoot(target)), {}, "DeleteThumb: ", true);
                }
            } while (FindNextFileW(find.get(), &entry));
        }
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("UploadDirectory: ") + e.what());
        result = false;
    }
    ProgressStep(*this, progress);
    return result;
}

bool TWEBDAVClient::Delete(const std::string& path) {
    Note(*this, 2, "Delete: " + Quoted(path));
    bool folder = false;
    if (Send(*this, "DELETE", ItemURL(*this, path, folder), {}, "Delete: ") != TOutcome::Done) return false;
    return Send(*this, "DELETE", BuildThumbURL(StripCacheRoot(path)), {}, "DeleteThumb: ", true) != TOutcome::Failed;
}

bool TWEBDAVClient::Copy(const std::string& source, const std::string& target, TvrqDialog& dialog, bool overwrite) {
    return Transfer(*this, "COPY", "Copy", source, target, &dialog.Progress, overwrite, H3, true);
}

bool TWEBDAVClient::Move(const std::string& source, const std::string& target, TvrqDialog& dialog, bool overwrite) {
    return Transfer(*this, "MOVE", "Move", source, target, &dialog.Progress, overwrite, H1, true);
}

bool TWEBDAVClient::Rename(const std::string& source, const std::string& target) {
    return Transfer(*this, "MOVE", "Rename", source, target, nullptr, false, H2, false);
}

std::string TWEBDAVClient::GetUniqueName(const std::string& folder, const std::string& name) {
    // A server that says every name is taken must not keep us asking for ever.
    constexpr int maxCopies = 10000;
    try {
        const std::string base = shl_WithSlash(folder);
        if (!IsOnServer(*this, base + name)) return name;
        std::string candidate = Txt(59) + name;
        for (int n = 2; IsOnServer(*this, base + candidate); ++n) {
            if (n > maxCopies) throw std::runtime_error("no free name for " + Quoted(name) + " in " + Quoted(folder));
            candidate = FormatTableText(Txt(60), std::to_string(n)) + name;
        }
        return candidate;
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("GetUniqueName: ") + e.what());
        return std::string();
    }
}

std::string TWEBDAVClient::GetUniquePath(const std::string& folder, const std::string& name) {
    const std::string unique = GetUniqueName(folder, name);
    return unique.empty() ? std::string() : shl_WithSlash(folder) + unique;
}

void TWEBDAVClient::JPEGToBitmap(const std::string& jpegFile) {
    try {
        if (!shl_FileExists(jpegFile)) return;
        const std::string bmp = JpegToBmp(jpegFile);
        shl_ForceDirectories(Env->Thumb);
        WriteFileSafely(Env->Thumb + shl_ExtractFileBaseName(jpegFile) + ".thumb.bmp", bmp);
    } catch (const std::exception& e) {
        Note(*this, 1, std::string("JPEGToBitmap: ") + e.what() + " Filename: " + jpegFile);
    }
}
