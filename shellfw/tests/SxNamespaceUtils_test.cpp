// The test folder's per-item helpers as Explorer gets them through GetUIObjectOf: icon locations
// and icons, info tips, thumbnails and the item menus built into real menus and invoked.
#include "SxTestFolderFixture.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <set>

using namespace sxtest;

namespace {

// The size of an icon's colour (or mask) bitmap.
SIZE IconSize(HICON icon)
{
    ICONINFO info{};
    SIZE size{0, 0};
    if (!icon || !GetIconInfo(icon, &info))
        return size;
    BITMAP bitmap{};
    if (GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap)) {
        size.cx = bitmap.bmWidth;
        size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return size;
}

// Writes a real JPEG picture (a colour gradient) with WIC.
bool WriteJpeg(const std::wstring& file, UINT width, UINT height)
{
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(width, height)))
        return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)))
        return false;
    const UINT stride = (width * 3 + 3) / 4 * 4;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            BYTE* p = &pixels[static_cast<size_t>(y) * stride + x * 3];
            p[0] = static_cast<BYTE>(x * 255 / width);
            p[1] = static_cast<BYTE>(y * 255 / height);
            p[2] = 128;
        }
    return SUCCEEDED(frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()), pixels.data())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

std::string MenuLog()
{
    char buffer[1024] = {};
    Entry<void (*)(char*, int)>("SxTestMenuLog")(buffer, sizeof buffer);
    return buffer;
}

std::string DeleteLog(int* confirmations = nullptr)
{
    char buffer[1024] = {};
    int count = Entry<int (*)(char*, int)>("SxTestDeleteLog")(buffer, sizeof buffer);
    if (confirmations)
        *confirmations = count;
    return buffer;
}

// Every command identifier of a menu and its sub-menus, with the texts by identifier.
void MenuIds(HMENU menu, std::vector<UINT>& ids, std::vector<std::wstring>* texts = nullptr)
{
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 127;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info))
            continue;
        if (info.fType & MFT_SEPARATOR)
            continue;
        ids.push_back(info.wID);
        if (texts)
            texts->push_back(text);
        if (info.hSubMenu)
            MenuIds(info.hSubMenu, ids, texts);
    }
}

class NamespaceHelpers : public TestFolder {
protected:
    // Icon locations as on Windows, unless a test asks for Wine's.
    void SetUp() override
    {
        TestFolder::SetUp();
        Entry<void (*)(int)>("SxTestSetIconFiles")(0);
    }
    void TearDown() override { Entry<void (*)(int)>("SxTestSetIconFiles")(-1); }

    template <typename T> ComPtr<T> UIObject(IShellFolder* folder, std::vector<PCUITEMID_CHILD> items, REFIID iid,
                                            HRESULT* result = nullptr)
    {
        ComPtr<T> object;
        HRESULT hr = folder->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), iid, nullptr,
                                           reinterpret_cast<void**>(object.GetAddressOf()));
        if (result)
            *result = hr;
        return object;
    }
};

// ---------------------------------------------------------------------------------------------

