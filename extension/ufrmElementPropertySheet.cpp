#include "ufrmElementPropertySheet.h"

#include "uGLBWin.h"

#include <commctrl.h>

TfrmElementPropertySheet::TfrmElementPropertySheet(const TElementProperties& data)
    : TDialogForm(318, 305, 1), Data(data)
{
    Caption = Data.Caption;
}

TfrmElementPropertySheet::~TfrmElementPropertySheet()
{
    if (Preview)
        DeleteObject(Preview);
    if (Bold)
        DeleteObject(Bold);
    if (Shown)
        DestroyIcon(Shown);
    if (imgProperty)
        ImageList_Destroy(imgProperty);
}

HWND TfrmElementPropertySheet::CreateControls()
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    AddBanner(BannerId);
    HWND pages = AddControl(WC_TABCONTROLW, "", WS_TABSTOP | WS_CLIPSIBLINGS, 0, 40, 318, 224, PagesId);
    auto addPage = [&](const std::string& text, int index) {
        std::wstring caption = Utf8ToWide(text);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(pages, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
    };
    addPage(Data.PageGeneral, 0);
    if (Data.ShowDetails)
        addPage(Data.PageDetails, 1);
    SetWindowSubclass(Handle, PagesProc, 1, reinterpret_cast<DWORD_PTR>(this));

    // The general page (client coordinates of the dialog, below the tabs).
    const int top = 70;
    auto label = [&](const std::string& text, int x, int y, int width, int id = -1) {
        HWND h = AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, x, top + y, width, 14, id);
        GeneralPage.push_back(h);
        return h;
    };
    HWND icon = AddControl(L"STATIC", "", SS_ICON | SS_CENTERIMAGE, 8, top + 6, 32, 32, IconId);
    if (Data.Icon) {
        // The item's icon is the window's too (not the deleted-files folder's, which is the
        // module's own) and shows at 32 x 32 whatever size the shell gave.
        if (!Data.Trash) {
            SendMessageW(Handle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Data.Icon));
            SendMessageW(Handle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Data.Icon));
        }
        imgProperty = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1);
        if (imgProperty && ImageList_AddIcon(imgProperty, Data.Icon) == 0)
            Shown = ImageList_GetIcon(imgProperty, 0, ILD_NORMAL);
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(Shown ? Shown : Data.Icon), 0);
    }
    GeneralPage.push_back(icon);
    HWND name = label(Data.Name, 48, 8, 260, NameId);
    LOGFONTW font{};
    if (HFONT current = reinterpret_cast<HFONT>(SendMessageW(name, WM_GETFONT, 0, 0)))
        GetObjectW(current, sizeof font, &font);
    font.lfWeight = FW_BOLD;
    Bold = CreateFontIndirectW(&font);
    SendMessageW(name, WM_SETFONT, reinterpret_cast<WPARAM>(Bold), TRUE);
    GeneralPage.push_back(AddControl(L"EDIT", Data.FullName, ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, 48, top + 24,
                                     260, 18, FullNameId));
    label(Data.TypeTitle, 8, 56, 80, TypeTitleId);
    label(Data.Type, 96, 56, 212, TypeId);
    label(Data.SizeTitle, 8, 78, 80, SizeTitleId);
    label(Data.Size, 96, 78, 212, SizeId);
    label(Data.ModifiedTitle, 8, 110, 200, ModifiedTitleId);
    label(Data.Modified, 16, 124, 292, ModifiedId);
    label(Data.CreatedTitle, 8, 146, 200, CreatedTitleId);
    label(Data.Created, 16, 160, 292, CreatedId);

    HWND preview = AddControl(L"STATIC", "", SS_BITMAP | SS_CENTERIMAGE, 104, top + 48, 94, 94, PreviewId);
    if (Data.ShowDetails && !Data.PreviewFile.empty()) {
        Preview = static_cast<HBITMAP>(LoadImageW(nullptr, Utf8ToWide(Data.PreviewFile).c_str(), IMAGE_BITMAP, 0, 0,
                                                  LR_LOADFROMFILE | LR_CREATEDIBSECTION));
        if (Preview)
            SendMessageW(preview, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Preview));
    }
    ShowWindow(preview, SW_HIDE);
    HWND ok = AddButton(Data.OkCaption, 236, 272, 1, true);
    ShowPage(0);
    return ok;
}

void TfrmElementPropertySheet::ShowPage(int page)
{
    for (HWND h : GeneralPage)
        ShowWindow(h, page == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(Item(PreviewId), page == 1 ? SW_SHOW : SW_HIDE);
}

LRESULT CALLBACK TfrmElementPropertySheet::PagesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                     DWORD_PTR data)
{
    try {
        auto* form = reinterpret_cast<TfrmElementPropertySheet*>(data);
        if (message == WM_NOTIFY) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header && header->idFrom == PagesId && header->code == TCN_SELCHANGE)
                form->ShowPage(static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        } else if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(window, PagesProc, 1);
        }
    } catch (...) {
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
