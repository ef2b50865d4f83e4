// The framework's shell-extension handlers as a product declares them, for the tests: a
// context-menu handler for every file-system object, an icon handler and a property-sheet handler
// for the type "SxTestIconFile", with two pages of one registered page form.
#include "SxContextMenu.h"
#include "SxExtractIcon.h"
#include "SxPropertySheetExt.h"
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxComObjectFactory.h"

#include <windows.h>
#include <commctrl.h>

#include <mutex>

namespace {

std::mutex LogLock;
std::string Log;

void Write(const std::string& text)
{
    std::lock_guard<std::mutex> guard(LogLock);
    Log += text;
}

// The page form: a label and an edit with the selected file's name.
class TTestPage : public TSxShellPropSheetForm {
public:
    using TSxShellPropSheetForm::TSxShellPropSheetForm;

protected:
    void CreateControls() override
    {
        AddControl(L"STATIC", "Name:", 0, 8, 8, 60, 16, 100);
        AddControl(L"EDIT", Owner.GetFileName(), WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 72, 6, 200, 20, 101);
        AddControl(L"BUTTON", "Schreibgeschützt", WS_TABSTOP | BS_AUTOCHECKBOX, 72, 34, 200, 18, 102);
        Write("form;");
    }
};

class TTestHandlerModule : public TSxModule {
public:
    explicit TTestHandlerModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        SetName("modTestHandlers");
        auto& popup = Add<TSxPopupMenu>("pmTestUpload");
        auto& vault = popup.Items.Add(popup.CreateMenuItem(&popup));
        vault.Caption = "Tandrel Vaultmere";
        vault.OnClick = [](TSxBaseMenuItem&) { Write("prepare;"); };
        auto& upload = static_cast<TSxFileClassMenuItem&>(vault.Add(popup.CreateMenuItem(&popup)));
        upload.Caption = "Hochladen nach \"Neue Dateianlagen\"";
        upload.Hint = "Hochladen|L\xC3\xA4""dt die Auswahl auf den Server";
        upload.OnClickFileClass = [](TSxFileClassMenuItem&, TSxContextMenu& initiator) {
            std::string names;
            for (const auto& name : initiator.FileNames)
                names += name.substr(name.find_last_of('\\') + 1) + "|";
            Write("upload:" + names + ";");
        };
        auto& hidden = popup.Items.Add(popup.CreateMenuItem(&popup));
        hidden.Caption = "Unsichtbar";
        hidden.Visible = false;
        popup.OnPopup = [](TSxPopupMenu&, TSxComponent& sender) { Write("popup:" + sender.Name() + ";"); };

        auto& menu = Add<TSxContextMenu>("sxTestContextMenu");
        menu.SetCLSID("{9A3C5E20-6D1B-4F27-8C44-2B1E7A0D5F31}");
        menu.SetFileType("AllFileSystemObjects");
        menu.ContextMenu = &popup;

        auto& icon = Add<TSxExtractIcon>("sxTestIconHandler");
        icon.SetCLSID("{9A3C5E21-6D1B-4F27-8C44-2B1E7A0D5F31}");
        icon.SetFileType("SxTestIconFile");
        icon.IconIndex = 3;
        icon.IconIndexOpen = 4;
        // A file "*.sxi" shows an icon of shell32.dll; any other the handler's own icons.
        icon.OnInitialize = [](TSxPersistFile& sender) {
            auto& handler = static_cast<TSxExtractIcon&>(sender);
            const std::string name = sender.GetFileName();
            handler.IconFileName.clear();
            handler.IconFileNameW.clear();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".sxi") == 0) {
                wchar_t system[MAX_PATH] = {};
                GetSystemDirectoryW(system, MAX_PATH);
                handler.IconFileNameW = std::wstring(system) + L"\\shell32.dll";
                handler.IconFileName = "C:\\fehlt\\nicht da.ico";  // the wide name wins
            } else {
                handler.IconFileName = "C:\\fehlt\\nicht da.ico";
            }
        };
        icon.IconLarge.reset(CopyIcon(LoadIconW(nullptr, IDI_APPLICATION)));
        icon.IconSmall.reset(CopyIcon(LoadIconW(nullptr, IDI_APPLICATION)));

        Images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
        ImageList_AddIcon(Images, LoadIconW(nullptr, IDI_INFORMATION));
        auto& sheet = Add<TSxShellPropSheetExt>("sxTestSheet");
        sheet.SetCLSID("{9A3C5E22-6D1B-4F27-8C44-2B1E7A0D5F31}");
        sheet.SetFileType("SxTestIconFile");
        sheet.ImageList = Images;
        sheet.PropertySheets = {"TTestPage[0]=Allgemein,0", "TTestPage[1]=Details", "TFehlt=Nie"};
        sheet.OnGetPropSheetName = [](TSxShellPropSheetExt&, const TSxPropSheetFormClass&, std::string& caption) {
            if (caption == "Allgemein")
                caption = "Allgemein \xC3\xA4";
        };
        sheet.OnApply = [](TSxShellPropSheetExt&, TSxShellPropSheetForm& page, bool& apply) {
            const bool readOnly = SendDlgItemMessageW(page.Handle(), 102, BM_GETCHECK, 0, 0) == BST_CHECKED;
            Write(std::string("apply:") + (readOnly ? "1" : "0") + ";");
            apply = true;
        };
    }
    ~TTestHandlerModule() override
    {
        if (Images)
            ImageList_Destroy(Images);
    }
    HIMAGELIST Images = nullptr;
};

const TSxModuleClass TestHandlerModule{"TTestHandlerModule",
                                       [] { return std::make_unique<TTestHandlerModule>(TestHandlerModule); }};

} // namespace

void SxTestDllSetup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SxSetServerName("SxTestHandlers");
        RegisterPropSheetForm({"TTestPage", [](TSxShellPropSheetExt& owner) {
                                   return std::make_unique<TTestPage>(owner);
                               }});
        RegisterModuleFactories(TestHandlerModule);
    });
}

extern "C" {

// What the handlers saw since the last call.
__declspec(dllexport) void SxTestHandlerLog(char* buffer, int size)
{
    std::lock_guard<std::mutex> guard(LogLock);
    lstrcpynA(buffer, Log.c_str(), size);
    Log.clear();
}
}
