#include "uTVirtualFileStorage.h"

#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uTUrl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <set>

#ifdef _WIN32
#include "uGLBWin.h"
#include "uTLogger.h"

#include <windows.h>
#endif

// ---- Record bytes ----

namespace {

void PutText(uint8_t* at, const std::string& text, const char* field) {
    if (text.size() > vfrMaxText) {
        throw ERecordError(std::string(field) + " longer than 255 bytes: \"" + text + "\"");
    }
    at[0] = static_cast<uint8_t>(text.size());
    std::memcpy(at + 1, text.data(), text.size());
}

std::string GetText(const uint8_t* at) {
    return std::string(reinterpret_cast<const char*>(at + 1), at[0]);   // 1 + 255 fits every field
}

void PutLE(uint8_t* at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t GetLE(const uint8_t* at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(at[i]) << (8 * i);
    return v;
}

void PutDouble(uint8_t* at, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof(bits));
    PutLE(at, bits, 8);
}

double GetDouble(const uint8_t* at) {
    const uint64_t bits = GetLE(at, 8);
    double d;
    std::memcpy(&d, &bits, sizeof(d));
    return d;
}

}  // namespace

std::array<uint8_t, VirtualFileRecordSize> RecordToBytes(const TVirtualFileRecord& r) {
    std::array<uint8_t, VirtualFileRecordSize> b{};
    PutText(&b[vfrNameOffset], r.Name, "Name");
    PutText(&b[vfrPathOffset], r.Path, "Path");
    PutLE(&b[vfrSizeOffset], static_cast<uint64_t>(r.Size < 0 ? 0 : r.Size), 8);
    PutDouble(&b[vfrCreationDateOffset], r.CreationDate);
    PutDouble(&b[vfrLastModifiedOffset], r.LastModified);
    b[vfrIsFolderOffset] = r.IsFolder ? 1 : 0;
    PutText(&b[vfrCacheNameOffset], r.CacheName, "CacheName");
    return b;
}

TVirtualFileRecord RecordFromBytes(const uint8_t* data, size_t size) {
    if (size < VirtualFileRecordSize) {
        throw ERecordError("record of " + std::to_string(size) + " bytes, 800 expected");
    }
    TVirtualFileRecord r;
    r.Name = GetText(data + vfrNameOffset);
    r.Path = GetText(data + vfrPathOffset);
    // A size of 2 GiB or more used to be stored as 0, so every stored record reads as it did.
    const auto stored = static_cast<int64_t>(GetLE(data + vfrSizeOffset, 8));
    r.Size = stored < 0 ? 0 : stored;
    r.CreationDate = GetDouble(data + vfrCreationDateOffset);
    r.LastModified = GetDouble(data + vfrLastModifiedOffset);
    r.IsFolder = data[vfrIsFolderOffset] != 0;
    r.CacheName = GetText(data + vfrCacheNameOffset);
    return r;
}

// ---- Dates ----

namespace {

bool Digits(const std::string& s, size_t at, size_t n, int& value) {
    if (at + n > s.size()) return false;
    value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

bool ValidDate(int y, int m, int d) {
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > days[m - 1]) return false;
    if (m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return false;
    return true;
}

double Compose(int y, int mo, int d, int h, int mi, int s) {
    const int64_t days = DayNumberOfDate(y, mo, d);
    return static_cast<double>(days) + (h * 3600 + mi * 60 + s) / 86400.0;
}

// "2004-12-07T10:00:00Z" (fraction and zone ignored; no conversion).
bool IsoToDateTime(const std::string& text, double& value) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) ||
        text[7] != '-' || !Digits(text, 8, 2, d) || !ValidDate(y, mo, d)) {
        return false;
    }
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, h) || text.size() < 19 ||
            text[13] != ':' || !Digits(text, 14, 2, mi) || text[16] != ':' || !Digits(text, 17, 2, s) ||
            h > 23 || mi > 59 || s > 59) {
            return false;
        }
    }
    value = Compose(y, mo, d, h, mi, s);
    return true;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

}  // namespace

bool DateTimeFromText(const std::string& text, double& value) {
    const std::string t = Trim(text);
    int d, mo, y, h = 0, mi = 0, s = 0;
    if (t.size() < 10 || !Digits(t, 0, 2, d) || t[2] != '.' || !Digits(t, 3, 2, mo) || t[5] != '.' ||
        !Digits(t, 6, 4, y) || !ValidDate(y, mo, d)) {
        return false;
    }
    if (t.size() > 10) {
        if (t.size() != 19 || t[10] != ' ' || !Digits(t, 11, 2, h) || t[13] != ':' || !Digits(t, 14, 2, mi) ||
            t[16] != ':' || !Digits(t, 17, 2, s) || h > 23 || mi > 59 || s > 59) {
            return false;
        }
    }
    value = Compose(y, mo, d, h, mi, s);
    return true;
}