TEST_F(NamespaceHelpers, IconLocationsFitEveryBufferInBothFormsAndChangeOnEveryCall)
{
    auto file = Item(Folder.Get(), "Größe ä.txt");
    auto folder = Item(Folder.Get(), "Bilder");
    for (PCUITEMID_CHILD item : {static_cast<PCUITEMID_CHILD>(file.get()), static_cast<PCUITEMID_CHILD>(folder.get())}) {
        auto wide = UIObject<IExtractIconW>(Folder.Get(), {item}, IID_IExtractIconW);
        auto ansi = UIObject<IExtractIconA>(Folder.Get(), {item}, IID_IExtractIconA);
        ASSERT_TRUE(wide && ansi);
        for (UINT size : {1u, 8u, 260u}) {
            SCOPED_TRACE("size " + std::to_string(size));
            wchar_t w[300];
            char a[300];
            std::fill(std::begin(w), std::end(w), L'#');
            std::fill(std::begin(a), std::end(a), '#');
            int index = -7;
            UINT flags = 0;
            ASSERT_EQ(wide->GetIconLocation(GIL_FORSHELL, w, size, &index, &flags), S_OK);
            EXPECT_EQ(flags, 26u);  // not a file name, per instance, not cached
            EXPECT_GE(index, 0);
            EXPECT_LT(wcslen(w), size);
            EXPECT_EQ(w[size], L'#');  // nothing written past the buffer
            int indexA = -7;
            UINT flagsA = 0;
            ASSERT_EQ(ansi->GetIconLocation(GIL_FORSHELL, a, size, &indexA, &flagsA), S_OK);
            EXPECT_EQ(indexA, index);
            EXPECT_EQ(flagsA, 26u);
            EXPECT_LT(strlen(a), size);
            EXPECT_EQ(a[size], '#');
            if (size == 260) {
                // A number as text, never UTF-16 in the ANSI buffer; new on every call.
                EXPECT_GT(strlen(a), 2u);
                EXPECT_NE(std::string(a).find_first_of("0123456789"), std::string::npos);
                wchar_t again[260];
                wide->GetIconLocation(GIL_FORSHELL, again, 260, &index, &flags);
                EXPECT_STRNE(again, w);
            }
        }
        // Bad arguments are refused, not written through.
        int index = 0;
        UINT flags = 0;
        wchar_t w[8];
        EXPECT_EQ(wide->GetIconLocation(GIL_FORSHELL, w, 0, &index, &flags), E_INVALIDARG);
        EXPECT_EQ(wide->GetIconLocation(GIL_FORSHELL, nullptr, 8, &index, &flags), E_INVALIDARG);
        EXPECT_EQ(wide->GetIconLocation(GIL_FORSHELL, w, 8, nullptr, &flags), E_POINTER);
        // A system icon is not this extractor's unless the shell asks for itself.
        EXPECT_EQ(wide->GetIconLocation(0, w, 8, &index, &flags), S_FALSE);
        EXPECT_EQ(index, -1);
    }
}

TEST_F(NamespaceHelpers, ExtractGivesLargeAndSmallIconsWithAndWithoutTheSmallPointer)
{
    for (const char* name : {"Größe ä.txt", "versteckt.txt", "Bilder"}) {
        SCOPED_TRACE(name);
        auto item = Item(Folder.Get(), name);
        ASSERT_TRUE(item);
        auto wide = UIObject<IExtractIconW>(Folder.Get(), {item.get()}, IID_IExtractIconW);
        auto ansi = UIObject<IExtractIconA>(Folder.Get(), {item.get()}, IID_IExtractIconA);
        ASSERT_TRUE(wide && ansi);
        for (UINT gil : {0u, static_cast<UINT>(GIL_OPENICON)}) {
            wchar_t location[MAX_PATH];
            int index = -1;
            UINT flags = 0;
            ASSERT_EQ(wide->GetIconLocation(gil | GIL_FORSHELL, location, MAX_PATH, &index, &flags), S_OK);
            HICON large = nullptr, small = nullptr;
            ASSERT_EQ(wide->Extract(location, static_cast<UINT>(index), &large, &small, MAKELONG(32, 16)), S_OK);
            EXPECT_EQ(IconSize(large).cx, 32);
            EXPECT_EQ(IconSize(small).cx, 16);
            DestroyIcon(large);
            DestroyIcon(small);
            large = reinterpret_cast<HICON>(1);
            ASSERT_EQ(wide->Extract(location, static_cast<UINT>(index), &large, nullptr, MAKELONG(32, 16)), S_OK);
            EXPECT_EQ(IconSize(large).cx, 32);
            DestroyIcon(large);
            char locationA[MAX_PATH];
            ASSERT_EQ(ansi->GetIconLocation(gil | GIL_FORSHELL, locationA, MAX_PATH, &index, &flags), S_OK);
            small = nullptr;
            ASSERT_EQ(ansi->Extract(locationA, static_cast<UINT>(index), nullptr, &small, MAKELONG(32, 16)), S_OK);
            EXPECT_EQ(IconSize(small).cx, 16);
            DestroyIcon(small);
        }
        HICON large = reinterpret_cast<HICON>(1), small = reinterpret_cast<HICON>(1);
        EXPECT_TRUE(FAILED(wide->Extract(L"x", 99999, &large, &small, 0)));  // no such icon
        EXPECT_EQ(large, nullptr);
        EXPECT_EQ(small, nullptr);
    }
}

