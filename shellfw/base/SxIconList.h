#pragma once
// A keyed list of icons of one size over a Windows image list (owned, or borrowed by
// AttachHandle): each non-empty key is added once; it can animate a tray icon through its images
// and store its images as two bitmaps (image strip, then mask strip).
#ifdef _WIN32
#include "SxComponent.h"
#include "SxStream.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxIconListError, std::runtime_error);

class TSxTrayIcon;

enum class TSxIconDrawStyle : uint8_t {
    ildBlend25, ildFocus, ildBlend50, ildSelected, ildBlend, ildMask, ildNormal, ildTransparent
};
UINT SxDrawStyleFlags(TSxIconDrawStyle style);

// Keys and image indexes of the added icons, entry k of both together.
class TSxIconListCache {
public:
    // The index of the first entry whose key equals key regardless of case, or -1.
    bool Find(const std::string& key, int& index) const;
    void Add(const std::string& key, int index);
    void Clear();
    size_t Count() const { return FKeys.size(); }

private:
    std::vector<std::string> FKeys;
    std::vector<int> FIndexes;
};

class TSxIconList : public TSxComponent {
public:
    explicit TSxIconList(TSxComponent* owner = nullptr);
    ~TSxIconList() override;
    std::string ClassName() const override { return "TSxIconList"; }

    int AddIcon(HICON icon, const std::string& key);
    // A new icon with the draw-style flags; the caller destroys it.
    HICON GetIconHandle(int index);
    void Draw(HDC dc, int x, int y, int index, TSxIconDrawStyle style);
    int Count();
    HIMAGELIST Handle();
    // Uses a foreign image list without owning it.
    void AttachHandle(HIMAGELIST handle);
    // Destroys an owned image list and forgets it; an attached one stays in use.
    void Clear();
    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }
    // Takes a duplicate of the source's image list, owned.
    void Assign(const TSxComponent& source);

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    // Accepts the common-controls image-list stream and the two-bitmap form.
    virtual void LoadFromStream(TSxByteStream& stream);
    virtual void SaveToStream(TSxByteStream& stream);

    bool Animated() const;
    void SetAnimated(bool value);
    COLORREF BkColor();
    void SetBkColor(COLORREF value);
    TSxIconDrawStyle DrawStyle() const { return FDrawStyle; }
    void SetDrawStyle(TSxIconDrawStyle value);
    int Width();
    int Height();
    void SetWidth(int value) { FWidth = value; }
    void SetHeight(int value) { FHeight = value; }
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int value);
    int Interval = 0;
    TSxTrayIcon* TrayIcon() const { return FTrayIcon; }
    void SetTrayIcon(TSxTrayIcon* value);

    std::function<void(TSxIconList&)> OnAnimate, OnChange;

    // The animation step: OnAnimate, then the next image.
    void Animate();
    virtual void NextFrame();
    virtual void UpdateTrayIcon();

protected:
    virtual void Change();

private:
    void HandleNeeded();
    static LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HIMAGELIST FHandle = nullptr;
    bool FAttached = false;
    TSxIconListCache FCache;
    std::recursive_mutex FLock;
    HWND FTimerWindow = nullptr;
    bool FTimerEnabled = false;
    COLORREF FBkColor = CLR_NONE;
    TSxIconDrawStyle FDrawStyle = TSxIconDrawStyle::ildNormal;
    int FWidth = 32, FHeight = 32, FIconIndex = 0;
    TSxTrayIcon* FTrayIcon = nullptr;
};
#endif
