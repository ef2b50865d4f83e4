#pragma once
// The test folder DLL as Explorer reaches it: registered with regsvr32 for the suite, the root
// folder bound through the desktop under My Computer, items found by name, exports by name.
#include "SxTestSupport.h"
#include "uGLBWin.h"
#include "SxPidl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace sxtest {

using Microsoft::WRL::ComPtr;

inline const std::string FolderText = "{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}";
inline const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + FolderText;

inline std::wstring FolderDll() { return PathBesideProgram(L"SxTestFolder.dll"); }

inline DWORD RegSvr32(bool doRegister)
{
    return RunProcess(std::wstring(L"regsvr32.exe /s ") + (doRegister ? L"" : L"/u ") + L"\"" + FolderDll() + L"\"");
}

// An export of the test folder DLL (loaded into this process by COM).
template <typename T> T Entry(const char* name)
{
    HMODULE dll = GetModuleHandleW(L"SxTestFolder.dll");
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

inline std::string StrRetText(STRRET& strRet, PCUITEMID_CHILD item)
{
    LPWSTR text = nullptr;
    if (FAILED(StrRetToStrW(&strRet, item, &text)))
        return "<bad>";
    std::string result = WideToUtf8(text);
    CoTaskMemFree(text);
    return result;
}

inline std::string NameOf(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags)
{
    STRRET strRet;
    std::memset(&strRet, 0xCC, sizeof strRet);  // the folder sets the type itself
    if (FAILED(folder->GetDisplayNameOf(item, flags, &strRet)))
        return "<failed>";
    return StrRetText(strRet, item);
}

class TestFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        ASSERT_EQ(RegSvr32(true), 0u);
    }
    static void TearDownTestSuite()
    {
        RegSvr32(false);
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(SHGetDesktopFolder(&Desktop));
        RootList = Parse(Root);
        ASSERT_TRUE(RootList);
        ASSERT_HRESULT_SUCCEEDED(Desktop->BindToObject(RootList.get(), nullptr, IID_PPV_ARGS(&Folder)));
    }

    // An absolute list parsed by the desktop folder, or nullptr.
    TSxPidlPtr Parse(const std::string& path, HRESULT* result = nullptr)
    {
        std::wstring name = Utf8ToWide(path);
        PIDLIST_RELATIVE list = nullptr;
        ULONG eaten = 0;
        HRESULT hr = Desktop->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, &list, nullptr);
        if (result)
            *result = hr;
        if (FAILED(hr)) {
            EXPECT_EQ(list, nullptr);
            return nullptr;
        }
        return TSxPidlPtr(list);
    }

    // The items of a folder by name.
    std::vector<std::pair<std::string, TSxPidlPtr>> Items(IShellFolder* folder, SHCONTF flags)
    {
        std::vector<std::pair<std::string, TSxPidlPtr>> items;
        ComPtr<IEnumIDList> enumerator;
        if (FAILED(folder->EnumObjects(nullptr, flags, &enumerator)) || !enumerator)
            return items;
        PITEMID_CHILD child = nullptr;
        ULONG fetched = 0;
        while (enumerator->Next(1, &child, &fetched) == S_OK) {
            TSxPidlPtr owned(child);
            std::string name = NameOf(folder, child, SHGDN_NORMAL);
            items.emplace_back(name, std::move(owned));
        }
        return items;
    }

    TSxPidlPtr Item(IShellFolder* folder, const std::string& name)
    {
        for (auto& [n, item] : Items(folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN))
            if (n == name)
                return std::move(item);
        return nullptr;
    }

    ComPtr<IShellFolder> Bind(IShellFolder* folder, PCUITEMID_CHILD item, HRESULT* result = nullptr)
    {
        ComPtr<IShellFolder> child;
        HRESULT hr = folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child));
        if (result)
            *result = hr;
        if (FAILED(hr))
            child.Reset();
        return child;
    }

    ComPtr<IShellFolder> Desktop;
    TSxPidlPtr RootList;
    ComPtr<IShellFolder> Folder;
};

} // namespace sxtest
