#include "uvrqLauncher.h"

#include "uGLBTools.h"
#include "uGLBWin.h"

#include <windows.h>

#include "uTSeam.h"

namespace {

TSeam<TvrqLauncherFn> Launcher;   // empty: the real start

} // namespace

bool LaunchCommand(const std::string& commandLine)
{
    const TvrqLauncherFn fn = Launcher.Get();
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
    Launcher.Set(std::move(fn));
}
