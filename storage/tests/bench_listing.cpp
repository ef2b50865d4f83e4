// Benchmark of the login listing (tools/bench-listing): the whole tree with statistics from the
// private WebDAV server into a fresh mirror, then a refresh over that mirror, beside the floor of
// writing the same number of 800-byte files in the same layout with a plain Win32 loop (before and
// after the listings), and the peak memory of the process beside the answer's size. Not a test.
#include "ApacheFixture.h"
#include "TestMemory.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBWEBDAVListing.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"

#include <objbase.h>

#include <algorithm>
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

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

// The lines of the client's log that tell where a listing's time went, since offset.
std::string TimingLines(const std::string& log, size_t& offset) {
    std::string text, lines;
    HANDLE h = CreateFileW(Utf8ToWide(log).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lines;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) text.append(buf, got);
    CloseHandle(h);
    for (size_t at = text.find("TranslateXML: ", offset); at != std::string::npos; at = text.find("TranslateXML: ", at + 1)) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.find(" responses, ") != std::string::npos) lines += "  " + line + "\n";
    }
    offset = text.size();
    return lines;
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
    WriteRegistryInteger("Application", "debug", 3);   // the DEBUG line of where the time went
    WriteRegistryString("Connection", "host", dav.Url + "/bench");
    WriteRegistryString("Connection", "username", dav.User);
    WriteRegistryString("Connection", "password", EncryptPassword(dav.Password));

    struct TRun { double Get = 0, Translate = 0; uint64_t Peak = 0; bool Ok = false; std::string Timing; };
    size_t answerBytes = 0, logOffset = 0;
    const uint64_t start = MemoryBytes();
    auto listing = [&]() {
        TRun run;
        TWEBDAVClient client;
        TvrqDialog dialog;
        dialog.Progress.Start("Listing", 1, true);
        TListingAnswer answer;
        auto begin = std::chrono::steady_clock::now();
        run.Ok = client.GetContent("", -1, dialog, answer);
        run.Get = Seconds(begin);
        answerBytes = answer.Size;
        begin = std::chrono::steady_clock::now();
        run.Ok = run.Ok && client.TranslateXML(answer, true, dialog);
        run.Translate = Seconds(begin);
        run.Peak = PeakMemoryBytes();
        run.Timing = TimingLines(userPath + "WEBDAVClient.log", logOffset);
        return run;
    };
    // The floor before the listings and after them: this machine's file system is not equally fast
    // all the time (other work, write-back of what was just written), so both are shown.
    const int seededFolders = (n + 19) / 20;
    const double floorBefore = Floor(NewFolder(work, "floor1"), seededFolders, 20);
    const TRun first = listing();
    const TRun refresh = listing();
    // The old mirror of the refresh goes on a thread of its own: done before the floor is timed.
    const auto sweep = std::chrono::steady_clock::now();
    const bool swept = WaitForOldMirrorsSwept(600000);
    const double sweepSeconds = Seconds(sweep);
    const int files = ReadRegistryInteger("Application", "files", 0);
    const int folders = ReadRegistryInteger("Application", "folders", 0);
    const int entries = files + folders;
    const double floorAfter = Floor(NewFolder(work, "floor2"), folders, folders ? files / folders : 0);
    const double floor = (floorBefore + floorAfter) / 2;
    const bool ok = first.Ok && refresh.Ok && swept;
    const double answerMiB = answerBytes / 1048576.0;
    std::printf("listing %s: N=%d entries=%d (files %d, folders %d) answer bytes=%zu (%.1f MiB)\n", ok ? "ok" : "FAILED",
                n, entries, files, folders, answerBytes, answerMiB);
    std::printf("floor (plain Win32 loop, %d files of 800 bytes) seconds=%.3f (%.3f before the listings, %.3f after "
                "them)\n", entries, floor, floorBefore, floorAfter);
    for (const auto& [name, run] : {std::pair<const char*, const TRun&>{"first listing", first}, {"refresh", refresh}}) {
        const double total = run.Get + run.Translate;
        const double slower = std::max(floorBefore, floorAfter), faster = std::min(floorBefore, floorAfter);
        std::printf("%s seconds=%.3f (PROPFIND %.3f, parse and write %.3f) entries/s=%.0f ratio to floor=%.2f "
                    "(%.2f to %.2f)\n%s",
                    name, total, run.Get, run.Translate, total > 0 ? entries / total : 0.0, floor > 0 ? total / floor : 0.0,
                    slower > 0 ? total / slower : 0.0, faster > 0 ? total / faster : 0.0, run.Timing.c_str());
    }
    std::printf("old mirror of the refresh swept off the calling thread in %.3f s after it returned\n", sweepSeconds);
    // The first listing's peak, and the refresh's if it went higher.
    for (const auto& [name, run] : {std::pair<const char*, const TRun&>{"first listing", first}, {"refresh", refresh}}) {
        const double above = MiB(run.Peak > start ? run.Peak - start : 0);
        std::printf("%s: peak memory %.1f MiB, %.1f MiB above the start (%.1f MiB), beside the answer's %.1f MiB "
                    "(%.2f of it; aim: below the answer + 64 MiB)\n",
                    name, MiB(run.Peak), above, MiB(start), answerMiB, answerMiB > 0 ? above / answerMiB : 0.0);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    CoUninitialize();
    return ok && files == n ? 0 : 1;
}
