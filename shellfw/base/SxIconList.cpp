#include "SxIconList.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxComObject.h"
#include "SxException.h"
#include "SxTools.h"
#include "SxTrayIcon.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstring>
#include <fstream>
#include <limits>

UINT SxDrawStyleFlags(TSxIconDrawStyle style)
{
    switch (style) {
    case TSxIconDrawStyle::ildBlend25:
    case TSxIconDrawStyle::ildFocus:
        return ILD_BLEND25;
    case TSxIconDrawStyle::ildBlend50:
    case TSxIconDrawStyle::ildSelected:
    case TSxIconDrawStyle::ildBlend:
        return ILD_BLEND50;
    case TSxIconDrawStyle::ildMask:
        return ILD_MASK;
    case TSxIconDrawStyle::ildTransparent:
        return ILD_TRANSPARENT;
    case TSxIconDrawStyle::ildNormal:
        break;
    }
    return ILD_NORMAL;
}

bool TSxIconListCache::Find(const std::string& key, int& index) const
{
    for (size_t i = 0; i < FKeys.size(); ++i)
        if (SameText(FKeys[i], key)) {
            index = FIndexes[i];
            return true;
        }
    return false;
}

void TSxIconListCache::Add(const std::string& key, int index)
{
    FKeys.push_back(key);
    FIndexes.push_back(index);
}

void TSxIconListCache::Clear()
{
    FKeys.clear();
    FIndexes.clear();
}

namespace {

const wchar_t TimerClass[] = L"TSxIconListTimer";
constexpr UINT_PTR AnimationTimer = 1;

// An owned GDI object, a memory DC.
struct TGdiObject {
    HGDIOBJ object;
    ~TGdiObject()
    {
        if (object)
            DeleteObject(object);
    }
};
struct TMemoryDC {
    HDC dc = CreateCompatibleDC(nullptr);
    ~TMemoryDC() { DeleteDC(dc); }
};

// One bitmap in the bitmap file format: file header, info header, palette, bits.
void WriteBitmap(TSxStream& out, HIMAGELIST list, int count, int width, int height, bool mask)
{
    const WORD bits = mask ? 1 : 32;
    const int stripWidth = width * count;
    const DWORD stride = ((static_cast<DWORD>(stripWidth) * bits + 31) / 32) * 4;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    const DWORD paletteSize = mask ? 8 : 0;
    std::vector<uint8_t> pixels(imageSize);
    if (count > 0) {
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD colors[2];
        } info = {};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = stripWidth;
        info.header.biHeight = height;
        info.header.biPlanes = 1;
        info.header.biBitCount = bits;
        info.header.biCompression = BI_RGB;
        info.colors[1] = {255, 255, 255, 0};
        void* dibBits = nullptr;
        HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &dibBits, nullptr, 0);
        if (!dib)
            throw ESxIconListError("Cannot create the bitmap of the icon list");
        TGdiObject owner{dib};
        TMemoryDC memory;
        HGDIOBJ old = SelectObject(memory.dc, dib);
        RECT all = {0, 0, stripWidth, height};
        FillRect(memory.dc, &all, static_cast<HBRUSH>(GetStockObject(mask ? WHITE_BRUSH : BLACK_BRUSH)));
        for (int i = 0; i < count; ++i)
            ImageList_Draw(list, i, memory.dc, i * width, 0, mask ? ILD_MASK : ILD_NORMAL);
        GdiFlush();
        std::memcpy(pixels.data(), dibBits, imageSize);
        SelectObject(memory.dc, old);
    }
    const DWORD offset = 14 + sizeof(BITMAPINFOHEADER) + paletteSize;
    out.WriteWord(0x4D42); // "BM"
    out.WriteCardinal(offset + imageSize);
    out.WriteCardinal(0);
    out.WriteCardinal(offset);
    out.WriteCardinal(sizeof(BITMAPINFOHEADER));
    out.WriteInteger(stripWidth);
    out.WriteInteger(height);
    out.WriteWord(1);
    out.WriteWord(bits);
    out.WriteCardinal(BI_RGB);
    out.WriteCardinal(imageSize);
    out.WriteInteger(0);
    out.WriteInteger(0);
    out.WriteCardinal(mask ? 2 : 0);
    out.WriteCardinal(0);
    if (mask) {
        out.WriteCardinal(0x00000000);
        out.WriteCardinal(0x00FFFFFF);
    }
    out.WriteBuffer(pixels.data(), pixels.size());
}

