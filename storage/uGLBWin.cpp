#include "uGLBWin.h"

#include <climits>
#include <cstdio>

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty()) return {};
    if (text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int len = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), len, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), len, out.data(), n);
    return out;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty()) return {};
    if (text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int len = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::string WideToUtf8(const wchar_t* text)
{
    return text ? WideToUtf8(std::wstring(text)) : std::string();
}

std::string SysErrorMessage(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n && buffer) text.assign(buffer, n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "System error " + std::to_string(code);
    return WideToUtf8(text);
}

std::string HResultText(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

bool SameText(const std::string& a, const std::string& b)
{
    const std::wstring wa = Utf8ToWide(a), wb = Utf8ToWide(b);
    if (wa.size() != wb.size()) return false;
    if (wa.empty()) return true;
    return CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

namespace {
const wchar_t* const NamespaceViewProperty = L"TandrelVaultmereView";
const wchar_t* const SystemViewClass = L"SHELLDLL_DefView";

bool IsSystemView(HWND window)
{
    wchar_t name[64] = {};
    return window && GetClassNameW(window, name, 64) && !_wcsicmp(name, SystemViewClass);
}

BOOL CALLBACK FindMarkedView(HWND window, LPARAM found)
{
    if (IsSystemView(window) && GetPropW(window, NamespaceViewProperty)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}
} // namespace

void MarkNamespaceView(HWND window)
{
    if (IsSystemView(window) && !GetPropW(window, NamespaceViewProperty))
        SetPropW(window, NamespaceViewProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

bool HoldsNamespaceView(HWND window)
{
    if (!window)
        return false;
    bool found = false;
    if (!FindMarkedView(window, reinterpret_cast<LPARAM>(&found)))
        return true;
    EnumChildWindows(window, FindMarkedView, reinterpret_cast<LPARAM>(&found));
    return found;
}
