#pragma once
// The local mirror of the server's folder tree: one 800-byte record file per server file and folder.
//
// Layout below the mirror root: every server folder is a directory named by the hex form of its name
// (EncodePath: each byte two upper-case hex digits); a file's record is <folder dir>\<CacheName>; a
// folder's record is <hex name>DIRTMPFILE.DIR beside its directory. Folders whose path contains
// ".thumb" are not mirrored. The same 800 bytes form the ".sxc" sidecar of an opened file.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Record layout: offsets of the little-endian fields; texts are a length byte and up to 255 UTF-8 bytes.
constexpr size_t VirtualFileRecordSize = 800;
constexpr size_t vfrNameOffset = 0;
constexpr size_t vfrPathOffset = 256;
constexpr size_t vfrSizeOffset = 512;   // 64 bits: the low half where 32-bit sizes always were, the high
                                        // half in the reserved field after it (zero for them)
constexpr size_t vfrCreationDateOffset = 520;
constexpr size_t vfrLastModifiedOffset = 528;
constexpr size_t vfrIsFolderOffset = 536;
constexpr size_t vfrCacheNameOffset = 537;
constexpr size_t vfrMaxText = 255;

struct TVirtualFileRecord {
    std::string Name;            // the item's name, no path
    std::string Path;            // file: its folder; folder: itself. "" the storage root
    int64_t Size = 0;            // bytes; never negative
    double CreationDate = 0;     // days since 30.12.1899, time as fraction, server time
    double LastModified = 0;
    bool IsFolder = false;
    std::string CacheName;       // record file name in the mirror; "" for folders
};

// A record that cannot be stored or read (a text over 255 bytes, a short file).
class ERecordError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The 800 bytes of a record; reserved bytes are zero. Raises ERecordError for a text over 255 bytes.
std::array<uint8_t, VirtualFileRecordSize> RecordToBytes(const TVirtualFileRecord& record);
// Reads the first 800 bytes; raises ERecordError when fewer are given.
TVirtualFileRecord RecordFromBytes(const uint8_t* data, size_t size);

// Date texts of the system: "dd.mm.yyyy hh:mm:ss" (the time part optional) <-> day number.
// False for a text that is no valid date.
bool DateTimeFromText(const std::string& text, double& value);
std::string DateTimeToText(double value);
// The local date and time now as a day number.
double NowDateTime();

// One response of a listing, as the listing reader found it.
struct TListingEntry {
    std::string Href;          // relative to the storage root, still percent-encoded ("Fotos/a%20b.jpg",
                               // "Fotos/" for a folder, "" the root)
    bool IsCollection = false;
    std::string ContentLength, LastModified, CreationDate, ETag;   // as the server sent them; "" absent
};

class TLogger;

class TVirtualFileStorage {
public:
    static std::string EncodePath(const std::string& text);   // "\" becomes "\_"
    static std::string DecodePath(const std::string& text);   // bad pairs become "_"
    static void InitRecord(TVirtualFileRecord& record);
    // Fills the record from a listing entry. The href is decoded once; its names must not be empty,
    // ".", "..", nor hold "\", "/" or a control character; the entity tag must not hold "\", "/" or
    // "..", and of the rest only characters valid in a Windows file name are kept. False, with the
    // reason in error, for an entry that must not be written.
    static bool ParseListingEntry(const TListingEntry& entry, TVirtualFileRecord& record, std::string& error);

#ifdef _WIN32
    explicit TVirtualFileStorage(const std::string& root);
    ~TVirtualFileStorage();
    TVirtualFileStorage(const TVirtualFileStorage&) = delete;
    TVirtualFileStorage& operator=(const TVirtualFileStorage&) = delete;

    // As above, and logs the reason as an ERROR line.
    bool ParseListingEntry(const TListingEntry& entry, TVirtualFileRecord& record);
    // Writes the record to its place below Root (the only writer of mirror records). A file whose
    // folder directory does not exist is not written. False (logged) when writing failed.
    bool SaveVirtualFileStorageToFile(const TVirtualFileRecord& record);
    // InitRecord, then the file's record when the file exists. Raises ERecordError for a file that
    // cannot be read or is shorter than 800 bytes.
    void LoadVirtualFileStorageFromFile(const std::string& fileName, TVirtualFileRecord& record);
    // The record of a local file just uploaded into mirrorFolder (Root + server folder).
    void RecordFromLocalFile(const std::string& mirrorFolder, const std::string& localFile,
                             TVirtualFileRecord& record);
    // Folders, bytes and files below the folder part of mirrorDirectory.
    void CountFolderContents(const std::string& mirrorDirectory, int32_t& folders, int64_t& size,
                             int32_t& files);
    // The plain files of mirrorDirectory (with final "\"), each as mirrorDirectory + name.
    std::vector<std::string> ListRecordFiles(const std::string& mirrorDirectory);
    // The CacheName of the record of the server file at mirrorPath (Root + encoded folder + "\" + name),
    // "" when none is found.
    std::string FindCacheName(const std::string& mirrorPath);
    // Root + encoded folder (with final "\") of a server folder path.
    std::string FolderDirectory(const std::string& path) const;

    // ---- Server paths and mirror paths ----
    // The grains carry an item as root + its server path in plain names ("<cache>Fotos\a.jpg", a
    // folder with its final "\"). StripRoot drops a leading root (case ignored, with or without its
    // final "\"); a path outside the root is a server path already and stays as it is.
    static std::string StripRoot(const std::string& root, const std::string& path);
    // The server path of a grain's path: StripRoot(Root, ...) without a final "\".
    std::string ServerPathOf(const std::string& filePath) const;
    // The grain's path of a server path: Root + serverPath, a folder with its final "\".
    std::string FilePathOf(const std::string& serverPath, bool isFolder) const;
    // The server folder that a mirror directory (FolderDirectory's form, final "\" optional) stands
    // for, "" the root; false for a directory that is not below Root or is no encoded name.
    bool ServerFolderOf(const std::string& directory, std::string& path) const;

