#include "SxBaseShellObject.h"
#include "SxFileClasses.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxDataModule.h"

#include <shellapi.h>

#include <cstring>

#include <memory>

const IID IID_ISxShellObject = {0xF158A8AA, 0xB503, 0x4DDD, {0x96, 0x2E, 0x82, 0xB3, 0xB7, 0xEC, 0xDC, 0x5B}};
const IID IID_IVCLComObject = {0xE07892A0, 0xF52F, 0x11CF, {0xBD, 0x2F, 0x00, 0x20, 0xAF, 0x0E, 0x5B, 0x81}};

namespace {

[[noreturn]] void RaiseOle(HRESULT hr)
{
    throw EOleSysError(SysErrorMessage(static_cast<DWORD>(hr)), static_cast<int32_t>(hr));
}

std::string GuidText(const GUID& guid)
{
    LPOLESTR text = nullptr;
    const HRESULT hr = StringFromCLSID(guid, &text);
    if (FAILED(hr))
        RaiseOle(hr);
    std::string result = WideToUtf8(text);
    CoTaskMemFree(text);
    return result;
}

} // namespace

TSxBaseShellObject::TSxBaseShellObject(TSxComponent* owner) : TSxComponent(owner) {}

void TSxBaseShellObject::SetName(const std::string& name)
{
    const std::string old = Name();
    TSxComponent::SetName(name);
    if (FDescription.empty() || FDescription == old)
        SetDescription(name);
    if (FExtensionName.empty() || FExtensionName == old)
        SetExtensionName(name);
}

std::string TSxBaseShellObject::GetCLSID() const { return GuidText(FClsid); }

void TSxBaseShellObject::SetCLSID(const std::string& value)
{
    GUID guid;
    const HRESULT hr = CLSIDFromString(Utf8ToWide(value).c_str(), &guid);
    if (FAILED(hr))
        RaiseOle(hr);
    FClsid = guid;
}

void TSxBaseShellObject::DoTryToReleaseModule(bool& allow)
{
    if (OnTryToReleaseModule)
        OnTryToReleaseModule(allow);
}

void TSxBaseShellObject::UpdateRegistry(bool doRegister)
{
    if (doRegister)
        WriteClassesRootValue("CLSID\\" + GetCLSID(), "", FDescription);
    if (OnUpdateRegistry)
        OnUpdateRegistry(*this, doRegister);
}

STDMETHODIMP TSxBaseShellObject::GetShellObject(TSxBaseShellObject** object)
{
    if (!object)
        return E_POINTER;
    *object = this;
    return S_OK;
}

void* TSxBaseShellObject::ObjQueryInterface(REFIID iid)
{
    // No automation link: IVCLComObject is not answered.
    static const QITAB table[] = {QITABENTMULTI2(TSxBaseShellObject, IID_IUnknown, ISxShellObject),
                                  SX_QITABENT(TSxBaseShellObject, ISxShellObject), {nullptr, 0}};
    return SxFindInterface(this, table, iid);
}

void TSxBaseShellObject::ComObjectReleased()
{
    auto* module = dynamic_cast<TSxModule*>(Owner());
    if (!module || !module->ThreadFree())
        return; // stays on its per-thread module for the next object
    bool allow = true;
    DoTryToReleaseModule(allow);
    if (allow)
        std::unique_ptr<TSxModule>{module}.reset(); // frees this component with it
}

void WriteClassesRootValue(const std::string& key, const std::string& valueName, const std::string& data)
{
    TRegKey handle;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, nullptr, 0,
                              KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, handle.put(), nullptr);
    if (rc == ERROR_SUCCESS) {
        const std::wstring name = Utf8ToWide(valueName), value = Utf8ToWide(data);
        rc = RegSetValueExW(handle.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (rc != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
}

void DeleteClassesRootKey(const std::string& key) { RegDeleteKeyW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str()); }

namespace {

const wchar_t ApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

bool IsNTPlatform()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
#pragma GCC diagnostic pop
}

} // namespace

