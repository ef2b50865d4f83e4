#include "uvrqLauncher.h"

#include "uGLBTools.h"
#include "uGLBWin.h"

#include <windows.h>

#include <mutex>

namespace {

std::mutex LauncherLock;
TvrqLauncherFn& Launcher()
{
    static TvrqLauncherFn fn;
    return fn;
}

} // namespace

bool LaunchCommand(const std::string& commandLine)
{
    TvrqLauncherFn fn;
    {
        std::lock_guard<std::mutex> guard(LauncherLock);
        fn = Launcher();
    }
    if (fn)
        return fn(commandLine);
    // The wide call keeps every name the server has; an ANSI one would lose what the code page lacks.
    std::wstring line = Utf8ToWide(commandLine);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    THandle process(pi.hProcess), thread(pi.hThread);
    return true;
}

void SetLauncher(TvrqLauncherFn fn)
{
    std::lock_guard<std::mutex> guard(LauncherLock);
    Launcher() = std::move(fn);
}