TEST_F(NamespaceHelpers, WhereLocationsAreIconFilesTheFileHoldsTheGrainsIcon)
{
    // What Wine's view does with a location: the icon of the file it names.
    Entry<void (*)(int)>("SxTestSetIconFiles")(1);
    for (const char* name : {"Größe ä.txt", "Bilder"}) {
        SCOPED_TRACE(name);
        auto item = Item(Folder.Get(), name);
        ASSERT_TRUE(item);
        auto wide = UIObject<IExtractIconW>(Folder.Get(), {item.get()}, IID_IExtractIconW);
        ASSERT_TRUE(wide);
        wchar_t location[MAX_PATH] = {};
        int index = -1;
        UINT flags = 0;
        ASSERT_EQ(wide->GetIconLocation(GIL_FORSHELL, location, MAX_PATH, &index, &flags), S_OK);
        EXPECT_EQ(index, 0);
        EXPECT_EQ(flags, 26u);
        HICON fromFile = nullptr;
        ASSERT_EQ(PrivateExtractIconsW(location, 0, 32, 32, &fromFile, nullptr, 1, 0), 1u) << WideToUtf8(location);
        HICON large = nullptr, small = nullptr;
        ASSERT_EQ(wide->Extract(location, static_cast<UINT>(index), &large, &small, MAKELONG(32, 16)), S_OK);
        EXPECT_EQ(IconPixels(fromFile, 32), IconPixels(large, 32));
        EXPECT_EQ(IconSize(small).cx, 16);
        DestroyIcon(fromFile);
        DestroyIcon(large);
        DestroyIcon(small);
        // One file per icon: asked again, the same file; a buffer too small for it gets a text.
        wchar_t again[MAX_PATH] = {};
        ASSERT_EQ(wide->GetIconLocation(GIL_FORSHELL, again, MAX_PATH, &index, &flags), S_OK);
        EXPECT_STREQ(again, location);
        wchar_t tiny[8] = {};
        ASSERT_EQ(wide->GetIconLocation(GIL_FORSHELL, tiny, 8, &index, &flags), S_OK);
        EXPECT_GT(index, -1);
        EXPECT_EQ(GetFileAttributesW(tiny), INVALID_FILE_ATTRIBUTES);
        // Wine's view never asks for the shell: the system's icon comes all the same.
        wchar_t plain[MAX_PATH] = {};
        ASSERT_EQ(wide->GetIconLocation(0, plain, MAX_PATH, &index, &flags), S_OK);
        EXPECT_STREQ(plain, location);
    }
}

TEST_F(NamespaceHelpers, InfoTipsKeepUmlautsAndCjk)
{
    for (const char* name : {"Größe ä.txt", "read me.txt", "Bilder"}) {
        auto item = Item(Folder.Get(), name);
        auto info = UIObject<IQueryInfo>(Folder.Get(), {item.get()}, IID_IQueryInfo);
        ASSERT_TRUE(info);
        LPWSTR tip = nullptr;
        ASSERT_EQ(info->GetInfoTip(0, &tip), S_OK);
        const std::string size = std::string(name) == "Größe ä.txt" ? "1025" : "0";
        EXPECT_EQ(WideToUtf8(tip), std::string(name) + " – 大きさ " + size);
        CoTaskMemFree(tip);
        EXPECT_EQ(info->GetInfoTip(0, nullptr), E_POINTER);
    }
}

TEST_F(NamespaceHelpers, ThumbnailOfAJpegHasTheSizeAskedForAndAMissingOneFails)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring pictures = std::wstring(temp) + L"SxTestFolder";
    CreateDirectoryW(pictures.c_str(), nullptr);
    ASSERT_TRUE(WriteJpeg(pictures + L"\\Strand ö.jpg", 640, 480));
    auto bilder = Bind(Folder.Get(), Item(Folder.Get(), "Bilder").get());
    ASSERT_TRUE(bilder);
    auto beach = Item(bilder.Get(), "Strand ö.jpg");
    auto image = UIObject<IExtractImage>(bilder.Get(), {beach.get()}, IID_IExtractImage);
    ASSERT_TRUE(image);
    for (SIZE size : {SIZE{96, 96}, SIZE{120, 80}, SIZE{256, 192}}) {
        wchar_t path[MAX_PATH];
        DWORD priority = 99, flags = IEIFLAG_ASPECT;
        ASSERT_EQ(image->GetLocation(path, MAX_PATH, &priority, &size, 32, &flags), S_OK);
        EXPECT_STREQ(path, L"Strand ö.jpg");
        EXPECT_EQ(priority, 0u);
        HBITMAP bitmap = nullptr;
        ASSERT_EQ(image->Extract(&bitmap), S_OK);
        BITMAP info{};
        ASSERT_TRUE(GetObjectW(bitmap, sizeof info, &info));
        EXPECT_EQ(info.bmWidth, size.cx);
        EXPECT_EQ(std::abs(info.bmHeight), size.cy);
        DeleteObject(bitmap);
    }
    // A picture that is not there: a failure, never an empty bitmap.
    DeleteFileW((pictures + L"\\Strand ö.jpg").c_str());
    auto again = UIObject<IExtractImage>(bilder.Get(), {beach.get()}, IID_IExtractImage);
    wchar_t path[MAX_PATH];
    DWORD priority = 0, flags = 0;
    SIZE size{96, 96};
    EXPECT_TRUE(FAILED(again->GetLocation(path, MAX_PATH, &priority, &size, 32, &flags)));
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    EXPECT_EQ(again->Extract(&bitmap), E_FAIL);
    EXPECT_EQ(bitmap, nullptr);
    RemoveDirectoryW(pictures.c_str());
}

