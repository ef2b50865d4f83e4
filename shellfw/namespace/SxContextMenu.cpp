#include "SxContextMenu.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"

void* TSxContextMenu::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxContextMenu, IID_IContextMenu, IContextMenu3),
                                  QITABENTMULTI2(TSxContextMenu, IID_IContextMenu2, IContextMenu3),
                                  SX_QITABENT(TSxContextMenu, IContextMenu3), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxShellExtInit::ObjQueryInterface(iid);
}

STDMETHODIMP TSxContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags)
{
    return SxComCall(this, [&]() -> HRESULT {
        OwnerWindow = nullptr;
        if (!ContextMenu)
            return E_NOTIMPL;
        if (flags & (CMF_DEFAULTONLY | CMF_VERBSONLY))
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        if (!menu || !IsMenu(menu))
            return E_INVALIDARG;
        // Bitmaps of earlier menus stay until the handler goes: Windows may still show them.
        for (auto& bitmap : Items.Bitmaps)
            FOldBitmaps.push_back(std::move(bitmap));
        Items.ClearBitmaps();
        Items.Reset(firstCommand, lastCommand);
        if (ContextMenu->OnPopup)
            ContextMenu->OnPopup(*ContextMenu, *this);
        int position = static_cast<int>(index);
        if (OnGetMenuPosition)
            OnGetMenuPosition(*this, GetMenuItemCount(menu), position);
        InsertMenuItemsToHMenu(menu, ContextMenu->Items, position, true, Items, ContextMenu->Images);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(Items.Count()));
    });
}

STDMETHODIMP TSxContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!info || info->cbSize < sizeof(CMINVOKECOMMANDINFO))
            return E_INVALIDARG;
        // Commands come by offset; this handler publishes no verbs.
        if (!IS_INTRESOURCE(info->lpVerb))
            return E_FAIL;
        TSxBaseMenuItem* item = Items.ItemOfOffset(LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)));
        if (!item)
            return E_FAIL;
        OwnerWindow = info->hwnd;
        if (OnInvokeCommand)
            OnInvokeCommand(*item, *info);
        if (auto* fileClassItem = dynamic_cast<TSxFileClassMenuItem*>(item))
            fileClassItem->ClickFileClass(*this);
        else
            item->Click();
        return S_OK;
    });
}

STDMETHODIMP TSxContextMenu::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name, UINT size)
{
    return SxComCall(this, [&]() -> HRESULT {
        TSxBaseMenuItem* item = Items.ItemOfOffset(command);
        switch (type) {
        case GCS_HELPTEXTA:
        case GCS_HELPTEXTW:
            if (!item)
                return E_INVALIDARG;
            return SxCopyToBuffer(item->LongHint(), name, size, type == GCS_HELPTEXTW);
        default:
            return E_INVALIDARG;  // no verbs
        }
    });
}

STDMETHODIMP TSxContextMenu::HandleMenuMsg(UINT, WPARAM, LPARAM) { return S_OK; }

STDMETHODIMP TSxContextMenu::HandleMenuMsg2(UINT msg, WPARAM wParam, LPARAM, LRESULT* result)
{
    if (result)
        *result = 0;
    return SxComCall(this, [&]() -> HRESULT {
        if (msg != WM_INITMENUPOPUP)
            return S_OK;
        auto popup = reinterpret_cast<HMENU>(wParam);
        // Only a popup this handler made: the popups of other handlers pass by untouched.
        if (!Items.Popups.count(popup))
            return S_OK;
        TSxBaseMenuItem* first = Items.ItemOfCommand(GetMenuItemID(popup, 0));
        if (first && first->Parent())
            first->Parent()->Click();  // its handler may prepare the sub-items
        UpdateMenuItems(popup);
        return S_OK;
    });
}

void TSxContextMenu::UpdateMenuItems(HMENU menu)
{
    if (!Items.Popups.count(menu) || !IsMenu(menu))
        return;
    for (int position = 0;; ++position) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info))
            break;
        // A sub-menu entry answers GetMenuItemID with -1; its identifier is still its own.
        TSxBaseMenuItem* item = Items.ItemOfCommand(info.wID);
        if (!item)
            break;
        TSxMenuItemLook look = SxMenuItemLook(*item);
        MENUITEMINFOW update{};
        update.cbSize = sizeof update;
        update.fMask = MIIM_STATE | MIIM_FTYPE;
        update.fState = look.State;
        update.fType = look.Type;
        if (!item->IsLine()) {
            update.fMask |= MIIM_STRING;
            update.dwTypeData = look.Text.data();
            update.cch = static_cast<UINT>(look.Text.size());
        }
        SetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &update);
    }
}

namespace {

bool HasDefaultItem(const TSxPopupMenu* menu)
{
    if (!menu)
        return false;
    for (int i = 0; i < menu->Items.Count(); ++i)
        if (menu->Items.Item(i)->Default)
            return true;
    return false;
}

} // namespace

void TSxContextMenu::RegisterFileType(const std::string& fileType, bool doRegister)
{
    TSxShellExtInit::RegisterFileType(fileType, doRegister);
    const std::string classKey = "CLSID\\" + GetCLSID();
    if (doRegister) {
        RegisterShellExtHandler(*this, fileType, "ContextMenuHandlers", true);
        if (HasDefaultItem(ContextMenu)) {
            TRegKey key;
            RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(classKey + "\\ShellEx\\MayChangeDefaultMenu").c_str(), 0,
                            nullptr, 0, KEY_READ, nullptr, key.put(), nullptr);
        }
        return;
    }
    RegisterShellExtHandler(*this, fileType, "ContextMenuHandlers", false);
    // The class key itself is the factory's: only what this handler added goes, and only when empty.
    DeleteClassesRootKey(classKey + "\\ShellEx\\MayChangeDefaultMenu");
    DeleteEmptyRegKey(classKey + "\\ShellEx");
}
#endif