// Reads one bitmap of the file format; every size is checked against the stream. Gives nullptr
// for an empty bitmap.
HBITMAP ReadBitmap(TSxStream& in, int& width)
{
    if (in.ReadWord() != 0x4D42)
        throw ESxIconListError("The icon list data holds no bitmap");
    in.ReadCardinal(); // file size
    in.ReadCardinal();
    const uint32_t offset = in.ReadCardinal();
    const uint32_t headerSize = in.ReadCardinal();
    if (headerSize < sizeof(BITMAPINFOHEADER) || offset < 14 + headerSize || offset - 14 > 64 * 1024)
        throw ESxIconListError("The icon list bitmap has a damaged header");
    std::vector<uint8_t> header(offset - 14);
    std::memcpy(header.data(), &headerSize, 4);
    in.ReadBuffer(header.data() + 4, header.size() - 4);
    BITMAPINFOHEADER info;
    std::memcpy(&info, header.data(), sizeof info);
    width = info.biWidth;
    const int64_t height = info.biHeight < 0 ? -int64_t(info.biHeight) : info.biHeight;
    const WORD bits = info.biBitCount;
    if (info.biWidth < 0 || info.biPlanes != 1 || info.biCompression != BI_RGB ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) || height > 32768 || info.biWidth > 1 << 20)
        throw ESxIconListError("The icon list bitmap has an unsupported form");
    const uint64_t stride = ((uint64_t(info.biWidth) * bits + 31) / 32) * 4, imageSize = stride * uint64_t(height);
    // A colour count is read as a table at any depth, so the table must be inside the header.
    const uint64_t palette = (info.biClrUsed ? info.biClrUsed : bits <= 8 ? (1u << bits) : 0) * 4ull;
    if (headerSize + palette > header.size() || imageSize > in.Stream().Remaining())
        throw ESxIconListError("Stream read error: the icon list bitmap runs past the end of the stream");
    std::vector<uint8_t> pixels(static_cast<size_t>(imageSize));
    in.ReadBuffer(pixels.data(), pixels.size());
    if (info.biWidth == 0 || height == 0)
        return nullptr;
    void* dibBits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS, &dibBits,
                                   nullptr, 0);
    if (!dib)
        throw ESxIconListError("Cannot create the bitmap of the icon list");
    std::memcpy(dibBits, pixels.data(), pixels.size());
    return dib;
}

} // namespace

TSxIconList::TSxIconList(TSxComponent* owner) : TSxComponent(owner) {}

TSxIconList::~TSxIconList()
{
    if (FTimerWindow)
        DestroyWindow(FTimerWindow);
    if (FHandle && !FAttached)
        ImageList_Destroy(FHandle);
}

void TSxIconList::HandleNeeded()
{
    if (FHandle)
        return;
    SHFILEINFOW info = {};
    auto system = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX));
    HIMAGELIST list = system ? ImageList_Duplicate(system) : nullptr;
    if (list) {
        ImageList_RemoveAll(list);
        ImageList_SetIconSize(list, FWidth, FHeight);
    } else {
        list = ImageList_Create(FWidth, FHeight, ILC_COLOR32 | ILC_MASK, 4, 4);
    }
    if (list)
        ImageList_SetBkColor(list, FBkColor);
    FHandle = list;
    FAttached = false;
}

HIMAGELIST TSxIconList::Handle()
{
    HandleNeeded();
    return FHandle;
}

int TSxIconList::Count()
{
    HandleNeeded();
    return FHandle ? ImageList_GetImageCount(FHandle) : 0;
}