    // ---- Record operations: the only writers of the mirror ----
    // Adds or replaces the record of the server file serverPath ("folder\name"): the record takes that
    // Name and Path and goes into the folder's directory, made when missing. Its record file: own
    // when own (a record file the record may keep) lies in that directory; else record.CacheName,
    // with a "k<n>" prefix when another file has that name. An older record of that name under
    // another record file goes only once the new one is written. The new record file's full name;
    // "" (logged) when it could not be written, and then the mirror is as it was.
    std::string PutFileRecord(const std::string& serverPath, TVirtualFileRecord record, const std::string& own = {});
    // The record of the local file just uploaded to serverPath (RecordFromLocalFile), put as above.
    std::string AddUploadedFile(const std::string& serverPath, const std::string& localFile);
    // A copy of the record in recordFile as the record of the server file serverPath; it keeps the
    // source's record file name where that is free.
    std::string CopyFileRecord(const std::string& recordFile, const std::string& serverPath);
    // As CopyFileRecord, then the source record goes (a file renamed or moved on the server); in its
    // own directory the record keeps its record file. "" (logged) when the new record could not be
    // written: then the source stays.
    std::string MoveFileRecord(const std::string& recordFile, const std::string& serverPath);
    // Removes an item from the mirror: a file's record file, or a folder's directory (the grain's
    // "vCacheName" form) with everything below it and its folder record. Only what lies below Root is
    // touched. True when nothing of the item is left (also when it was gone already).
    bool RemoveItem(const std::string& mirrorName, bool isFolder);
    // Writes the record of the server folder serverPath (dated now) and makes its directory with the
    // missing parents. True also for the root and for folders the mirror leaves out (".thumb").
    bool MakeFolder(const std::string& serverPath);
    // The mirror of the folder oldPath after the server moved or renamed it to newPath: what the mirror
    // held at the new place goes, the directory moves there, the folder's record is written anew and
    // every record below gets the Path of the place it now lies in (and a file its record file as
    // CacheName). False (logged) when the mirror could not follow whole; then it holds no record that
    // names a wrong place: the old directory is gone, and a record below that could not be rewritten
    // is removed (it stays only where even that failed). The caller then lists the new place anew.
    bool MoveFolder(const std::string& oldPath, const std::string& newPath);
    // Lists the folder serverPath anew: its directory goes aside, list() writes the mirror, and the
    // old directory comes back unless list() answered true (or when it raised, which passes on). The
    // answer of list(). Where the old directory cannot be set aside, list() writes over it.
    bool RelistFolder(const std::string& serverPath, const std::function<bool()>& list);
    // Writes the sidecar of a document opened from the online folder (document + ".sxc"): the record,
    // with the Name and Path of serverPath, whole or not at all, and last-write time lastWrite (the
    // mark of what the server holds; 0 leaves the time of the write). False (logged) when it could
    // not be written; an older sidecar then stays as it was.
    bool WriteSidecar(const std::string& document, TVirtualFileRecord record, const std::string& serverPath,
                      uint64_t lastWrite);

    std::string Root;
    std::unique_ptr<TLogger> Logger;   // "VirtualFileStorage"

private:
    std::string PutCopyOf(const std::string& recordFile, const std::string& serverPath, bool move);

    std::string KnownDirectory;   // the folder directory that the last save found or made
#endif
};

// ---- A listing made into a well-formed mirror (pure) ----

// An entry that a directory of the mirror holds already (a listing without statistics writes over it).
struct TMirrorDirEntry {
    std::string FileName;     // as the directory holds it
    bool IsDirectory = false;
    std::string RecordName;   // the Name of a file record; "" for anything else
};

// One record to write, or one stale record file to remove.
struct TMirrorItem {
    TVirtualFileRecord Record;
    bool Implied = false;     // a folder the answer did not list itself, made for its contents
    std::string Directory;    // relative to the root, with final "\" ("" the root): where the record lies
    std::string FileName;     // record file name in Directory
};

struct TMirrorPlan {
    std::vector<TMirrorItem> Folders;          // parents before children
    std::vector<TMirrorItem> Files;
    std::vector<std::string> Stale;            // record files (relative) of replaced records, to remove
    std::vector<std::string> Errors;           // one text per item left out
};

// The longest record file name that Windows opens without the long-path prefix, and the longest
// directory it creates.
constexpr size_t kMaxMirrorPath = 259;
constexpr size_t kMaxMirrorDirectory = 247;

// The records of one listing, as ParseListingEntry made them, planned into a mirror below a root of
// rootLength characters: every name once per folder (the first of duplicates counts), a folder record
// for every folder (parents the answer left out are implied), no file below a file, every path within
// what Windows can open, and every file a cache name unique in its folder that equals no other entry
// of its directory (case ignored), no folder's directory or record name and no device name: from the
// entity tag where the server sent one, from a digest of the name otherwise or on a clash. Folders
// whose path holds ".thumb" are left out silently. existing(directory) gives what a directory holds
// already ("" for a fresh mirror); a record of the same name there is replaced.
TMirrorPlan PlanMirror(std::vector<TVirtualFileRecord> records, size_t rootLength,
                       const std::function<std::vector<TMirrorDirEntry>(const std::string&)>& existing);
// The cache-name digest of a name: 8 lower-case hex digits (FNV-1a).
std::string NameDigest(const std::string& name);
