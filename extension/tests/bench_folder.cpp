// Benchmark, not a test (tools/bench-folder runs it): a mirror of N files in one folder, shown by
// Brannock.dll through the desktop folder, against Wine's own file-system folder over N local
// files: binding the folder, then EnumObjects, GetDisplayNameOf and GetAttributesOf of every item.
#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Microsoft::WRL::ComPtr;
using TClock = std::chrono::steady_clock;

// Where one walk's time went: binding, listing (EnumObjects and Next), names, attributes.
struct TPhases {
    double Bind = 0, List = 0, Names = 0, Attributes = 0;
};

double Since(TClock::time_point& mark)
{
    const auto now = TClock::now();
    const double seconds = std::chrono::duration<double>(now - mark).count();
    mark = now;
    return seconds;
}

// Binds the parsing path through the desktop folder and walks every item; the item count, or -1.
long Walk(IShellFolder* desktop, const std::wstring& path, const std::wstring& child, TPhases& phases)
{
    auto mark = TClock::now();
    std::wstring name = path;
    PIDLIST_RELATIVE list = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list, nullptr)))
        return -1;
    ComPtr<IShellFolder> folder;
    HRESULT hr = desktop->BindToObject(list, nullptr, IID_PPV_ARGS(&folder));
    CoTaskMemFree(list);
    if (FAILED(hr))
        return -1;
    if (!child.empty()) {
        // The online folder's sub-folder, found as Explorer finds it: by its name in the root.
        ComPtr<IEnumIDList> e;
        if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS, &e) != S_OK)
            return -1;
        PITEMID_CHILD item = nullptr;
        ULONG got = 0;
        ComPtr<IShellFolder> sub;
        while (!sub && e->Next(1, &item, &got) == S_OK) {
            STRRET s{};
            wchar_t text[MAX_PATH] = {};
            if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_NORMAL, &s)) && SUCCEEDED(StrRetToBufW(&s, item, text, MAX_PATH)) &&
                child == text)
                folder->BindToObject(item, nullptr, IID_PPV_ARGS(&sub));
            CoTaskMemFree(item);
        }
        if (!sub)
            return -1;
        folder = sub;
    }
    phases.Bind += Since(mark);
    ComPtr<IEnumIDList> e;
    if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &e) != S_OK)
        return -1;
    long count = 0;
    PITEMID_CHILD items[64];
    ULONG got = 0;
    for (;;) {
        got = 0;
        const HRESULT next = e->Next(64, items, &got);
        phases.List += Since(mark);
        for (ULONG i = 0; i < got; ++i) {
            STRRET s{};
            if (SUCCEEDED(folder->GetDisplayNameOf(items[i], SHGDN_NORMAL, &s)) && s.uType == STRRET_WSTR)
                CoTaskMemFree(s.pOleStr);
            phases.Names += Since(mark);
            SFGAOF mask = SFGAO_FOLDER | SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_FILESYSTEM;
            PCUITEMID_CHILD one[1] = {items[i]};
            folder->GetAttributesOf(1, one, &mask);
            CoTaskMemFree(items[i]);
            phases.Attributes += Since(mark);
            ++count;
        }
        if (next != S_OK || got == 0)
            break;
    }
    return count;
}

double Seconds(IShellFolder* desktop, const std::wstring& path, const std::wstring& child, long& count,
               TPhases& phases)
{
    const auto start = TClock::now();
    phases = {};
    count = Walk(desktop, path, child, phases);
    return std::chrono::duration<double>(TClock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    const long n = std::wcstol(argv[1], nullptr, 10);
    const std::string work = WideToUtf8(argv[2]);  // ends in "\"
    const std::wstring dll = argv[3];
    CoInitialize(nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    WriteRegistryString("Application", "install", work);
    WriteRegistryString("Application", "userpath", work);
    SetConnected(true);

    // The mirror: N records in the folder "Bench", and N local files of the same size.
    const std::string cache = work + "Cache\\";
    CreateDirectoryW(Utf8ToWide(cache).c_str(), nullptr);
    TVirtualFileStorage storage(cache);
    TVirtualFileRecord folder;
    TVirtualFileStorage::InitRecord(folder);
    folder.Name = folder.Path = "Bench";
    folder.IsFolder = true;
    storage.SaveVirtualFileStorageToFile(folder);
    const std::string local = work + "Lokal\\";
    CreateDirectoryW(Utf8ToWide(local).c_str(), nullptr);
    const std::string bytes(800, 'x');
    for (long i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Datei %05ld.txt", i);
        TVirtualFileRecord r;
        TVirtualFileStorage::InitRecord(r);
        r.Name = name;
        r.Path = "Bench";
        r.Size = 800;
        r.CacheName = std::to_string(i).insert(0, 1, 'c') + ".txt";
        storage.SaveVirtualFileStorageToFile(r);
        THandle f(CreateFileW(Utf8ToWide(local + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

    HMODULE library = LoadLibraryW(dll.c_str());
    auto reg = library ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")))
                       : nullptr;
    if (!reg || FAILED(reg())) {
        std::printf("cannot register %ls\n", dll.c_str());
        return 1;
    }
    // The connection check looks for the tray program; the stand-in runs at the install path.
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + Utf8ToWide(work + "Sendrake.exe") + L"\"";
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        CloseHandle(pi.hThread);

    ComPtr<IShellFolder> desktop;
    SHGetDesktopFolder(&desktop);
    const std::wstring online = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{0738049E-478C-4D6D-B004-A767178A297C}";
    std::wstring localPath = Utf8ToWide(local);
    localPath.pop_back();
    long onlineCount = 0, localCount = 0;
    // One warm-up walk of each, then the best of three (with its phases).
    TPhases phases, onlinePhases, localPhases;
    Seconds(desktop.Get(), online, L"Bench", onlineCount, phases);
    Seconds(desktop.Get(), localPath, L"", localCount, phases);
    double onlineBest = 1e9, localBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double o = Seconds(desktop.Get(), online, L"Bench", onlineCount, phases);
        if (o < onlineBest) {
            onlineBest = o;
            onlinePhases = phases;
        }
        const double l = Seconds(desktop.Get(), localPath, L"", localCount, phases);
        if (l < localBest) {
            localBest = l;
            localPhases = phases;
        }
    }
    std::printf("bench-folder: %ld items\n", n);
    std::printf("  online folder (Brannock.dll): %ld items in %.3f s (%.0f items/s)\n", onlineCount, onlineBest,
                onlineCount / onlineBest);
    std::printf("  Wine's file-system folder:    %ld items in %.3f s (%.0f items/s)\n", localCount, localBest,
                localCount / localBest);
    std::printf("  ratio online / file system:   %.2f\n", onlineBest / localBest);
    for (const auto& [label, p] : {std::pair<const char*, TPhases>{"online", onlinePhases}, {"file system", localPhases}})
        std::printf("  %-12s bind %.3f s, list %.3f s, names %.3f s, attributes %.3f s\n", label, p.Bind, p.List,
                    p.Names, p.Attributes);
    if (pi.hProcess) {
        TerminateProcess(pi.hProcess, 0);
        CloseHandle(pi.hProcess);
    }
    auto unreg = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(library, "DllUnregisterServer")));
    if (unreg)
        unreg();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    return onlineCount == n && localCount == n ? 0 : 1;
}
