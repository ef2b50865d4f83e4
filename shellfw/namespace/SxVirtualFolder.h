#pragma once
// The virtual folder hung into the shell namespace at a junction point, its root parsing name,
// its junction key and the adapter that maps a typed URL prefix onto the folder and back.
#include <cstdint>
#include <string>

enum class TSxVirtualJunctionPoint : uint8_t {
    jpMyComputer,
    jpDesktop,
    jpControlPanel,
    jpNetworkNeighborhood,
    jpEntireNetwork,
    jpRemoteComputer
};

// "::{20D04FE0-...}\::{clsid}" under My Computer, "::{clsid}" on the desktop; bracedClsid is the
// folder's CLSID in braces.
std::string RootParsingNameOf(TSxVirtualJunctionPoint junction, const std::string& bracedClsid);
// The key name of the junction below "SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\".
std::string JunctionKeyNameOf(TSxVirtualJunctionPoint junction);

// A URL that begins with identifier gets that beginning replaced by rootParsingName (true); any
// other URL, and every URL while the identifier is empty, stays as it is (false).
bool TranslateURLText(std::string& url, const std::string& identifier, const std::string& rootParsingName);
// The address-bar form of a parsing path: the first occurrence of rootParsingName replaced by the
// identifier; unchanged while the identifier is empty.
std::string PathToURLText(const std::string& path, const std::string& identifier,
                          const std::string& rootParsingName);
