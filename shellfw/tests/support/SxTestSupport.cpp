#include "SxTestSupport.h"

#include <filesystem>

#include "uGLBWin.h"

#include <shlwapi.h>

std::wstring PathBesideProgram(const std::wstring& fileName)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L'\\') + 1) + fileName;
}

DWORD RunProcess(const std::wstring& commandLine)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    THandle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

bool KeyExists(HKEY root, const std::string& key)
{
    TRegKey handle;
    return RegOpenKeyExW(root, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

std::string Value(HKEY root, const std::string& key, const std::string& name)
{
    BYTE data[2048] = {};
    DWORD size = sizeof data - 2, type = 0;
    TRegKey handle;
    if (RegOpenKeyExW(root, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(handle.get(), name.empty() ? nullptr : Utf8ToWide(name).c_str(), nullptr, &type, data,
                         &size) != ERROR_SUCCESS)
        return "<none>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return WideToUtf8(reinterpret_cast<wchar_t*>(data));
}

std::string FreshTempFolder(const std::string& name)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buffer);
    const std::wstring path = std::wstring(buffer) + Utf8ToWide(name);
    std::error_code error;
    std::filesystem::remove_all(path, error);
    std::filesystem::create_directories(path);
    return WideToUtf8(path);
}

bool SetClassesRootDefault(const std::string& key, const std::string& value)
{
    TRegKey handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        handle.put(), nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring wide = Utf8ToWide(value);
    return RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::vector<std::string> MenuItemLines(HMENU menu)
{
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 127;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR)
            items.push_back("-");
        else
            items.push_back(WideToUtf8(text) + " " + std::to_string(info.wID) +
                            ((info.fState & MFS_GRAYED) ? " grey" : ""));
    }
    return items;
}

HMENU PopupOf(HMENU bar, UINT id)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    return GetMenuItemInfoW(bar, id, FALSE, &info) ? info.hSubMenu : nullptr;
}

std::vector<std::pair<std::string, TSxPidlPtr>> SxFolderItems(IShellFolder* folder, SHGDNF nameFlags)
{
    std::vector<std::pair<std::string, TSxPidlPtr>> items;
    ComPtr<IEnumIDList> enumerator;
    if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &enumerator) != S_OK ||
        !enumerator)
        return items;
    PITEMID_CHILD child = nullptr;
    ULONG fetched = 0;
    while (enumerator->Next(1, &child, &fetched) == S_OK) {
        TSxPidlPtr owned(child);
        std::string name = "<failed>";
        STRRET strRet{};
        LPWSTR text = nullptr;
        if (SUCCEEDED(folder->GetDisplayNameOf(child, nameFlags, &strRet)) && SUCCEEDED(StrRetToStrW(&strRet, child, &text))) {
            name = WideToUtf8(text);
            CoTaskMemFree(text);
        }
        items.emplace_back(name, std::move(owned));
    }
    return items;
}