int TSxIconList::AddIcon(HICON icon, const std::string& key)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    HandleNeeded();
    if (!FHandle)
        throw ESxIconListError("ImageList is inaccessible");
    if (!icon)
        throw ESxIconListError("Icon parameter is invalid");
    int index;
    if (!key.empty() && FCache.Find(key, index))
        return index;
    index = ImageList_ReplaceIcon(FHandle, -1, icon);
    if (index == -1) // not kept under the key: a later call must fail as loudly
        throw ESxIconListError("Unable to add icon to Image List");
    if (!key.empty())
        FCache.Add(key, index);
    Change();
    return index;
}

HICON TSxIconList::GetIconHandle(int index)
{
    HandleNeeded();
    return ImageList_GetIcon(FHandle, index, SxDrawStyleFlags(FDrawStyle));
}

void TSxIconList::Draw(HDC dc, int x, int y, int index, TSxIconDrawStyle style)
{
    HandleNeeded();
    ImageList_Draw(FHandle, index, dc, x, y, SxDrawStyleFlags(style));
}

void TSxIconList::AttachHandle(HIMAGELIST handle)
{
    Clear();
    if (FHandle && !FAttached)
        ImageList_Destroy(FHandle);
    FHandle = handle;
    FAttached = true;
}

void TSxIconList::Clear()
{
    if (FHandle && !FAttached) {
        ImageList_Destroy(FHandle);
        FHandle = nullptr;
    }
    FCache.Clear();
}

void TSxIconList::Assign(const TSxComponent& source)
{
    auto* list = dynamic_cast<const TSxIconList*>(&source);
    if (!list)
        throw ESxIconListError("The source object is not a TSxIconList");
    HIMAGELIST duplicate = ImageList_Duplicate(const_cast<TSxIconList*>(list)->Handle());
    if (!duplicate)
        throw ESxIconListError("ImageList is inaccessible");
    Clear();
    FHandle = duplicate;
    FAttached = false;
}

int TSxIconList::Width()
{
    int width = FWidth, height = FHeight;
    if (FHandle && ImageList_GetIconSize(FHandle, &width, &height))
        FWidth = width;
    return FWidth;
}

int TSxIconList::Height()
{
    int width = FWidth, height = FHeight;
    if (FHandle && ImageList_GetIconSize(FHandle, &width, &height))
        FHeight = height;
    return FHeight;
}

COLORREF TSxIconList::BkColor()
{
    if (FHandle)
        FBkColor = ImageList_GetBkColor(FHandle);
    return FBkColor;
}

void TSxIconList::SetBkColor(COLORREF value)
{
    HandleNeeded();
    ImageList_SetBkColor(FHandle, value);
    FBkColor = value;
}

void TSxIconList::SetDrawStyle(TSxIconDrawStyle value)
{
    FDrawStyle = value;
    UpdateTrayIcon();
}

void TSxIconList::SetIconIndex(int value)
{
    FIconIndex = value;
    UpdateTrayIcon();
}

void TSxIconList::SetTrayIcon(TSxTrayIcon* value)
{
    FTrayIcon = value;
    UpdateTrayIcon();
}

void TSxIconList::Change()
{
    UpdateTrayIcon();
    if (OnChange)
        OnChange(*this);
}

void TSxIconList::UpdateTrayIcon()
{
    HandleNeeded();
    if (!FTrayIcon)
        return;
    FTrayIcon->BeginUpdate();
    HICON icon = ImageList_GetIcon(FHandle, FIconIndex, SxDrawStyleFlags(FDrawStyle));
    FTrayIcon->SetIcon(icon); // keeps a copy
    if (icon)
        DestroyIcon(icon);
    FTrayIcon->EndUpdate();
}

void TSxIconList::NextFrame()
{
    FIconIndex = FIconIndex + 1 > Count() - 1 ? 0 : FIconIndex + 1;
    UpdateTrayIcon();
}

void TSxIconList::Animate()
{
    if (OnAnimate)
        OnAnimate(*this);
    NextFrame();
}

