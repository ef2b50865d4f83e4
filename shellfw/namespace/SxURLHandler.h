#pragma once
// The URL search hook: an address typed into the address bar that begins with a folder's URL
// identifier is turned into the folder's parsing name.
#include <cstdint>
#include <string>

// Translation results, in their order.
enum class TSxURLTranslation : uint8_t { utTranslated = 0, utTranslatedContinue = 1, utNotTranslated = 2 };

class TSxCustomURLHandlerAdapter {
public:
    virtual ~TSxCustomURLHandlerAdapter() = default;
    bool Active = false;
    virtual TSxURLTranslation TranslateURL(std::string& url) = 0;
};

#ifdef _WIN32
#include <windows.h>

#include "SxBaseShellObject.h"

// IURLSearchHook {AC60F6A0-0FD9-11D0-99CB-00C04FD64497} (the platform headers give only its IID).
extern const IID IID_ISxURLSearchHook;
struct ISxURLSearchHook : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Translate(LPWSTR searchURL, DWORD bufferSize) = 0;
};

// Copies a translated URL back into the caller's buffer, cut to bufferSize units with its zero.
void CopyTranslatedURL(LPWSTR buffer, DWORD bufferSize, const std::wstring& url);

class TsxCustomURLHandler : public TSxBaseShellObject, public ISxURLSearchHook {
public:
    explicit TsxCustomURLHandler(TSxComponent* owner) : TSxBaseShellObject(owner) {}
    std::string ClassName() const override { return "TsxCustomURLHandler"; }

    virtual TSxURLTranslation Translate(std::string& url) = 0;
    // Also the hook's empty value under HKCU "Software\Microsoft\Internet Explorer\UrlSearchHooks".
    void UpdateRegistry(bool doRegister) override;

    SX_IUNKNOWN_METHODS
    STDMETHODIMP Translate(LPWSTR searchURL, DWORD bufferSize) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;
};

class TSxNamespaceURLHandler : public TsxCustomURLHandler {
public:
    TSxNamespaceURLHandler(TSxComponent* owner, TSxCustomURLHandlerAdapter* adapter)
        : TsxCustomURLHandler(owner), Adapter(adapter)
    {
    }
    std::string ClassName() const override { return "TSxNamespaceURLHandler"; }
    TSxURLTranslation Translate(std::string& url) override;

    TSxCustomURLHandlerAdapter* Adapter;
};
#endif
