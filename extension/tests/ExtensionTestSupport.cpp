#include "ExtensionTestSupport.h"

#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace exttest {

const std::vector<std::string>& SeededTree()
{
    static const std::vector<std::string> tree = {
        "Fotos/",
        "Fotos/Strand 1.jpg",
        "Fotos/Düne #2.jpg",
        "Fotos/富士山.jpg",
        "Fotos/Notizen.txt",
        "Fotos/Urlaub 2024/",
        "Fotos/Urlaub 2024/Tag 1.jpg",
        "Gelöschte Dateien/",
        "Gelöschte Dateien/alt.txt",
        "Alte Gelöschte Dateien/",
        "Neue Dateianlagen/",
        "Meine Bilder/",
        "Dokumente/",
        "Dokumente/Bericht 100%.txt",
        "Dokumente/a b#c.txt",
        "Dokumente/Überblick.txt",
        "Dokumente/報告書.txt",
        "readme.txt",
        "Thumbs.db",
        "my.thumbs",
        "Urlaub.thumb.jpg.txt",
    };
    return tree;
}

const std::vector<std::string>& RootNames()
{
    static const std::vector<std::string> names = {
        "Fotos", "Gelöschte Dateien", "Alte Gelöschte Dateien", "Neue Dateianlagen", "Meine Bilder",
        "Dokumente", "readme.txt", "my.thumbs", "Urlaub.thumb.jpg.txt",
    };
    return names;
}

std::string SeededText(const std::string& item)
{
    std::string text;
    for (int line = 1; text.size() < 1000; ++line)
        text += item + ", Zeile " + std::to_string(line) + "\r\n";
    text.resize(1000);
    return text;
}

std::string ReadLocal(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteLocal(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool LocalExists(const std::string& utf8Path)
{
    return GetFileAttributesW(Utf8ToWide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

std::string FreshFolder(const std::string& tag)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"sxext_" + Utf8ToWide(tag) + L"_" + std::to_wstring(GetCurrentProcessId()) +
                       L"_" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(dir.c_str(), nullptr);
    return WideToUtf8(dir) + "\\";
}

}  // namespace

TOnlineUser::TOnlineUser(const std::string& sandbox, bool seed) : Box(sandbox)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    Host = Dav().Sandbox(Box);
    Install = FreshFolder(Box);
    Cache = Install + "Cache\\";
    WriteRegistryString("Application", "install", Install);
    WriteRegistryString("Application", "userpath", Install);
    WriteRegistryInteger("Application", "debug", 2);
    WriteRegistryInteger("Application", "language", 0);
    WriteRegistryString("Connection", "host", Host);
    WriteRegistryString("Connection", "username", Dav().User);
    WriteRegistryString("Connection", "password", EncryptPassword(Dav().Password));
    SetConnected(true);
    for (const char* folder : {"Cache", "Download", "Temp", "Open", "Thumb"})
        CreateDirectoryW(Utf8ToWide(Install + folder).c_str(), nullptr);
    // The stand-in tray program sits where the real one is installed.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    fs::path standIn = fs::path(self).parent_path() / L"SxStandInTray.exe";
    CopyFileW(standIn.wstring().c_str(), Utf8ToWide(Install + "Sendrake.exe").c_str(), FALSE);
    if (seed)
        Seed();
}

void TOnlineUser::Seed() const
{
    // Real users' data: the text files of equal size and one modification time (copied together),
    // so the server's entity tags alone never tell them apart in the mirror; their bytes differ,
    // as the pictures' bytes do (ApacheFixture::Picture).
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(30);
    for (const std::string& item : SeededTree()) {
        if (item.back() == '/') {
            Dav().MakeFolder(Srv(item.substr(0, item.size() - 1)));
        } else if (item.size() > 4 && item.substr(item.size() - 4) == ".jpg") {
            Dav().PutPicture(Srv(item));
        } else {
            Dav().WriteFile(Srv(item), SeededText(item));
            std::error_code ec;
            fs::last_write_time(Dav().Local(Srv(item)), when, ec);
        }
    }
}

void TOnlineUser::MoveTo(const std::string& sandbox)
{
    Box = sandbox;
    Host = Dav().Sandbox(Box);
    WriteRegistryString("Connection", "host", Host);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(davtest::U8Path(Cache), ec))
        fs::remove_all(entry.path(), ec);
    Seed();
}

TOnlineUser::~TOnlineUser()
{
    StopTray();
    StopAllTrays();
    std::error_code ec;
    fs::remove_all(davtest::U8Path(Install.substr(0, Install.size() - 1)), ec);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
}

bool TOnlineUser::Login()
{
    TWEBDAVClient client;
    TvrqDialog dialog;
    TListingAnswer answer;
    return client.GetContent("", -1, dialog, answer) && client.TranslateXML(answer, true, dialog);
}

void TOnlineUser::StartTray()
{
    if (Tray)
        return;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + Utf8ToWide(Install + "Sendrake.exe") + L"\"";
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        Tray = pi.hProcess;
        WaitForInputIdle(Tray, 2000);
        // The connection check finds it by its module: only once the new process has loaded it.
        for (int i = 0; i < 100 && CountTrayProcesses(Install + "Sendrake.exe") == 0; ++i)
            Sleep(50);
    }
}

void TOnlineUser::StopTray()
{
    if (!Tray)
        return;
    TerminateProcess(Tray, 0);
    WaitForSingleObject(Tray, 5000);
    CloseHandle(Tray);
    Tray = nullptr;
}

bool TOnlineUser::TrayRunning() const { return Tray && WaitForSingleObject(Tray, 0) == WAIT_TIMEOUT; }

int TOnlineUser::CountTrayProcesses(const std::string& exe)
{
    std::vector<std::string> list;
    shl_GetProcessList(&list);
    int n = 0;
    for (const auto& line : list)
        if (SameText(line, exe))
            ++n;
    return n;
}

void TOnlineUser::StopAllTrays() const
{
    // The stand-in ends by itself after a minute, or at once when "quit" lies beside it.
    const std::wstring quit = Utf8ToWide(Install + "quit");
    CloseHandle(CreateFileW(quit.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int i = 0; i < 100 && CountTrayProcesses(Install + "Sendrake.exe") > 0; ++i)
        Sleep(50);
    DeleteFileW(quit.c_str());
}

}  // namespace exttest
