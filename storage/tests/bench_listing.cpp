// Benchmark of the login listing (tools/bench-listing): the whole tree with statistics from the
// private WebDAV server into a fresh mirror, beside the floor of writing the same number of 800-byte
// files in the same layout with a plain Win32 loop. Not a test.
#include "ApacheFixture.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A new folder below the work folder (the script removes the work folder afterwards).
std::string NewFolder(const std::string& work, const char* tag) {
    const std::string dir = work + tag;
    CreateDirectoryW(Utf8ToWide(dir).c_str(), nullptr);
    return dir + "\\";
}

// folders x perFolder record files and one folder record per folder, as the mirror lays them out.
double Floor(const std::string& root, int folders, int perFolder) {
    const auto start = std::chrono::steady_clock::now();
    char bytes[800] = {};
    for (int f = 0; f < folders; ++f) {
        std::string name = "d";
        name += std::to_string(f);
        const std::string dir = root + TVirtualFileStorage::EncodePath(name);
        auto write = [&](const std::string& file) {
            HANDLE h = CreateFileW(Utf8ToWide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD n;
            WriteFile(h, bytes, sizeof(bytes), &n, nullptr);
            CloseHandle(h);
        };
        write(dir + "DIRTMPFILE.DIR");
        CreateDirectoryW(Utf8ToWide(dir).c_str(), nullptr);
        for (int i = 0; i < perFolder; ++i) {
            std::string file = dir;
            file += '\\';
            file += std::to_string(0x10000 + f * perFolder + i);
            file += "5e3f1a2b3c4d.txt";
            write(file);
        }
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_listing N <empty work folder with final \\>\n");
        return 2;
    }
    const int n = std::atoi(argv[1]);
    const std::string work = argv[2];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string userPath = NewFolder(work, "user");
    WriteRegistryString("Application", "userpath", userPath);
    WriteRegistryString("Application", "install", userPath);
    WriteRegistryInteger("Application", "debug", 1);
    WriteRegistryString("Connection", "host", dav.Url + "/bench");
    WriteRegistryString("Connection", "username", dav.User);
    WriteRegistryString("Connection", "password", EncryptPassword(dav.Password));

    double get = 0, translate = 0;
    size_t answerBytes = 0;
    bool ok = false;
    {
        TWEBDAVClient client;
        TvrqDialog dialog;
        dialog.Progress.Start("Listing", 1, true);
        std::string answer;
        auto start = std::chrono::steady_clock::now();
        ok = client.GetContent("", -1, dialog, answer);
        get = Seconds(start);
        answerBytes = answer.size();
        start = std::chrono::steady_clock::now();
        ok = ok && client.TranslateXML(answer, true, dialog);
        translate = Seconds(start);
    }
    const int files = ReadRegistryInteger("Application", "files", 0);
    const int folders = ReadRegistryInteger("Application", "folders", 0);
    const int entries = files + folders;
    const std::string floorRoot = NewFolder(work, "floor");
    const double floor = Floor(floorRoot, folders, folders ? files / folders : 0);
    const double total = get + translate;
    std::printf("listing %s: N=%d entries=%d (files %d, folders %d) answer bytes=%zu\n", ok ? "ok" : "FAILED", n,
                entries, files, folders, answerBytes);
    std::printf("listing seconds=%.3f (PROPFIND %.3f, parse and write %.3f) entries/s=%.0f\n", total, get,
                translate, total > 0 ? entries / total : 0.0);
    std::printf("floor (plain Win32 loop, %d files of 800 bytes) seconds=%.3f\n", entries, floor);
    std::printf("ratio listing/floor=%.2f, parse and write/floor=%.2f\n", floor > 0 ? total / floor : 0.0,
                floor > 0 ? translate / floor : 0.0);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    CoUninitialize();
    return ok && files == n ? 0 : 1;
}
