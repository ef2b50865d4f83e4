// The set-up side of the Explorer test (BrannockExplorerView_test.sh): a user with a mirror made by
// a real login listing, Brannock.dll registered, Wine's Explorer opened on the online folder by the
// Explorer driver. It writes the driver's answer into <signals>\ready, waits for <signals>\done
// (the script's screenshot) and then undoes everything.
#include "ExtensionTestSupport.h"
#include "SxTestSupport.h"
#include "uGLBWin.h"

#include <objbase.h>
#include <windows.h>

#include <string>

namespace {

// Runs commandLine and gives its standard output (60 s at the most).
std::string Output(const std::wstring& commandLine)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0))
        return "no pipe";
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = write;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write);
    std::string text;
    if (started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got)
            text.append(buffer, got);
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        text = "the driver did not start";
    }
    CloseHandle(read);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring driver = argv[1], signals = argv[2];
    CoInitialize(nullptr);
    int rc = 1;
    {
        exttest::TOnlineUser user("ext_explorer");
        user.StartTray();
        const std::wstring dll = PathBesideProgram(L"Brannock.dll");
        if (user.Login() && RunProcess(L"regsvr32.exe /s \"" + dll + L"\"") == 0) {
            STARTUPINFOW si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION explorer{};
            std::wstring line = L"explorer.exe /n,C:\\";
            if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &explorer)) {
                const std::string answer =
                    Output(L"\"" + driver +
                           L"\" \"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{0738049E-478C-4D6D-B004-A767178A297C}\" "
                           L"\"Tandrel Vaultmere\"");
                exttest::WriteLocal(std::filesystem::path(signals) / L"ready", answer);
                for (int i = 0; i < 600 && GetFileAttributesW((signals + L"\\done").c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
                    Sleep(100);
                TerminateProcess(explorer.hProcess, 0);
                WaitForSingleObject(explorer.hProcess, 5000);
                CloseHandle(explorer.hProcess);
                CloseHandle(explorer.hThread);
                rc = 0;
            } else {
                exttest::WriteLocal(std::filesystem::path(signals) / L"ready", "explorer did not start");
            }
            RunProcess(L"regsvr32.exe /s /u \"" + dll + L"\"");
        } else {
            exttest::WriteLocal(std::filesystem::path(signals) / L"ready", "no login or no registration");
        }
    }
    CoUninitialize();
    return rc;
}
