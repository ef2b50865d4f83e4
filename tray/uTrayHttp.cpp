#include "uTrayHttp.h"

#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "uTSeam.h"
#include "uTVersionInfo.h"

#include "uTWEBDAVConnection.h"
#include "uTrayShellTools.h"

#include <urlmon.h>
#include <winhttp.h>

#include <fstream>
#include <iterator>
#include <vector>

const char* const VersionFileName = "tandrel_vaultmere_sendrake.exe.txt";
const char* const SetupFileName = "tandrel_vaultmere_sendrake.exe";

namespace {
TSeam<std::string> SetupAddressSeam;
} // namespace

std::string SetupAddress()
{
    const std::string seam = SetupAddressSeam.Get();
    return seam.empty() ? std::string("http://download.tandrel-vaultmere.de/downloads/") + SetupFileName : seam;
}

void SetSetupAddressForTests(const std::string& url)
{
    SetupAddressSeam.Set(url);
}

bool HTTP_DownloadFile(const std::string& url, const std::string& file, TLogger& log)
{
    try {
        const std::wstring wurl = Utf8ToWide(url);
        ForgetCachedUrl(url);
        const HRESULT hr = URLDownloadToFileW(nullptr, wurl.c_str(), Utf8ToWide(file).c_str(), 0, nullptr);
        ForgetCachedUrl(url);
        return hr == S_OK;
    } catch (const std::exception& e) {
        log.Error(std::string("HTTP_DownloadFile: ") + e.what());
        return false;
    }
}

std::string HTTP_CheckVersion(const TApplicationEnviroment& env, TLogger& log)
{
    std::string result = NoVersion;
    const std::string local = env.Install + VersionFileName;
    const std::wstring wlocal = Utf8ToWide(local);
    DeleteFileW(wlocal.c_str());
    if (HTTP_DownloadFile(env.Update + VersionFileName, local, log) &&
        shl_PathExists(wlocal)) {
        std::ifstream in(wlocal.c_str(), std::ios::binary);
        std::string text, line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            text += line;
        }
        TVersionInfo info;
        info.Parse(text);
        result = info.Version;
    }
    try {
        if (!DeleteFileW(wlocal.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            throw std::runtime_error(SysErrorMessage(GetLastError()));
    } catch (const std::exception& e) {
        log.Error(std::string("HTTP_CheckVersion: ") + e.what());
    }
    return result;
}

bool DownloadSetup(const std::string& url, const std::string& target, const TDownloadProgress& progress,
                   std::string& error)
{
    const std::wstring wurl = Utf8ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {}, path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(wurl.c_str(), 0, 0, &parts)) {
        error = "bad address " + url;
        return false;
    }
    THInternet session(WinHttpOpen(L"Mozilla/3.0 (compatible; Tandrel Sendrake)", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    THInternet connect(session ? WinHttpConnect(session.get(), host, parts.nPort, 0) : nullptr);
    THInternet request(connect ? WinHttpOpenRequest(connect.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                               : nullptr);
    if (!request || !WinHttpAddRequestHeaders(request.get(), L"Accept: text/html, */*", DWORD(-1), WINHTTP_ADDREQ_FLAG_ADD) ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        error = "no answer from " + url + ": " + SysErrorMessage(GetLastError());
        return false;
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        error = "HTTP " + std::to_string(status) + " for " + url;
        return false;
    }
    uint64_t total = 0;
    wchar_t lengthText[32] = {};
    size = sizeof lengthText;
    const bool announced = WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                                               lengthText, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
    if (announced)
        total = _wcstoui64(lengthText, nullptr, 10);
    if (progress)
        progress(0, total);

    const std::wstring wtarget = Utf8ToWide(target), partial = wtarget + L".part";
    uint64_t done = 0;
    bool complete = false;
    {
        THandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!file) {
            error = "cannot write " + WideToUtf8(partial) + ": " + SysErrorMessage(GetLastError());
            return false;
        }
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(request.get(), buffer.data(), DWORD(buffer.size()), &got)) {
                error = "download cut off after " + std::to_string(done) + " bytes";
                break;
            }
            if (got == 0) {
                complete = !announced || done == total;
                if (!complete)
                    error = "download incomplete: " + std::to_string(done) + " of " + std::to_string(total) + " bytes";
                break;
            }
            DWORD written = 0;
            if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
                error = "cannot write " + WideToUtf8(partial) + ": " + SysErrorMessage(GetLastError());
                break;
            }
            done += got;
            if (progress)
                progress(done, total);
        }
    }
    if (!complete || !MoveFileExW(partial.c_str(), wtarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (complete)
            error = "cannot replace " + target + ": " + SysErrorMessage(GetLastError());
        DeleteFileW(partial.c_str());
        return false;
    }
    return true;
}
