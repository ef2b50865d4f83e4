#include "SxURLHandler.h"

#ifdef _WIN32
#include "uGLBWin.h"

#include <cwchar>

const IID IID_ISxURLSearchHook = {0xAC60F6A0, 0x0FD9, 0x11D0, {0x99, 0xCB, 0x00, 0xC0, 0x4F, 0xD6, 0x44, 0x97}};

namespace {
const wchar_t* const HooksKey = L"Software\\Microsoft\\Internet Explorer\\UrlSearchHooks";
} // namespace

void CopyTranslatedURL(LPWSTR buffer, DWORD bufferSize, const std::wstring& url)
{
    if (!buffer || bufferSize == 0)
        return;
    size_t count = url.size() < bufferSize ? url.size() : bufferSize - 1;
    url.copy(buffer, count);
    buffer[count] = 0;
}

void* TsxCustomURLHandler::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TsxCustomURLHandler, ISxURLSearchHook), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxBaseShellObject::ObjQueryInterface(iid);
}

STDMETHODIMP TsxCustomURLHandler::Translate(LPWSTR searchURL, DWORD bufferSize)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!searchURL || bufferSize == 0)
            return E_INVALIDARG;
        // The caller's text ends at its zero, but never past the buffer it gave.
        std::string url = WideToUtf8(std::wstring(searchURL, wcsnlen(searchURL, bufferSize)));
        TSxURLTranslation result = Translate(url);
        if (result != TSxURLTranslation::utTranslated && result != TSxURLTranslation::utTranslatedContinue)
            return E_FAIL;
        CopyTranslatedURL(searchURL, bufferSize, Utf8ToWide(url));
        return result == TSxURLTranslation::utTranslated ? S_OK : S_FALSE;
    });
}

void TsxCustomURLHandler::UpdateRegistry(bool doRegister)
{
    TSxBaseShellObject::UpdateRegistry(doRegister);
    TRegKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, HooksKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                     nullptr);
    if (status != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
    std::wstring name = Utf8ToWide(GetCLSID());
    if (doRegister) {
        const wchar_t empty[] = L"";
        if (RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty) !=
            ERROR_SUCCESS)
            throw ESxRegistrationError("Registration failed");
    } else {
        RegDeleteValueW(key.get(), name.c_str());
    }
}

TSxURLTranslation TSxNamespaceURLHandler::Translate(std::string& url)
{
    return Adapter ? Adapter->TranslateURL(url) : TSxURLTranslation::utNotTranslated;
}
#endif
