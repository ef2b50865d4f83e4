#include "SxPropertySheetExt.h"

#ifdef _WIN32
#include "SxThemes.h"
#include "SxTools.h"

#include <cstring>
#include <optional>

TsxCustomExtraPropPage::TsxCustomExtraPropPage(TSxComponent* owner)
    : TSxComponent(owner), FMutex(CreateMutexW(nullptr, FALSE, nullptr))
{
}

bool TsxCustomExtraPropPage::Acquire(DWORD timeoutMs)
{
    if (!FMutex)
        return false;
    const DWORD result = WaitForSingleObject(FMutex.get(), timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void TsxCustomExtraPropPage::ReleaseLock() { ReleaseMutex(FMutex.get()); }

namespace {

// How long a page enumeration waits for an extra page provider busy on another thread.
constexpr DWORD ExtraPageWaitMs = 10000;

// The empty page dialog: child, disabled, caption, 229 x 214 dialog units, "Property Page",
// 8 pt "MS Sans Serif". The form of the page fills it.
const DLGTEMPLATE* PageTemplate()
{
    static const std::vector<WORD> words = [] {
        std::vector<WORD> w(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
        DLGTEMPLATE head{};
        head.style = WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT;
        head.cx = 229;
        head.cy = 214;
        std::memcpy(w.data(), &head, sizeof head);
        auto text = [&w](const wchar_t* s) {
            for (; *s; ++s)
                w.push_back(static_cast<WORD>(*s));
            w.push_back(0);
        };
        w.push_back(0);  // no menu
        w.push_back(0);  // the dialog class
        text(L"Property Page");
        w.push_back(8);
        text(L"MS Sans Serif");
        return w;
    }();
    return reinterpret_cast<const DLGTEMPLATE*>(words.data());
}

// Sets the answer of a sheet notification and reports it as handled.
INT_PTR Answer(HWND window, LRESULT result)
{
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

} // namespace

struct TSxShellPropSheetExt::TPageRecord {
    const TSxPropSheetFormClass* FormClass = nullptr;
    TSxShellPropSheetExt* Sheet = nullptr;
    std::wstring Title;
    std::unique_ptr<TSxShellPropSheetForm> Form;
    struct TIconOwner {
        HICON Icon = nullptr;
        ~TIconOwner()
        {
            if (Icon)
                DestroyIcon(Icon);
        }
    } Icon;
};

void* TSxShellPropSheetExt::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {SX_QITABENT(TSxShellPropSheetExt, IShellPropSheetExt), {nullptr, 0}};
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxShellExtInit::ObjQueryInterface(iid);
}

void TSxShellPropSheetExt::DoTryToReleaseModule(bool& allow)
{
    TSxShellExtInit::DoTryToReleaseModule(allow);
    allow = false;
}

TSxShellPropSheetExt::TPageLine TSxShellPropSheetExt::ParsePageLine(const std::string& line)
{
    TPageLine result;
    const size_t equals = line.find('=');
    const std::string name = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    result.ClassName = name.substr(0, name.find('['));
    const size_t comma = value.find(',');
    result.Caption = value.substr(0, comma);
    if (comma != std::string::npos) {
        const std::string number = value.substr(comma + 1);
        char* end = nullptr;
        const long index = std::strtol(number.c_str(), &end, 10);
        if (!number.empty() && end && *end == '\0' && index >= 0 && index <= 0xFFFF)
            result.IconIndex = static_cast<int>(index);
    }
    return result;
}

HPROPSHEETPAGE TSxShellPropSheetExt::CreatePage(const TSxPropSheetFormClass& formClass, const std::string& caption,
                                                int iconIndex)
{
    auto record = std::make_unique<TPageRecord>();
    record->FormClass = &formClass;
    record->Sheet = this;
    record->Title = Utf8ToWide(caption);
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE | PSP_USECALLBACK;
    page.hInstance = SxModuleHandle();
    page.pResource = PageTemplate();
    page.pszTitle = record->Title.c_str();
    if (iconIndex >= 0 && ImageList) {
        // The page's own copy, destroyed with the page.
        record->Icon.Icon = ImageList_GetIcon(ImageList, iconIndex, ILD_NORMAL);
        if (record->Icon.Icon) {
            page.dwFlags |= PSP_USEHICON;
            page.hIcon = record->Icon.Icon;
        }
    }
    page.pfnDlgProc = &TSxShellPropSheetExt::PageProc;
    page.lParam = reinterpret_cast<LPARAM>(record.get());
    page.pfnCallback = &TSxShellPropSheetExt::PageCallback;
    // The page's reference on the handler; PageCallback gives it back when the page goes.
    ComAddRef();
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (!handle) {
        ComRelease();
        return nullptr;
    }
    record.release();  // owned by the page now
    return handle;
}

UINT CALLBACK TSxShellPropSheetExt::PageCallback(HWND, UINT msg, PROPSHEETPAGEW* page)
{
    if (msg == PSPCB_CREATE)
        return 1;
    if (msg != PSPCB_RELEASE || !page)
        return 0;
    // Also for a page that was never shown or that the shell refused.
    std::unique_ptr<TPageRecord> record(reinterpret_cast<TPageRecord*>(page->lParam));
    page->lParam = 0;
    if (!record)
        return 0;
    TSxShellPropSheetExt* sheet = record->Sheet;
    record.reset();
    sheet->ComRelease();
    return 0;
}

INT_PTR CALLBACK TSxShellPropSheetExt::PageProc(HWND window, UINT msg, WPARAM, LPARAM lParam)
{
    auto* record = reinterpret_cast<TPageRecord*>(GetWindowLongPtrW(window, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        record = page ? reinterpret_cast<TPageRecord*>(page->lParam) : nullptr;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(record));
    }
    if (!record)
        return FALSE;
    TSxShellPropSheetExt& sheet = *record->Sheet;
    try {
        switch (msg) {
        case WM_INITDIALOG: {
            std::optional<TSxContext> themes;
            if (sheet.ActivateXPThemes)
                themes.emplace();
            record->Form = record->FormClass->Create(sheet);
            if (record->Form && !record->Form->Create(window))
                record->Form.reset();
            return TRUE;
        }
        case WM_SIZE:
            if (record->Form)
                MoveWindow(record->Form->Handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return FALSE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header || !record->Form)
                return FALSE;
            TSxShellPropSheetForm& form = *record->Form;
            bool answer = true;
            switch (header->code) {
            case PSN_SETACTIVE:
                if (sheet.OnSetActive)
                    sheet.OnSetActive(sheet, form);
                return Answer(window, 0);
            case PSN_KILLACTIVE:
                if (sheet.OnKillActive)
                    sheet.OnKillActive(sheet, form, answer);
                return Answer(window, answer ? FALSE : TRUE);
            case PSN_APPLY:
                if (sheet.OnApply)
                    sheet.OnApply(sheet, form, answer);
                return Answer(window, answer ? PSNRET_NOERROR : PSNRET_INVALID);
            case PSN_QUERYCANCEL:
                if (sheet.OnQueryCancel)
                    sheet.OnQueryCancel(sheet, form, answer);
                return Answer(window, answer ? FALSE : TRUE);
            default:
                return FALSE;
            }
        }
        case WM_DESTROY:
            record->Form.reset();
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        SxHandleException(&sheet, std::current_exception());
        return FALSE;
    }
}

STDMETHODIMP TSxShellPropSheetExt::AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM param)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!addPage)
            return E_INVALIDARG;
        for (const std::string& line : PropertySheets) {
            const TPageLine parts = ParsePageLine(line);
            const TSxPropSheetFormClass* formClass = FindPropSheetForm(parts.ClassName);
            if (!formClass)
                continue;  // a class that is not registered makes no page
            if (OnAddPropSheet) {
                bool allow = true;
                OnAddPropSheet(*this, *formClass, allow);
                if (!allow)
                    continue;
            }
            std::string caption = parts.Caption;
            if (OnGetPropSheetName)
                OnGetPropSheetName(*this, *formClass, caption);
            HPROPSHEETPAGE page = CreatePage(*formClass, caption, parts.IconIndex);
            if (!page)
                return E_FAIL;
            if (!addPage(page, param)) {
                DestroyPropertySheetPage(page);
                return E_FAIL;
            }
        }
        for (const TsxExtraPageItem& item : ExtraPages) {
            if (!item.ExtraPage || !item.ExtraPage->Acquire(ExtraPageWaitMs))
                continue;
            struct TUnlock {
                TsxCustomExtraPropPage& Page;
                ~TUnlock()
                {
                    try {
                        Page.EndPages();
                    } catch (...) {
                    }
                    Page.ReleaseLock();
                }
            } unlock{*item.ExtraPage};
            item.ExtraPage->BeginPages();
            for (int index = 0;; ++index) {
                HPROPSHEETPAGE page = item.ExtraPage->GetPage(*this, item.PageTitle, index);
                if (!page)
                    break;
                if (!addPage(page, param)) {
                    DestroyPropertySheetPage(page);
                    return E_FAIL;
                }
            }
        }
        return S_OK;
    });
}