void WriteApprovedValue(const TSxBaseShellObject& handler, bool doRegister)
{
    if (!IsNTPlatform())
        return;
    const std::wstring clsid = Utf8ToWide(handler.GetCLSID());
    TRegKey approved;
    if (!doRegister) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ApprovedKey, 0, KEY_SET_VALUE, approved.put()) == ERROR_SUCCESS)
            RegDeleteValueW(approved.get(), clsid.c_str());
        return;
    }
    const std::wstring description = Utf8ToWide(handler.Description());
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ApprovedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, approved.put(),
                              nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(approved.get(), clsid.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(description.c_str()),
                            static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
}

void RegisterShellExtHandler(const TSxBaseShellObject& handler, const std::string& fileType,
                             const std::string& kind, bool doRegister)
{
    const std::string key = fileType + "\\shellex\\" + kind + "\\" + handler.ExtensionName();
    if (doRegister) {
        WriteClassesRootValue(key, "", handler.GetCLSID());
        WriteApprovedValue(handler, true);
        return;
    }
    DeleteClassesRootKey(key);
    DeleteEmptyRegKey(fileType + "\\shellex\\" + kind);
    DeleteEmptyRegKey(fileType + "\\shellex");
    WriteApprovedValue(handler, false);
}

void TSxShellLink::RegisterFileType(const std::string& fileType, bool) { SetFileType(fileType); }

void TSxShellLink::UpdateRegistry(bool doRegister)
{
    if (!FileClasses || FileClasses->Count() == 0) {
        TSxBaseShellObject::UpdateRegistry(doRegister);
        RegisterFileType(FFileType, doRegister);
        return;
    }
    // Bad file classes are refused before any key is written.
    if (doRegister)
        FileClasses->Validate();
    TSxBaseShellObject::UpdateRegistry(doRegister);
    const std::string owner = GetCLSID();
    for (const auto& item : FileClasses->FileClasses) {
        if (doRegister) {
            if (!item->Exists())
                item->Register(owner);
            RegisterFileType(item->GetFileClassName(), true);
        } else {
            RegisterFileType(item->GetFileClassName(), false);
            if (item->Exists())
                item->Unregister(owner);
        }
    }
}

void* TSxShellExtInit::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TSxShellExtInit, IShellExtInit), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxShellLink::ObjQueryInterface(iid);
}

