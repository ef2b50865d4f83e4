#pragma once
// What the journeys share: the installed program as a process, its windows found and worked from
// outside as a user works them, Explorer's window, the online folder through the desktop folder,
// screenshots of what the user saw (kept in the artifacts folder, checked not blank), settings.
#include "uGLBWin.h"

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using Microsoft::WRL::ComPtr;

constexpr const char* FolderClsid = "{0738049E-478C-4D6D-B004-A767178A297C}";
constexpr const char* RootParsingName =
    "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{0738049E-478C-4D6D-B004-A767178A297C}";

// Set by the suite's script: the install folder ("...\\", with Sendrake.exe and Brannock.dll) and
// the artifacts folder for the screenshots.
std::string InstallFolder();
std::string ArtifactsFolder();
std::string UserPath();   // %APPDATA%\Tandrel Sendrake\ of the prefix

// Waits (pumping this thread's messages) until done() or the time is up.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
void Pause(int ms);

// One start of Sendrake.exe from the install folder.
class TProgram {
public:
    TProgram() = default;
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;
    bool Start();
    bool Running() const;
    // Waits for the process to end; its exit code, or -1 when it still runs.
    int WaitEnd(int timeoutMs);
    DWORD Pid() const { return Info.dwProcessId; }

private:
    PROCESS_INFORMATION Info{};
};

// The main window of the tray program ("TfrmVaultmereMain", "Tandrel Sendrake").
HWND MainWindow();
HWND Control(int id);                        // a control of the main window
std::string TextOf(HWND window);
void Type(HWND edit, const std::string& text);   // replaces the edit's text as typing does
void Press(HWND button);                    // a click (posted: the handler may run a modal loop)
void TrayMenu(int command);                 // a command of the tray menu, as its click sends it
// The first visible top-level window of the process other than `except`.
HWND WindowOfProcess(DWORD pid, HWND except = nullptr);

// Wine's Explorer window and its Location box: types the path, waits for the title; the number
// of items its list view shows, -1 when it did not get there. `shown` receives the window it used.
HWND ExplorerWindow();
int ExplorerShow(const std::string& path, const std::string& title, HWND* shown = nullptr);
void CloseExplorers();
// F5 in the item list of that Explorer window; the number of items it shows once it shows
// `expected` (or after a while).
int ExplorerRefresh(HWND explorer, int expected);

// A screenshot of the window (as it is on the screen) into <artifacts>\<name>.png; the number of
// colours it shows, 0 when it failed.
int Screenshot(HWND window, const std::string& name);

// Settings of the program in the prefix's registry.
std::string Setting(const std::string& section, const std::string& name);
void SetSetting(const std::string& section, const std::string& name, const std::string& value);
std::string ClassValue(const std::string& key, const std::string& name = "");   // HKCR, "<none>" when absent

// The online folder through the desktop folder.
ComPtr<IShellFolder> BindOnline(const std::string& relative = "", HRESULT* result = nullptr);
struct TItem {
    std::string Name;
    SFGAOF Attributes = 0;
    std::vector<std::string> Details;   // columns 0-3
    std::shared_ptr<ITEMIDLIST> Pidl;   // child ID
};
std::vector<TItem> Items(IShellFolder* folder);
const TItem* Find(const std::vector<TItem>& items, const std::string& name);
// The item's context menu default command (what a double click runs); its result.
HRESULT InvokeDefault(IShellFolder* folder, const TItem& item);

// Answers the questions the program asks on this process's screen as the user would: each
// question window (a dialog of this process without a progress bar) that appears gets the next
// answer of the script: an optional option clicked first, an optional text typed, then the
// button pressed. The question's text and a screenshot are kept.
struct TAnswer {
    TAnswer(int button = 6, int option = 0, std::string text = {}, std::string shot = {})
        : Button(button), Option(option), Text(std::move(text)), Shot(std::move(shot))
    {
    }
    int Button;        // the button's id (the form's answer: 6 Yes, 7 No, 1 OK)
    int Option;        // a radio button clicked first (0: none)
    std::string Text;  // typed into the edit first (empty: leave it)
    std::string Shot;  // screenshot name (empty: none)
};
class TAnswerer {
public:
    // pid: the process whose questions are answered (0: this one).
    explicit TAnswerer(std::vector<TAnswer> script, DWORD pid = 0);
    ~TAnswerer();   // stops; unanswered questions stay
    TAnswerer(const TAnswerer&) = delete;
    TAnswerer& operator=(const TAnswerer&) = delete;
    std::vector<std::string> Asked() const;   // the texts of the questions answered so far
    int ShotColours() const { return Colours; }

private:
    static DWORD WINAPI Run(void* self);
    std::vector<TAnswer> Script;
    std::vector<std::string> Texts;
    mutable CRITICAL_SECTION Lock;
    HANDLE Thread = nullptr;
    volatile LONG Stop = 0;
    int Colours = 0;
    DWORD Pid = 0;
};

// Local files.
bool Exists(const std::string& path);
std::string ReadFileText(const std::string& path);
size_t CountEntries(const std::string& folder);   // files and folders below it, recursively
void WriteLocalFile(const std::string& path, const std::string& bytes);        // parents made

// A data object of local files as Explorer hands it over: items of one local folder.
ComPtr<IDataObject> LocalData(const std::string& folder, const std::vector<std::string>& names);
// A data object of items of an online folder.
ComPtr<IDataObject> OnlineData(IShellFolder* folder, const std::vector<std::string>& names);
// Drags data onto a drop target and drops it with the effect given; the effect the target chose.
HRESULT DragDrop(IDropTarget* target, IDataObject* data, DWORD effect, DWORD* performed = nullptr);
// The drop target of an item of a folder (a folder item) or of the folder itself (name empty).
ComPtr<IDropTarget> DropTargetOf(IShellFolder* folder, const std::string& name = "");
// The drop target of a local folder as Windows' file-system folders are: it writes each file of
// the dropped file descriptors from its contents, and for a move tells the source the performed
// effect once all are written.
ComPtr<IDropTarget> FileDropTarget(const std::string& folder);
// A command of an item's context menu, found by its verb or by its caption (also in a sub-menu).
HRESULT InvokeMenu(IShellFolder* folder, const std::vector<std::string>& names, const std::string& verbOrCaption);

// A key held down as the user holds it, through the system's input (so the key state every
// process reads says down), for the life of the object; let go whatever happens.
class THeldKey {
public:
    explicit THeldKey(WORD key);
    ~THeldKey();
    THeldKey(const THeldKey&) = delete;
    THeldKey& operator=(const THeldKey&) = delete;
    bool Down() const;   // the key state as a handler running on this thread reads it

private:
    WORD Key;
};

// The thumbnail Explorer gets for an item: IExtractImage of the item, GetLocation at the size
// asked, then Extract; the results and the picture (pixels 0xRRGGBB, top row first).
struct TThumbnail {
    HRESULT Location = E_FAIL;
    HRESULT Extract = E_FAIL;
    std::string Name;       // the location text
    bool Bitmap = false;    // Extract handed out a bitmap
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    size_t Colours() const;
};
TThumbnail Thumbnail(IShellFolder* folder, const std::string& name, SIZE asked);
// The size of a picture from its file's bytes ({0, 0} when they are none).
SIZE PictureSize(const std::string& bytes);

}  // namespace e2e
