#pragma once
// Real files and folders in a fresh folder of the prefix, and the data object the shell makes for
// selecting them there, as Explorer hands it to a shell extension's IShellExtInit.
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace sxtest {

struct TSelection {
    std::wstring Folder;  // no final "\"
    Microsoft::WRL::ComPtr<IDataObject> Data;
    std::vector<std::wstring> Names;  // the selected entries; a final "\" makes a folder

    // files: further files below the folder (relative path, contents), made before the selection.
    explicit TSelection(std::vector<std::wstring> names = {L"Bericht ä.txt", L"Zahlen 2024.csv", L"Ordner 日本\\"},
                        const std::wstring& folderName = L"SxHandlers Auswahl",
                        const std::vector<std::pair<std::wstring, std::string>>& files = {})
        : Names(std::move(names))
    {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        Folder = std::wstring(temp) + folderName;
        std::error_code error;
        std::filesystem::remove_all(Folder, error);
        std::filesystem::create_directories(Folder, error);
        for (std::wstring& name : Names) {
            if (!name.empty() && name.back() == L'\\') {
                name.pop_back();
                std::filesystem::create_directories(Folder + L"\\" + name, error);
            } else {
                Write(name, "1234567890");
            }
        }
        for (const auto& [path, bytes] : files)
            Write(path, bytes);
        Microsoft::WRL::ComPtr<IShellFolder> desktop, parent;
        SHGetDesktopFolder(&desktop);
        PIDLIST_RELATIVE folderList = nullptr;
        std::wstring path = Folder;
        if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &folderList, nullptr)))
            return;
        desktop->BindToObject(folderList, nullptr, IID_IShellFolder, reinterpret_cast<void**>(parent.GetAddressOf()));
        CoTaskMemFree(folderList);
        if (!parent)
            return;
        std::vector<PIDLIST_RELATIVE> items;
        for (std::wstring name : Names) {
            PIDLIST_RELATIVE item = nullptr;
            if (SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &item, nullptr)))
                items.push_back(item);
        }
        parent->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()),
                              const_cast<PCUITEMID_CHILD*>(reinterpret_cast<PCUITEMID_CHILD const*>(items.data())),
                              IID_IDataObject, nullptr, reinterpret_cast<void**>(Data.GetAddressOf()));
        for (auto* item : items)
            CoTaskMemFree(item);
    }
    ~TSelection()
    {
        Data.Reset();
        std::error_code error;
        std::filesystem::remove_all(Folder, error);
    }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;

    std::wstring Path(const std::wstring& name) const { return Folder + L"\\" + name; }

private:
    void Write(const std::wstring& relative, const std::string& bytes)
    {
        const std::filesystem::path path = Folder + L"\\" + relative;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
};

} // namespace sxtest