// ---------------------------------------------------------------------------------------------

class NamespaceMenus : public NamespaceHelpers {
protected:
    void SetUp() override
    {
        // The folder's view hands out the framework's own item menu.
        NamespaceHelpers::SetUp();
        Entry<void (*)(IShellFolder*, int)>("SxTestSetMenuOrigin")(Folder.Get(), 1);
        MenuLog();
        DeleteLog();
    }
    void TearDown() override { Entry<void (*)(IShellFolder*, int)>("SxTestSetMenuOrigin")(Folder.Get(), 0); }
};

TEST_F(NamespaceMenus, ItemMenuStaysInsideANarrowIdentifierRange)
{
    auto file = Item(Folder.Get(), "Größe ä.txt");
    auto menu = UIObject<IContextMenu>(Folder.Get(), {file.get()}, IID_IContextMenu);
    ASSERT_TRUE(menu);
    // Open, Hochladen, Senden an, Server ä, Cut, Copy, Delete, Rename, Properties: 9 identifiers.
    struct Case {
        UINT first, last, expectedCount;
    } cases[] = {{100, 400, 9}, {100, 102, 3}, {7, 7, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        HMENU popup = CreatePopupMenu();
        AppendMenuW(popup, MF_STRING, 1, L"Vorhanden");
        HRESULT hr = menu->QueryContextMenu(popup, 0, c.first, c.last, CMF_NORMAL);
        ASSERT_TRUE(SUCCEEDED(hr));
        EXPECT_EQ(HRESULT_CODE(hr), static_cast<int>(c.expectedCount));
        std::vector<UINT> ids;
        std::vector<std::wstring> texts;
        MenuIds(popup, ids, &texts);
        std::set<UINT> unique;
        for (UINT id : ids) {
            if (id == 1)
                continue;
            EXPECT_GE(id, c.first);
            EXPECT_LE(id, c.last);
            EXPECT_TRUE(unique.insert(id).second);
        }
        EXPECT_EQ(unique.size(), c.expectedCount);
        EXPECT_EQ(texts.back(), L"Vorhanden");  // the host's item is still last
        if (c.expectedCount == 9) {
            EXPECT_EQ(texts[1], L"&Hochladen");
            EXPECT_EQ(texts[3], L"Server ä");
            EXPECT_EQ(std::count(texts.begin(), texts.end(), L"Unsichtbar"), 0);
        }
        DestroyMenu(popup);
    }
    // Only the default item when only that is asked for.
    HMENU popup = CreatePopupMenu();
    HRESULT hr = menu->QueryContextMenu(popup, 0, 100, 400, CMF_DEFAULTONLY);
    EXPECT_EQ(HRESULT_CODE(hr), 1);
    EXPECT_EQ(GetMenuItemCount(popup), 1);
    EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), 100u);
    DestroyMenu(popup);
}

