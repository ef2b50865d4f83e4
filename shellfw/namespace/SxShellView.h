#pragma once
// The shell view of a virtual folder: the registry of open view windows that every change notice
// of the framework reaches, the view component that makes menus and extractors for the folder, and
// the view built on the system folder view.
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>

#include "uSxPidl.h"

// The message a view window gets when its folder changed (WM_USER + 337).
constexpr UINT SxShellChangeMessage = WM_USER + 337;

enum class TSxChangeNotifyType : uint8_t { cntLocal, cntGlobal };

// The framework's one way to announce a shell change: SHChangeNotify, then message 1361 to every
// view window registered locally for the affected folder (the parent of item1 for item events,
// item1 itself otherwise). item1 and item2 are absolute lists; the caller keeps them.
void NotifyShellChange(LONG event, UINT flags, PCSxItemIDList item1, PCSxItemIDList item2);

// Registers window as a view of the folder list: with cntGlobal through SHChangeNotifyRegister
// (its answer is returned, 0 on failure), with cntLocal in the framework's own registry (the
// registration number is returned).
uint32_t RegisterShellView(TSxChangeNotifyType type, PCSxItemIDList list, HWND window);
// Ends every registration of window (both kinds); called when the window goes.
void UnregisterShellView(HWND window);
// Number of local registrations of window (for tests and diagnostics).
size_t ShellViewRegistrationCount(HWND window);
#endif