namespace {

// A storage medium released when it goes.
struct TMedium {
    STGMEDIUM medium{};
    ~TMedium() { ReleaseStgMedium(&medium); }
};

FORMATETC Format(CLIPFORMAT format) { return {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

// True when the medium is a DROPFILES block whose file list starts inside it and ends inside it
// with an empty name, as DragQueryFile reads it (drop data is foreign).
bool IsSoundDropBlock(const STGMEDIUM& medium)
{
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return false;
    const SIZE_T size = GlobalSize(medium.hGlobal);
    const auto* block = static_cast<const uint8_t*>(GlobalLock(medium.hGlobal));
    if (!block)
        return false;
    bool sound = false;
    if (size >= sizeof(DROPFILES)) {
        DROPFILES header;
        std::memcpy(&header, block, sizeof header);
        const size_t unit = header.fWide ? 2 : 1;
        auto zero = [&](size_t at) { return block[at] == 0 && (unit == 1 || block[at + 1] == 0); };
        // Two zero characters in a row close the list (an empty list is the two alone).
        for (size_t at = header.pFiles; !sound && at <= size && size - at >= 2 * unit; at += unit)
            sound = zero(at) && zero(at + unit);
    }
    GlobalUnlock(medium.hGlobal);
    return sound;
}

std::string PathOf(PCIDLIST_ABSOLUTE list)
{
    wchar_t path[MAX_PATH + 1] = {};
    return SHGetPathFromIDListW(list, path) ? WideToUtf8(path) : std::string();
}

} // namespace

STDMETHODIMP TSxShellExtInit::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* dataObject, HKEY)
{
    return SxComCall(this, [&]() -> HRESULT {
        HRESULT result = S_OK;
        if (pidlFolder) {
            FolderIDList.reset(PIDLClone(pidlFolder));
            FolderPath = PathOf(pidlFolder);
        }
        if (dataObject) {
            TMedium drop;
            FORMATETC format = Format(CF_HDROP);
            result = dataObject->GetData(&format, &drop.medium);
            if (SUCCEEDED(result) && !IsSoundDropBlock(drop.medium))
                result = E_FAIL; // a damaged block selects nothing
            if (SUCCEEDED(result)) {
                FileNames.clear();
                HDROP hdrop = static_cast<HDROP>(drop.medium.hGlobal);
                const UINT count = DragQueryFileW(hdrop, 0xFFFFFFFF, nullptr, 0);
                for (UINT i = 0; i < count; ++i) {
                    std::wstring name(DragQueryFileW(hdrop, i, nullptr, 0) + 1, L'\0');
                    name.resize(DragQueryFileW(hdrop, i, name.data(), static_cast<UINT>(name.size())));
                    if (!name.empty()) // an empty block may be counted as holding empty names
                        FileNames.push_back(WideToUtf8(name));
                }
                result = FileNames.empty() ? E_FAIL : S_OK;
            }
            if (FAILED(result)) {
                TMedium ids;
                FORMATETC idFormat = Format(static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST));
                result = dataObject->GetData(&idFormat, &ids.medium);
                if (SUCCEEDED(result)) {
                    FileNames.clear();
                    const SIZE_T size = GlobalSize(ids.medium.hGlobal);
                    const auto* block = static_cast<const uint8_t*>(GlobalLock(ids.medium.hGlobal));
                    if (!block)
                        return E_FAIL;
                    std::unique_ptr<void, void (*)(void*)> unlock(ids.medium.hGlobal,
                                                                  [](void* h) { GlobalUnlock(h); });
                    // Every offset and list is checked against the block (clipboard data is foreign).
                    auto listAt = [&](size_t index) -> PCSxItemIDList {
                        uint32_t offset;
                        if (size < 4 * (index + 2))
                            throw ESxItemIDListError("Shell IDList Array is cut short");
                        std::memcpy(&offset, block + 4 * (index + 1), 4);
                        if (offset >= size || !PIDLIsValid(block + offset, size - offset))
                            throw ESxItemIDListError("Shell IDList Array holds a damaged item ID list");
                        return reinterpret_cast<PCSxItemIDList>(block + offset);
                    };
                    uint32_t count = 0;
                    if (size < 4)
                        throw ESxItemIDListError("Shell IDList Array is cut short");
                    std::memcpy(&count, block, 4);
                    if (count > (size - 4) / 4)
                        throw ESxItemIDListError("Shell IDList Array is cut short");
                    PCSxItemIDList parent = listAt(0);
                    for (uint32_t i = 1; i <= count; ++i) {
                        TSxPidlPtr absolute(PIDLCombine(parent, listAt(i)));
                        if (!absolute)
                            throw std::bad_alloc();
                        FileNames.push_back(PathOf(absolute.get()));
                        ItemIDLists.push_back(std::move(absolute));
                    }
                }
            }
        }
        if (OnShellExtInit)
            OnShellExtInit(*this, GetFileName());
        return result;
    });
}

void* TSxPersistFile::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TSxPersistFile, IPersistFile),
                                  QITABENTMULTI2(TSxPersistFile, IID_IPersist, IPersistFile), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxShellLink::ObjQueryInterface(iid);
}

STDMETHODIMP TSxPersistFile::GetClassID(CLSID* classId)
{
    if (!classId)
        return E_POINTER;
    *classId = Clsid();
    return S_OK;
}

STDMETHODIMP TSxPersistFile::Load(LPCOLESTR fileName, DWORD mode)
{
    return SxComCall(this, [&]() -> HRESULT {
        FileNames.assign(1, WideToUtf8(fileName));
        Mode = mode;
        DoInitialize();
        return S_OK;
    });
}

void TSxPersistFile::DoInitialize()
{
    if (OnInitialize)
        OnInitialize(*this);
}

bool TSxPersistFile::CanOverwriteKey(const GUID& registeredClass)
{
    bool overwrite = OverwriteExistent;
    if (OnKeyAlreadyExist)
        OnKeyAlreadyExist(registeredClass, overwrite);
    return overwrite;
}
#endif
