#pragma once
// The per-process icon cache that stands in for the system image list on Windows 2000: one
// system image-list index per file class, added to both system image lists once.
#ifdef _WIN32
#include "SxExceptionClass.h"

#include <windows.h>
#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxIconCacheError, std::runtime_error);

class TSxVirtualIconCache {
public:
    TSxVirtualIconCache();
    // Appends the pair; gives its position.
    int AddIndex(int imageIndex, const std::string& key);
    // Extracts the icon at location ("path,N", environment variables allowed) into both system
    // image lists and appends the pair; gives its position.
    int AddIcon(const std::string& location, const std::string& key);
    // The system image-list index for a file name (by its class under HKEY_CLASSES_ROOT).
    int GetIconIndex(const std::string& fileName, bool isFolder, bool open);

    size_t Count() const;
    int FolderPosition() const { return FFolderPosition; }
    int DefaultPosition() const { return FDefaultPosition; }

private:
    int IndexAt(size_t position) const;
    std::vector<std::string> FFileClasses;
    std::vector<int> FIconIndexes;
    int FFolderPosition = 0, FDefaultPosition = 0;
    HIMAGELIST FLarge = nullptr, FSmall = nullptr; // not owned
};

// The process's cache, made on first use.
TSxVirtualIconCache& GetVirtualIconCache();
#endif
