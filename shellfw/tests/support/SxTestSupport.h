#pragma once
// What the tests that drive the framework's test DLLs share: paths beside the test program,
// child processes (regsvr32) and reading the prefix's registry.
#include <windows.h>
#include <wrl/client.h>
#include <shobjidl.h>

#include "SxPidl.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

// The path of fileName in the folder of the running test program.
std::wstring PathBesideProgram(const std::wstring& fileName);

// Runs commandLine and waits for it (one minute at the most); its exit code, 0xFFFFFFFF when it
// could not start or did not end.
DWORD RunProcess(const std::wstring& commandLine);

bool KeyExists(HKEY root, const std::string& key);

// A fresh, empty folder of that name below the temporary folder (UTF-8 path, no final "\").
std::string FreshTempFolder(const std::string& name);

// HKEY_CLASSES_ROOT\key's default value := value (the key made as needed); false on failure.
bool SetClassesRootDefault(const std::string& key, const std::string& value);

// The items of a menu, one line each: "-" for a separator, else "text id" and " grey" when greyed.
std::vector<std::string> MenuItemLines(HMENU menu);
// The popup of a menu bar's item with that identifier, or nullptr.
HMENU PopupOf(HMENU bar, UINT id);

// The value's text, its number for a DWORD, or "<none>".
std::string Value(HKEY root, const std::string& key, const std::string& name = "");

using Microsoft::WRL::ComPtr;

// The items a shell folder enumerates (folders, files, hidden ones), each with its display name
// of the given kind.
std::vector<std::pair<std::string, TSxPidlPtr>> SxFolderItems(IShellFolder* folder, SHGDNF nameFlags = SHGDN_NORMAL);
