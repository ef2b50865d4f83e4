#pragma once
// A shell folder DLL as Explorer reaches it: registered with regsvr32 for the suite, its root
// folder bound through the desktop under My Computer, items found by name, exports by name.
// FolderThroughDesktop serves every folder DLL (the framework's test folder, the product's online
// folder); TestFolder is the framework's test folder.
#include "SxTestSupport.h"
#include "uGLBWin.h"
#include "SxPidl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sxtest {

using Microsoft::WRL::ComPtr;

inline const std::string FolderText = "{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}";
inline const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + FolderText;

inline std::wstring FolderDll() { return PathBesideProgram(L"SxTestFolder.dll"); }

inline DWORD RegSvr32(bool doRegister) { return ::RegSvr32(FolderDll(), doRegister); }

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

inline std::string NameOf(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags = SHGDN_NORMAL)
{
    STRRET strRet;
    std::memset(&strRet, 0xCC, sizeof strRet);  // the folder sets the type itself
    if (FAILED(folder->GetDisplayNameOf(item, flags, &strRet)))
        return "<failed>";
    return StrRetText(strRet, item);
}

inline constexpr SHCONTF AllItems = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

// The desktop, a folder's root bound through it (BindRoot), and the folder's items by name.
class FolderThroughDesktop : public ::testing::Test {
protected:
    // Binds root (a parsing path of the desktop) into RootList and Folder.
    void BindRoot(const std::string& root)
    {
        ASSERT_HRESULT_SUCCEEDED(SHGetDesktopFolder(Desktop.ReleaseAndGetAddressOf()));
        RootList = Parse(root);
        ASSERT_TRUE(RootList);
        ASSERT_HRESULT_SUCCEEDED(
            Desktop->BindToObject(RootList.get(), nullptr, IID_PPV_ARGS(Folder.ReleaseAndGetAddressOf())));
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

    // The items of a folder by name, in the enumeration's order.
    static std::vector<std::pair<std::string, TSxPidlPtr>> Items(IShellFolder* folder, SHCONTF flags = AllItems)
    {
        return SxFolderItems(folder, SHGDN_NORMAL, flags);
    }

    static std::set<std::string> NameSet(IShellFolder* folder)
    {
        std::set<std::string> names;
        for (auto& item : Items(folder))
            names.insert(item.first);
        return names;
    }

    // The item of that name, or nullptr.
    static TSxPidlPtr Item(IShellFolder* folder, const std::string& name)
    {
        for (auto& [n, item] : Items(folder))
            if (n == name)
                return std::move(item);
        return nullptr;
    }

    static ComPtr<IShellFolder> Bind(IShellFolder* folder, PCUITEMID_CHILD item, HRESULT* result = nullptr)
    {
        ComPtr<IShellFolder> child;
        HRESULT hr = folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child));
        if (result)
            *result = hr;
        if (FAILED(hr))
            child.Reset();
        return child;
    }

    // The sub-folder of that name (a failure when there is none).
    static ComPtr<IShellFolder> Bind(IShellFolder* folder, const std::string& name)
    {
        auto item = Item(folder, name);
        if (!item) {
            ADD_FAILURE() << "no item " << name;
            return nullptr;
        }
        return Bind(folder, item.get());
    }

    // The attributes asked of the item of that name.
    static SFGAOF Attributes(IShellFolder* folder, const std::string& name, SFGAOF asked)
    {
        auto item = Item(folder, name);
        if (!item) {
            ADD_FAILURE() << "no item " << name;
            return 0;
        }
        PCUITEMID_CHILD items[1] = {item.get()};
        SFGAOF mask = asked;
        EXPECT_HRESULT_SUCCEEDED(folder->GetAttributesOf(1, items, &mask)) << name;
        return mask;
    }

    // A helper object (interface iid) of the items of those names through GetUIObjectOf, or nullptr.
    template <typename T>
    static ComPtr<T> UIObject(IShellFolder* folder, REFIID iid, const std::vector<std::string>& names,
                              HRESULT* result = nullptr)
    {
        std::vector<TSxPidlPtr> owned;
        std::vector<PCUITEMID_CHILD> items;
        for (const std::string& name : names) {
            owned.push_back(Item(folder, name));
            if (!owned.back()) {
                ADD_FAILURE() << "no item " << name;
                return nullptr;
            }
            items.push_back(owned.back().get());
        }
        ComPtr<T> object;
        HRESULT hr = folder->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), iid,
                                           nullptr, reinterpret_cast<void**>(object.GetAddressOf()));
        if (result)
            *result = hr;
        if (FAILED(hr))
            object.Reset();
        return object;
    }

    ComPtr<IShellFolder> Desktop;
    TSxPidlPtr RootList;
    ComPtr<IShellFolder> Folder;
};

class TestFolder : public FolderThroughDesktop {
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
    void SetUp() override { BindRoot(Root); }
};

} // namespace sxtest
