#pragma once
// What the write path shares with drop, copy and move: server item paths, their state on the
// server, and the names of mirror records.
#include <string>

class TWEBDAVClient;
enum class TItemState;

// The record file of a folder, beside its mirror directory.
std::string FolderRecordOf(const std::string& directory);
// A record file name that no other record of the directory has; the extension stays last.
std::string UniqueRecordName(const std::string& directory, const std::string& name);
std::string JoinServer(const std::string& folder, const std::string& name);
// A server item's address for the requests: folders with their final "\".
std::string ItemPath(const std::string& serverPath, bool isFolder);
// Whether the server holds an item at serverPath; a folder is also asked for with its final "\".
TItemState ServerItemState(TWEBDAVClient& client, const std::string& serverPath, bool isFolder);
