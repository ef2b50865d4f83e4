#pragma once
// What the write path shares with drop, copy and move: server item paths and their state on the
// server.
#include <string>

class TWEBDAVClient;
enum class TItemState;

std::string JoinServer(const std::string& folder, const std::string& name);
// A server item's address for the requests: folders with their final "\".
std::string ItemPath(const std::string& serverPath, bool isFolder);
// Whether the server holds an item at serverPath; a folder is also asked for with its final "\".
TItemState ServerItemState(TWEBDAVClient& client, const std::string& serverPath, bool isFolder);