TEST_F(NamespaceMenus, CommandsByOffsetAndByVerbRunTheirActionOnce)
{
    auto file = Item(Folder.Get(), "Größe ä.txt");
    auto other = Item(Folder.Get(), "read me.txt");
    auto menu = UIObject<IContextMenu>(Folder.Get(), {file.get(), other.get()}, IID_IContextMenu);
    ASSERT_TRUE(menu);
    HMENU popup = CreatePopupMenu();
    ASSERT_EQ(HRESULT_CODE(menu->QueryContextMenu(popup, 0, 100, 400, CMF_NORMAL)), 9);

    // "Hochladen" (offset 1) for both grains: the list event once, the grain event per grain.
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(1);
    info.nShow = SW_SHOWNORMAL;
    ASSERT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(MenuLog(), "list:Größe ä.txt,read me.txt;grain:Größe ä.txt;grain:read me.txt;");
    info.lpVerb = MAKEINTRESOURCEA(3);  // "Server ä" in the sub-menu
    ASSERT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(MenuLog(), "server:Größe ä.txt;server:read me.txt;");

    // Help texts and verbs in both forms, cut to the buffer.
    char a[64];
    wchar_t w[64];
    ASSERT_EQ(menu->GetCommandString(1, GCS_HELPTEXTA, nullptr, a, 64), S_OK);
    char expected[64] = {};
    WideCharToMultiByte(CP_ACP, 0, L"Lädt die Datei auf den Server", -1, expected, 64, nullptr, nullptr);
    EXPECT_STREQ(a, expected);
    ASSERT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(w), 64), S_OK);
    EXPECT_STREQ(w, L"Lädt die Datei auf den Server");
    ASSERT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(w), 5), S_OK);
    EXPECT_STREQ(w, L"Lädt");
    ASSERT_EQ(menu->GetCommandString(6, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(w), 64), S_OK);
    EXPECT_STREQ(w, L"delete");
    ASSERT_EQ(menu->GetCommandString(6, GCS_VERBA, nullptr, a, 64), S_OK);
    EXPECT_STREQ(a, "delete");
    EXPECT_EQ(menu->GetCommandString(9, GCS_VERBA, nullptr, a, 64), E_INVALIDARG);
    EXPECT_EQ(menu->GetCommandString(9, GCS_VALIDATEW, nullptr, nullptr, 0), S_FALSE);

    // The delete verb by name deletes both grains, confirmed once.
    info.lpVerb = "delete";
    ASSERT_EQ(menu->InvokeCommand(&info), S_OK);
    int confirmations = 0;
    const std::string deleted = DeleteLog(&confirmations);
    EXPECT_EQ(confirmations, 1);
    EXPECT_EQ(deleted, "read me.txt;");  // "Größe ä.txt" is refused by the server
    // Unknown verbs and offsets run nothing.
    info.lpVerb = "fly";
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    info.lpVerb = MAKEINTRESOURCEA(9);
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(MenuLog(), "");
    EXPECT_EQ(DeleteLog(), "");
    DestroyMenu(popup);
}

