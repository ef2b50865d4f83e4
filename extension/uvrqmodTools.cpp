#include "uvrqmodTools.h"

#include "uGLBConst.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWEBDAVAddress.h"
#include "uGLBWin.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

std::string Pair(const char* german, const char* english) { return GetLanguage() == 1 ? english : german; }

std::string WithSlash(const std::string& path)
{
    return path.empty() || path.back() == '\\' ? path : path + "\\";
}
std::string FolderPartOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NamePartOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
bool FileThere(const std::string& name)
{
    const DWORD a = GetFileAttributesW(Utf8ToWide(name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool DirectoryThere(const std::string& name)
{
    const DWORD a = GetFileAttributesW(Utf8ToWide(WithoutSlash(name)).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
void MakeDirectories(const std::string& folder)
{
    SHCreateDirectoryExW(nullptr, Utf8ToWide(WithoutSlash(folder)).c_str(), nullptr);
}

TBusyCursor::TBusyCursor() { SetBusyCursor(true); }
TBusyCursor::~TBusyCursor() { SetBusyCursor(false); }

void ForEachFileBelow(const std::string& directory, const std::function<void(const std::string&)>& fn)
{
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW(Utf8ToWide(WithSlash(directory) + "*").c_str(), &data));
    if (!find)
        return;
    std::vector<std::string> files, folders;
    do {
        const std::string entry = WideToUtf8(data.cFileName);
        if (entry == "." || entry == "..")
            continue;
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).push_back(WithSlash(directory) + entry);
    } while (FindNextFileW(find.get(), &data));
    for (const std::string& folder : folders)
        ForEachFileBelow(folder, fn);
    for (const std::string& file : files)
        fn(file);
}
