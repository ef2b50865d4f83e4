#pragma once
// The tray program's hold on Explorer and the shell extension from outside: Explorer windows, the
// extension's self-registration, process start, administrator rights, environment values.
#ifdef _WIN32
#include <windows.h>

#include <functional>
#include <string>

// "explorer.exe /e,c:,::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::" + OnlineFolderCLSID (uGLBConst.h)
std::string ExplorerCommandLine();

// The value of the environment variable, of any length; empty when it is absent.
std::string GetEnvVar(const std::string& name);
// 0 (German) when the user's default UI language is 1031, else 1 (English).
int GetDefaultLanguage();

// Whether a top-level Explorer window with the folder tree exists.
bool IsExplorerRunning();
// Whether the Explorer window shows the online folder or a folder below it.
bool ShowsOnlineFolder(HWND window);
// Close the Explorer windows (with the folder tree / plain folder windows) that show the online
// folder. Each gets WM_CLOSE and a bounded wait; one that stays open is left alone, so the call
// always returns. The number of windows that closed.
int KillExplorer();
int KillMyComputer();

// Calls the library's "DllUnregisterServer" (action 0) or "DllRegisterServer" (1); true when it
// answered S_OK. The library is loaded only for the call. why (when given) receives the reason of a
// failure: the library that cannot be loaded, the missing entry, or the entry's answer.
bool RegisterDLL(const std::string& path, int action, std::string* why = nullptr);
// Starts the command line without waiting; false when the process could not be started.
bool StartProcess(const std::string& commandLine);
// The caller's token holds the administrators group as an enabled group (a deny-only one does not
// count).
bool IsAdmin();
// Whether the computer reports a connection to the internet.
bool IsOnline();
// Test seam: answers in place of InternetGetConnectedState for IsOnline (empty: the real call), so
// a computer without a connection can be shown where the test machine has one.
void SetConnectedStateSeam(std::function<bool()> fn);
// Drops the browser cache's copy of the address, so the next download fetches it afresh.
void ForgetCachedUrl(const std::string& url);
#endif
