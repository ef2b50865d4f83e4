// Benchmark of the transfers (tools/bench-transfer): the client's Download and Upload of one large file
// against the private WebDAV server, beside the floor of a plain synchronous WinHTTP loop under the same
// wine (read into a fixed buffer and write to a file; send a file in pieces), with the process's peak
// memory. Not a test.
#include "ApacheFixture.h"
#include "TestMemory.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "uTWEBDAVClient.h"
#include "uTWEBDAVConnection.h"

#include <objbase.h>
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + " failed: " + SysErrorMessage(GetLastError()));
}

// One synchronous WinHTTP request, the way a plain program does it: GET into a file through a fixed
// buffer, or PUT of a file in pieces of the same size.
double PlainLoop(const std::string& method, const std::string& url, const std::string& auth, const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const std::wstring wurl = Utf8ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = 1;
    Require(WinHttpCrackUrl(wurl.c_str(), 0, 0, &parts), "WinHttpCrackUrl");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    THInternet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    THInternet connect(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    THInternet request(WinHttpOpenRequest(connect.get(), Utf8ToWide(method).c_str(), path.c_str(), nullptr, nullptr,
                                          nullptr, WINHTTP_FLAG_ESCAPE_DISABLE));
    Require(request.get() != nullptr, "WinHttpOpenRequest");
    const std::wstring header = Utf8ToWide("Authorization: " + auth);
    WinHttpAddRequestHeaders(request.get(), header.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    std::vector<char> buffer(64 * 1024);
    const bool put = method == "PUT";
    THandle local(CreateFileW(Utf8ToWide(file).c_str(), put ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              put ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Require(static_cast<bool>(local), "CreateFile");
    LARGE_INTEGER size{};
    if (put) GetFileSizeEx(local.get(), &size);
    DWORD total = static_cast<DWORD>(size.QuadPart);
    if (size.QuadPart > 0xFFFFFFFFll) {
        const std::wstring length = L"Content-Length: " + std::to_wstring(size.QuadPart);
        WinHttpAddRequestHeaders(request.get(), length.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
        total = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
    }
    Require(WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, total, 0), "WinHttpSendRequest");
    if (put) {
        DWORD got = 0, sent = 0;
        while (ReadFile(local.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
            Require(WinHttpWriteData(request.get(), buffer.data(), got, &sent), "WinHttpWriteData");
        }
    }
    Require(WinHttpReceiveResponse(request.get(), nullptr), "WinHttpReceiveResponse");
    DWORD got = 0, written = 0;
    for (;;) {
        Require(WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got),
                "WinHttpReadData");
        if (got == 0) break;
        if (!put) WriteFile(local.get(), buffer.data(), got, &written, nullptr);
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_transfer <size in bytes> <empty work folder with final \\>\n");
        return 2;
    }
    // The file tools/bench-transfer put into the folder "bench" of the tree.
    const std::string name = "Gro\xC3\x9F Datei.bin";
    const uint64_t size = std::stoull(argv[1]);
    const std::string work = argv[2];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto& dav = davtest::ApacheFixture::Instance();
    WriteRegistryString("Application", "userpath", work);
    WriteRegistryString("Application", "install", work);
    WriteRegistryInteger("Application", "debug", 1);
    WriteRegistryString("Connection", "host", dav.Url + "/bench");
    WriteRegistryString("Connection", "username", dav.User);
    WriteRegistryString("Connection", "password", EncryptPassword(dav.Password));
    const std::string url = dav.Url + "/bench/" + EncodeURLPath(name);
    const std::string auth = TWEBDAVConnection(dav.User, dav.Password).Authorization;

    int rc = 0;
    double down = 1e9, up = 1e9, plainDown = 1e9, plainUp = 1e9;
    uint64_t start = 0, peak = 0;
    try {
        const std::string downloaded = work + "download.bin";
        const std::string plainFile = work + "plain.bin";
        start = MemoryBytes();
        // Twice each, the best time counts (the first pass warms the caches); files above 1 GiB once.
        const int passes = size > 1024ull * 1024 * 1024 ? 1 : 2;
        for (int pass = 0; pass < passes; ++pass) {
            {
                TWEBDAVClient client;
                TvrqDialog dialog;
                dialog.Progress.Start("Transfer", 0, true);
                auto t = std::chrono::steady_clock::now();
                if (!client.Download(name, downloaded, dialog)) throw std::runtime_error("Download failed");
                down = std::min(down, Seconds(t));
                t = std::chrono::steady_clock::now();
                if (!client.Upload(downloaded, "up-" + name, dialog)) throw std::runtime_error("Upload failed");
                up = std::min(up, Seconds(t));
            }
            peak = std::max(peak, PeakMemoryBytes());
            plainDown = std::min(plainDown, PlainLoop("GET", url, auth, plainFile));
            plainUp = std::min(plainUp, PlainLoop("PUT", dav.Url + "/bench/plain-" + EncodeURLPath(name), auth, plainFile));
        }
        WIN32_FILE_ATTRIBUTE_DATA a{};
        GetFileAttributesExW(Utf8ToWide(downloaded).c_str(), GetFileExInfoStandard, &a);
        const uint64_t got = (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
        if (got != size) throw std::runtime_error("the downloaded file has " + std::to_string(got) + " bytes");
        std::error_code ec;
        const auto stored = std::filesystem::file_size(dav.Local("bench/up-" + name), ec);
        if (stored != size) throw std::runtime_error("the server stored " + std::to_string(stored) + " bytes of the upload");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_transfer: %s\n", e.what());
        rc = 1;
    }
    std::printf("file %.0f MiB\n", MiB(size));
    std::printf("Download seconds=%.2f  plain WinHTTP loop=%.2f  ratio=%.2f\n", down, plainDown, down / plainDown);
    std::printf("Upload   seconds=%.2f  plain WinHTTP loop=%.2f  ratio=%.2f\n", up, plainUp, up / plainUp);
    std::printf("peak memory above start=%.1f MiB (start %.1f MiB, peak %.1f MiB)\n", MiB(peak - start), MiB(start),
                MiB(peak));
    std::fflush(stdout);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
    CoUninitialize();
    return rc;
}