// The clipboard verbs of the framework's own item and background menus do what the system
// menu's do: copy and cut put the grains' data object on the clipboard, paste drops it into the
// folder; a paste with nothing to take answers a failure, never S_OK.
TEST_F(NamespaceMenus, CutCopyAndPasteWorkTheClipboardAndAFailedOneSaysSo)
{
    OleInitialize(nullptr);
    auto file = Item(Folder.Get(), "Größe ä.txt");
    auto other = Item(Folder.Get(), "read me.txt");
    auto pictures = Item(Folder.Get(), "Bilder");
    auto menu = UIObject<IContextMenu>(Folder.Get(), {file.get(), other.get()}, IID_IContextMenu);
    auto target = UIObject<IContextMenu>(Folder.Get(), {pictures.get()}, IID_IContextMenu);
    ComPtr<IContextMenu> background;
    auto bilder = Bind(Folder.Get(), pictures.get());
    ASSERT_TRUE(bilder && menu && target);
    ASSERT_HRESULT_SUCCEEDED(
        Entry<HRESULT (*)(IShellFolder*, IContextMenu**)>("SxTestBackgroundMenu")(bilder.Get(), background.GetAddressOf()));
    HMENU popup = CreatePopupMenu(), targetPopup = CreatePopupMenu(), backgroundPopup = CreatePopupMenu();
    ASSERT_EQ(HRESULT_CODE(menu->QueryContextMenu(popup, 0, 100, 400, CMF_NORMAL)), 9);
    ASSERT_TRUE(SUCCEEDED(target->QueryContextMenu(targetPopup, 0, 100, 400, CMF_NORMAL)));
    ASSERT_TRUE(SUCCEEDED(background->QueryContextMenu(backgroundPopup, 0, 100, 400, CMF_NORMAL)));
    auto invoke = [](IContextMenu* m, LPCSTR verb) {
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof info;
        info.lpVerb = verb;
        info.nShow = SW_SHOWNORMAL;
        return m->InvokeCommand(&info);
    };
    auto transfers = [] {
        char buffer[2048] = {};
        Entry<int (*)(char*, int)>("SxTestTransferLog")(buffer, sizeof buffer);
        return std::string(buffer);
    };
    auto offered = [] {
        ComPtr<IDataObject> data;
        if (FAILED(OleGetClipboard(&data)))
            return std::string("none");
        FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"SxCF_PrivateFormat")), nullptr,
                         DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        std::string held = data->QueryGetData(&format) == S_OK ? "private;" : "";
        format.cfFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Preferred DropEffect"));
        STGMEDIUM medium{};
        if (SUCCEEDED(data->GetData(&format, &medium))) {
            held += "effect " + std::to_string(*static_cast<const DWORD*>(GlobalLock(medium.hGlobal)));
            GlobalUnlock(medium.hGlobal);
            ReleaseStgMedium(&medium);
        }
        return held;
    };
    transfers();
    // Copy by its verb, paste on the folder item "Bilder": into that folder, once per grain.
    ASSERT_EQ(invoke(menu.Get(), "copy"), S_OK);
    EXPECT_EQ(offered(), "private;effect 1");
    ASSERT_EQ(invoke(target.Get(), "paste"), S_OK);
    EXPECT_EQ(transfers(), "grain Bilder|Größe ä.txt\ngrain Bilder|read me.txt\n");
    // Cut by its offset (4: after Open, Hochladen and its two sub-items), paste from the background
    // of "Bilder": the move is completed for what arrived as moved only.
    ASSERT_EQ(invoke(menu.Get(), MAKEINTRESOURCEA(4)), S_OK);
    EXPECT_EQ(offered(), "private;effect 2");
    ASSERT_EQ(invoke(background.Get(), "paste"), S_OK);
    EXPECT_EQ(transfers(), "grain Bilder|Größe ä.txt\ngrain Bilder|read me.txt\nmoved Größe ä.txt;\n");
    // Nothing on the clipboard: both pastes fail and drop nothing.
    OleSetClipboard(nullptr);
    EXPECT_TRUE(FAILED(invoke(background.Get(), "paste")));
    EXPECT_TRUE(FAILED(invoke(target.Get(), "paste")));
    EXPECT_EQ(transfers(), "");
    DestroyMenu(popup);
    DestroyMenu(targetPopup);
    DestroyMenu(backgroundPopup);
    menu.Reset();
    target.Reset();
    background.Reset();
    OleUninitialize();
}

TEST_F(NamespaceHelpers, TheSystemMenuGetsTheGrainMenuMergedAndRunsItsCommandsByOffset)
{
    auto menuCallback = Entry<HRESULT (*)(bool, IShellFolder*, HWND, IDataObject*, UINT, WPARAM, LPARAM)>(
        "SxTestMenuCallback");
    auto file = Item(Folder.Get(), "Größe ä.txt");
    auto other = Item(Folder.Get(), "read me.txt");
    PCUITEMID_CHILD items[2] = {file.get(), other.get()};
    ComPtr<IDataObject> data;
    ASSERT_HRESULT_SUCCEEDED(CIDLData_CreateFromIDArray(RootList.get(), 2, items, data.GetAddressOf()));
    MenuLog();
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 1, L"System");
    // Open, Hochladen, Senden an, Server ä: the basic verbs are the system menu's own.
    QCMINFO info{popup, 0, 300, 303, nullptr};
    ASSERT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 1, CMF_NORMAL, reinterpret_cast<LPARAM>(&info)),
              S_OK);
    EXPECT_EQ(info.idCmdFirst, 305u);
    std::vector<UINT> ids;
    MenuIds(popup, ids);
    EXPECT_EQ(ids, (std::vector<UINT>{300, 301, 302, 303, 1}));
    wchar_t verb[16];
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 15, MAKEWPARAM(0, 16), reinterpret_cast<LPARAM>(verb)),
              S_OK);
    EXPECT_STREQ(verb, L"open");
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 2, 1, 0), S_OK);
    EXPECT_EQ(MenuLog(), "list:Größe ä.txt,read me.txt;grain:Größe ä.txt;grain:read me.txt;");
    // Once the system menu goes, its commands run nothing.
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 3, 0, 0), S_OK);
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 2, 1, 0), S_OK);
    EXPECT_EQ(MenuLog(), "");
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 15, MAKEWPARAM(0, 16), reinterpret_cast<LPARAM>(verb)),
              S_FALSE);
    DestroyMenu(popup);
}

} // namespace
