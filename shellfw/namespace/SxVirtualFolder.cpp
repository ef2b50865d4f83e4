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

#ifdef _WIN32
#include <windows.h>

#include "uGLBWin.h"
#include "SxException.h"
#include "SxProvider.h"
#include "SxTools.h"

namespace {

const char* const ExplorerKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
const char* const ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// Creates (or opens) root\key and sets one string value; false on any failure.
bool WriteString(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    TRegKey handle;
    if (RegCreateKeyExW(root, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr,
                        handle.put(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring data = Utf8ToWide(value);
    return RegSetValueExW(handle.get(), name.empty() ? nullptr : Utf8ToWide(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Deletes one key; fails (and leaves it) while it has subkeys.
void DeleteKey(HKEY root, const std::string& key)
{
    RegDeleteKeyW(root, Utf8ToWide(key).c_str());
}

} // namespace

void RegisterShellFolderKeys(const TSxFolderRegistration& r)
{
    const std::string classKey = "CLSID\\" + r.BracedClsid;
    const std::string shellFolder = classKey + "\\ShellFolder";
    auto fail = [](const std::string& message) { throw ESxShellFolder(message); };
    if (!WriteString(HKEY_CLASSES_ROOT, shellFolder, "", ""))
        fail("Error writing Shell Folder attributes");
    for (const auto& flag : r.ShellFolderFlags)
        if (!WriteString(HKEY_CLASSES_ROOT, shellFolder, flag, ""))
            fail("Error writing Shell Folder attributes");
    if (!r.InfoTip.empty() && !WriteString(HKEY_CLASSES_ROOT, classKey, "InfoTip", r.InfoTip))
        fail("Registration failed");
    if (!r.DefaultIcon.empty() && !WriteString(HKEY_CLASSES_ROOT, classKey + "\\DefaultIcon", "", r.DefaultIcon))
        fail("Registration failed");
    {
        TRegKey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(shellFolder).c_str(), 0, KEY_SET_VALUE, key.put()) !=
                ERROR_SUCCESS &&
            RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(shellFolder).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            fail("Error writing Shell Folder attributes");
        DWORD attributes = r.Attributes;
        if (RegSetValueExW(key.get(), L"Attributes", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&attributes),
                           sizeof attributes) != ERROR_SUCCESS)
            fail("Error writing Shell Folder attributes");
    }
    // Explorer loads only approved extensions: a registration without the value would be a
    // folder that never shows, so it fails instead.
    TRegKey approved;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToWide(ApprovedKey).c_str(), 0, KEY_SET_VALUE, approved.put()) !=
        ERROR_SUCCESS)
        fail("Error writing the approved shell extension value");
    std::wstring name = Utf8ToWide(r.BracedClsid), data = Utf8ToWide(r.ExtensionName);
    if (RegSetValueExW(approved.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        fail("Error writing the approved shell extension value");
}

void UnregisterShellFolderKeys(const TSxFolderRegistration& r)
{
    const std::string classKey = "CLSID\\" + r.BracedClsid;
    TRegKey approved;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToWide(ApprovedKey).c_str(), 0, KEY_SET_VALUE, approved.put()) ==
        ERROR_SUCCESS)
        RegDeleteValueW(approved.get(), Utf8ToWide(r.BracedClsid).c_str());
    if (!r.DefaultIcon.empty())
        DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\DefaultIcon");
    DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder");
    if (r.HasPropertySheetHandler)
        DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\shellex\\PropertySheetHandlers");
    if (r.HasContextMenuHandler)
        DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\shellex\\ContextMenuHandlers");
    if (r.HasPropertySheetHandler || r.HasContextMenuHandler)
        DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\shellex");
    DeleteKey(HKEY_CLASSES_ROOT, classKey);
}

void RegisterJunction(const std::string& keyName, const std::string& bracedClsid, const std::string& description)
{
    if (!WriteString(HKEY_LOCAL_MACHINE, ExplorerKey + keyName + "\\Namespace\\" + bracedClsid, "", description))
        throw ESxShellFolder("Error creating registry key for folder \"" + keyName + "\"");
}

void UnregisterJunction(const std::string& keyName, const std::string& bracedClsid)
{
    DeleteKey(HKEY_LOCAL_MACHINE, ExplorerKey + keyName + "\\Namespace\\" + bracedClsid);
}

// ---------------------------------------------------------------------------------------------
// The virtual folder

TSxVirtualFolder::TSxVirtualFolder(TSxComponent* owner) : TSxCustomShellFolder(owner) {}

void* TSxVirtualFolder::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TSxVirtualFolder, IRemoteComputer), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxCustomShellFolder::ObjQueryInterface(iid);
}

