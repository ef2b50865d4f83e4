#include "SxExtractIcon.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"
#include "uGLBShellTools.h"
#include "SxDataModule.h"

#include <shellapi.h>

void* TSxExtractIcon::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TSxExtractIcon, IExtractIconW), SX_QITABENT(TSxExtractIcon, IExtractIconA),
                                  {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxPersistFile::ObjQueryInterface(iid);
}

HRESULT TSxExtractIcon::Locate(UINT flags, std::wstring& location, int& index, UINT& resultFlags, bool ansi)
{
    resultFlags = DontCache ? GIL_DONTCACHE : 0;
    const std::wstring file = !IconFileNameW.empty() ? IconFileNameW : Utf8ToWide(IconFileName);
    location = file;
    index = (flags & GIL_OPENICON) ? IconIndexOpen : IconIndex;
    if (!file.empty() && shl_PathExists(file)) {
        if (flags & GIL_ASYNC)
            return E_PENDING;
    } else {
        resultFlags |= GIL_NOTFILENAME;
    }
    // The handlers may move the location (the ANSI form's handler sees UTF-8).
    auto adopt = [&](const std::wstring& changed, int changedIndex) {
        if (changed == location && changedIndex == index)
            return;
        location = changed;
        index = changedIndex;
        resultFlags &= ~static_cast<UINT>(GIL_NOTFILENAME);
        if (location.empty() || !shl_PathExists(location))
            resultFlags |= GIL_NOTFILENAME;
    };
    if (OnGetIconLocationW) {
        std::wstring changed = location;
        int changedIndex = index;
        OnGetIconLocationW(*this, changed, changedIndex);
        adopt(changed, changedIndex);
    }
    if (ansi && OnGetIconLocation) {
        std::string changed = WideToUtf8(location);
        int changedIndex = index;
        OnGetIconLocation(*this, changed, changedIndex);
        adopt(Utf8ToWide(changed), changedIndex);
    }
    return S_OK;
}

HRESULT TSxExtractIcon::Location(UINT flags, void* iconFile, UINT size, int* index, UINT* resultFlags, bool wide)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!index || !resultFlags)
            return E_POINTER;
        if (!iconFile || size == 0)
            return E_INVALIDARG;
        std::wstring location;
        int found = 0;
        UINT foundFlags = 0;
        const HRESULT hr = Locate(flags, location, found, foundFlags, !wide);
        if (hr == E_PENDING)
            return hr;
        // What is reported is always written.
        *index = found;
        *resultFlags = foundFlags;
        return FAILED(hr) ? hr : SxCopyToBuffer(location, iconFile, size, wide);
    });
}

STDMETHODIMP TSxExtractIcon::GetIconLocation(UINT flags, LPWSTR iconFile, UINT size, int* index, UINT* resultFlags)
{
    return Location(flags, iconFile, size, index, resultFlags, true);
}

STDMETHODIMP TSxExtractIcon::GetIconLocation(UINT flags, LPSTR iconFile, UINT size, int* index, UINT* resultFlags)
{
    return Location(flags, iconFile, size, index, resultFlags, false);
}

namespace {

// The icon through the framework's list of its size: the list's copy goes out, the icon goes.
HICON ThroughList(HICON icon, bool large)
{
    if (!icon)
        return nullptr;
    int index = 0;
    HICON copy = large ? AddIconToLargeList(icon, index) : AddIconToSmallList(icon, index);
    DestroyIcon(icon);
    return copy;
}

HICON ExtractFrom(const std::wstring& file, UINT index)
{
    HICON icon = ExtractIconW(SxModuleHandle(), file.c_str(), index);
    return reinterpret_cast<UINT_PTR>(icon) > 1 ? icon : nullptr;  // 1: not an icon file
}

HICON Duplicate(const TSxExtractIcon::TIcon& icon) { return icon ? CopyIcon(icon.get()) : nullptr; }

} // namespace

STDMETHODIMP TSxExtractIcon::Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT)
{
    if (large)
        *large = nullptr;
    if (small)
        *small = nullptr;
    return SxComCall(this, [&]() -> HRESULT {
        if (!large && !small)
            return E_INVALIDARG;
        TIcon outLarge, outSmall;
        HRESULT result = S_FALSE;  // Explorer extracts the icon itself
        if (file && *file && shl_PathExists(std::wstring(file))) {
            if (large)
                outLarge.reset(ThroughList(ExtractFrom(file, index), true));
            if (small)
                outSmall.reset(ThroughList(ExtractFrom(file, index), false));
            result = (!large || outLarge) && (!small || outSmall) ? S_OK : E_INVALIDARG;
        }
        if (OnExtractIcon) {
            TIcon madeLarge, madeSmall;
            OnExtractIcon(*this, madeLarge, madeSmall);
            outLarge.reset(ThroughList(madeLarge.release(), true));
            outSmall.reset(ThroughList(madeSmall.release(), false));
            result = S_OK;
        } else if (IconLarge || IconSmall || IconLargeOpen || IconSmallOpen) {
            outLarge.reset(ThroughList(Duplicate(IconLarge), true));
            outSmall.reset(ThroughList(Duplicate(IconSmall), false));
            result = S_OK;
        }
        if (large)
            *large = outLarge.release();
        if (small)
            *small = outSmall.release();
        return result;
    });
}

STDMETHODIMP TSxExtractIcon::Extract(LPCSTR file, UINT index, HICON* large, HICON* small, UINT iconSize)
{
    std::wstring wide;
    if (file) {
        const int length = MultiByteToWideChar(CP_ACP, 0, file, -1, nullptr, 0);
        if (length > 0) {
            wide.resize(static_cast<size_t>(length));
            MultiByteToWideChar(CP_ACP, 0, file, -1, wide.data(), length);
            wide.resize(static_cast<size_t>(length - 1));
        }
    }
    return Extract(file ? wide.c_str() : nullptr, index, large, small, iconSize);
}

namespace {

const std::string IconHandlerKind = "IconHandler";

// The default value of HKCR\key, or empty.
std::string DefaultValue(const std::string& key, bool& exists)
{
    TRegKey handle;
    exists = RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
    if (!exists)
        return {};
    wchar_t value[MAX_PATH + 1] = {};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(handle.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return WideToUtf8(value);
}

} // namespace

void TSxExtractIcon::RegisterFileType(const std::string& fileType, bool doRegister)
{
    TSxPersistFile::RegisterFileType(fileType, doRegister);
    const std::string key = fileType + "\\shellex\\" + IconHandlerKind;
    const std::string clsid = GetCLSID();
    bool exists = false;
    const std::string current = DefaultValue(key, exists);
    if (doRegister) {
        if (exists && !current.empty() && !SameText(current, clsid)) {
            // Another handler's key: replaced only when allowed. A value that is no GUID names no
            // handler (GUID_NULL then) and does not fail the registration.
            GUID other = GUID_NULL;
            if (FAILED(CLSIDFromString(Utf8ToWide(current).c_str(), &other)))
                other = GUID_NULL;
            if (!CanOverwriteKey(other))
                return;
        }
        WriteClassesRootValue(key, "", clsid);
        WriteApprovedValue(*this, true);
        return;
    }
    if (exists && SameText(current, clsid)) {
        DeleteClassesRootKey(key);
        DeleteEmptyRegKey(fileType + "\\shellex");
        WriteApprovedValue(*this, false);
    }
}
#endif
