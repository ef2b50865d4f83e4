#pragma once
// The property-sheet handler: a shell extension that adds pages to Explorer's property sheet of
// the objects of one registered type. Each line of PropertySheets names a registered page-form
// class and the page's caption and icon:
//     "TfrmMainPropertySheet[0]=Allgemein,0"   (class[anything]=caption[,icon index])
// Each page hosts a new form of its class; the sheet's notifications become the events below.
// Every page holds a reference on the handler until the sheet lets the page go (also a page that
// was never shown), so the handler, its module and the library stay for as long as a page exists.
#ifdef _WIN32
#include "SxPropertySheetForm.h"
#include "uGLBWin.h"
#include "SxBaseShellObject.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TSxShellPropSheetExt;

// A provider of further pages; its page enumeration is serialised across the threads of the
// process by its own mutex (the wait is bounded).
class TsxCustomExtraPropPage : public TSxComponent {
public:
    explicit TsxCustomExtraPropPage(TSxComponent* owner = nullptr);
    std::string ClassName() const override { return "TsxCustomExtraPropPage"; }
    // Begin and end hooks around one enumeration.
    virtual void BeginPages() {}
    virtual void EndPages() {}
    // The page at index, or nullptr after the last one.
    virtual HPROPSHEETPAGE GetPage(TSxShellPropSheetExt& sheet, const std::string& pageTitle, int index) = 0;
    // Waits at most timeoutMs for the mutex; false when it was not got.
    bool Acquire(DWORD timeoutMs);
    void ReleaseLock();

private:
    THandle FMutex;
};

struct TsxExtraPageItem {
    TsxCustomExtraPropPage* ExtraPage = nullptr;  // not owned
    std::string PageTitle;
};

class TSxShellPropSheetExt : public TSxShellExtInit, public IShellPropSheetExt {
public:
    using TSheetEvent = std::function<void(TSxShellPropSheetExt& sender, TSxShellPropSheetForm& page, bool& answer)>;

    explicit TSxShellPropSheetExt(TSxComponent* owner) : TSxShellExtInit(owner) {}
    std::string ClassName() const override { return "TSxShellPropSheetExt"; }

    std::vector<TsxExtraPageItem> ExtraPages;
    HIMAGELIST ImageList = nullptr;  // page icons (not owned)
    std::vector<std::string> PropertySheets;
    bool ActivateXPThemes = true;    // the library's visual styles while a page form is made

    std::function<void(TSxShellPropSheetExt& sender, const TSxPropSheetFormClass& formClass, bool& allowInsert)>
        OnAddPropSheet;
    std::function<void(TSxShellPropSheetExt& sender, UINT index, const TSxPropSheetFormClass& formClass,
                       bool& allowInsert)>
        OnReplacePropSheet;
    std::function<void(TSxShellPropSheetExt& sender, const TSxPropSheetFormClass& formClass, std::string& caption)>
        OnGetPropSheetName;
    // PSN_APPLY (answer: apply the changes), PSN_KILLACTIVE (answer: the page may lose the focus),
    // PSN_QUERYCANCEL (answer: cancelling is allowed); each answer starts true.
    TSheetEvent OnApply, OnKillActive, OnQueryCancel;
    std::function<void(TSxShellPropSheetExt& sender, TSxShellPropSheetForm& page)> OnSetActive;

    // The module that holds the handler stays: its pages may outlive the handler's COM object.
    void DoTryToReleaseModule(bool& allow) override;
    // HKCR\<fileType>\shellex\PropertySheetHandlers\<ExtensionName> = {clsid}; a type starting
    // "Controls Folder\" registers under HKLM\Software\Microsoft\Windows\CurrentVersion instead.
    void RegisterFileType(const std::string& fileType, bool doRegister) override;

    SX_IUNKNOWN_METHODS
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM param) override;
    STDMETHODIMP ReplacePage(EXPPS pageId, LPFNSVADDPROPSHEETPAGE replaceWith, LPARAM param) override;

    // A page line's parts: class name, caption, icon index (-1: none).
    struct TPageLine {
        std::string ClassName, Caption;
        int IconIndex = -1;
    };
    static TPageLine ParsePageLine(const std::string& line);

protected:
    void* ObjQueryInterface(REFIID iid) override;

private:
    struct TPageRecord;
    // A new page for the line's class (nullptr when the class is not registered or the page
    // cannot be made).
    HPROPSHEETPAGE CreatePage(const TSxPropSheetFormClass& formClass, const std::string& caption, int iconIndex);
    static INT_PTR CALLBACK PageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    static UINT CALLBACK PageCallback(HWND window, UINT msg, PROPSHEETPAGEW* page);
};
#endif
