#pragma once
// The context-menu handler: a shell extension that adds the items of a popup menu to Explorer's
// context menu of the file objects of one registered type (FileType, e.g. "AllFileSystemObjects")
// and carries a chosen item back to its click events. The selection comes through IShellExtInit
// (FileNames, ItemIDLists of TSxShellExtInit).
//
// Use: place a TSxContextMenu on the main module, set CLSID, FileType and ContextMenu (a
// TSxPopupMenu whose items are TSxFileClassMenuItem); OnClickFileClass of an item then gets the
// handler, whose FileNames are the selection and OwnerWindow the invoking window.
#ifdef _WIN32
#include "SxPopupMenu.h"
#include "SxBaseShellObject.h"

#include <windows.h>
#include <shlobj.h>

#include <functional>

class TSxContextMenu : public TSxShellExtInit, public IContextMenu3 {
public:
    explicit TSxContextMenu(TSxComponent* owner) : TSxShellExtInit(owner) {}
    std::string ClassName() const override { return "TSxContextMenu"; }

    TSxPopupMenu* ContextMenu = nullptr;  // not owned
    // 0 from each QueryContextMenu on, the invoking window from InvokeCommand on.
    HWND OwnerWindow = nullptr;
    // What the last QueryContextMenu inserted; entry k answers idCmdFirst + k. The bitmaps of every
    // QueryContextMenu stay until the handler goes.
    TSxMenuTable Items;
    std::function<void(TSxContextMenu& sender, int menuItemCount, int& position)> OnGetMenuPosition;
    std::function<void(TSxBaseMenuItem& item, CMINVOKECOMMANDINFO& info)> OnInvokeCommand;

    // Writes the handler key under HKCR\<fileType>\shellex\ContextMenuHandlers (and, when an item
    // is the default one, CLSID\{clsid}\ShellEx\MayChangeDefaultMenu), or removes what it wrote.
    void RegisterFileType(const std::string& fileType, bool doRegister) override;
    // Recomputes text, type and state of the items of a popup this handler made.
    virtual void UpdateMenuItems(HMENU menu);

    SX_IUNKNOWN_METHODS
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* name, UINT size) override;
    STDMETHODIMP HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP HandleMenuMsg2(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;

private:
    std::vector<TSxBitmap> FOldBitmaps;
};
#endif
