#pragma once
// The properties dialog of one file or folder of the online folder: the general page with icon,
// name, address, type, size and dates, and for pictures a details page with the server's thumbnail.
#ifdef _WIN32
#include "uTDialogForm.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

// What the dialog shows, worked out from the grain and the mirror.
struct TElementProperties {
    std::string Caption;      // "Eigenschaften von <name>"
    std::string Name, FullName, Type, Size, Modified, Created;
    std::string PageGeneral, PageDetails, TypeTitle, SizeTitle, ModifiedTitle, CreatedTitle, OkCaption;
    bool ShowDetails = false; // a picture: the details page with PreviewFile (a bitmap) exists
    std::string PreviewFile;
    HICON Icon = nullptr;     // not owned
    bool Trash = false;       // the deleted-files folder: its icon is not the window's
};

class TfrmElementPropertySheet : public TDialogForm {
public:
    explicit TfrmElementPropertySheet(const TElementProperties& data);
    ~TfrmElementPropertySheet() override;

    // Control identifiers.
    static constexpr int PagesId = 200, IconId = 201, NameId = 202, FullNameId = 203, TypeId = 204, SizeId = 205,
                         ModifiedId = 206, CreatedId = 207, PreviewId = 208, BannerId = 209, TypeTitleId = 210,
                         SizeTitleId = 211, ModifiedTitleId = 212, CreatedTitleId = 213;

protected:
    HWND CreateControls() override;

private:
    static LRESULT CALLBACK PagesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
    void ShowPage(int page);

    TElementProperties Data;
    HBITMAP Preview = nullptr;
    HFONT Bold = nullptr;
    HIMAGELIST imgProperty = nullptr;  // the item's icon at 32 x 32
    HICON Shown = nullptr;             // what imgIcon shows, from imgProperty
    std::vector<HWND> GeneralPage;
};
#endif