bool TSxIconList::Animated() const { return FTimerWindow && FTimerEnabled; }

LRESULT CALLBACK TSxIconList::TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TSxIconList*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_TIMER && wParam == AnimationTimer && self) {
        try {
            self->Animate();
        } catch (...) {
            SxHandleException(self, std::current_exception());
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TSxIconList::SetAnimated(bool value)
{
    if (value && !FTimerWindow) {
        static std::once_flag once;
        std::call_once(once, [] {
            WNDCLASSEXW wc = {};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = &TSxIconList::TimerWindowProc;
            wc.hInstance = SxModuleHandle();
            wc.lpszClassName = TimerClass;
            RegisterClassExW(&wc);
        });
        FTimerWindow = CreateWindowExW(0, TimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, SxModuleHandle(), nullptr);
        if (!FTimerWindow)
            throw ESxIconListError("Cannot create the animation timer");
        SetWindowLongPtrW(FTimerWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    if (!FTimerWindow)
        return;
    // The period is the timer's default of one second; Interval is only stored.
    if (value && !FTimerEnabled)
        SetTimer(FTimerWindow, AnimationTimer, 1000, nullptr);
    else if (!value && FTimerEnabled)
        KillTimer(FTimerWindow, AnimationTimer);
    FTimerEnabled = value;
}

void TSxIconList::SaveToStream(TSxByteStream& stream)
{
    HandleNeeded();
    if (!FHandle)
        throw ESxIconListError("ImageList is inaccessible");
    TSxStream out(stream);
    const int count = ImageList_GetImageCount(FHandle), width = Width(), height = Height();
    WriteBitmap(out, FHandle, count, width, height, false);
    WriteBitmap(out, FHandle, count, width, height, true);
}

void TSxIconList::LoadFromStream(TSxByteStream& stream)
{
    Clear();
    const uint64_t start = stream.GetPosition();
    // The common-controls stream first, through a memory IStream over what remains.
    {
        std::vector<uint8_t> rest(static_cast<size_t>(stream.Remaining()));
        if (!rest.empty()) {
            stream.Read(rest.data(), rest.size());
            auto ole = SxAdoptComPtr(SHCreateMemStream(rest.data(), static_cast<UINT>(rest.size())));
            HIMAGELIST read = ole ? ImageList_Read(ole.Get()) : nullptr;
            if (read) {
                LARGE_INTEGER zero = {};
                ULARGE_INTEGER used = {};
                ole->Seek(zero, STREAM_SEEK_CUR, &used);
                stream.SetPosition(start + used.QuadPart);
                FHandle = read; // an attached list is let go, not destroyed
                FAttached = false;
                return;
            }
        }
        stream.SetPosition(start);
    }
    TSxStream in(stream);
    int imageWidth = 0, maskWidth = 0;
    HBITMAP image = ReadBitmap(in, imageWidth);
    TGdiObject imageOwner{image};
    HBITMAP mask = ReadBitmap(in, maskWidth);
    TGdiObject maskOwner{mask};
    if (FHandle && FAttached)
        FHandle = nullptr;
    HandleNeeded();
    if (!FHandle)
        throw ESxIconListError("ImageList is inaccessible");
    if (image && ImageList_Add(FHandle, image, mask) == -1)
        throw ESxIconListError("Unable to add icon to Image List");
}

void TSxIconList::LoadFromFile(const std::string& fileName)
{
    std::ifstream file(Utf8ToWide(fileName).c_str(), std::ios::binary);
    if (!file)
        throw ESxIconListError("Cannot open file \"" + fileName + "\"");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    TSxMemoryStream stream(std::move(bytes));
    LoadFromStream(stream);
}

void TSxIconList::SaveToFile(const std::string& fileName)
{
    TSxMemoryStream stream;
    SaveToStream(stream);
    std::ofstream file(Utf8ToWide(fileName).c_str(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::streamsize>(stream.GetSize()));
    if (!file)
        throw ESxIconListError("Cannot write file \"" + fileName + "\"");
}
#endif
