#include "uvrqNameRules.h"

#include "uGLBTools.h"

#include <cstdio>

const TSpecialFolder SpecialFolders[4] = {
    {TrashFolderName, true, 10},       // CSIDL_BITBUCKET
    {SendToFolderName, true, 5},       // CSIDL_PERSONAL
    {"Meine Bilder", false, 39},       // CSIDL_MYPICTURES
    {"Meine Musikdateien", false, 13}, // CSIDL_MYMUSIC, Windows XP and later only
};

bool EndsWithAscii(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && SameTextAscii(std::string_view(text).substr(text.size() - tail.size()), tail);
}

int SpecialFolderIndex(const std::string& name, int windowsVersion)
{
    for (int i = 0; i < 4; ++i)
        if (SameTextAscii(name, SpecialFolders[i].Name))
            return i == 3 && windowsVersion < 6 ? -1 : i;
    return -1;
}

bool IsHiddenMirrorFolder(const std::string& name) { return SameTextAscii(name, ".thumb"); }

bool IsHiddenMirrorFile(const std::string& recordFileName, const std::string& name)
{
    const std::string upper = [&] {
        std::string u = recordFileName;
        for (char& c : u)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return u;
    }();
    if (upper.find("_D_") != std::string::npos || upper.find("DIRTMPFILE.DIR") != std::string::npos)
        return true;
    // The server's own thumbnail pictures and the shell's thumbnail cache, by their exact names.
    return SameTextAscii(name, "thumbs.db") || EndsWithAscii(name, ".thumb.jpg");
}

std::string ServerPathSlot(const std::string& serverPath)
{
    uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (unsigned char c : serverPath) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(hash));
    return text;
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
