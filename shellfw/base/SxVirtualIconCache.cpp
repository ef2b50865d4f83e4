#include "SxVirtualIconCache.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <memory>

namespace {

const char NoClass[] = "{02949929-6970-4E50-9028-384E042D930F}";

HIMAGELIST SystemList(UINT flags)
{
    SHFILEINFOW info = {};
    return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, flags));
}

// The default value of HKEY_CLASSES_ROOT\key; false when the key does not open.
bool ReadClassesRoot(const std::string& key, std::string& value)
{
    TRegKey handle;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return false;
    wchar_t data[MAX_PATH * 2] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    value.clear();
    if (RegQueryValueExW(handle.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ))
        value = WideToUtf8(data);
    return true;
}

} // namespace

TSxVirtualIconCache::TSxVirtualIconCache()
    : FLarge(SystemList(SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES)),
      FSmall(SystemList(SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON))
{
    FDefaultPosition = AddIcon("%SystemRoot%\\system32\\shell32.dll,0", NoClass);
    FFolderPosition = AddIcon("%SystemRoot%\\system32\\shell32.dll,3", "Folder");
    AddIcon("%SystemRoot%\\system32\\shell32.dll,4", "Folder-{24185026-22D0-44B0-9675-EDCB2284F32F}");
}

size_t TSxVirtualIconCache::Count() const
{
    TSxFrameworkLock lock;
    return FFileClasses.size();
}

int TSxVirtualIconCache::AddIndex(int imageIndex, const std::string& key)
{
    TSxFrameworkLock lock;
    FIconIndexes.push_back(imageIndex);
    FFileClasses.push_back(key);
    if (FIconIndexes.size() != FFileClasses.size())
        throw ESxIconCacheError("Can't add icon, IconIndexes and FileClasses lists are unsynchronized");
    return static_cast<int>(FFileClasses.size()) - 1;
}

int TSxVirtualIconCache::AddIcon(const std::string& location, const std::string& key)
{
    TSxFrameworkLock lock;
    wchar_t path[MAX_PATH] = {};
    CopyWideToBuffer(path, Utf8ToWide(location), MAX_PATH);
    const int number = PathParseIconLocationW(path);
    wchar_t expanded[MAX_PATH] = {};
    if (!ExpandEnvironmentStringsW(path, expanded, MAX_PATH))
        CopyWideToBuffer(expanded, path, MAX_PATH);
    HICON large = nullptr, small = nullptr;
    int imageIndex = 3;
    if (ExtractIconExW(expanded, number, &large, &small, 1) > 0 && (large || small)) {
        const int largeIndex = large && FLarge ? ImageList_ReplaceIcon(FLarge, -1, large) : -1;
        const int smallIndex = small && FSmall ? ImageList_ReplaceIcon(FSmall, -1, small) : -1;
        if (large)
            DestroyIcon(large);
        if (small)
            DestroyIcon(small);
        if (largeIndex != smallIndex)
            throw ESxIconCacheError("Can't add icon, system icons lists are unsynchronized");
        if (largeIndex >= 0)
            imageIndex = largeIndex;
    }
    return AddIndex(imageIndex, key);
}

int TSxVirtualIconCache::IndexAt(size_t position) const
{
    if (position >= FIconIndexes.size())
        position = 0;
    return FIconIndexes.empty() ? 0 : FIconIndexes[position];
}

int TSxVirtualIconCache::GetIconIndex(const std::string& fileName, bool isFolder, bool open)
{
    // The whole lookup under the lock: lookups and additions share the lists.
    TSxFrameworkLock lock;
    if (isFolder)
        return IndexAt(static_cast<size_t>(FFolderPosition + (open ? 1 : 0)));
    const size_t slash = fileName.find_last_of("\\/:");
    const size_t dot = fileName.rfind('.');
    const std::string extension =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string() : fileName.substr(dot);
    std::string fileClass;
    if (extension.empty() || !ReadClassesRoot(extension, fileClass))
        fileClass = NoClass;
    if (fileClass.empty())
        return IndexAt(0);
    for (size_t i = 0; i < FFileClasses.size(); ++i)
        if (SameText(FFileClasses[i], fileClass))
            return IndexAt(i);
    std::string iconLocation;
    const size_t position = ReadClassesRoot(fileClass + "\\DefaultIcon", iconLocation)
                                ? static_cast<size_t>(AddIcon(iconLocation, fileClass))
                                : static_cast<size_t>(AddIndex(IndexAt(static_cast<size_t>(FDefaultPosition)), fileClass));
    return IndexAt(position);
}

TSxVirtualIconCache& GetVirtualIconCache()
{
    static std::unique_ptr<TSxVirtualIconCache> cache;
    TSxFrameworkLock lock;
    if (!cache)
        cache = std::make_unique<TSxVirtualIconCache>();
    return *cache;
}
#endif
