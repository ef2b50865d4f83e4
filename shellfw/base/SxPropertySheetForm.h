#pragma once
// Page forms of the property-sheet handler: a form class is registered by name at load; a page of
// the sheet hosts a new form of its class as a child window that fills the page. The form window
// is a control parent, so the sheet's own dialog navigation (Tab, Shift+Tab, mnemonics) reaches
// its controls.
#ifdef _WIN32
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class TSxShellPropSheetExt;

class TSxShellPropSheetForm {
public:
    explicit TSxShellPropSheetForm(TSxShellPropSheetExt& owner) : Owner(owner) {}
    virtual ~TSxShellPropSheetForm();
    TSxShellPropSheetForm(const TSxShellPropSheetForm&) = delete;
    TSxShellPropSheetForm& operator=(const TSxShellPropSheetForm&) = delete;

    // Makes the form's window inside the page window (filling its client area) and its controls;
    // false when the window cannot be made.
    bool Create(HWND page);
    HWND Handle() const { return FHandle; }
    TSxShellPropSheetExt& Owner;

protected:
    // The page's controls in tab order (AddControl places them in pixels of the form).
    virtual void CreateControls() {}
    // A WM_COMMAND of one of the controls.
    virtual void Command(int id, int code) { (void)id; (void)code; }
    HWND AddControl(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y, int width,
                    int height, int id, DWORD exStyle = 0);
    HWND Item(int id) const { return GetDlgItem(FHandle, id); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FHandle = nullptr;
    HFONT FFont = nullptr;  // the page's, not owned
};

// A registered page-form class: its name and how to make a form for a handler.
struct TSxPropSheetFormClass {
    std::string ClassName;
    std::function<std::unique_ptr<TSxShellPropSheetForm>(TSxShellPropSheetExt& owner)> Create;
};
// Appends the class to the process-wide list; true.
bool RegisterPropSheetForm(const TSxPropSheetFormClass& formClass);
// The first class of that name (case-insensitive), or nullptr.
const TSxPropSheetFormClass* FindPropSheetForm(const std::string& name);
#endif