STDMETHODIMP TSxShellPropSheetExt::ReplacePage(EXPPS pageId, LPFNSVADDPROPSHEETPAGE replaceWith, LPARAM param)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!replaceWith)
            return E_INVALIDARG;
        for (const std::string& line : PropertySheets) {
            const TPageLine parts = ParsePageLine(line);
            const TSxPropSheetFormClass* formClass = FindPropSheetForm(parts.ClassName);
            if (!formClass)
                continue;
            if (OnReplacePropSheet) {
                bool allow = false;
                OnReplacePropSheet(*this, pageId, *formClass, allow);
                if (!allow)
                    continue;
            }
            HPROPSHEETPAGE page = CreatePage(*formClass, parts.Caption, parts.IconIndex);
            if (!page)
                return E_FAIL;
            if (!replaceWith(page, param)) {
                DestroyPropertySheetPage(page);
                return E_FAIL;
            }
        }
        return S_OK;
    });
}

void TSxShellPropSheetExt::RegisterFileType(const std::string& fileType, bool doRegister)
{
    TSxShellExtInit::RegisterFileType(fileType, doRegister);
    const std::string controls = "Controls Folder\\";
    if (fileType.compare(0, controls.size(), controls) != 0) {
        RegisterShellExtHandler(*this, fileType, "PropertySheetHandlers", doRegister);
        return;
    }
    const std::wstring key = Utf8ToWide("Software\\Microsoft\\Windows\\CurrentVersion\\" + fileType +
                                        "\\shellex\\PropertySheetHandlers\\" + ExtensionName());
    if (!doRegister) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        WriteApprovedValue(*this, false);
        return;
    }
    TRegKey handle;
    const std::wstring clsid = Utf8ToWide(GetCLSID());
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(),
                              nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                            static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
    WriteApprovedValue(*this, true);
}
#endif
