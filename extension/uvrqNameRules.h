#pragma once
// The name rules of the online folder: its special server folders, the mirror's hidden items and
// the slot of a server item's local copies. Plain standard C++ (no Windows).
#include <cstdint>
#include <string>

// The special server folders and their icon index; matched on a folder's own name only.
constexpr const char* TrashFolderName = "Gelöschte Dateien";
constexpr const char* SendToFolderName = "Neue Dateianlagen";

// A special folder: its name, whether it keeps its name and place on the server, and the CSIDL of
// the system folder whose icon it shows.
struct TSpecialFolder {
    const char* Name;
    bool Protected;
    int Csidl;
};
// In icon-index order.
extern const TSpecialFolder SpecialFolders[4];

// Index 0 to 3 of a special folder name (case of A to Z ignored), -1 for any other name.
int SpecialFolderIndex(const std::string& name, int windowsVersion);
// Folders and files that the mirror holds but the folder never shows.
bool IsHiddenMirrorFolder(const std::string& name);
bool IsHiddenMirrorFile(const std::string& recordFileName, const std::string& name);
// The slot of the local copies of one server item: 16 hex digits of a hash of its exact server
// path, so two folders' "a.txt" never share a file.
std::string ServerPathSlot(const std::string& serverPath);
// The folder part of a server or mirror path with its final "\" ("" for a bare name), and its last
// name. Only "\" separates the levels: a server name may hold ":".
std::string FolderPartOf(const std::string& path);
std::string NamePartOf(const std::string& path);
// text ends with tail (case of A to Z ignored).
bool EndsWithAscii(const std::string& text, const std::string& tail);
