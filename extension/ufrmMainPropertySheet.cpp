#include "ufrmMainPropertySheet.h"

#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWin.h"
#include "uTApplicationEnviroment.h"

#include <windows.h>

#include <vector>

TMainPageValues MainPageValues()
{
    TMainPageValues v;
    v.Version = "Version 1.2.1.51";
    v.SizeLabel = Txt(47) + ":";
    v.FilesLabel = Txt(48) + ":";
    v.FoldersLabel = Txt(49) + ":";
    v.DeleteCaption = Txt(24);
    v.DeleteHint = Txt(25);
    try {
        v.Files = std::to_string(ReadRegistryInteger("Application", "files", 0));
    } catch (const std::exception&) {
    }
    try {
        v.Folders = std::to_string(ReadRegistryInteger("Application", "folders", 0));
    } catch (const std::exception&) {
    }
    try {
        v.Size = FormatByteSize(ReadRegistryInteger("Application", "size", 0));
    } catch (const std::exception&) {
    }
    return v;
}

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// Deletes the documents of one folder of "Open" that no program holds, each with its sidecar; a
// sidecar without its document goes too. Sub-folders (the slots) are emptied the same way and
// removed when nothing is left in them.
void EmptyOpenFolder(const std::wstring& folder)
{
    std::vector<std::wstring> files, folders;
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).push_back(name);
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    for (const std::wstring& name : files) {
        if (EndsWith(name, L".sxc"))
            continue;
        if (DeleteFileW((folder + name).c_str()))
            DeleteFileW((folder + name + L".sxc").c_str());
    }
    for (const std::wstring& name : files) {
        const std::wstring document = folder + name.substr(0, name.size() - 4);
        if (EndsWith(name, L".sxc") && GetFileAttributesW(document.c_str()) == INVALID_FILE_ATTRIBUTES)
            DeleteFileW((folder + name).c_str());
    }
    for (const std::wstring& name : folders) {
        EmptyOpenFolder(folder + name + L"\\");
        RemoveDirectoryW((folder + name).c_str());
    }
}

}  // namespace

void EmptyWorkingFolders(const TApplicationEnviroment& env)
{
    for (const std::string* folder : {&env.Temp, &env.Download, &env.Open, &env.Thumb}) {
        if (folder->empty() || env.UserPath.empty())
            continue;
        if (folder == &env.Open) {
            EmptyOpenFolder(Utf8ToWide(*folder));
        } else {
            shl_DeleteFolder(*folder);
            CreateDirectoryW(Utf8ToWide(*folder).c_str(), nullptr);
        }
    }
}