std::string DateTimeToText(double value) {
    const double whole = std::floor(value);
    int64_t seconds = static_cast<int64_t>((value - whole) * 86400.0 + 0.5);
    int64_t days = static_cast<int64_t>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    int y, m, d;
    DateOfDayNumber(days, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%02d.%02d.%04d %02d:%02d:%02d", d, m, y, static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return buf;
}

double NowDateTime() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return Compose(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// ---- Names and listing entries ----

std::string TVirtualFileStorage::EncodePath(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\_";
        } else {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string TVirtualFileStorage::DecodePath(const std::string& text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        if (text[i] == '\\' && text[i + 1] == '_') {
            out += '\\';
            continue;
        }
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        out += hi < 0 || lo < 0 ? '_' : static_cast<char>(hi * 16 + lo);
    }
    return out;
}

void TVirtualFileStorage::InitRecord(TVirtualFileRecord& record) {
    record = TVirtualFileRecord{};
    record.CreationDate = record.LastModified = NowDateTime();
}

namespace {

bool BadNameChar(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '\\' || c == '/';
}

bool ValidFileNameChar(unsigned char c) {
    return c >= 0x20 && c != 0x7F && std::strchr("<>:\"/\\|?*", c) == nullptr;
}

// The extension of a server name, from its last "."; unlike a local file name's (shl_ExtractFileExt),
// a ":" in it belongs to the name.
std::string Extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

bool TVirtualFileStorage::ParseListingEntry(const TListingEntry& entry, TVirtualFileRecord& record,
                                            std::string& error) {
    InitRecord(record);
    record.IsFolder = entry.IsCollection;

    std::vector<std::string> names;
    size_t start = 0;
    std::string href = entry.Href;
    if (!href.empty() && href.back() == '/') href.pop_back();   // a folder's final "/"
    while (!href.empty()) {
        const size_t sep = href.find('/', start);
        names.push_back(href.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    for (std::string& n : names) {
        try {
            n = URLDecode(n);
        } catch (const EURLDecode& e) {
            error = std::string(e.what()) + " href \"" + entry.Href + "\"";
            return false;
        }
        bool bad = n.empty() || n == "." || n == "..";
        for (unsigned char c : n) bad = bad || BadNameChar(c);
        if (bad) {
            error = "unsafe name in href \"" + entry.Href + "\"";
            return false;
        }
    }
    if (names.empty() && !record.IsFolder) {
        error = "a file without a name: href \"" + entry.Href + "\"";
        return false;
    }
    if (!names.empty()) {
        record.Name = names.back();
        const size_t folderNames = record.IsFolder ? names.size() : names.size() - 1;
        for (size_t i = 0; i < folderNames; ++i) {
            if (i) record.Path += '\\';
            record.Path += names[i];
        }
    }

    if (!record.IsFolder) {
        const int64_t size = StrToInt64Def(Trim(entry.ContentLength), 0);
        record.Size = size < 0 ? 0 : size;
    }
    double date;
    if (!entry.LastModified.empty() && DateTimeFromText(HttpDateToText(Trim(entry.LastModified)), date)) {
        record.LastModified = date;
    }
    if (!entry.CreationDate.empty() && IsoToDateTime(Trim(entry.CreationDate), date)) {
        record.CreationDate = date;
    }

    if (!record.IsFolder) {
        std::string tag = Trim(entry.ETag);
        if (tag.compare(0, 2, "W/") == 0) tag.erase(0, 2);   // weak tag of a just-written file
        std::string kept;
        for (char c : tag) {
            if (c != '"' && c != '-') kept += c;
        }
        if (kept.find('\\') != std::string::npos || kept.find('/') != std::string::npos ||
            kept.find("..") != std::string::npos) {
            error = "unsafe entity tag \"" + entry.ETag + "\" of \"" + entry.Href + "\"";
            return false;
        }
        std::string cache;
        for (unsigned char c : kept + (kept.empty() ? std::string() : Extension(record.Name))) {
            if (ValidFileNameChar(c)) cache += static_cast<char>(c);
        }
        record.CacheName = cache;   // empty without a tag: such a record is not stored
    }
    return true;
}

// ---- A listing made into a well-formed mirror ----

namespace {

// CON, NUL, COM1, "nul.txt", "NUL .jpg": Windows opens the device, not a file in the folder.
bool IsDeviceFileName(const std::string& name) {
    std::string base = AsciiLower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" || base == "conout$") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

// The directory of a folder path relative to the root, with final "\" ("" for the root).
std::string RelativeDirectory(const std::string& path) {
    if (path.empty()) return {};
    std::string dir;
    const std::string enc = TVirtualFileStorage::EncodePath(path);
    for (size_t i = 0; i < enc.size(); ++i) {
        if (enc[i] == '\\' && i + 1 < enc.size() && enc[i + 1] == '_') {
            dir += '\\';
            ++i;
        } else {
            dir += enc[i];
        }
    }
    return dir + "\\";
}

std::string ParentOf(const std::string& path) {
    const size_t sep = path.rfind('\\');
    return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string LastOf(const std::string& path) {
    const size_t sep = path.rfind('\\');
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// What one directory of the plan holds: names taken (lower case) and the stems before the first "."
// of its record files, which also name their thumbnails.
struct TDirectoryNames {
    std::set<std::string> Taken, Stems;
    std::map<std::string, std::vector<std::string>> RecordsOfName;   // existing file records by Name
    bool Loaded = false;
};

// own: the record files the item had in this directory before, which it may take again.
bool Usable(const std::string& candidate, const TDirectoryNames& names, const std::vector<std::string>* own) {
    if (candidate.empty() || candidate.size() > vfrMaxText || candidate.back() == '.' || candidate.back() == ' ') {
        return false;
    }
    const std::string lower = AsciiLower(candidate);
    if (lower.find("_d_") != std::string::npos || lower.find("dirtmpfile.dir") != std::string::npos ||
        lower == "thumbs.db" || IsDeviceFileName(candidate)) {
        return false;   // the folder view takes such names for something else
    }
    if (own) {
        for (const std::string& o : *own) {
            if (AsciiLower(o) == lower) return true;
        }
    }
    return names.Taken.count(lower) == 0 && names.Stems.count(lower.substr(0, lower.find('.'))) == 0;
}

void Take(const std::string& name, TDirectoryNames& names) {
    const std::string lower = AsciiLower(name);
    names.Taken.insert(lower);
    names.Stems.insert(lower.substr(0, lower.find('.')));
}

}  // namespace

std::string NameDigest(const std::string& name) {
    uint32_t h = 2166136261u;
    for (unsigned char c : name) {
        h ^= c;
        h *= 16777619u;
    }
    char buf[9];
    std::snprintf(buf, sizeof(buf), "%08x", static_cast<unsigned>(h));
    return buf;
}

TMirrorPlan PlanMirror(std::vector<TVirtualFileRecord> records, size_t rootLength,
                       const std::function<std::vector<TMirrorDirEntry>(const std::string&)>& existing) {
    TMirrorPlan plan;
    // 1. Each name once: the key of an item is its full server path; a folder and a file of one name
    // in one folder are one name too.
    std::map<std::string, bool> kinds;   // full path -> is a folder
    std::vector<TVirtualFileRecord> kept;
    kept.reserve(records.size());
    for (TVirtualFileRecord& r : records) {
        if (r.IsFolder && r.Name.empty()) continue;   // the storage root has no record
        if (r.Path.find(".thumb") != std::string::npos) continue;   // the server's thumbnail folders
        const std::string full = r.IsFolder ? r.Path : (r.Path.empty() ? r.Name : r.Path + "\\" + r.Name);
        if (!kinds.emplace(full, r.IsFolder).second) {
            plan.Errors.push_back("\"" + full + "\" is listed twice; the first counts");
            continue;
        }
        kept.push_back(std::move(r));
    }
    std::vector<TVirtualFileRecord>().swap(records);   // the plan holds each record once at a time
    // 2. Parents: every folder on the way is a folder (a file there leaves its contents out), made
    // when the answer did not list it; paths beyond what Windows opens are left out.
    std::map<std::string, size_t> folderIndex;   // path -> index in plan.Folders
    auto pathFits = [&](const std::string& folder) {
        return rootLength + RelativeDirectory(folder).size() <= kMaxMirrorDirectory;
    };
    std::function<bool(const std::string&, std::string&)> ensureFolder;
    std::vector<TVirtualFileRecord> folders, files;
    const size_t folderCount = static_cast<size_t>(
        std::count_if(kept.begin(), kept.end(), [](const TVirtualFileRecord& r) { return r.IsFolder; }));
    folders.reserve(folderCount);
    files.reserve(kept.size() - folderCount);
    for (TVirtualFileRecord& r : kept) (r.IsFolder ? folders : files).push_back(std::move(r));
    std::vector<TVirtualFileRecord>().swap(kept);
    std::stable_sort(folders.begin(), folders.end(), [](const TVirtualFileRecord& a, const TVirtualFileRecord& b) {
        return std::count(a.Path.begin(), a.Path.end(), '\\') < std::count(b.Path.begin(), b.Path.end(), '\\');
    });
    std::map<std::string, const TVirtualFileRecord*> listedFolders;
    for (const TVirtualFileRecord& f : folders) listedFolders[f.Path] = &f;
    // why: false with the reason when a folder cannot be in the mirror
    ensureFolder = [&](const std::string& path, std::string& why) -> bool {
        if (path.empty()) return true;
        if (folderIndex.count(path)) return true;
        const auto kind = kinds.find(path);
        if (kind != kinds.end() && !kind->second) {
            why = "\"" + path + "\" is a file";
            return false;
        }
        if (!pathFits(path)) {
            why = "the path is too long for the mirror";
            return false;
        }
        if (!ensureFolder(ParentOf(path), why)) return false;
        TMirrorItem item;
        const auto listed = listedFolders.find(path);
        if (listed != listedFolders.end()) {
            item.Record = *listed->second;
        } else {
            TVirtualFileStorage::InitRecord(item.Record);
            item.Record.IsFolder = true;
            item.Record.Name = LastOf(path);
            item.Record.Path = path;
            item.Implied = true;
        }
        item.Directory = RelativeDirectory(ParentOf(path));
        const std::string own = RelativeDirectory(path);
        item.FileName = own.substr(item.Directory.size(), own.size() - item.Directory.size() - 1) + "DIRTMPFILE.DIR";
        if (rootLength + item.Directory.size() + item.FileName.size() > kMaxMirrorPath) {
            why = "the path is too long for the mirror";
            return false;
        }
        folderIndex[path] = plan.Folders.size();
        plan.Folders.push_back(std::move(item));
        return true;
    };
    for (const TVirtualFileRecord& f : folders) {
        std::string why;
        if (!ensureFolder(f.Path, why)) plan.Errors.push_back("\"" + f.Path + "\" left out: " + why);
    }
    // 3. The names each directory holds: its folders' directories and records, and what is there already.
    std::map<std::string, TDirectoryNames> dirs;
    auto namesOf = [&](const std::string& dir) -> TDirectoryNames& {
        TDirectoryNames& names = dirs[dir];
        if (!names.Loaded) {
            names.Loaded = true;
            if (existing) {
                for (const TMirrorDirEntry& e : existing(dir)) {
                    if (!e.IsDirectory && !e.RecordName.empty()) names.RecordsOfName[e.RecordName].push_back(e.FileName);
                    Take(e.FileName, names);
                }
            }
        }
        return names;
    };
    for (const TMirrorItem& f : plan.Folders) {
        TDirectoryNames& names = namesOf(f.Directory);
        const std::string own = f.FileName.substr(0, f.FileName.size() - std::strlen("DIRTMPFILE.DIR"));
        names.Taken.insert(AsciiLower(own));
        names.Taken.insert(AsciiLower(f.FileName));
    }
    // 4. Cache names.
    plan.Files.reserve(files.size());
    for (TVirtualFileRecord& f : files) {
        const std::string full = f.Path.empty() ? f.Name : f.Path + "\\" + f.Name;
        std::string why;
        if (!ensureFolder(f.Path, why)) {
            plan.Errors.push_back("\"" + full + "\" left out: " + why);
            continue;
        }
        const std::string dir = RelativeDirectory(f.Path);
        TDirectoryNames& names = namesOf(dir);
        std::string ext;
        for (unsigned char c : Extension(f.Name)) {
            if (ValidFileNameChar(c)) ext += static_cast<char>(c);
        }
        if (ext.size() > 32) ext.clear();   // no real extension; it would only eat the path
        std::string tag = f.CacheName.size() >= ext.size() &&
                                  f.CacheName.compare(f.CacheName.size() - ext.size(), ext.size(), ext) == 0
                              ? f.CacheName.substr(0, f.CacheName.size() - ext.size())
                              : f.CacheName;
        for (char& c : tag) {
            if (c == '.') c = '_';   // the part before the first "." names the thumbnails
        }
        if (tag.size() > 64) tag.clear();
        const std::string digest = NameDigest(f.Name);
        const auto before = names.RecordsOfName.find(f.Name);
        const std::vector<std::string>* own = before == names.RecordsOfName.end() ? nullptr : &before->second;
        // The candidates in order, made only as far as needed: the tag, the tag with the digest of
        // the name, the digest, the digest numbered 2 to 99.
        std::string chosen;
        auto take = [&](std::string c) {
            if (!Usable(c, names, own) || rootLength + dir.size() + c.size() > kMaxMirrorPath) return false;
            chosen = std::move(c);
            return true;
        };
        bool found = (!tag.empty() && (take(tag + ext) || take(tag + "_" + digest + ext))) || take(digest + ext);
        for (int n = 2; !found && n <= 99; ++n) found = take(digest + "_" + std::to_string(n) + ext);
        if (!found) {
            plan.Errors.push_back("\"" + full + "\" left out: no free cache name in its folder");
            continue;
        }
        Take(chosen, names);
        f.CacheName = chosen;
        TMirrorItem item;
        item.Directory = dir;
        item.FileName = chosen;
        item.Record = std::move(f);
        plan.Files.push_back(std::move(item));
    }
    for (TMirrorItem& file : plan.Files) {
        TDirectoryNames& names = dirs[file.Directory];
        const auto old = names.RecordsOfName.find(file.Record.Name);
        if (old == names.RecordsOfName.end()) continue;
        for (const std::string& name : old->second) {
            if (AsciiLower(name) != AsciiLower(file.FileName)) plan.Stale.push_back(file.Directory + name);
        }
        names.RecordsOfName.erase(old);
    }
    return plan;
}

#ifdef _WIN32
// ---- The mirror on disk ----

namespace {

std::mt19937& Random() {
    static std::mt19937 engine(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return engine;
}

void WriteRecordFile(const std::string& file, const TVirtualFileRecord& record) {
    const auto bytes = RecordToBytes(record);
    // Explorer's windows read records on threads of their own while a handler rewrites one: the
    // file is written over in place (never emptied first, a record has one size), readers may
    // keep it open meanwhile, and another writer is waited for a moment.
    THandle h;
    DWORD error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        h.reset(CreateFileW(Utf8ToWide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        error = h ? 0 : GetLastError();
        if (error != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    if (!h) throw std::runtime_error(SysErrorMessage(error));
    DWORD written = 0;
    if (!WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !SetEndOfFile(h.get())) {
        const DWORD error = GetLastError();
        // A cut record would read as damaged later: leave none.
        h.reset();
        DeleteFileW(Utf8ToWide(file).c_str());
        throw std::runtime_error(SysErrorMessage(error));
    }
}

// Each entry of dir (pattern), "." and ".." skipped.
template <typename F>
void ForEachEntry(const std::string& dir, const std::string& pattern, F f) {
    WIN32_FIND_DATAW fd;
    const TFindHandle find(FindFirstFileW(Utf8ToWide(dir + pattern).c_str(), &fd));
    if (!find) return;
    do {
        const std::string name = WideToUtf8(fd.cFileName);
        if (name == "." || name == "..") continue;
        f(name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(find.get(), &fd));
}

constexpr const char* FolderRecordSuffix = "DIRTMPFILE.DIR";

// Deletes a file; true when it is gone (also when it was not there).
bool DeleteGone(const std::string& file) {
    if (DeleteFileW(Utf8ToWide(file).c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A record file name for dir that no entry there has but mayTake (a record about to be replaced):
// name itself, else "k<n>" + name, so the extension stays last.
std::string FreeRecordName(const std::string& dir, const std::string& name, const std::string& mayTake) {
    const std::string base = name.empty() ? std::string("record.dat") : name;
    auto free = [&](const std::string& candidate) {
        return (!mayTake.empty() && AsciiLower(candidate) == AsciiLower(mayTake)) || !shl_PathExists(dir + candidate);
    };
    if (free(base)) return base;
    for (unsigned n = 2; n < 100000; ++n) {
        std::string candidate = std::to_string(n);
        candidate.insert(candidate.begin(), 'k');   // (not "k" + ...: GCC 12 warns of a false overlap there)
        candidate += base;
        if (free(candidate)) return candidate;
    }
    throw std::runtime_error("no free record file name for \"" + base + "\" in " + dir);
}

}  // namespace

TVirtualFileStorage::TVirtualFileStorage(const std::string& root)
    : Root(shl_WithSlash(root)), Logger(std::make_unique<TLogger>(-1, true, "VirtualFileStorage")) {}

TVirtualFileStorage::~TVirtualFileStorage() = default;

bool TVirtualFileStorage::ParseListingEntry(const TListingEntry& entry, TVirtualFileRecord& record) {
    std::string error;
    if (ParseListingEntry(entry, record, error)) return true;
    try { Logger->Error("ParseListingEntry: " + error); } catch (...) {}
    return false;
}

std::string TVirtualFileStorage::FolderDirectory(const std::string& path) const {
    return Root + RelativeDirectory(path);
}

bool TVirtualFileStorage::SaveVirtualFileStorageToFile(const TVirtualFileRecord& record) {
    std::string target;
    try {
        if (!record.IsFolder) {
            const std::string dir = FolderDirectory(record.Path);
            target = dir + record.CacheName;
            if (dir != KnownDirectory) {
                if (!shl_DirectoryExists(dir)) return false;
                KnownDirectory = dir;
            }
            // Cache names come from entity tags: only a plain file name may land in the mirror.
            if (record.CacheName.empty() || record.CacheName == "." || record.CacheName == ".." ||
                record.CacheName.find_first_of("\\/:") != std::string::npos || IsDeviceFileName(record.CacheName)) {
                throw std::runtime_error("no usable cache name for \"" + record.Name + "\"");
            }
            WriteRecordFile(target, record);
        } else {
            if (record.Name.empty()) return true;   // the storage root has no record
            if ((Root + record.Path).find(".thumb") != std::string::npos) return true;
            const std::string dir = FolderDirectory(record.Path);
            target = dir.substr(0, dir.size() - 1) + "DIRTMPFILE.DIR";
            shl_ForceDirectories(dir);
            KnownDirectory = dir;
            WriteRecordFile(target, record);
        }
        return true;
    } catch (const std::exception& e) {
        KnownDirectory.clear();
        try {
            Logger->Error(std::string("SaveVirtualFileStorageToFile: ") + e.what() +
                          (record.IsFolder ? " Folder: " : " File: ") + target);
        } catch (...) {}
        return false;
    }
}

void TVirtualFileStorage::LoadVirtualFileStorageFromFile(const std::string& fileName, TVirtualFileRecord& record) {
    InitRecord(record);
    const std::wstring wname = Utf8ToWide(fileName);
    // Opened at once (a folder lists thousands of records): only a missing file is no error. Shared
    // with writers and with a handler that deletes or moves the record meanwhile: a reader on
    // another window's thread must not make their change fail.
    THandle h;
    DWORD error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        h.reset(CreateFileW(wname.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        error = h ? 0 : GetLastError();
        if (error != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;  // gone meanwhile
    if (!h) throw ERecordError("cannot open " + fileName + ": " + SysErrorMessage(error));
    std::array<uint8_t, VirtualFileRecordSize> b{};
    DWORD got = 0, n = 0;
    while (got < b.size() && ReadFile(h.get(), b.data() + got, static_cast<DWORD>(b.size() - got), &n, nullptr) && n) {
        got += n;
    }
    try {
        record = RecordFromBytes(b.data(), got);
    } catch (const ERecordError& e) {
        throw ERecordError(std::string(e.what()) + ": " + fileName);
    }
}

void TVirtualFileStorage::RecordFromLocalFile(const std::string& mirrorFolder, const std::string& localFile,
                                              TVirtualFileRecord& record) {
    InitRecord(record);
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (!GetFileAttributesExW(Utf8ToWide(localFile).c_str(), GetFileExInfoStandard, &fa)) return;
    record.Name = shl_ExtractFileName(localFile);
    std::string path = mirrorFolder.size() >= Root.size() ? mirrorFolder.substr(Root.size()) : std::string();
    while (!path.empty() && path.back() == '\\') path.pop_back();
    record.Path = path;
    record.CacheName = "tmp" + std::to_string(Random()() % 10000) + Extension(record.Name);
    const uint64_t size = (static_cast<uint64_t>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
    record.Size = size > uint64_t(INT64_MAX) ? 0 : static_cast<int64_t>(size);
    record.IsFolder = false;
}

void TVirtualFileStorage::CountFolderContents(const std::string& mirrorDirectory, int32_t& folders,
                                              int64_t& size, int32_t& files) {
    folders = size = files = 0;
    int64_t total = 0;
    shl_WalkTree(Utf8ToWide(shl_ExtractFilePath(mirrorDirectory)), [&](const TShellTreeEntry& e) {
        if (e.Leaving) return TShellWalk::Continue;
        const std::string name = WideToUtf8(e.Name);
        const std::string lower = AsciiLower(name);
        // Thumbnail folders, special folders' records and folder records are no content.
        if (name.find(".thumb") != std::string::npos || lower == "thumbs.db") return TShellWalk::Skip;
        if (lower.find("_d_") != std::string::npos || lower.find("dirtmpfile.dir") != std::string::npos)
            return TShellWalk::Skip;
        if (e.Folder) {
            ++folders;
            return TShellWalk::Continue;
        }
        ++files;
        try {
            TVirtualFileRecord r;
            LoadVirtualFileStorageFromFile(WideToUtf8(e.LongPath), r);
            total += r.Size;
        } catch (const std::exception& ex) {
            try { Logger->Error(std::string("CountFolderContents: ") + ex.what()); } catch (...) {}
        }
        return TShellWalk::Continue;
    });
    size = total;
}

std::vector<std::string> TVirtualFileStorage::ListRecordFiles(const std::string& mirrorDirectory) {
    std::vector<std::string> list;
    ForEachEntry(mirrorDirectory, "*", [&](const std::string& name, bool isDir) {
        if (!isDir) list.push_back(mirrorDirectory + name);
    });
    return list;
}

std::string TVirtualFileStorage::FindCacheName(const std::string& mirrorPath) {
    const std::string dir = shl_ExtractFilePath(mirrorPath);
    const std::string name(mirrorPath.begin() + static_cast<std::ptrdiff_t>(dir.size()), mirrorPath.end());
    std::string found;
    bool done = false;
    std::string pattern(1, '*');
    pattern += Extension(name);
    ForEachEntry(dir, pattern, [&](const std::string& file, bool isDir) {
        if (done || isDir) return;
        try {
            TVirtualFileRecord r;
            LoadVirtualFileStorageFromFile(dir + file, r);
            if (r.Name == name) {
                found = r.CacheName;
                done = true;
            }
        } catch (const std::exception& e) {
            try { Logger->Error(std::string("FindCacheName: ") + e.what()); } catch (...) {}
        }
    });
    return found;
}
// ---- Server paths and mirror paths ----

std::string TVirtualFileStorage::StripRoot(const std::string& root, const std::string& path) {
    if (root.empty()) return path;
    const std::string withSlash = shl_WithSlash(root);
    if (path.size() >= withSlash.size() && SameText(path.substr(0, withSlash.size()), withSlash)) {
        return path.substr(withSlash.size());
    }
    if (SameText(path, withSlash.substr(0, withSlash.size() - 1))) return {};
    return path;
}

std::string TVirtualFileStorage::ServerPathOf(const std::string& filePath) const {
    return shl_WithoutSlash(StripRoot(Root, filePath));
}

std::string TVirtualFileStorage::FilePathOf(const std::string& serverPath, bool isFolder) const {
    const std::string path = shl_WithoutSlash(serverPath);
    return Root + path + (isFolder && !path.empty() ? "\\" : "");
}

bool TVirtualFileStorage::ServerFolderOf(const std::string& directory, std::string& path) const {
    path.clear();
    const std::string dir = shl_WithSlash(directory);
    if (dir.size() < Root.size() || !SameText(dir.substr(0, Root.size()), Root)) return false;
    const std::string rest = dir.substr(Root.size());
    size_t start = 0;
    while (start < rest.size()) {
        const size_t end = rest.find('\\', start);
        const std::string segment = rest.substr(start, end - start);
        if (segment.empty() || segment.size() % 2 != 0 ||
            segment.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            path.clear();
            return false;
        }
        if (!path.empty()) path += '\\';
        path += DecodePath(segment);
        start = end + 1;
    }
    return true;
}

// ---- Record operations ----

std::string TVirtualFileStorage::PutFileRecord(const std::string& serverPath, TVirtualFileRecord record,
                                               const std::string& own) {
    const std::string path = shl_WithoutSlash(serverPath);
    try {
        const std::string folder = ParentOf(path), name = LastOf(path);
        if (name.empty() || serverPath.back() == '\\') throw std::runtime_error("no file name");
        const std::string dir = FolderDirectory(folder);
        shl_ForceDirectories(dir);
        const std::string old = FindCacheName(dir + name);
        std::string cache;
        if (!own.empty() && SameText(shl_ExtractFilePath(own), dir)) {
            cache = own.substr(dir.size());
        } else {
            cache = FreeRecordName(dir, record.CacheName, old);
        }
        record.Name = name;
        record.Path = folder;
        record.IsFolder = false;
        record.CacheName = cache;
        if (!SaveVirtualFileStorageToFile(record)) return {};   // logged there; an older record stays
        if (!old.empty() && AsciiLower(old) != AsciiLower(cache) && !DeleteGone(dir + old)) {
            const DWORD error = GetLastError();
            try {
                Logger->Error("PutFileRecord: the older record " + dir + old + " stays: " + SysErrorMessage(error));
            } catch (...) {}
        }
        return dir + cache;
    } catch (const std::exception& e) {
        try { Logger->Error(std::string("PutFileRecord: ") + e.what() + " File: " + path); } catch (...) {}
        return {};
    }
}

std::string TVirtualFileStorage::AddUploadedFile(const std::string& serverPath, const std::string& localFile) {
    const std::string folder = ParentOf(shl_WithoutSlash(serverPath));
    TVirtualFileRecord record;
    RecordFromLocalFile(folder.empty() ? Root : Root + folder, localFile, record);
    if (record.CacheName.empty()) {
        // Gone locally since it was sent: the server has it all the same.
        record.CacheName = "tmp" + std::to_string(Random()() % 10000) + Extension(LastOf(serverPath));
    }
    return PutFileRecord(serverPath, record);
}

std::string TVirtualFileStorage::CopyFileRecord(const std::string& recordFile, const std::string& serverPath) {
    return PutCopyOf(recordFile, serverPath, false);
}

std::string TVirtualFileStorage::MoveFileRecord(const std::string& recordFile, const std::string& serverPath) {
    return PutCopyOf(recordFile, serverPath, true);
}

std::string TVirtualFileStorage::PutCopyOf(const std::string& recordFile, const std::string& serverPath, bool move) {
    const std::string caller = move ? "MoveFileRecord: " : "CopyFileRecord: ";
    TVirtualFileRecord record;
    try {
        LoadVirtualFileStorageFromFile(recordFile, record);
    } catch (const std::exception& e) {
        try { Logger->Error(caller + e.what()); } catch (...) {}
        return {};
    }
    record.CacheName = shl_ExtractFileName(recordFile);
    const std::string made = PutFileRecord(serverPath, record, move ? recordFile : std::string());
    if (move && !made.empty() && !SameText(made, recordFile) && !DeleteGone(recordFile)) {
        const DWORD error = GetLastError();
        try { Logger->Error(caller + "the record " + recordFile + " stays: " + SysErrorMessage(error)); } catch (...) {}
    }
    return made;
}

bool TVirtualFileStorage::RemoveItem(const std::string& mirrorName, bool isFolder) {
    const std::string name = shl_WithoutSlash(mirrorName);
    auto fail = [&](const std::string& why) {
        try { Logger->Error("RemoveItem: " + why + " Item: " + mirrorName); } catch (...) {}
        return false;
    };
    // Only what lies below the root: the name comes from an item ID that Explorer hands back.
    if (name.size() <= Root.size() || !SameText(name.substr(0, Root.size()), Root)) {
        return fail("not in the mirror");
    }
    const std::string rest = name.substr(Root.size());
    for (size_t start = 0; start <= rest.size();) {
        const size_t end = std::min(rest.find('\\', start), rest.size());
        const std::string segment = rest.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == ".." || segment.find_first_of("/*?:") != std::string::npos) {
            return fail("not a mirror name");
        }
        start = end + 1;
    }
    if (!isFolder) {
        if (!DeleteGone(name)) return fail(SysErrorMessage(GetLastError()));
        return true;
    }
    if (shl_DirectoryExists(name) && (!shl_DeleteFolder(name) || shl_DirectoryExists(name))) {
        return fail("the directory cannot be deleted");
    }
    if (!DeleteGone(name + FolderRecordSuffix)) return fail(SysErrorMessage(GetLastError()));
    return true;
}

bool TVirtualFileStorage::MakeFolder(const std::string& serverPath) {
    const std::string path = shl_WithoutSlash(serverPath);
    if (path.empty()) {
        try {
            shl_ForceDirectories(Root);
            return true;
        } catch (const std::exception& e) {
            try { Logger->Error(std::string("MakeFolder: ") + e.what() + " Folder: " + Root); } catch (...) {}
            return false;
        }
    }
    TVirtualFileRecord record;
    InitRecord(record);
    record.Name = LastOf(path);
    record.Path = path;
    record.IsFolder = true;
    return SaveVirtualFileStorageToFile(record);   // makes the directory, skips ".thumb"
}

bool TVirtualFileStorage::MoveFolder(const std::string& oldPath, const std::string& newPath) {
    const std::string from = shl_WithoutSlash(FolderDirectory(shl_WithoutSlash(oldPath)));
    const std::string to = shl_WithoutSlash(FolderDirectory(shl_WithoutSlash(newPath)));
    auto log = [&](const std::string& text) {
        try { Logger->Error("MoveFolder: " + text); } catch (...) {}
    };
    try {
        if (shl_WithoutSlash(oldPath).empty() || shl_WithoutSlash(newPath).empty()) {
            throw std::runtime_error("the storage root does not move");
        }
        if (SameText(to.substr(0, std::min(to.size(), from.size() + 1)), from + "\\")) {
            throw std::runtime_error(to + " lies inside " + from);
        }
        TVirtualFileRecord own;
        try {
            LoadVirtualFileStorageFromFile(from + FolderRecordSuffix, own);
        } catch (const std::exception& e) {
            log(e.what());
            InitRecord(own);
        }
        KnownDirectory.clear();
        if (!SameText(from, to)) {
            // What the mirror still held at the new place is not on the server (it said the name was free).
            if (shl_DirectoryExists(to) && (!shl_DeleteFolder(to) || shl_DirectoryExists(to))) {
                throw std::runtime_error("cannot clear " + to);
            }
            DeleteGone(to + FolderRecordSuffix);
            shl_ForceDirectories(shl_ExtractFilePath(to));
            if (!MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), 0)) {
                const DWORD error = GetLastError();
                // The mirror cannot follow: the old place goes, the new one is listed anew.
                log("cannot move " + from + " to " + to + ": " + SysErrorMessage(error));
                RemoveItem(from, true);
                return false;
            }
            if (!DeleteGone(from + FolderRecordSuffix)) log("the record " + from + FolderRecordSuffix + " stays");
        }
        own.Name = LastOf(shl_WithoutSlash(newPath));
        own.Path = shl_WithoutSlash(newPath);
        own.IsFolder = true;
        own.CacheName.clear();
        if (own.LastModified == 0) own.CreationDate = own.LastModified = NowDateTime();
        bool whole = SaveVirtualFileStorageToFile(own);
        const size_t suffix = std::strlen(FolderRecordSuffix);
        shl_WalkTree(Utf8ToWide(to), [&](const TShellTreeEntry& entry) {
            if (entry.Folder) return TShellWalk::Continue;
            const std::string file = WideToUtf8(entry.Path), name = WideToUtf8(entry.Name);
            const std::string dir = shl_ExtractFilePath(file);
            TVirtualFileRecord record;
            try {
                LoadVirtualFileStorageFromFile(file, record);
            } catch (const std::exception& e) {
                log(e.what());   // a damaged record is shown nowhere; it stays as it is
                return TShellWalk::Continue;
            }
            // The place a record lies in is the truth: it names its folder.
            std::string folder;
            const bool folderRecord = name.size() > suffix &&
                                      AsciiLower(name.substr(name.size() - suffix)) == AsciiLower(FolderRecordSuffix);
            if (record.Name.empty() || !ServerFolderOf(dir, folder) || folderRecord != record.IsFolder) {
                return TShellWalk::Continue;
            }
            if (record.IsFolder) {
                record.Path = (folder.empty() ? "" : folder + "\\") + DecodePath(name.substr(0, name.size() - suffix));
            } else {
                record.Path = folder;
                record.CacheName = name;
            }
            if (SaveVirtualFileStorageToFile(record)) return TShellWalk::Continue;
            whole = false;
            // A record that names the old place must not stay.
            log("the record " + file +
                (DeleteGone(file) ? " could not be rewritten; removed" : " could not be rewritten nor removed"));
            return TShellWalk::Continue;
        });
        return whole;
    } catch (const std::exception& e) {
        log(e.what());
        return false;
    }
}

bool TVirtualFileStorage::RelistFolder(const std::string& serverPath, const std::function<bool()>& list) {
    auto log = [&](const std::string& text) {
        try { Logger->Error("RelistFolder: " + text); } catch (...) {}
    };
    const std::string path = shl_WithoutSlash(serverPath);
    std::string directory, aside;
    if (!path.empty()) {
        directory = shl_WithoutSlash(FolderDirectory(path));
        if (shl_DirectoryExists(directory)) {
            aside = directory + ".old" + std::to_string(GetTickCount64());
            if (!MoveFileExW(Utf8ToWide(directory).c_str(), Utf8ToWide(aside).c_str(), 0)) {
                log("cannot set aside " + directory + ": " + SysErrorMessage(GetLastError()));
                aside.clear();
            }
        }
    }
    KnownDirectory.clear();
    auto restore = [&] {
        if (aside.empty()) return;
        KnownDirectory.clear();
        if (shl_DirectoryExists(directory) && !shl_DeleteFolder(directory)) log("cannot clear " + directory);
        if (!MoveFileExW(Utf8ToWide(aside).c_str(), Utf8ToWide(directory).c_str(), 0)) {
            log("cannot bring back " + aside + ": " + SysErrorMessage(GetLastError()));
        }
    };
    bool ok = false;
    try {
        if (!aside.empty()) shl_ForceDirectories(directory);
        ok = list();
    } catch (...) {
        restore();
        throw;
    }
    if (!ok) {
        restore();
    } else if (!aside.empty() && !shl_DeleteFolder(aside)) {
        log("cannot delete " + aside);
    }
    return ok;
}

bool TVirtualFileStorage::WriteSidecar(const std::string& document, TVirtualFileRecord record,
                                       const std::string& serverPath, uint64_t lastWrite) {
    const std::string sidecar = document + ".sxc";
    const std::wstring part = Utf8ToWide(sidecar + ".~part");
    try {
        const std::string path = shl_WithoutSlash(serverPath);
        record.Name = LastOf(path);
        record.Path = ParentOf(path);
        record.IsFolder = false;
        const auto bytes = RecordToBytes(record);
        {
            THandle h(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!h || !WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written != bytes.size()) {
                throw std::runtime_error(SysErrorMessage(GetLastError()));
            }
        }
        // The tray program takes a sidecar whose time differs from its document's for a changed one.
        if (lastWrite && !shl_SetFileLastWrite(WideToUtf8(part), lastWrite)) {
            throw std::runtime_error(SysErrorMessage(GetLastError()));
        }
        if (!MoveFileExW(part.c_str(), Utf8ToWide(sidecar).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            throw std::runtime_error(SysErrorMessage(GetLastError()));
        }
        return true;
    } catch (const std::exception& e) {
        DeleteFileW(part.c_str());
        try { Logger->Error(std::string("WriteSidecar: ") + e.what() + " File: " + sidecar); } catch (...) {}
        return false;
    }
}
#endif
