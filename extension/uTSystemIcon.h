#pragma once
// The shell's icon of a special folder (recycle bin, documents, pictures, music), for the online
// folder's own icon lists. The object owns the icon it loaded.
#ifdef _WIN32
#include <windows.h>

#include <string>

class TSystemIcon {
public:
    TSystemIcon() = default;
    ~TSystemIcon();
    TSystemIcon(const TSystemIcon&) = delete;
    TSystemIcon& operator=(const TSystemIcon&) = delete;

    // The icon of the special folder csidl, large (flags 0) or small (SHGFI_SMALLICON). A failure of
    // any step is ignored and the current handle is returned.
    HICON LoadSystemIcon(int csidl, UINT flags);
    // The shell's plain folder icon, the stand-in for a special folder icon that cannot be loaded.
    HICON LoadFolderIcon(bool small);
    // The shell's large icon of a file name (by its extension).
    HICON LoadFileIcon(const std::string& fileName);
    // Takes over an icon handle.
    void Assign(HICON icon) { Take(icon); }
    HICON Handle() const { return FHandle; }

private:
    void Take(HICON icon);
    HICON FHandle = nullptr;
};
#endif
