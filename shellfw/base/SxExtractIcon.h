#pragma once
// The icon handler: a shell extension that gives Explorer the icons of the items of one registered
// type. Explorer creates it, loads the item's file through IPersistFile (OnInitialize may set the
// properties below for that file), then asks IExtractIcon for the location and the icons: an icon
// file and index, or icons the handler extracts or holds itself.
#ifdef _WIN32
#include "SxBaseShellObject.h"

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

class TSxExtractIcon : public TSxPersistFile, public IExtractIconW, public IExtractIconA {
public:
    struct TIconDeleter {
        void operator()(HICON icon) const
        {
            if (icon)
                DestroyIcon(icon);
        }
    };
    using TIcon = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;

    explicit TSxExtractIcon(TSxComponent* owner) : TSxPersistFile(owner) {}
    std::string ClassName() const override { return "TSxExtractIcon"; }

    bool DontCache = true;        // report GIL_DONTCACHE
    std::string IconFileName;     // UTF-8
    std::wstring IconFileNameW;   // preferred when not empty
    int IconIndex = 0;
    int IconIndexOpen = 0;        // for GIL_OPENICON
    TIcon IconLarge, IconLargeOpen, IconSmall, IconSmallOpen;  // held icons (owned)
    // May change the location and index found so far (UTF-8 for the ANSI interface).
    std::function<void(TSxExtractIcon& sender, std::string& location, int& index)> OnGetIconLocation;
    std::function<void(TSxExtractIcon& sender, std::wstring& location, int& index)> OnGetIconLocationW;
    // Fills the two icons (either may stay empty); they go out through the framework's icon lists.
    std::function<void(TSxExtractIcon& sender, TIcon& large, TIcon& small)> OnExtractIcon;

    // HKCR\<fileType>\shellex\IconHandler = {clsid}, unless another handler holds the key and
    // CanOverwriteKey refuses; unregistering removes the key only while it names this handler.
    void RegisterFileType(const std::string& fileType, bool doRegister) override;

    SX_IUNKNOWN_METHODS
    STDMETHODIMP GetIconLocation(UINT flags, LPWSTR iconFile, UINT size, int* index, UINT* resultFlags) override;
    STDMETHODIMP Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT iconSize) override;
    STDMETHODIMP GetIconLocation(UINT flags, LPSTR iconFile, UINT size, int* index, UINT* resultFlags) override;
    STDMETHODIMP Extract(LPCSTR file, UINT index, HICON* large, HICON* small, UINT iconSize) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;

private:
    // The location, index and flags, after the handlers (ansi: OnGetIconLocation too); the result.
    HRESULT Locate(UINT flags, std::wstring& location, int& index, UINT& resultFlags, bool ansi);
    // Both interface forms: the wide location, the ANSI one after OnGetIconLocation.
    HRESULT Location(UINT flags, void* iconFile, UINT size, int* index, UINT* resultFlags, bool wide);
};
#endif
