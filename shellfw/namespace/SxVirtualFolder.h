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

#ifdef _WIN32
#include <stdexcept>
#include <vector>

#include "SxExceptionClass.h"

SX_DECLARE_EXCEPTION(ESxShellFolder, std::runtime_error);

// What the registration of a shell folder writes below its class key "CLSID\{clsid}".
struct TSxFolderRegistration {
    std::string BracedClsid;
    std::vector<std::string> ShellFolderFlags;  // empty values of the "ShellFolder" key
    std::string InfoTip;                        // "InfoTip", when not empty
    std::string DefaultIcon;                    // "DefaultIcon" key, when not empty
    uint32_t Attributes = 0;                    // "ShellFolder\Attributes"
    std::string ExtensionName;                  // the "Shell Extensions\Approved" value
    bool HasPropertySheetHandler = false;
    bool HasContextMenuHandler = false;
};

// Registration of a folder's own keys (the class key's default value and InprocServer32 are the
// factory's). Raises ESxShellFolder when a key or the Approved value cannot be written.
void RegisterShellFolderKeys(const TSxFolderRegistration& registration);
// Removes what RegisterShellFolderKeys wrote and then the class key, each key only when nothing
// that another writer left is below it.
void UnregisterShellFolderKeys(const TSxFolderRegistration& registration);

// The junction "Explorer\<keyName>\Namespace\{clsid}" below HKEY_LOCAL_MACHINE, default value
// description. Raises ESxShellFolder when it cannot be written.
void RegisterJunction(const std::string& keyName, const std::string& bracedClsid, const std::string& description);
// Removes only the folder's own "Namespace\{clsid}" key: the junction's "Namespace" key and the
// junction key itself are the system's, also when they are left empty.
void UnregisterJunction(const std::string& keyName, const std::string& bracedClsid);

#include "SxShellFolder.h"

class TSxVirtualFolder;
class TSxNamespaceURLHandler;

// A virtual folder's URL handler settings: an address that begins with URLIdentifier opens the
// folder. Its search hook component lives on the folder's module, named after the folder.
class TSxURLHandlerAdapter : public TSxCustomURLHandlerAdapter {
public:
    explicit TSxURLHandlerAdapter(TSxVirtualFolder& folder) : Folder(folder) {}
    std::string URLIdentifier;
    // The hook's CLSID (kept here until the hook exists).
    std::string GetCLSID() const;
    void SetCLSID(const std::string& value);
    TSxURLTranslation TranslateURL(std::string& url) override;
    std::string PathToURL(const std::string& path);
    TSxNamespaceURLHandler* Hook = nullptr;

private:
    TSxVirtualFolder& Folder;
    std::string KeptCLSID;
};

// The folder hung into the namespace at a junction point.
class TSxVirtualFolder : public TSxCustomShellFolder, public IRemoteComputer {
public:
    explicit TSxVirtualFolder(TSxComponent* owner);
    std::string ClassName() const override { return "TSxVirtualFolder"; }

    SX_IUNKNOWN_METHODS
    using TSxCustomShellFolder::Initialize;
    // IRemoteComputer: keeps the machine name and the enumerating flag.
    STDMETHODIMP Initialize(LPCWSTR machineName, BOOL enumerating) override;
    std::string RemoteComputerName;
    bool RemoteEnumerating = false;

    TSxVirtualJunctionPoint JunctionPoint = TSxVirtualJunctionPoint::jpMyComputer;
    TSxURLHandlerAdapter URLHandler{*this};
    // Naming the folder places its URL search hook beside it on the module.
    void SetName(const std::string& name) override;

    std::string GetRootParsingName();
    std::string GetFolderPath() override;
    void SetDescription(const std::string& value) override;
    void UpdateRegistry(bool doRegister) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;
    bool DisplayNameOf(PCSxItemIDList list, SHGDNF flags, std::string& name) override;
};

#endif
