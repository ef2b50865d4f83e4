#include "SxVirtualFolder.h"

std::string RootParsingNameOf(TSxVirtualJunctionPoint junction, const std::string& bracedClsid)
{
    std::string prefix;
    switch (junction) {
    case TSxVirtualJunctionPoint::jpMyComputer: prefix = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"; break;
    case TSxVirtualJunctionPoint::jpDesktop: prefix = "::"; break;
    case TSxVirtualJunctionPoint::jpControlPanel:
        prefix = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{21EC2020-3AEA-1069-A2DD-08002B30309D}";
        break;
    case TSxVirtualJunctionPoint::jpNetworkNeighborhood: prefix = "::{208D2C60-3AEA-1069-A2D7-08002B30309D}"; break;
    case TSxVirtualJunctionPoint::jpEntireNetwork: prefix = "::{953D732D-AB45-11D2-84E0-00C04FA31A86}"; break;
    case TSxVirtualJunctionPoint::jpRemoteComputer: prefix = "::{C0542A90-4BF0-11D1-83EE-00A0C90DC849}"; break;
    }
    if (prefix != "::")
        prefix += "\\::";
    return prefix + bracedClsid;
}

std::string JunctionKeyNameOf(TSxVirtualJunctionPoint junction)
{
    switch (junction) {
    case TSxVirtualJunctionPoint::jpMyComputer: return "MyComputer";
    case TSxVirtualJunctionPoint::jpDesktop: return "Desktop";
    case TSxVirtualJunctionPoint::jpControlPanel: return "ControlPanel";
    case TSxVirtualJunctionPoint::jpNetworkNeighborhood: return "NetworkNeighborhood";
    case TSxVirtualJunctionPoint::jpEntireNetwork: return "NetworkNeighborhood\\EntireNetwork";
    case TSxVirtualJunctionPoint::jpRemoteComputer: return "RemoteComputer";
    }
    return "MyComputer";
}

bool TranslateURLText(std::string& url, const std::string& identifier, const std::string& rootParsingName)
{
    if (identifier.empty() || url.size() < identifier.size() || url.compare(0, identifier.size(), identifier) != 0)
        return false;
    url.replace(0, identifier.size(), rootParsingName);
    return true;
}

std::string PathToURLText(const std::string& path, const std::string& identifier,
                          const std::string& rootParsingName)
{
    if (identifier.empty() || rootParsingName.empty())
        return path;
    std::string result = path;
    auto at = result.find(rootParsingName);
    if (at != std::string::npos)
        result.replace(at, rootParsingName.size(), identifier);
    return result;
}