STDMETHODIMP TSxVirtualFolder::Initialize(LPCWSTR machineName, BOOL enumerating)
{
    return SxComCall(this, [&]() -> HRESULT {
        RemoteComputerName = machineName ? WideToUtf8(machineName) : std::string();
        RemoteEnumerating = enumerating != FALSE;
        return S_OK;
    });
}

std::string TSxVirtualFolder::GetRootParsingName() { return RootParsingNameOf(JunctionPoint, GetCLSID()); }

std::string TSxVirtualFolder::GetFolderPath()
{
    std::string inherited = TSxCustomShellFolder::GetFolderPath();
    return inherited.empty() ? GetRootParsingName() : GetRootParsingName() + "\\" + inherited;
}

void TSxVirtualFolder::SetDescription(const std::string& value)
{
    TSxCustomShellFolder::SetDescription(value);
    if (URLHandler.URLIdentifier.empty())
        URLHandler.URLIdentifier = value;
}

void TSxVirtualFolder::SetName(const std::string& name)
{
    TSxCustomShellFolder::SetName(name);
    if (!URLHandler.Hook && Owner() && !name.empty()) {
        std::string clsid = URLHandler.GetCLSID();
        URLHandler.Hook = &Owner()->Add<TSxNamespaceURLHandler>(name + "_URLHandler", &URLHandler);
        if (!clsid.empty())
            URLHandler.SetCLSID(clsid);
    }
}

std::string TSxURLHandlerAdapter::GetCLSID() const { return Hook ? Hook->GetCLSID() : KeptCLSID; }

void TSxURLHandlerAdapter::SetCLSID(const std::string& value)
{
    KeptCLSID = value;
    if (Hook)
        Hook->SetCLSID(value);
}

TSxURLTranslation TSxURLHandlerAdapter::TranslateURL(std::string& url)
{
    return TranslateURLText(url, URLIdentifier, Folder.GetRootParsingName()) ? TSxURLTranslation::utTranslated
                                                                            : TSxURLTranslation::utNotTranslated;
}

std::string TSxURLHandlerAdapter::PathToURL(const std::string& path)
{
    return PathToURLText(path, URLIdentifier, Folder.GetRootParsingName());
}

void TSxVirtualFolder::UpdateRegistry(bool doRegister)
{
    if (doRegister) {
        TSxCustomShellFolder::UpdateRegistry(true);
        RegisterJunction(JunctionKeyNameOf(JunctionPoint), GetCLSID(), Description());
    } else {
        UnregisterJunction(JunctionKeyNameOf(JunctionPoint), GetCLSID());
        TSxCustomShellFolder::UpdateRegistry(false);
    }
}

bool TSxVirtualFolder::DisplayNameOf(PCSxItemIDList list, SHGDNF flags, std::string& name)
{
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider)
        return false;
    if (!(flags & SHGDN_FORPARSING) || (flags & SHGDN_INFOLDER)) {
        name = provider->GetItemName(list);
        return true;
    }
    // The full path of the item: the folder's path and the item's name.
    std::string path = GetFolderPath();
    PCSxItemIDList last = PIDLFindLast(list);
    std::unique_ptr<TSxCustomDataGrain> grain;
    if (last && provider->IsGrainItemID(last))
        grain = GrainOfItem(list);
    if (!grain)
        grain = provider->CreateRootGrain();
    if (!grain || !last) {
        // The folder itself; the address bar shows it in the URL form too.
        name = (flags & SHGDN_FORADDRESSBAR) && URLHandler.Active ? URLHandler.PathToURL(path) : path;
        return true;
    }
    // Levels of a deeper relative list come between the folder and the item.
    for (PCSxItemIDList item = list; item && item != last && PIDLItemSize(item) > 0; item = PIDLGetNext(item)) {
        if (!path.empty() && path.back() != '\\')
            path += '\\';
        TSxPidlPtr single(PIDLCreateItem(PIDLItemData(item), PIDLItemSize(item) - 2));
        path += provider->GetItemName(single.get());
    }
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    path += grain->Name;
    if (flags & SHGDN_FORADDRESSBAR) {
        name = URLHandler.Active ? URLHandler.PathToURL(path) : path;
        return true;
    }
    std::string fileName;
    // A grain without a file of its own keeps its parsing path, which the folder parses back.
    if (provider->GetGrainFileName(*grain, path, fileName) && !fileName.empty())
        name = fileName;
    else
        name = path;
    return true;
}
#endif
