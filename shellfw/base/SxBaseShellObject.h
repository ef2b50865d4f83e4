#pragma once
// Base classes of every shell object a module publishes through COM: class identity and
// registration, the IShellExtInit selection and IPersistFile loading.
#ifdef _WIN32
#include "SxException.h"
#include "SxPidl.h"
#include "SxComObject.h"
#include "SxComponent.h"

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxRegistrationError, std::runtime_error);

class TSxBaseShellObject;

// {F158A8AA-B503-4DDD-962E-82B3B7ECDC5B}: from an interface pointer back to the component.
extern const IID IID_ISxShellObject;
struct ISxShellObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetShellObject(TSxBaseShellObject** object) = 0;
};
// The automation link of the original COM object; never answered here.
extern const IID IID_IVCLComObject;

class TSxBaseShellObject : public TSxComponent, public TSxComObject, public ISxShellObject {
public:
    using TRegistryEvent = std::function<void(TSxBaseShellObject& sender, bool doRegister)>;

    explicit TSxBaseShellObject(TSxComponent* owner);
    std::string ClassName() const override { return "TSxBaseShellObject"; }

    // Name changes carry Description and ExtensionName along while they still equal the old name.
    void SetName(const std::string& name) override;
    std::string GetCLSID() const;
    virtual void SetCLSID(const std::string& value);
    const GUID& Clsid() const { return FClsid; }
    const std::string& Description() const { return FDescription; }
    virtual void SetDescription(const std::string& value) { FDescription = value; }
    const std::string& ExtensionName() const { return FExtensionName; }
    virtual void SetExtensionName(const std::string& value) { FExtensionName = value; }

    virtual void DoTryToReleaseModule(bool& allow);
    // Writes CLSID\{clsid} = Description when registering, then fires OnUpdateRegistry.
    virtual void UpdateRegistry(bool doRegister);

    TRegistryEvent AfterUpdateRegistry, BeforeUpdateRegistry, OnUpdateRegistry;
    std::function<void(bool& allow)> OnTryToReleaseModule;
    bool RefreshWhenRegistered = false;
    // The serving COM object is the component itself; null while it serves none.
    TSxBaseShellObject* ComObject() { return HasComObject() ? this : nullptr; }

    SX_IUNKNOWN_METHODS
    STDMETHODIMP GetShellObject(TSxBaseShellObject** object) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;
    void ComObjectReleased() override;

private:
    GUID FClsid{};
    std::string FDescription, FExtensionName;
};

// HKEY_CLASSES_ROOT\key, value valueName (empty: the default value) = data as REG_SZ; raises
// ESxRegistrationError "Registration failed" on any failure.
void WriteClassesRootValue(const std::string& key, const std::string& valueName, const std::string& data);
void DeleteClassesRootKey(const std::string& key);
// The handler key HKCR\<fileType>\shellex\<kind>\<ExtensionName> = {clsid} and, on the NT platform,
// the value {clsid} = Description under "Shell Extensions\Approved". Unregistering deletes the key,
// its parents below the file type when they are left empty, and the Approved value.
void RegisterShellExtHandler(const TSxBaseShellObject& handler, const std::string& fileType,
                             const std::string& kind, bool doRegister);
// On the NT platform the value {clsid} = Description under "Shell Extensions\Approved" (raises
// "Registration failed"), or its removal.
void WriteApprovedValue(const TSxBaseShellObject& handler, bool doRegister);

class TSxFileClasses;

class TSxShellLink : public TSxBaseShellObject {
public:
    using TSxBaseShellObject::TSxBaseShellObject;
    std::string ClassName() const override { return "TSxShellLink"; }

    std::string GetFileName() const { return FileNames.empty() ? std::string() : FileNames.front(); }
    const std::string& FileType() const { return FFileType; }
    virtual void SetFileType(const std::string& value) { FFileType = value; }
    // Handler classes write or delete their keys under HKCR\<fileType> and call this.
    virtual void RegisterFileType(const std::string& fileType, bool doRegister);
    void UpdateRegistry(bool doRegister) override;

    std::vector<std::string> FileNames;
    std::string FolderPath;
    // When set and not empty, the handler registers under each of these classes (writing a class
    // that does not exist yet) instead of under FileType.
    TSxFileClasses* FileClasses = nullptr;

private:
    std::string FFileType;
};

class TSxShellExtInit : public TSxShellLink, public IShellExtInit {
public:
    using TSxShellLink::TSxShellLink;
    std::string ClassName() const override { return "TSxShellExtInit"; }

    SX_IUNKNOWN_METHODS
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* dataObject, HKEY progId) override;

    std::function<void(TSxShellExtInit& sender, const std::string& fileName)> OnShellExtInit;
    std::vector<TSxPidlPtr> ItemIDLists;
    TSxPidlPtr FolderIDList;

protected:
    void* ObjQueryInterface(REFIID iid) override;
};

class TSxPersistFile : public TSxShellLink, public IPersistFile {
public:
    using TSxShellLink::TSxShellLink;
    std::string ClassName() const override { return "TSxPersistFile"; }

    SX_IUNKNOWN_METHODS
    STDMETHODIMP GetClassID(CLSID* classId) override;
    STDMETHODIMP IsDirty() override { return E_NOTIMPL; }
    STDMETHODIMP Load(LPCOLESTR fileName, DWORD mode) override;
    STDMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

    virtual void DoInitialize();
    bool CanOverwriteKey(const GUID& registeredClass);

    DWORD Mode = 0;
    std::function<void(TSxPersistFile& sender)> OnInitialize;
    std::function<void(const GUID& registeredClass, bool& overwrite)> OnKeyAlreadyExist;
    bool OverwriteExistent = false;

protected:
    void* ObjQueryInterface(REFIID iid) override;
};
#endif
